// Formatted output: the text of numbers, the record layout, line ends and
// the buffering of the console and of the resampled file.
//
// Number text. A finite double x is first turned into 17 significant digits,
// its exact value rounded half up; only then is that digit string cut to the
// 8 (or 4) digits that are written, again half up, looking at one more digit
// only. The double rounding is deliberate and visible: the double nearest
// 1000.00015 lies below it, yet its 17 digits read 10000001500000000 and it
// is written 1.0000002e+003.
//
// Three roads lead to the digits, the fastest first.
//
// 1. Records, x in [2^-49, 2^24) (about 1.8e-15 to 1.7e7): doubles. An
//    exact power of ten 10^k (k <= 22), picked by the binary exponent,
//    scales |x| so that Y = |x| * 10^k lies in [10^7, 10^9); its computed
//    product is y. When y is above 99999999.5 the power one lower is taken
//    instead (a threshold on |x| per binary exponent says so beforehand),
//    and its product y' of Y' = Y / 10 is used. The eight written digits are
//    N = round(y), taken by adding 2^52, except when y is exactly N + 1/2:
//    that goes to road 2. Why this is right, with R the 17-digit rounding
//    of x scaled as Y is (9 decimals when Y is in [10^7, 10^8)):
//    (a) N - 1/2 and N + 1/2 are doubles (below 2^27, with 26 bits of
//        fraction). Rounding to double is monotonic and keeps a double in
//        place, so if y lies strictly between them, so does the exact Y:
//        the product never lands on the other side of a half.
//    (b) Rounding to 9 decimals is monotonic too and keeps N - 1/2, so
//        R >= N - 1/2. R reaches N + 1/2 only for Y in [N + 1/2 - 5e-10,
//        N + 1/2). Such a Y is above 2^23, where doubles are 2^-29 apart;
//        half of that, 9.3e-10, exceeds 5e-10, so y would be N + 1/2 itself,
//        which is handed over. So R rounds to N, and the 17-digit rounding
//        never shows on this road.
//    (c) The power one lower: y > 99999999.5 means Y > 99999999.5 by (a),
//        so the digits carry to 1.0000000 in the next decade or lie in it.
//        Y' is above 9999999.95: if it is 10^7 or more, (a) and (b) apply
//        to y' as they stand; if not, y' rounds to N = 10^7 as well, the
//        carried text. Otherwise y is at most 99999999.5, and N at most
//        99999999: no carry to mend.
//    So no margin is taken beyond the exact half. Tests cannot find a margin
//    that is too thin, so this argument is the check.
// 2. Rounding half up at 17 digits needs the first 18 digits of x,
//    truncated: the 18th decides alone. With x = m * 2^e (m < 2^53) and k
//    chosen so that x * 10^k lies in [10^17, 10^19), those digits are
//    floor(m * 5^k * 2^(k+e)). For k <= 32 the product m * 5^k fits in 128
//    bits, and for x < 2^128 so does m * 2^e: that covers every x from
//    about 1e-15 to 3.4e38 with one multiply and one shift (fast18).
// 3. Everything else, subnormals and the extremes included, takes big
//    integers (slow18).
#include "lindrel.h"

#include <cmath>
#include <cstdarg>
#include <cstring>

typedef unsigned __int128 u128;

// 10^0 to 10^19 as integers
static const uint64_t pow10_int[20] = {
    1ull, 10ull, 100ull, 1000ull, 10000ull, 100000ull, 1000000ull, 10000000ull,
    100000000ull, 1000000000ull, 10000000000ull, 100000000000ull, 1000000000000ull,
    10000000000000ull, 100000000000000ull, 1000000000000000ull,
    10000000000000000ull, 100000000000000000ull, 1000000000000000000ull,
    10000000000000000000ull};

struct pow5s {
    u128 v[33];
    constexpr pow5s() : v() {
        v[0] = 1;
        for (int i = 1; i < 33; i++) v[i] = v[i - 1] * 5;
    }
};
static constexpr pow5s pow5;

