// State shared by the phases of a run, and the routines that pass it on.
// Every item is static storage: zero when the process starts, alive until it ends.
#pragma once

#include "platform.h"

#include <bit>
#include <cfloat>
#include <cstddef>
#include <cstdint>

// The records are defined to the last bit, and these are the assumptions
// under them; a target that breaks one must not build.
static_assert(FLT_EVAL_METHOD == 0,
              "doubles must be evaluated in double precision (x87 arithmetic keeps wider intermediates "
              "and would write other records; build for SSE2 or a 64-bit target)");
static_assert(std::endian::native == std::endian::little,
              "the scanner reads eight digit characters as one little-endian word");
static_assert(sizeof(void *) == 8 && sizeof(long long) == 8, "a 64-bit target is assumed");
#ifndef __SIZEOF_INT128__
#error "the number text needs 128-bit integers (GCC or Clang on a 64-bit target)"
#endif

// --- run control and data files (run.cpp) ---

// A name slot holds any path the system accepts (4095 bytes and the NUL).
constexpr int NAME_LEN = 4096;

// An open data file or the console. Output streams collect their text in buf
// with line feeds already expanded to carriage return and line feed.
struct stream {
    os_file fd;
    bool tty;     // a terminal: written out at the end of every call
    bool bad;     // a write-out has failed
    size_t lim;   // characters (before expansion) that fill the buffer
    size_t chars; // characters collected
    size_t n;     // bytes collected
    char *buf;    // room for 2 * lim bytes
};

extern char fname[2][NAME_LEN]; // 0: the time history, 1: always "a.out"
extern const char *lname;       // a first argument too long for slot 0
extern stream *fp[2];           // 0: input, 1: resampled file
extern int iflag;               // 1 when slot 0 holds the first argument

void open_files();

// --- time history store and reader (history.cpp) ---

constexpr int MAX_SAMPLES = 5000000;

extern double t[MAX_SAMPLES]; // seconds
extern double a[MAX_SAMPLES]; // amplitude, in the file's units
extern int32_t last;          // index of the last stored sample, -1 for none
extern int32_t nt;            // pair reads attempted
extern bool full;             // the store filled and a number was left unread
extern bool rfail;            // a read of the time history failed: reading stopped there

void read_history();
void reset_history(); // back to the state at process start, for tests

// Scans one number at p, within [p, e). Returns the number of bytes taken
// (0 for none), with *ok false when the bytes taken are a lone sign or point
// rather than a number. The value goes to *v. Used by the reader and tests.
size_t scan_number(const unsigned char *p, const unsigned char *e, double *v, bool *ok);

// --- resampler (resample.cpp) ---

// The NaN that an invalid operation makes on x86-64: the sign bit, the quiet
// bit and nothing else. Written 1#IND; the walk stores it for any NaN.
constexpr uint64_t IND_NAN = 0xFFF8000000000000ull;

// The double nearest 1/20000, 0x3F0A36E2EB1C432D.
constexpr double dt = 5e-05;

extern const char *refused; // why the walk was refused, or null

void resample();

// --- formatted output (text.cpp) ---

extern stream *out; // standard output
extern stream *err; // standard error, written out at the end of every call

void start_output();
stream *open_output(const char *name, bool *busy);
void print(stream *s, const char *fmt, ...);
void write_record(double tt, double v);
int finish(int status);

// Number text, for the records and for tests. text_e writes v as "%14.7e"
// does (14 or 15 bytes, and it may store 3 bytes more after them: b needs
// 18); text_fp writes it under conversion 'e' or 'g' with
// precision p, without the field's blanks (at most 40 bytes for p <= 17).
// Both return the length written.
int text_e(char *b, double v);
int text_fp(char *b, double v, char conv, int p);
