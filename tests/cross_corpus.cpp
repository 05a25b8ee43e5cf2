// The random corpus of the cross check: time histories that every build of
// the program must turn into the same bytes. Usage:
//
//   cross_corpus DIR [SMALL [SEED]]
//
// writes SMALL small files (default 300) and four larger ones into DIR. The
// bytes depend only on the seed: the draws come from splitmix64 and the
// number texts are made here digit by digit from integers, so no library
// routine with a freedom of its own (a distribution, a locale, a float
// format) takes part.
//
// Each file mixes what a record from elsewhere may hold: uneven times,
// times that go back or repeat, infinite and extreme values (subnormals,
// the largest double and its neighbours, 1e308, -0), infinities met by
// interpolation, long digit strings, CR LF line ends, byte-order marks and
// hostile bytes. The one thing kept in check is the span: a file whose
// reading would make a walk of more than a few seconds of signal is drawn
// again, so that the corpus stays quick under an emulator.
#include "reader_model.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

uint64_t state;

uint64_t next()
{
    uint64_t z = state += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// 0 .. n-1; the bias of the remainder is far below anything that matters here
uint64_t below(uint64_t n) { return next() % n; }
bool chance(int percent) { return below(100) < (uint64_t)percent; }

std::string digits(uint64_t v)
{
    std::string s;
    do s.insert(s.begin(), (char)('0' + v % 10)); while (v /= 10);
    return s;
}

// A decimal text for m * 10^e (m an integer of up to 19 digits), in one
// of the forms the reader takes: plain with a point, a leading or trailing
// point, or an exponent with e or E, signed or not, zero-padded or not.
std::string decimal(bool neg, uint64_t m, int e)
{
    std::string d = digits(m), s = neg ? "-" : chance(10) ? "+" : "";
    int pointed = (int)d.size() + e; // digits before the point
    if (chance(50) || pointed < -8 || pointed > 12) {
        // exponent form: d[0].d[1..] e (pointed - 1)
        s += d[0];
        if (d.size() > 1 || chance(20)) s.append(".").append(d, 1);
        s += chance(70) ? "e" : "E";
        int x = pointed - 1;
        s += x < 0 ? "-" : chance(30) ? "+" : "";
        if (chance(20)) s += "0";
        return s + digits((uint64_t)std::abs(x));
    }
    if (pointed <= 0) return s + (chance(80) ? "0." : ".") + std::string((size_t)-pointed, '0') + d;
    if (pointed >= (int)d.size()) return s + d + std::string((size_t)(pointed - (int)d.size()), '0') + (chance(20) ? "." : "");
    return s + d.substr(0, (size_t)pointed) + "." + d.substr((size_t)pointed);
}

// A number of about the size 10^mag, with 1 to 17 significant digits.
std::string number(int mag, bool neg)
{
    int nd = 1 + (int)below(17);
    uint64_t m = 1 + below(9);
    for (int k = 1; k < nd; k++) m = m * 10 + below(10);
    return decimal(neg, m, mag - nd + 1);
}

// Texts at the edges of the double range, and beyond it.
const char *const extreme[] = {
    "4.9406564584124654e-324", "2.4703282292062328e-324", "2.4703282292062327e-324", "1e-320", "-1e-320",
    "2.2250738585072009e-308", "2.2250738585072014e-308", "2.225073858507201e-308", "1.7976931348623157e308",
    "1.7976931348623158e308", "1.7976931348623159e308", "-1.7976931348623157e308", "1e308", "-1e308", "9e307",
    "-0", "-0.0", "0", "-0e5", "1e999", "-1e999", "1e-999", "-1e-999", "1E+400", "0.000000000000000000001",
};

std::string pick_extreme() { return extreme[below(sizeof extreme / sizeof *extreme)]; }

// A string of n digits, a point somewhere or nowhere: long texts, beyond
// 349 characters too, where the reader cuts and reads on.
std::string long_digits(size_t n)
{
    std::string s = chance(50) ? "0." : "";
    while (s.size() < n) s += (char)('0' + below(10));
    if (chance(30)) s = std::string(n / 2, '0') + s.substr(n / 2);
    return s;
}

const char *const blanks[] = {" ", "  ", "\t", "\n", "\r\n", " \r\n", "\v", "\f", "\t\t"};

std::string blank() { return blanks[below(sizeof blanks / sizeof *blanks)]; }

// Bytes that end the reading, or look as if they might begin a number.
const char *const hostile[] = {
    "x", ",", "\x00", "\xa0", "\x1a", "\xef\xbb\xbf", "-", "+", ".", "e", "E5", "inf", "nan", "Infinity", "0x10",
    "1d5", "1,5", "--1", "+-1", "1e", "1e-", "1.5-2.5", "..5", "\xff", "\xc3\xa9", "#", "time",
};

std::string pick_hostile()
{
    size_t k = below(sizeof hostile / sizeof *hostile);
    return k == 2 ? std::string(1, '\0') : hostile[k]; // the NUL byte, which the literal cannot hold
}

// A time history of n samples. Times count ticks of 10^unit s from a start
// within 1000 ticks of zero, steps of 1 to 40 ticks (multiples of 5e-5 s
// for kind 6); amplitudes are those of a measured signal, or what the kind
// asks for.
std::string history(int kind, int n, int unit = -5)
{
    std::string s;
    int64_t ticks = (int64_t)below(2001) - 1000;
    for (int i = 0; i < n; i++) {
        std::string t, a;
        int64_t step = kind == 6 ? 5 * (int64_t)(1 + below(4)) : 1 + (int64_t)below(40);
        if (kind == 1 && i > 0 && chance(15)) step = chance(50) ? 0 : -step; // repeats, steps back
        if (i > 0) ticks += step;
        // a time in whole ticks, or with eleven digits more
        uint64_t at = (uint64_t)std::llabs(ticks);
        if (chance(kind == 0 ? 60 : 30)) t = decimal(ticks < 0, at, unit);
        else t = decimal(ticks < 0, at * 100000000000ull + below(100000000000ull), unit - 11);
        if (ticks == 0 && chance(30)) t = chance(50) ? "-0" : "0";
        a = number((int)below(30) - 15, chance(50));
        switch (kind) {
        case 2: // edges of the range among the amplitudes
            if (chance(40)) a = pick_extreme();
            break;
        case 3: // infinities in the amplitudes, and extreme times inside
            if (chance(30)) a = chance(50) ? "1e999" : "-1e999";
            if (i > 0 && i < n - 1 && chance(10)) t = pick_extreme();
            break;
        case 4: // long digit strings, and zeros after a time's digits
            if (chance(40)) a = (chance(50) ? "-" : "") + long_digits(20 + below(380));
            if (chance(10)) t += std::string(below(300), '0');
            break;
        case 5: // hostile bytes: a few in a file, later rather than sooner
            if (i > n / 2 && below((uint64_t)n) < 4) a += pick_hostile();
            if (below((uint64_t)n) < 2) t = pick_hostile() + t;
            break;
        default: break;
        }
        s += t + blank() + a + (kind == 7 ? "\r\n" : blank());
    }
    return s;
}

// The span a reading of the file would walk, in seconds: 0 when the walk is
// refused or ends at once.
double span_of(const std::string &f)
{
    size_t skip = f.compare(0, 3, "\xef\xbb\xbf") == 0 ? 3 : 0;
    model_store m = model_read((const unsigned char *)f.data() + skip, f.size() - skip);
    if (m.last < 1) return 0;
    double t0 = m.t[0], tl = m.t[(size_t)m.last];
    if (!std::isfinite(t0) || !std::isfinite(tl)) return 0;
    double d = tl - t0;
    return d > 0 && d < 2.2e5 ? d : 0; // beyond 107,374 s the walk is refused
}

std::string small_file(int i)
{
    int kind = i % 9;
    int n = 2 + (int)below(i % 5 == 0 ? 400 : 60);
    std::string f = history(kind == 8 ? (int)below(8) : kind, n);
    if (kind == 8) { // byte-order marks: at the start, or elsewhere, where they stop the reading
        if (chance(60)) f = "\xef\xbb\xbf" + f;
        else f.insert(below(f.size() + 1), "\xef\xbb\xbf");
    }
    if (chance(10)) f.resize(below(f.size() + 1)); // cut anywhere, even in a number
    if (chance(10)) f += pick_hostile() + history(0, 3);
    return f;
}

bool put(const std::string &path, const std::string &bytes)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: cross_corpus DIR [SMALL [SEED]]\n");
        return 2;
    }
    std::string dir = argv[1];
    int small = argc > 2 ? atoi(argv[2]) : 300;
    uint64_t seed = argc > 3 ? strtoull(argv[3], nullptr, 10) : 20000;
    long redrawn = 0;
    auto draw = [&](uint64_t key, auto make) {
        for (uint64_t attempt = 0;; attempt++) {
            state = seed * 0x100000001B3ull ^ key << 20 ^ attempt;
            std::string f = make();
            if (span_of(f) <= 3) return f;
            redrawn++;
        }
    };
    char name[32];
    for (int i = 0; i < small; i++) {
        snprintf(name, sizeof name, "/s%03d.txt", i);
        if (!put(dir + name, draw((uint64_t)i, [i] { return small_file(i); }))) return perror(name), 1;
    }
    // Larger files, with times in ticks of 1e-7 s so that they hold many
    // samples per grid step: uneven times, times going back and repeating,
    // the edges of the range, and a few hostile bytes late in the file.
    const int big_kind[] = {0, 1, 2, 5}, big_n[] = {200000, 1000000, 200000, 300000};
    for (int k = 0; k < 4; k++) {
        snprintf(name, sizeof name, "/b%d.txt", k);
        auto make = [k, &big_kind, &big_n] { return history(big_kind[k], big_n[k], -7); };
        if (!put(dir + name, draw(1000000 + (uint64_t)k, make))) return perror(name), 1;
    }
    printf("%d small and 4 larger files in %s (%ld drawn again for their span)\n", small, dir.c_str(), redrawn);
    return 0;
}