// First 18 digits of x = m * 2^e, truncated, as q in [10^17, 10^18), with
// x = q * 10^-k plus less than one unit of q. False when out of reach.
static bool fast18(uint64_t m, int e, uint64_t *q, int *k)
{
    int b = 63 - __builtin_clzll(m) + e; // 2^b <= x < 2^(b+1)
    if (b < -52 || b > 127) return false;
    int est = (b * 78913) >> 18; // floor(b * log10(2)): x lies in [10^est, 10^(est+2))
    int kk = 17 - est;
    uint64_t r;
    if (kk >= 0) {
        if (kk > 32) return false;
        u128 n = (u128)m * pow5.v[kk];
        int s = -(e + kk);
        r = (uint64_t)(s <= 0 ? n << -s : n >> s);
    } else {
        if (e > 74) return false;
        // x >= 10^18 is an integer below 2^128; 10^-kk is at most 10^21
        u128 d = (u128)pow10_int[-kk > 19 ? 19 : -kk];
        for (int i = 19; i < -kk; i++) d *= 10;
        r = (uint64_t)(((u128)m << e) / d);
    }
    if (r >= pow10_int[18]) { r /= 10; kk--; }
    *q = r;
    *k = kk;
    return true;
}

// The same for the rest, exactly, in big integers. Below 2^53 (e < 0) the
// 18 digits are floor(m * 10^k / 2^-e): m * 10^k, at most 1186 bits, in
// 64-bit limbs, then read at bit -e. Above 2^128 they come from the decimal
// expansion of m * 2^e, built in limbs of 10^9.
static void slow18(uint64_t m, int e, uint64_t *q, int *k)
{
    int b = 63 - __builtin_clzll(m) + e;
    int kk = 17 - ((b * 78913) >> 18);
    if (e < 0) {
        uint64_t w[20] = {m};
        int n = 1;
        for (int left = kk; left > 0;) {
            int s = left < 19 ? left : 19;
            left -= s;
            u128 c = 0;
            for (int i = 0; i < n; i++) {
                c += (u128)w[i] * pow10_int[s];
                w[i] = (uint64_t)c;
                c >>= 64;
            }
            if (c) w[n++] = (uint64_t)c;
        }
        int li = -e / 64, bi = -e % 64;
        uint64_t lo = li < n ? w[li] : 0, hi = li + 1 < n ? w[li + 1] : 0;
        uint64_t r = bi ? lo >> bi | hi << (64 - bi) : lo;
        if (r >= pow10_int[18]) { r /= 10; kk--; }
        *q = r;
        *k = kk;
        return;
    }
    uint32_t w[40]; // base 10^9, least significant first; 2^1024 has 309 digits
    int n = 0;
    for (uint64_t v = m; v; v /= 1000000000) w[n++] = (uint32_t)(v % 1000000000);
    for (int left = e; left > 0;) {
        int s = left < 29 ? left : 29;
        left -= s;
        uint64_t c = 0;
        for (int i = 0; i < n; i++) {
            uint64_t p = ((uint64_t)w[i] << s) + c;
            w[i] = (uint32_t)(p % 1000000000);
            c = p / 1000000000;
        }
        while (c) { w[n++] = (uint32_t)(c % 1000000000); c /= 1000000000; }
    }
    int top = 0;
    for (uint32_t v = w[n - 1]; v; v /= 10) top++;
    // the first 18 digits; the number has far more
    uint64_t r = 0;
    int got = 0;
    for (int i = n - 1; got < 18; i--) {
        int len = i == n - 1 ? top : 9;
        for (int j = len - 1; j >= 0 && got < 18; j--, got++)
            r = r * 10 + (w[i] / (uint32_t)pow10_int[j]) % 10;
    }
    *q = r;
    *k = 18 - (top + 9 * (n - 1));
}

// 17 significant digits of |x| (finite, nonzero) rounded half up, as an
// integer in [10^16, 10^17), and D with |x| = 0.ddd... * 10^D.
static void dec17(double x, uint64_t *r, int *d)
{
    uint64_t bits;
    memcpy(&bits, &x, 8);
    uint64_t m = bits & ((1ull << 52) - 1);
    int be = (int)(bits >> 52) & 0x7ff;
    int e = -1074;
    if (be) { m |= 1ull << 52; e = be - 1075; }
    uint64_t q;
    int k;
    if (!fast18(m, e, &q, &k)) slow18(m, e, &q, &k);
    uint64_t r17 = (q + 5) / 10;
    int dd = 18 - k;
    if (r17 == pow10_int[17]) { r17 = pow10_int[16]; dd++; }
    *r = r17;
    *d = dd;
}

