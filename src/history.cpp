// The time history store and its reader: numbers scanned byte by byte from
// the input, taken two at a time as (time, amplitude).
#include "lindrel.h"

#include <bit>
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
//
// A number is gathered as m * 10^p, m holding its first 19 significant
// digits (any 19 digits fit in 64 bits); exact tells whether the digits
// past the 19th, if any, were all zeros. The double nearest that value is
// then found on the first of three roads that can decide it:
//
// 1. Small m and p. When m <= 2^53 and |p| <= 22, m and 10^|p| are both
//    exact doubles, so one multiplication or division in doubles rounds
//    the exact value once, correctly.
//
// 2. The 128-bit product. 10^q = 5^q * 2^q, and the table below holds, for
//    every q from -342 to 308, the first 128 bits of 5^q, rounded down:
//    5^q = (hi:lo + d) * 2^e with 0 <= d < 1 and hi:lo in [2^127, 2^128).
//    With m shifted up until its top bit is set (m' = m * 2^z), the 192-bit
//    product P = m' * hi:lo lies at most m' < 2^64 below the exact
//    m' * 5^q * 2^-e: the error is confined to P's lowest 64 bits. The top
//    54 bits of P are the 53 bits of the double and the bit that rounds
//    them (fewer for a subnormal); the bits below the rounding bit show
//    whether the error can matter. It can only when they are all zero or
//    all one above the last 64, the one place where a carry of the unknown
//    error reaches the rounding bit, or where a value exactly halfway (a
//    tie, which goes to the even neighbour) cannot be told from one just
//    above it. For 0 <= q <= 55, 5^q fits 128 bits, P is exact and every
//    case is decided, ties included. Otherwise such a product (about one
//    in 2^73 of random inputs, but every exact tie with q < 0) goes on to
//    road 3. The method is due to Eisel and Lemire.
//
//    With more than 19 digits the value lies between m * 10^p and
//    (m + 1) * 10^p; if both round to the same double, so does everything
//    between them, and the digits past the 19th cannot change it.
//
// 3. Exact comparison. The double c just at or below the value is known
//    from road 2 (its product, cut instead of rounded), and the value lies
//    below the next double but one, so the answer is c or the next double
//    up. The halfway point between those two, (2 * mc + 1) * 2^(ec - 1),
//    is compared with all the decimal digits N * 10^k in integers: both
//    sides are brought to whole numbers by moving 5^|k| and powers of two
//    across, and none exceeds about 1,700 bits (349 digits, exponents
//    bounded by the range checks), so a fixed array of limbs holds them.
//
// Values below 10^-342 * 2^64 round to zero and values of 10^309 and above
// to infinity before any table look-up.

static const double exact_pow10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                       1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

typedef unsigned __int128 u128;

static const int Q_MIN = -342, Q_MAX = 308;
static const uint64_t INF_BITS = 0x7FF0000000000000ull;

// 5^q = (hi:lo + d) * 2^e, 0 <= d < 1, hi with its top bit set.
struct pow5 {
    uint64_t hi, lo;
    int e;
};
struct pow5_table {
    pow5 v[Q_MAX - Q_MIN + 1];
};

// The first 128 bits of the integer x (n limbs, least significant first)
// times 2^e, rounded down.
static constexpr pow5 top128(const uint64_t *x, int n, int e)
{
    while (x[n - 1] == 0) n--;
    int z = std::countl_zero(x[n - 1]);
    auto at = [&](int i) { return i >= 0 ? x[i] : 0; };
    uint64_t hi = at(n - 1) << z, lo = at(n - 2) << z;
    if (z) {
        hi |= at(n - 2) >> (64 - z);
        lo |= at(n - 3) >> (64 - z);
    }
    return {hi, lo, e + 64 * (n - 2) - z};
}

// Computed while compiling, from the integers 5^q (multiplied up from 1)
// and 2^1087 / 5^-q (divided down from 2^1087; floor(floor(x / 5) / 5) is
// floor(x / 25), so each step stays the exact floor). 2^1087 / 5^342 still
// has 292 bits, more than the 128 kept.
static constexpr pow5_table make_pow5()
{
    const int L = 17;
    pow5_table t{};
    uint64_t x[L] = {1};
    for (int q = 0; q <= Q_MAX; q++) {
        t.v[q - Q_MIN] = top128(x, L, 0);
        uint64_t c = 0;
        for (int i = 0; i < L; i++) {
            u128 y = (u128)x[i] * 5 + c;
            x[i] = (uint64_t)y;
            c = (uint64_t)(y >> 64);
        }
    }
    uint64_t r[L] = {};
    r[L - 1] = 1ull << 63;
    for (int q = -1; q >= Q_MIN; q--) {
        uint64_t rem = 0;
        for (int i = L - 1; i >= 0; i--) {
            u128 y = ((u128)rem << 64) | r[i];
            r[i] = (uint64_t)(y / 5);
            rem = (uint64_t)(y % 5);
        }
        t.v[q - Q_MIN] = top128(r, L, -(64 * L - 1));
    }
    return t;
}

