// The number scanner's values against the C library's strtod, which rounds
// exactly on glibc: many millions of random decimal texts of 15 to 25
// digits over the whole exponent range, where nearly every value takes the
// 128-bit product, and the hard ones: decimals on, just above and just below
// the halfway point between two doubles (ties to even, and the exact
// comparison behind the product), the edge of overflow, subnormals, and long
// runs of zeros and nines past the 19th digit. Values are compared by their
// bits, so -0.0 and +0.0 differ.
#include "lindrel.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <random>
#include <string>
#include <vector>

namespace {

// Without optimisation or under the address sanitizer a string costs tens
// of times more; those builds still take every road many times.
// A cross build under an emulator says so with SLOW_BUILD, as the sanitizer
// build does here.
#if defined(__SANITIZE_ADDRESS__)
#define SLOW_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SLOW_BUILD 1
#endif
#endif
#if defined(SLOW_BUILD) || !defined(NDEBUG)
constexpr bool slow = true;
#else
constexpr bool slow = false;
#endif

uint64_t bits(double x) { return std::bit_cast<uint64_t>(x); }

// Checks the NUL-terminated text s (all of it one number) and counts
// failures, reporting the first few.
struct checker {
    locale_t c = newlocale(LC_ALL_MASK, "C", (locale_t)0);
    int bad = 0;
    long n = 0;

