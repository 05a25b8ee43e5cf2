/* Fault injection for read, write and close, loaded with LD_PRELOAD.
 *
 *   FI_OP=KINDS                 the kinds of call to fail: read, write,
 *                               close, or several joined by commas, each
 *                               kind counted on its own; or any, the
 *                               three kinds counted together
 *   FI_N=N                      fail the Nth call of each kind in FI_OP
 *                               (from 1) without making it; 0 or unset:
 *                               fail none
 *   FI_ERR=EIO|ENOSPC           its errno (default EIO)
 *   FI_FDS=data|console|all     which descriptors are seen at all: 3 and
 *                               up, 0 to 2, or every one (default all);
 *                               calls on the others pass untouched and
 *                               are not counted
 *   FI_EINTR=1                  every read and write returns EINTR once
 *                               before it is made. Not close: after an
 *                               interrupted close the descriptor's state
 *                               is unspecified, so no caller retries it.
 *   FI_SHORT=K                  every read and write moves at most 1 to K
 *                               bytes, the limit drawn afresh for each
 *                               call (FI_SEED picks the sequence)
 *   FI_LOG=PATH                 appends "fail OP call N fd F after B" when
 *                               the failure is injected (B: bytes moved on
 *                               F by the calls seen before), and
 *                               "calls read R write W close C" at exit,
 *                               the counts of calls made on seen
 *                               descriptors.
 *
 * Only the calls made, and failed, are counted: an injected EINTR is not a
 * call. The calls themselves go straight to the kernel through syscall(),
 * so nothing here allocates, locks or calls back into the C library's
 * buffered streams; a single-threaded program is all it serves. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

enum { READ, WRITE, CLOSE };
enum { NFD = 1024 };

static int ready, kinds, any, err = EIO, fds, eintr, logfd = -1;
static long nth, shortk, calls[3], total;
static unsigned long seed = 1;
static long moved[NFD];
static char pending[NFD];

__attribute__((constructor)) static void setup(void)
{
    const char *s;
    ready = 1;
    if ((s = getenv("FI_OP"))) {
        any = strstr(s, "any") != 0;
        kinds = (strstr(s, "read") ? 1 << READ : 0) | (strstr(s, "write") ? 1 << WRITE : 0)
              | (strstr(s, "close") ? 1 << CLOSE : 0);
    }
    if ((s = getenv("FI_N"))) nth = atol(s);
    if ((s = getenv("FI_ERR"))) err = !strcmp(s, "ENOSPC") ? ENOSPC : EIO;
    if ((s = getenv("FI_FDS"))) fds = !strcmp(s, "data") ? 1 : !strcmp(s, "console") ? 2 : 0;
    if ((s = getenv("FI_EINTR"))) eintr = atoi(s) != 0;
    if ((s = getenv("FI_SHORT"))) shortk = atol(s);
    if ((s = getenv("FI_SEED"))) seed = strtoul(s, 0, 10);
    if ((s = getenv("FI_LOG")))
        logfd = (int)syscall(SYS_openat, AT_FDCWD, s, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

static int seen(int fd)
{
    if (!ready) setup();
    return fd >= 0 && (fds == 0 || (fds == 1) == (fd >= 3));
}

static char *num(char *p, long v)
{
    char r[24];
    int k = 0;
    if (v < 0) { *p++ = '-'; v = -v; }
    do r[k++] = (char)('0' + v % 10); while (v /= 10);
    while (k) *p++ = r[--k];
    return p;
}

static char *str(char *p, const char *s)
{
    while (*s) *p++ = *s++;
    return p;
}

static const char *names[] = {"read", "write", "close"};

/* Counts the call; true when it is the one to fail. */
static int hit(int kind, int fd)
{
    long n = ++calls[kind];
    if (any) n = ++total;
    else if (!(kinds & 1 << kind)) return 0;
    if (n != nth) return 0;
    if (logfd >= 0) {
        char b[128], *p = str(b, "fail ");
        p = str(p, names[kind]);
        p = num(str(p, " call "), n);
        p = num(str(p, " fd "), fd);
        p = num(str(p, " after "), fd < NFD ? moved[fd] : -1);
        *p++ = '\n';
        syscall(SYS_write, logfd, b, (size_t)(p - b));
    }
    errno = err;
    return 1;
}

/* Once before each call on fd: the interruption that a retry must ride. */
static int interrupt(int fd)
{
    if (!eintr || fd >= NFD) return 0;
    pending[fd] = !pending[fd];
    if (!pending[fd]) return 0;
    errno = EINTR;
    return 1;
}

static size_t cut(size_t n)
{
    if (shortk <= 0) return n;
    seed = seed * 6364136223846793005ul + 1442695040888963407ul;
    size_t k = 1 + (size_t)((seed >> 33) % (unsigned long)shortk);
    return n < k ? n : k;
}

static void count(int fd, long r)
{
    if (r > 0 && fd < NFD) moved[fd] += r;
}

ssize_t read(int fd, void *buf, size_t n)
{
    if (!seen(fd)) return syscall(SYS_read, fd, buf, n);
    if (interrupt(fd)) return -1;
    if (hit(READ, fd)) return -1;
    long r = syscall(SYS_read, fd, buf, cut(n));
    count(fd, r);
    return r;
}

ssize_t write(int fd, const void *buf, size_t n)
{
    if (!seen(fd)) return syscall(SYS_write, fd, buf, n);
    if (interrupt(fd)) return -1;
    if (hit(WRITE, fd)) return -1;
    long r = syscall(SYS_write, fd, buf, cut(n));
    count(fd, r);
    return r;
}

int close(int fd)
{
    if (!seen(fd) || fd == logfd) return (int)syscall(SYS_close, fd);
    if (fd < NFD) moved[fd] = pending[fd] = 0;
    /* the descriptor is released all the same, as Linux does on EIO */
    if (hit(CLOSE, fd)) {
        int e = errno;
        syscall(SYS_close, fd);
        errno = e;
        return -1;
    }
    return (int)syscall(SYS_close, fd);
}

__attribute__((destructor)) static void report(void)
{
    if (logfd < 0) return;
    char b[128], *p = str(b, "calls");
    for (int k = 0; k < 3; k++) p = num(str(str(str(p, " "), names[k]), " "), calls[k]);
    *p++ = '\n';
    syscall(SYS_write, logfd, b, (size_t)(p - b));
}