static constexpr pow5_table p5 = make_pow5();
static_assert(p5.v[0 - Q_MIN].hi == 1ull << 63 && p5.v[0 - Q_MIN].lo == 0 && p5.v[0 - Q_MIN].e == -127);
static_assert(p5.v[1 - Q_MIN].hi == 5ull << 61 && p5.v[1 - Q_MIN].e == -125);
static_assert(p5.v[-1 - Q_MIN].hi == 0xCCCCCCCCCCCCCCCCull && p5.v[-1 - Q_MIN].lo == 0xCCCCCCCCCCCCCCCCull &&
              p5.v[-1 - Q_MIN].e == -130);
// 5^55, the last power of five that 128 bits hold whole
static_assert(p5.v[55 - Q_MIN].hi == 0xD0CF4B50CFE20765ull && p5.v[55 - Q_MIN].lo == 0xFFF4B4E3F741CF6Dull &&
              p5.v[55 - Q_MIN].e == 0);

static const uint64_t UNDECIDED = ~0ull;

// The bits of the double nearest w * 10^q (w > 0, Q_MIN <= q <= Q_MAX), or
// UNDECIDED. *below gets the bits of the double just at or below the
// product, for the exact comparison.
static uint64_t product(uint64_t w, int q, uint64_t *below)
{
    const pow5 &f = p5.v[q - Q_MIN];
    int z = std::countl_zero(w);
    w <<= z;
    u128 l = (u128)w * f.lo, h = (u128)w * f.hi + (uint64_t)(l >> 64);
    uint64_t p2 = (uint64_t)(h >> 64), p1 = (uint64_t)h, p0 = (uint64_t)l;
    int up = (int)(p2 >> 63);
    int be = 190 + up + f.e + q - z; // the product's leading bit is worth 2^be
    int sh = 9 + up;                 // bits of p2 below the rounding bit
    uint64_t base = 0;               // exponent field less one: the leading bit adds it
    if (be >= -1022) base = (uint64_t)(be + 1022);
    else if (be >= -1075) sh += -1022 - be; // a subnormal keeps fewer bits, at most 63 below
    else {
        *below = 0; // under 2^-1075, half the least subnormal: zero
        return 0;
    }
    uint64_t m = p2 >> sh, mask = (1ull << sh) - 1, rest = p2 & mask;
    *below = (base << 52) + (m >> 1);
    bool whole = q >= 0 && q <= 55;
    if (!whole && (((m & 1) && rest == 0 && p1 == 0) || (rest == mask && p1 == ~0ull))) return UNDECIDED;
    bool tie = (m & 1) && rest == 0 && p1 == 0 && p0 == 0;
    m = (m + 1 - (tie && !(m & 2))) >> 1;
    uint64_t r = (base << 52) + m; // a carry out of the mantissa raises the exponent
    return r < INF_BITS ? r : INF_BITS;
}

// Unsigned integers of up to 40 limbs, least significant first.
struct big {
    uint64_t d[40];
    int n;
};

static void big_muladd(big *b, uint64_t f, uint64_t add)
{
    uint64_t c = add;
    for (int i = 0; i < b->n; i++) {
        u128 y = (u128)b->d[i] * f + c;
        b->d[i] = (uint64_t)y;
        c = (uint64_t)(y >> 64);
    }
    if (c) b->d[b->n++] = c;
}

static void big_pow5(big *b, int k)
{
    static const uint64_t p27 = 7450580596923828125ull; // 5^27, the greatest below 2^63
    for (; k >= 27; k -= 27) big_muladd(b, p27, 0);
    uint64_t f = 1;
    while (k-- > 0) f *= 5;
    big_muladd(b, f, 0);
}