static const char *marker(double x)
{
    uint64_t bits;
    memcpy(&bits, &x, 8);
    if ((bits & ((1ull << 52) - 1)) == 0) return "1#INF";
    if (bits == IND_NAN) return "1#IND";
    return bits >> 51 & 1 ? "1#QNAN" : "1#SNAN";
}

// "+003" for every exponent from -324 to 308
struct exptab {
    char c[633][4];
    constexpr exptab() : c()
    {
        for (int x = -324; x <= 308; x++) {
            int u = x < 0 ? -x : x;
            char *p = c[x + 324];
            p[0] = x < 0 ? '-' : '+';
            p[1] = (char)('0' + u / 100);
            p[2] = (char)('0' + u / 10 % 10);
            p[3] = (char)('0' + u % 10);
        }
    }
};
static constexpr exptab exps;

static char *exponent(char *b, int x)
{
    *b = 'e';
    memcpy(b + 1, exps.c[x + 324], 4);
    return b + 5;
}

// "0000" to "9999" as little-endian words: four digits in one load. The
// table (40 kB) stays in the caches of a long run; eight digits by integer
// lanes in registers take no load, but a chain of six multiplies instead,
// and measured slower.
struct quads {
    uint32_t w[10000];
    constexpr quads() : w()
    {
        for (uint32_t v = 0; v < 10000; v++)
            w[v] = (v / 1000 + 48) | (v / 100 % 10 + 48) << 8 | (v / 10 % 10 + 48) << 16 | (v % 10 + 48) << 24;
    }
};
static constexpr quads quad;

// The eight digits of v (10^7 <= v < 10^8) as characters in one word, the
// first digit in the lowest byte.
static inline uint64_t ascii8(uint32_t v)
{
    uint32_t hi = v / 10000, lo = v - hi * 10000;
    return quad.w[hi] | (uint64_t)quad.w[lo] << 32;
}

// "e" and the exponent text "+003" of x in the low five bytes of a word.
static constexpr uint64_t exp_word(int x)
{
    const char *c = exps.c[x + 324];
    uint64_t w = 'e';
    for (int i = 0; i < 4; i++) w |= (uint64_t)(unsigned char)c[i] << (8 * i + 8);
    return w;
}

// "d.ddddddde+XXX" at s from the eight digits r8 and the word ex of
// exp_word, in three stores: 14 bytes, then the three high bytes of ex.
static inline char *digits_e(char *s, uint32_t r8, uint64_t ex)
{
    uint64_t w = ascii8(r8);
    memcpy(s + 1, &w, 8);
    uint16_t d0 = (uint16_t)((w & 0xFF) | '.' << 8);
    memcpy(s, &d0, 2);
    memcpy(s + 9, &ex, 8);
    return s + 14;
}

// Road 1 (see the top), one row per binary exponent.
struct dblrow {
    double p[2];    // 10^k and 10^(k-1), both exact (k is 1 to 22)
    uint64_t up;    // |x| from these bits up: fl(|x| * 10^k) > 99999999.5
    uint64_t ex[2]; // exp_word for each power
};
static const int DBL_LO = 1023 - 49, DBL_HI = 1023 + 23;

// The least bit pattern in the binary exponent be whose product with p
// rounds above 99999999.5; the start of the next exponent when none does.
// The compiler evaluates it with the same correctly rounded products as
// the processor, and a bisection finds the edge since rounding is monotonic.
static constexpr uint64_t up_from(int be, double p)
{
    uint64_t lo = (uint64_t)be << 52, hi = lo + (1ull << 52);
    while (lo < hi) {
        uint64_t mid = lo + (hi - lo) / 2;
        if (std::bit_cast<double>(mid) * p > 99999999.5) hi = mid;
        else lo = mid + 1;
    }
    return lo;
}

