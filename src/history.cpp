// The time history store and its reader: numbers scanned byte by byte from
// the input, taken two at a time as (time, amplitude).
#include "lindrel.h"

#include <charconv>
#include <cstring>

double t[MAX_SAMPLES];
double a[MAX_SAMPLES];
int32_t last;
int32_t nt;
bool full;
bool rfail;

// A number holds at most 349 characters after its sign.
static const int MAX_CHARS = 349;

// --- the number scanner ---

static const double p10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

static inline bool digit(unsigned char c) { return (unsigned)(c - '0') < 10u; }

// The value of the digits in [s, e) (a point among them) times 10^x, by
// the library's correctly rounded conversion. Only the significant digits
// and a plain exponent are handed over, so neither a sign nor an empty
// exponent nor a huge exponent text reaches it.
static double exact_value(const unsigned char *s, const unsigned char *e, long x)
{
    char b[MAX_CHARS + 24];
    int n = 0, frac = 0;
    bool point = false;
    for (; s < e; s++) {
        if (*s == '.') { point = true; continue; }
        if (n == 0 && *s == '0') { frac += point; continue; }
        b[n++] = (char)*s;
        frac += point;
    }
    if (n == 0) return 0;
    long p = x - frac;
    b[n++] = 'e';
    auto r = std::to_chars(b + n, b + sizeof b, p);
    double v = 0;
    auto c = std::from_chars(b, r.ptr, v);
    if (c.ec == std::errc::result_out_of_range)
        // too large or too small for a double: the decimal exponent of the
        // leading digit tells which
        v = n - 1 + p > 0 ? __builtin_huge_val() : 0.0;
    return v;
}

// Eight digit characters at p, as one little-endian word: true when every
// byte lies in '0' to '9'.
static inline bool eight_digits(uint64_t w)
{
    return ((w & 0xF0F0F0F0F0F0F0F0ull) | (((w + 0x0606060606060606ull) & 0xF0F0F0F0F0F0F0F0ull) >> 4)) ==
           0x3333333333333333ull;
}