    void operator()(const char *s, size_t len)
    {
        n++;
        double v = -1;
        bool ok = false;
        size_t took = scan_number((const unsigned char *)s, (const unsigned char *)s + len, &v, &ok);
        double want = strtod_l(s, nullptr, c);
        if (ok && took == len && bits(v) == bits(want)) return;
        if (++bad <= 10)
            ADD_FAILURE() << s << "\n took " << took << " of " << len << ", ok " << ok << ", value "
                          << std::hexfloat << v << ", strtod " << want;
    }
    ~checker() { freelocale(c); }
};

// Writes 0.d * 10^x (d a digit string without a leading zero) into b in
// one of the forms a file may use, the digits cut at 336 so that it keeps
// within the 349 characters of a number; returns the length.
size_t layout(std::mt19937_64 &r, char *b, const char *d, int n, long x)
{
    if (n > 336) n = 336;
    size_t k = 0;
    switch (r() % 16) {
    case 0: k += (size_t)sprintf(b, "-"); break;
    case 1: k += (size_t)sprintf(b, "+"); break;
    default: break;
    }
    auto put = [&](const char *s, int len) { memcpy(b + k, s, (size_t)len), k += (size_t)len; };
    auto expo = [&](long e) {
        const char *f = r() % 2 ? "e%s%0*ld" : "E%s%0*ld";
        const char *sign = e < 0 ? "-" : r() % 4 ? "" : "+";
        k += (size_t)sprintf(b + k, f, sign, (int)(r() % 4), e < 0 ? -e : e);
    };
    switch (r() % 8) {
    case 0: // digits, then the exponent
        put(d, n);
        expo(x - n);
        break;
    case 1: // 0.digits
        put("0.", 2);
        put(d, n);
        expo(x);
        break;
    case 2: // plain, where that stays short
        if (x > 0 && x < n) {
            put(d, (int)x);
            put(".", 1);
            put(d + x, n - (int)x);
            break;
        }
        if (x <= 0 && x > -20 && n - x <= 336) {
            put("0.", 2);
            for (long i = 0; i < -x; i++) put("0", 1);
            put(d, n);
            break;
        }
        [[fallthrough]];
    default: // d.ddd e x-1, as formatted output writes it
        put(d, 1);
        put(".", 1);
        put(d + 1, n - 1);
        expo(x - 1);
        break;
    }
    b[k] = 0;
    return k;
}

void random_digits(std::mt19937_64 &r, char *d, int n)
{
    d[0] = (char)('1' + r() % 9);
    for (int i = 1; i < n; i++) d[i] = (char)('0' + r() % 10);
}

// 15 to 25 random digits, the first one worth anything from 10^-346 (well
// below half the least subnormal) to 10^310 (beyond the greatest double).
TEST(scan_strtod, random_digits)
{
    std::mt19937_64 r(20261211);
    checker check;
    char d[32], b[96];
    const long count = slow ? 2000000 : 10000000;
    for (long k = 0; k < count && check.bad < 10; k++) {
        int n = 15 + (int)(r() % 11);
        random_digits(r, d, n);
        long x = -345 + (long)(r() % 656);
        check(b, layout(r, b, d, n, x));
    }
    EXPECT_EQ(check.n, count);
}

// The exact decimal digits of (2 * mc + 1) * 2^f, the point halfway
// between mc * 2^(f + 1) and the next double, and its exponent x (value
// 0.d * 10^x). Built in base 10^9 limbs, least significant first.
std::string midpoint(uint64_t mc, long f, long *x)
{
    std::vector<uint64_t> v;
    uint64_t h = 2 * mc + 1;
    while (h) v.push_back(h % 1000000000), h /= 1000000000;
    auto mul = [&](uint64_t by) {
        uint64_t c = 0;
        for (uint64_t &l : v) {
            uint64_t y = l * by + c;
            l = y % 1000000000;
            c = y / 1000000000;
        }
        while (c) v.push_back(c % 1000000000), c /= 1000000000;
    };
    long e10 = 0;
    if (f >= 0) // times 2^f, 2^25 at a time
        for (long s = f; s > 0; s -= 25) mul(1ull << (s < 25 ? s : 25));
    else { // times 5^-f, 5^12 at a time, over 10^-f
        for (long s = -f; s > 0; s -= 12) {
            uint64_t p = 1;
            for (long i = 0; i < (s < 12 ? s : 12); i++) p *= 5;
            mul(p);
        }
        e10 = f;
    }
    std::string d;
    char piece[16];
    snprintf(piece, sizeof piece, "%llu", (unsigned long long)v.back());
    d = piece;
    for (size_t i = v.size() - 1; i-- > 0;) {
        snprintf(piece, sizeof piece, "%09llu", (unsigned long long)v[i]);
        d += piece;
    }
    size_t z = d.find_last_not_of('0');
    e10 += (long)(d.size() - 1 - z);
    d.resize(z + 1);
    *x = e10 + (long)d.size();
    return d;
}

// Adds one unit to the last digit.
void bump(std::string &d)
{
    size_t i = d.size();
    while (i > 0 && d[i - 1] == '9') d[--i] = '0';
    if (i == 0) d.insert(d.begin(), '1');
    else d[i - 1]++;
}

// Decimals on and around the halfway point above a double: the double at
// random (any exponent), among the edges of the range, or with a short
// halfway point, which needs only a few more digits than the 17 of a
// double and is an exact tie within reach of the product.
TEST(scan_strtod, halfway_points)
{
    std::mt19937_64 r(1212);
    checker check;
    char b[400];
    const uint64_t special[] = {0,
                                1,                            // the least subnormal
                                0x000FFFFFFFFFFFFFull,        // the greatest subnormal
                                0x0010000000000000ull,        // the least normal
                                0x7FEFFFFFFFFFFFFFull,        // the greatest double: halfway to overflow
                                0x7FEFFFFFFFFFFFFEull,
                                0x4340000000000000ull,        // 2^53
                                0x433FFFFFFFFFFFFFull,
                                0x3FF0000000000000ull,
                                0x44B52D02C7E14AF6ull};       // 1e23
    const long count = slow ? 100000 : 600000;
    for (long k = 0; k < count && check.bad < 10; k++) {
        uint64_t x;
        switch (k % 4) {
        case 0: x = special[r() % (sizeof special / sizeof *special)] ^ (r() % 4); break;
        case 1: // short halfway points: 2^(f) with f from -12 to 26
            x = ((uint64_t)(1075 - 12 + 1 + r() % 39) << 52) | (r() & ((1ull << 52) - 1));
            break;
        default: x = r() % 0x7FF0000000000000ull; break;
        }
        uint64_t field = x >> 52, mc = x & ((1ull << 52) - 1);
        if (field) mc |= 1ull << 52;
        long f = (field ? (long)field - 1075 : -1074) - 1;
        long e;
        std::string d = midpoint(mc, f, &e);
        if (d.size() > 330) d.resize(17 + r() % 314); // cut: now just below the halfway point
        switch (r() % 5) {
        case 0: bump(d); break;                       // above (or, after a cut, nearly on it)
        case 1: d += std::string(r() % 20, '0') + "1"; break; // the least bit above
        case 2: // below
            if (d.back() > '0') d.back()--;
            else d.resize(d.size() - 1);
            break;
        case 3: d += std::string(r() % 20, '0'); break; // the same value, longer
        default: break;                                  // on it
        }
        size_t n = layout(r, b, d.c_str(), (int)d.size(), e);
        check(b, n);
    }
}

// Long runs of zeros or nines after a few leading digits, so that the
// digits past the 19th decide nothing, or everything: "1000...0001",
// "999...9", "0.000...0123".
TEST(scan_strtod, runs_of_zeros_and_nines)
{
    std::mt19937_64 r(99);
    checker check;
    char b[400], d[360];
    const long count = slow ? 200000 : 400000;
    for (long k = 0; k < count && check.bad < 10; k++) {
        int lead = 1 + (int)(r() % 19);
        random_digits(r, d, lead);
        int run = 1 + (int)(r() % 320);
        char fill = r() % 2 ? '0' : '9';
        if (lead + run > 335) run = 335 - lead;
        memset(d + lead, fill, (size_t)run);
        int n = lead + run;
        if (r() % 2) d[n++] = (char)('1' + r() % 9);
        // exponents all over the range, often at its ends
        long x;
        switch (r() % 4) {
        case 0: x = 309 - (long)(r() % 3); break;
        case 1: x = -307 - (long)(r() % 18); break;
        default: x = -330 + (long)(r() % 640); break;
        }
        check(b, layout(r, b, d, n, x));
    }
}

// Fixed texts at the edges: where a value stops being the greatest double
// and becomes infinity, where it stops being zero, and where the 19 kept
// digits are all nines, so that the next candidate up is 10^19.
TEST(scan_strtod, edges)
{
    const char *cases[] = {
        "1.7976931348623157e308", "1.7976931348623158e308", "1.797693134862315807937289714053e308",
        "1.797693134862315807937289714054e308", "-1.797693134862315807937289714054e308",
        "1.7976931348623159e308", "9999999999999999999e289", "99999999999999999999e288",
        "2.4703282292062327e-324", "2.4703282292062328e-324", "4.9406564584124654e-324",
        "2.2250738585072011e-308", "2.2250738585072012e-308", "2.2250738585072014e-308",
        "9999999999999999999", "99999999999999999999", "9999999999999999999.5", "9999999999999999999e-5",
        "18446744073709551615", "18446744073709551616", "9007199254740993", "9007199254740993.0000000000000001",
        "9007199254740992.9999999999999999", "1e-342", "1e-343", "1e308", "1e309", "123456789012345678901234e285",
        "7.2057594037927933e16", "1.00000000000000011102230246251565404236316680908203125",
        "1.00000000000000011102230246251565404236316680908203124",
        "1.00000000000000011102230246251565404236316680908203126",
    };
    checker check;
    for (const char *s : cases) check(s, strlen(s));
    // halfway between the greatest double and 2^1024, 309 digits: the tie
    // goes to infinity; a unit less stays finite
    long x;
    std::string half = midpoint((1ull << 53) - 1, 970, &x);
    ASSERT_EQ(x, 309);
    std::string less = half;
    less.back()--;
    for (const std::string &d : {half, less, half + "1", less + "9999"}) {
        std::string s = d + "e" + std::to_string(x - (long)d.size());
        check(s.c_str(), s.size());
    }
}

} // namespace
