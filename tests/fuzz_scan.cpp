// Fuzz target for the number scanner. The input is scanned number after
// number, as the reader would meet it, from an exactly sized heap copy so
// that a read past the end is caught by the address sanitizer. Each scan is
// held against a separate model of the syntax (bytes taken, number or not)
// and, for a number, its value against strtod of the text taken.
#include "lindrel.h"
#include "reader_model.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>

static void fail(const char *what, const unsigned char *s, size_t n)
{
    fprintf(stderr, "%s at \"%.*s\"\n", what, (int)std::min(n, (size_t)400), (const char *)s);
    abort();
}

// Scans at s within [s, e), checks, and returns the bytes taken.
static size_t check(const unsigned char *s, const unsigned char *e)
{
    double v = 0;
    bool ok = false, mok;
    size_t n = scan_number(s, e, &v, &ok);
    size_t len = (size_t)(e - s);
    if (n > len) fail("taken past the end", s, len);
    size_t mn = model_scan(s, len, &mok);
    if (n != mn || ok != mok) fail("syntax differs from the model", s, len);
    if (ok && std::bit_cast<uint64_t>(v) != std::bit_cast<uint64_t>(c_strtod(s, n)))
        fail("value differs from strtod", s, n);
    return n;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    unsigned char *b = new unsigned char[size];
    memcpy(b, data, size);
    const unsigned char *e = b + size;
    // also with an end inside the buffer: a scan that looks past its end
    // there would take more than the model allows
    check(b, b + size / 2);
    for (const unsigned char *p = b; p < e;) {
        size_t n = check(p, e);
        p += n ? n : 1;
    }
    if (size == 0) check(b, e);
    delete[] b;
    return 0;
}
