// Fuzz target for the number text: the first 8 bytes are a double, whose
// "%14.7e" and "%12.4g" texts must equal those of the slow reference in
// text_ref.h. Random doubles almost never sit where the two roundings
// interact, so the same bits also build a second value that does: eight (or
// four) leading digits, a tail at or just off a half of the last written
// digit, a decimal exponent, and a step of a few units in the last place.
// A ninth byte, when present, adds one more precision of either style.
#include "lindrel.h"
#include "text_ref.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static void fail(double v, const char *what, const std::string &got, const std::string &want)
{
    fprintf(stderr, "%s of %.17g (0x%016llx): got \"%s\", want \"%s\"\n", what, v,
            (unsigned long long)std::bit_cast<uint64_t>(v), got.c_str(), want.c_str());
    abort();
}

static void check(double v, int extra)
{
    ref_form f[2];
    bool tie = ref_forms(v, f);
    char b[48];
    std::string got(b, (size_t)text_e(b, v));
    if (!ref_accepts(f, tie, 'e', 7, 14, got)) fail(v, "text_e", got, ref_text(f[0], 'e', 7));
    got.assign(b, (size_t)text_fp(b, v, 'e', 7));
    if (!ref_accepts(f, tie, 'e', 7, 0, got)) fail(v, "e 7", got, ref_text(f[0], 'e', 7));
    got.assign(b, (size_t)text_fp(b, v, 'g', 4));
    if (!ref_accepts(f, tie, 'g', 4, 0, got)) fail(v, "g 4", got, ref_text(f[0], 'g', 4));
    if (extra >= 0) {
        char conv = extra & 1 ? 'e' : 'g';
        int p = (extra >> 1) % 18;
        got.assign(b, (size_t)text_fp(b, v, conv, p));
        if (!ref_accepts(f, tie, conv, p, 0, got)) fail(v, conv == 'e' ? "e p" : "g p", got, ref_text(f[0], conv, p));
    }
}

// A value next to the place where the 17-digit rounding decides the
// written digits, from the 64 bits u.
static double hard(uint64_t u)
{
    static const char *tail8[] = {"5", "4999999995", "49999999", "5000000001", "4", "45", "499999", "6"};
    static const char *tail4[] = {"5", "4999999999995", "499999999999", "5000000000001", "4", "45", "4999999", "6"};
    bool four = u & 1;
    std::string s = std::to_string(four ? 1000 + (u >> 1) % 9000 : 10000000 + (u >> 1) % 90000000);
    if ((u >> 44 & 15) == 0) s = four ? "9999" : "99999999"; // the carry into the next decade
    s += (four ? tail4 : tail8)[(u >> 28) % 8];
    int e = (int)((u >> 31) % 636) - 326;
    std::string t = s.substr(0, 1) + "." + s.substr(1) + "e" + std::to_string(e);
    double v = strtod(t.c_str(), nullptr);
    for (int k = (int)((u >> 41) % 7) - 3; k; k += k < 0 ? 1 : -1) v = std::nextafter(v, k < 0 ? -INFINITY : INFINITY);
    return u >> 63 ? -v : v;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 8) return 0;
    uint64_t u;
    memcpy(&u, data, 8);
    int extra = size > 8 ? data[8] : -1;
    check(std::bit_cast<double>(u), extra);
    check(hard(u), extra);
    return 0;
}