struct dbltab {
    dblrow r[DBL_HI - DBL_LO + 1];
    constexpr dbltab() : r()
    {
        for (int be = DBL_LO; be <= DBL_HI; be++) {
            int est = ((be - 1023) * 78913) >> 18; // x lies in [10^est, 10^(est+2))
            int k = 7 - est;
            double p = 1, q = 1;
            for (int i = 0; i < k; i++) p *= 10;
            for (int i = 1; i < k; i++) q *= 10;
            r[be - DBL_LO] = {{p, q}, up_from(be, p), {exp_word(est), exp_word(est + 1)}};
        }
    }
};
static constexpr dbltab dbl;

static int text_e_slow(char *b, double x);

// Road 1 for "%14.7e" of x at *s, whose first byte already holds a minus
// sign: the digits overwrite it when x has none. Moves *s to the end of the
// text, and stores the three bytes of after (in its bits 40 to 63) past it.
// False, with *s unchanged, when x is not for road 1.
static inline bool fast_e(char **s, double x, uint64_t after)
{
    uint64_t bits;
    memcpy(&bits, &x, 8);
    unsigned be = (unsigned)(bits >> 52) & 0x7ff;
    if (be - DBL_LO > (unsigned)(DBL_HI - DBL_LO)) return false;
    const dblrow &f = dbl.r[be - DBL_LO];
    uint64_t abits = bits & ~(1ull << 63);
    unsigned up = abits >= f.up;
    double ax;
    memcpy(&ax, &abits, 8);
    double y = ax * f.p[up];
    // adding 2^52 rounds y to an integer, which the low bits then hold; the
    // fraction is exact, from -1/2 to 1/2, and 1/2 either way goes to road 2
    double z = y + 0x1p52;
    double fr = y - (z - 0x1p52);
    uint64_t fb, zb;
    memcpy(&fb, &fr, 8);
    if (fb << 1 == 0x3FE0000000000000ull << 1) return false;
    memcpy(&zb, &z, 8);
    *s = digits_e(*s + (bits >> 63), (uint32_t)zb, f.ex[up] | after);
    return true;
}

// Any x, as fast_e writes it with three bytes of no meaning after it;
// returns the end.
static char *num_e(char *s, double x)
{
    return fast_e(&s, x, 0) ? s : s + text_e_slow(s, x);
}

// The text at b, which needs room for 3 bytes more.
int text_e(char *b, double x)
{
    *b = '-';
    return (int)(num_e(b, x) - b);
}

// Zero, the extremes, the non-finite values and the halves of road 1, with
// num_e's license to store past the text.
static int text_e_slow(char *b, double x)
{
    if (x != x || x - x != 0) return text_fp(b, x, 'e', 7);
    char *s = b;
    if (x == 0) {
        memcpy(b, "0.0000000e+000", 14);
        return 14;
    }
    if (x < 0) { *s++ = '-'; x = -x; }
    uint64_t r;
    int d;
    dec17(x, &r, &d);
    uint32_t r8 = (uint32_t)((r + 500000000) / 1000000000);
    if (r8 == 100000000) { r8 = 10000000; d++; }
    return (int)(digits_e(s, r8, exp_word(d - 1)) - b);
}