static void big_shl(big *b, long s)
{
    int w = (int)(s / 64), r = (int)(s % 64);
    if (r) {
        uint64_t c = 0;
        for (int i = 0; i < b->n; i++) {
            uint64_t x = b->d[i];
            b->d[i] = x << r | c;
            c = x >> (64 - r);
        }
        if (c) b->d[b->n++] = c;
    }
    if (w && b->n) {
        for (int i = b->n - 1; i >= 0; i--) b->d[i + w] = b->d[i];
        for (int i = 0; i < w; i++) b->d[i] = 0;
        b->n += w;
    }
}

static int big_cmp(const big *x, const big *y)
{
    if (x->n != y->n) return x->n < y->n ? -1 : 1;
    for (int i = x->n - 1; i >= 0; i--)
        if (x->d[i] != y->d[i]) return x->d[i] < y->d[i] ? -1 : 1;
    return 0;
}

// The digits in [s, e) (a point among them) times 10^x, against the
// halfway point above the double c: the bits of the nearer double, ties
// to the even one. The value lies at or above c and below the double after
// next.
static uint64_t compare(const unsigned char *s, const unsigned char *e, long x, uint64_t c)
{
    if (c >= INF_BITS) return INF_BITS;
    static const uint64_t tens[20] = {1,
                                      10,
                                      100,
                                      1000,
                                      10000,
                                      100000,
                                      1000000,
                                      10000000,
                                      100000000,
                                      1000000000,
                                      10000000000ull,
                                      100000000000ull,
                                      1000000000000ull,
                                      10000000000000ull,
                                      100000000000000ull,
                                      1000000000000000ull,
                                      10000000000000000ull,
                                      100000000000000000ull,
                                      1000000000000000000ull,
                                      10000000000000000000ull};
    big d = {{0}, 0}, h = {{0}, 0};
    // d = the digits as one integer N; k = x less the digits after the point
    long k = x;
    uint64_t chunk = 0;
    int nc = 0;
    bool point = false, lead = true;
    for (; s < e; s++) {
        if (*s == '.') { point = true; continue; }
        if (lead && *s == '0') { k -= point; continue; }
        lead = false;
        chunk = chunk * 10 + (*s - '0');
        k -= point;
        if (++nc == 19) { big_muladd(&d, tens[19], chunk); chunk = 0; nc = 0; }
    }
    big_muladd(&d, tens[nc], chunk);
    // h = 2 * mc + 1, the halfway point being h * 2^(ec - 1)
    uint64_t mc = c & ((1ull << 52) - 1);
    long f = c >> 52 ? (long)(c >> 52) - 1076 : -1075;
    if (c >> 52) mc |= 1ull << 52;
    h.d[0] = 2 * mc + 1;
    h.n = 1;
    // N * 5^k * 2^k against h * 2^f, with the fives and twos moved across
    // so that no side needs a fraction
    if (k >= 0) big_pow5(&d, (int)k);
    else big_pow5(&h, (int)-k);
    if (k >= f) big_shl(&d, k - f);
    else big_shl(&h, f - k);
    int r = big_cmp(&d, &h);
    return r > 0 || (r == 0 && (c & 1)) ? c + 1 : c;
}

// The double nearest m * 10^p, m > 0 holding the first 19 significant
// digits of the text [s, e) (exponent x); with exact, the whole value.
static double decimal(uint64_t m, long p, bool exact, const unsigned char *s, const unsigned char *e, long x)
{
    if (p < Q_MIN) return 0;
    if (p > Q_MAX) return __builtin_huge_val();
    uint64_t c, c1, r = product(m, (int)p, &c);
    if (!exact && r != UNDECIDED && product(m + 1, (int)p, &c1) != r) r = UNDECIDED;
    if (r == UNDECIDED) r = compare(s, e, x, c);
    return std::bit_cast<double>(r);
}

static inline bool digit(unsigned char c) { return (unsigned)(c - '0') < 10u; }

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
    // m <= 2^53 also says that no digit was dropped: that takes 19 kept
    // digits, and 10^18 > 2^53
    if (m == 0) r = 0;
    else if (m <= 1ull << 53 && p >= -22 && p <= 22)
        // both m and 10^|p| are exact doubles: one rounding, the right one
        r = p < 0 ? (double)m / exact_pow10[-p] : (double)m * exact_pow10[p];
    else r = decimal(m, p, exact, d0, me, x);
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
static bool eof;

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
    full = eof = rfail = false;
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
    // Notepad and many spreadsheet exports begin a UTF-8 file with a
    // byte-order mark; it is no part of the first number.
    fill();
    if (n >= 3 && memcmp(buf, "\xEF\xBB\xBF", 3) == 0) p = 3;
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
