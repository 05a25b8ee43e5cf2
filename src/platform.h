// The one door to the operating system. Everything the program asks of it,
// files, the standard streams, signals, the clock and memory advice, goes
// through these routines; platform_posix.cpp and platform_win.cpp are the
// two implementations, and the build takes one of them. The rest of the
// program is plain standard C++.
//
// A file is an os_file: a descriptor on POSIX, a HANDLE on Windows, -1 when
// there is none. Names are UTF-8 byte strings on every system.
#pragma once

#include <cstddef>
#include <cstdint>

typedef intptr_t os_file;
constexpr os_file NO_FILE = -1;

// Start-up, before any other call: the standard streams made safe to write
// (a closed one is replaced by the null device, so a data file can never
// take its place), a write to a vanished reader or past a size limit made
// to fail instead of ending the process, and on Windows the arguments
// taken again from the wide command line as UTF-8.
void os_start(int *argc, char ***argv);

os_file os_stdout();
os_file os_stderr();
bool os_isatty(os_file f); // a terminal or console, not a file, pipe or null device

// Opens an existing file for reading. NO_FILE when it cannot be opened or
// is a directory.
os_file os_open_read(const char *name);

// Opens the output for writing, created when missing, and empties it, but
// only once this run holds it alone: a regular file is locked against other
// writers first, and one already held is left untouched (*busy set). A
// device such as the null device is neither locked nor emptied.
os_file os_open_write(const char *name, bool *busy);

// True when name leads to the file already open as f.
bool os_same_file(os_file f, const char *name);

// Bytes read (0 at the end of the file) or -1 on failure; interrupted
// calls are retried.
long os_read(os_file f, void *buf, size_t n);
// Bytes written, at least 1, or -1 on failure; interrupted calls are
// retried. May write fewer than n.
long os_write(os_file f, const void *buf, size_t n);
// False when the system reports an error at close (a network file system
// or a quota may report a failed write only there).
bool os_close(os_file f);

// Seconds on a clock that never goes back.
double os_now();

// Asks that [p, p + n) be backed by huge pages where the system has them.
void os_advise_huge(void *p, size_t n);