// Their value: pairs, then quadruples, then the whole, by multiply-adds
// within the word.
static inline uint32_t eight_value(uint64_t w)
{
    w -= 0x3030303030303030ull;
    w = w * 10 + (w >> 8);
    w = ((w & 0x000000FF000000FFull) * (100 + (1000000ull << 32)) +
         ((w >> 16 & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >> 32;
    return (uint32_t)w;
}

// The digits at q, up to lim, into m: the first 19 significant ones are
// kept, and adj counts the power of ten that the others, or the fraction,
// leave over. exact stays true while every digit dropped is a zero.
static inline const unsigned char *digits(const unsigned char *q, const unsigned char *lim, uint64_t *m,
                                          int *sig, int *adj, bool *exact, bool frac)
{
    uint64_t w;
    while (lim - q >= 8 && *sig <= 11 && (memcpy(&w, q, 8), eight_digits(w))) {
        *m = *m * 100000000 + eight_value(w);
        *sig += 8;
        *adj -= 8 * frac;
        q += 8;
    }
    for (; q < lim && digit(*q); q++) {
        int c = *q - '0';
        if (*sig < 19) { *m = *m * 10 + c; ++*sig; *adj -= frac; }
        else { *adj += !frac; *exact &= c == 0; }
    }
    return q;
}

size_t scan_number(const unsigned char *s, const unsigned char *e, double *v, bool *ok)
{
    const unsigned char *q = s;
    bool neg = false;
    if (q < e && (*q == '+' || *q == '-')) neg = *q++ == '-';
    const unsigned char *lim = e - q > MAX_CHARS ? q + MAX_CHARS : e;
    const unsigned char *d0 = q;
    // the value is m * 10^adj as long as exact holds
    uint64_t m = 0;
    int sig = 0, adj = 0;
    bool exact = true;
    while (q < lim && *q == '0') q++;
    q = digits(q, lim, &m, &sig, &adj, &exact, false);
    long nd = q - d0;
    if (q < lim && *q == '.') {
        const unsigned char *f = ++q;
        if (m == 0) {
            while (q < lim && *q == '0') q++;
            adj -= (int)(q - f);
        }
        q = digits(q, lim, &m, &sig, &adj, &exact, true);
        nd += q - f;
    }
    *ok = nd > 0;
    if (!*ok) return q - s;
    const unsigned char *me = q;
    long x = 0;
    if (q < lim && (*q == 'e' || *q == 'E')) {
        bool xneg = false;
        if (++q < lim && (*q == '+' || *q == '-')) xneg = *q++ == '-';
        for (; q < lim && digit(*q); q++)
            if (x < 1000000) x = x * 10 + (*q - '0');
        if (xneg) x = -x;
    }
    double r;
    long p = adj + x;
    if (m == 0) r = 0;
    else if (exact && m <= 1ull << 53 && p >= -22 && p <= 22)
        // both m and 10^|p| are exact doubles: one rounding, the right one
        r = p < 0 ? (double)m / p10[-p] : (double)m * p10[p];
    else r = exact_value(d0, me, x);
    *v = neg ? -r : r;
    return q - s;
}

// --- the input buffer ---

// Reading keeps at least KEEP bytes ahead of the scan, so that a number,
// its sign and the byte that ends it always lie in the buffer whole.
static const size_t CHUNK = 1 << 20;
static const size_t KEEP = MAX_CHARS + 2;
static unsigned char buf[CHUNK + KEEP];
static size_t p, n;
static bool eof, started;

static bool ws[256];

static void fill()
{
    if (eof || n - p >= KEEP) return;
    memmove(buf, buf + p, n - p);
    n -= p;
    p = 0;
    while (!eof && n < KEEP) {
        long r = os_read(fp[0]->fd, buf + n, CHUNK - n);
        if (r <= 0) eof = true; // a failed read ends the reading, and is reported
        if (r < 0) rfail = true;
        if (r > 0) n += (size_t)r;
    }
    buf[n] = 0; // not white space: ends every run of it
    // Notepad and many spreadsheet exports begin a UTF-8 file with a
    // byte-order mark; it is no part of the first number.
    if (!started) {
        started = true;
        if (n >= 3 && memcmp(buf, "\xEF\xBB\xBF", 3) == 0) p = 3;
    }
}

static void skip()
{
    for (;;) {
        while (ws[buf[p]]) p++;
        if (p < n || eof) return;
        fill();
    }
}

// Scans the next number after white space; false when none stands there.
static bool next(double *v)
{
    skip();
    fill();
    bool ok;
    p += scan_number(buf + p, buf + n, v, &ok);
    return ok;
}

void reset_history()
{
    for (int32_t k = 0; k <= last; k++) t[k] = a[k] = 0;
    t[0] = a[0] = 0;
    last = nt = 0;
    full = eof = started = rfail = false;
    p = n = 0;
    buf[0] = 0;
}

void read_history()
{
    ws[9] = ws[10] = ws[11] = ws[12] = ws[13] = ws[32] = true;
    // huge pages where the system has them: far fewer page faults when
    // millions of samples are stored
    os_advise_huge(t, sizeof t);
    os_advise_huge(a, sizeof a);
    int32_t i = 0;
    nt = 0;
    for (;;) {
        nt++;
        double v;
        if (!next(&v)) break;
        t[i] = v;
        if (next(&v)) a[i] = v;
        if (++i == MAX_SAMPLES) {
            full = next(&v);
            break;
        }
    }
    last = i - 1;
    print(out, "\n t[%ld]= %12.4g   t[0]= %12.4g\n", (long)last, last >= 0 ? t[last] : 0.0, t[0]);
    print(out, "\n last= %ld \n", (long)last);
    print(out, "\n   nt= %ld \n", (long)nt);
    if (full)
        print(out, "\n Warning: the store is full at %d samples; the rest of the file was not read. \n",
              MAX_SAMPLES);
}
