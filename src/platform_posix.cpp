// The platform layer on POSIX systems: Linux, macOS and the BSDs. Linux-only
// tuning stands behind the macros that announce it.
#include "platform.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif

void os_start(int *, char ***)
{
    // A standard descriptor that came closed would be handed out again by
    // the first open, and console text would land in a data file.
    for (int fd = 0; fd < 3; fd++)
        if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", fd ? O_WRONLY : O_RDONLY) != fd) _exit(1);
    // A console pipe whose reader has gone, or a resampled file that meets
    // the file-size limit, must fail a write, not end the run unannounced.
    signal(SIGPIPE, SIG_IGN);
#ifdef SIGXFSZ
    signal(SIGXFSZ, SIG_IGN);
#endif
}

os_file os_stdout() { return 1; }
os_file os_stderr() { return 2; }
bool os_isatty(os_file f) { return isatty((int)f); }

os_file os_open_read(const char *name)
{
    int fd = open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return NO_FILE;
    // reading a directory would fail at once and look like an empty file
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        return NO_FILE;
    }
    return fd;
}

os_file os_open_write(const char *name, bool *busy)
{
    *busy = false;
    // Not O_TRUNC: the file is emptied only once the lock is ours, so a run
    // that finds it held leaves the other run's records alone.
    int fd = open(name, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return NO_FILE;
    struct stat st;
    if (fstat(fd, &st) != 0) {
        close(fd);
        return NO_FILE;
    }
    if (S_ISREG(st.st_mode)) {
        // A record lock works on every POSIX system and over NFS. It is
        // released when the process ends, however it ends.
        struct flock lk = {};
        lk.l_type = F_WRLCK;
        lk.l_whence = SEEK_SET;
        // A file system without locks (ENOLCK, some FUSE mounts) is written
        // unlocked, as before locks existed, rather than not at all.
        if (fcntl(fd, F_SETLK, &lk) != 0 && (errno == EACCES || errno == EAGAIN)) {
            *busy = true;
            close(fd);
            return NO_FILE;
        }
        // An empty file is not truncated: on ext4 a truncation to zero
        // marks the file for write-back at close (the guard against
        // replace-by-truncate data loss), which would cost a large run a
        // pause at the end for nothing.
        if (st.st_size > 0 && ftruncate(fd, 0) != 0) {
            close(fd);
            return NO_FILE;
        }
    }
    return fd;
}

bool os_same_file(os_file f, const char *name)
{
    struct stat si, so;
    return fstat((int)f, &si) == 0 && stat(name, &so) == 0 && si.st_dev == so.st_dev && si.st_ino == so.st_ino;
}

long os_read(os_file f, void *buf, size_t n)
{
    for (;;) {
        ssize_t r = read((int)f, buf, n);
        if (r >= 0) return (long)r;
        if (errno != EINTR) return -1;
    }
}

long os_write(os_file f, const void *buf, size_t n)
{
    for (;;) {
        ssize_t w = write((int)f, buf, n);
        if (w > 0) return (long)w;
        if (w < 0 && errno == EINTR) continue;
        return -1;
    }
}

bool os_close(os_file f)
{
    // After EINTR the descriptor's state is unspecified; Linux has closed
    // it, and a retry could close a descriptor opened meanwhile. Whatever
    // was pending may not have reached the file, so it counts as a failure.
    return close((int)f) == 0;
}

double os_now()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

void os_advise_huge(void *p, size_t n)
{
#ifdef MADV_HUGEPAGE
    const uintptr_t huge = 2u << 20;
    uintptr_t b = ((uintptr_t)p + huge - 1) & ~(huge - 1);
    uintptr_t e = ((uintptr_t)p + n) & ~(huge - 1);
    if (e > b) madvise((void *)b, e - b, MADV_HUGEPAGE);
#else
    (void)p;
    (void)n;
#endif
}