// Any precision, and the non-finite markers, character by character.
int text_fp(char *b, double x, char conv, int p)
{
    char dig[40]; // the digit string or the marker
    int len, d;
    bool neg = false;
    if (x != x || x - x != 0) {
        const char *mk = marker(x);
        len = (int)strlen(mk);
        memcpy(dig, mk, len);
        d = 1;
        neg = std::signbit(x);
    } else if (x == 0) {
        dig[0] = '0';
        len = 1;
        d = 0;
    } else {
        uint64_t r;
        neg = x < 0;
        dec17(neg ? -x : x, &r, &d);
        for (int i = 16; i >= 0; i--, r /= 10) dig[i] = (char)('0' + r % 10);
        len = 17;
        while (dig[len - 1] == '0') len--;
    }
    if (conv == 'g' && p == 0) p = 1;
    int n = conv == 'e' ? p + 1 : p;
    if (n > 30) n = 30;
    p = conv == 'e' ? n - 1 : n;
    // cut to n characters; the one after decides the carry by its code
    char next = n < len ? dig[n] : 0;
    for (int i = len; i < n; i++) dig[i] = '0';
    if (next >= '5') {
        int i = n - 1;
        while (i >= 0 && dig[i] == '9') dig[i--] = '0';
        if (i >= 0) dig[i]++;
        else { dig[0] = '1'; d++; }
    }
    bool zero = x == 0;
    char *s = b;
    if (neg) *s++ = '-';
    int xp = d - 1;
    if (conv == 'e') {
        *s++ = dig[0];
        if (p > 0) { *s++ = '.'; memcpy(s, dig + 1, p); s += p; }
        return (int)(exponent(s, zero ? 0 : xp) - b);
    }
    if (zero) { *s++ = '0'; return (int)(s - b); }
    bool exp = xp < -4 || xp >= p;
    char *point;
    if (exp) {
        *s++ = dig[0];
        point = s;
        *s++ = '.';
        memcpy(s, dig + 1, p - 1);
        s += p - 1;
    } else if (d <= 0) {
        *s++ = '0';
        point = s;
        *s++ = '.';
        for (int i = 0; i < -d; i++) *s++ = '0';
        memcpy(s, dig, p);
        s += p;
    } else {
        memcpy(s, dig, d);
        s += d;
        point = s;
        *s++ = '.';
        memcpy(s, dig + d, p - d);
        s += p - d;
    }
    while (s > point + 1 && s[-1] == '0') s--;
    if (s == point + 1) s--;
    if (exp) s = exponent(s, xp);
    return (int)(s - b);
}

// --- streams ---

// The console collects 4096 characters; the resampled file collects more,
// since large writes cost less and its bytes are the same either way.
static const size_t FILE_LIM = 1 << 19;
static char conbuf[2 * 4096];
static char filebuf[2 * FILE_LIM + 64];
static stream con = {NO_FILE, false, false, 4096, 0, 0, conbuf};
static stream file = {NO_FILE, false, false, FILE_LIM, 0, 0, filebuf};
static char errbuf[2 * 256];
static stream errs = {NO_FILE, true, false, 256, 0, 0, errbuf};
stream *out = &con;
stream *err = &errs;

void start_output()
{
    con.fd = os_stdout();
    con.tty = os_isatty(con.fd);
    errs.fd = os_stderr();
}

stream *open_output(const char *name, bool *busy)
{
    os_file f = os_open_write(name, busy);
    if (f == NO_FILE) return nullptr;
    file.fd = f;
    file.bad = false;
    file.n = file.chars = 0;
    return &file;
}

// Writes out what the buffer holds. A failed write-out loses those bytes
// and is remembered; later write-outs are tried again.
static bool flush(stream *s)
{
    bool ok = true;
    for (size_t at = 0; at < s->n;) {
        long w = os_write(s->fd, s->buf + at, s->n - at);
        if (w <= 0) { ok = false; s->bad = true; break; }
        at += (size_t)w;
    }
    s->n = s->chars = 0;
    return ok;
}

static bool put(stream *s, char c)
{
    bool ok = true;
    if (s->chars == s->lim) ok = flush(s);
    if (c == '\n') s->buf[s->n++] = '\r';
    s->buf[s->n++] = c;
    s->chars++;
    return ok;
}

static bool puts_n(stream *s, const char *p, int n)
{
    for (int i = 0; i < n; i++)
        if (!put(s, p[i])) return false;
    return true;
}

static bool field(stream *s, const char *p, int n, int width)
{
    for (int i = n; i < width; i++)
        if (!put(s, ' ')) return false;
    return puts_n(s, p, n);
}

// Expands fmt with its directives: %d, %ld, %s, and %W.Pe / %W.Pg for
// doubles. A write-out that fails during the call ends the call's text.
void print(stream *s, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    bool ok = true;
    for (const char *f = fmt; *f && ok; f++) {
        if (*f != '%') { ok = put(s, *f); continue; }
        int width = 0, prec = -1;
        bool isl = false;
        while (*++f >= '0' && *f <= '9') width = width * 10 + (*f - '0');
        if (*f == '.')
            for (prec = 0; *++f >= '0' && *f <= '9';) prec = prec * 10 + (*f - '0');
        if (*f == 'l') { isl = true; f++; }
        char b[48];
        int n = 0;
        if (*f == 'd') {
            long v = isl ? va_arg(ap, long) : va_arg(ap, int);
            unsigned long u = v < 0 ? 0ul - (unsigned long)v : (unsigned long)v;
            char r[24];
            int k = 0;
            do r[k++] = (char)('0' + u % 10); while (u /= 10);
            if (v < 0) b[n++] = '-';
            while (k) b[n++] = r[--k];
            ok = field(s, b, n, width);
        } else if (*f == 's') {
            const char *str = va_arg(ap, const char *);
            ok = field(s, str, (int)strlen(str), width);
        } else if (*f == 'e' || *f == 'g') {
            double v = va_arg(ap, double);
            n = text_fp(b, v, *f, prec < 0 ? 6 : prec);
            ok = field(s, b, n, width);
        } else if (*f == '%') {
            ok = put(s, '%');
        } else if (!*f) {
            break;
        }
    }
    va_end(ap);
    if (s->tty && ok) flush(s);
}

// Text written in place at the end of a stream's buffer, bypassing put.
// room() makes space for up to max characters (counted as put counts them,
// before line feeds expand), writing the buffer out first when it might not
// hold them; the caller stores the bytes, line ends already expanded, and
// took() counts in the len bytes stored, lf of them line feeds, each one a
// character with its carriage return. So the buffer is written out a little
// before it is full rather than when the next character arrives, which moves
// the places where the writes cut the text and changes nothing else. The
// caller may store a few bytes past its text: the buffer holds 2 * lim
// bytes, and at most 2 * (lim - max) are in use. When that write-out fails,
// room() gives null and the text is dropped: the bytes in the file stay a
// prefix of the text, with only the lost buffer missing at their end.
static inline char *room(stream *s, size_t max)
{
    if (s->chars + max > s->lim && !flush(s)) return nullptr;
    return s->buf + s->n;
}

static inline void took(stream *s, size_t len, size_t lf)
{
    s->n += len;
    s->chars += len - lf;
}

// A record that write_record leaves: written whole, by whichever roads its
// numbers need, after the buffer is written out if it has to be.
[[gnu::noinline]] static void slow_record(double tt, double v)
{
    stream *s = fp[1];
    char *b = room(s, 33);
    if (!b) return; // the walk stops at a failed write-out
    memcpy(b, "\r\n -", 4);
    char *e = num_e(b + 3, tt);
    memcpy(e, " -", 2);
    e = num_e(e + 1, v);
    took(s, (size_t)(e - b), 1);
}

// One record: "\n %14.7e %14.7e", at most 33 characters, one line feed.
// Nearly every record has room in the buffer and takes road 1 for both
// numbers: no call on the way; any other record starts over in slow_record.
void write_record(double tt, double v)
{
    stream *s = fp[1];
    if (s->chars + 33 > s->lim) return slow_record(tt, v);
    char *b = s->buf + s->n;
    memcpy(b, "\r\n -", 4);
    char *e = b + 3;
    // the time's text ends with the blank and the value's minus sign
    if (!fast_e(&e, tt, (uint64_t)' ' << 40 | (uint64_t)'-' << 48)) return slow_record(tt, v);
    e++;
    if (!fast_e(&e, v, 0)) return slow_record(tt, v);
    took(s, (size_t)(e - b), 1);
}

// Ends the run: writes out and closes the resampled file, reports a failed
// read of the time history and a failure to write the resampled file (at
// close too: network file systems and quotas may report it only there),
// then writes out the console. Returns the exit status.
int finish(int status)
{
    if (rfail) {
        print(out, "\n Failed to read file: %s \n", fname[0]);
        status = 1;
    }
    if (fp[1]) {
        flush(fp[1]);
        if (!os_close(fp[1]->fd)) fp[1]->bad = true;
        fp[1]->fd = NO_FILE;
        if (fp[1]->bad) {
            print(out, "\n Failed to write file: %s \n", fname[1]);
            status = 1;
        }
    }
    flush(out);
    return status;
}
