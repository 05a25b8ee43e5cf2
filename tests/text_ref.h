// A slow reference for the number text, kept plain so that it can be read
// and believed: the exact decimal expansion of the double, then both
// roundings and the layout done on characters. The unit tests and the fuzz
// target compare the fast rendering in text.cpp with it.
#pragma once

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <string>

// The decimal form of a double: the value is 0.ddd... * 10^d, with dig the
// significant digits (no trailing zeros) or a non-finite marker.
struct ref_form {
    bool neg = false;
    std::string dig;
    int d = 0;
};

// Every significant digit of |v| (finite, not zero) and its D. A double's
// exact expansion has at most 767 significant digits, so 801 holds them all;
// the digits past the last one come out as zeros.
inline void ref_exact(double v, std::string *dig, int *d)
{
    double m = std::bit_cast<double>(std::bit_cast<uint64_t>(v) & ~(1ull << 63));
    char b[900];
    char *e = std::to_chars(b, b + sizeof b, m, std::chars_format::scientific, 800).ptr;
    *e = 0;
    char *x = b;
    while (*x != 'e') x++;
    dig->assign(b, x);
    dig->erase(1, 1); // the point after the first digit
    *d = std::atoi(x + 1) + 1;
}

// The first 17 digits, one added to the last of them when up, then the
// trailing zeros dropped. A carry out of the first digit leaves "1".
inline ref_form ref_keep17(bool neg, const std::string &all, int d, bool up)
{
    std::string s = all.substr(0, 17);
    if (up) {
        int i = 16;
        while (i >= 0 && s[i] == '9') s[i--] = '0';
        if (i < 0) { s = "1"; d++; }
        else s[i]++;
    }
    while (s.size() > 1 && s.back() == '0') s.pop_back();
    return {neg, s, d};
}

// f[0] gets the decimal form of v, the 17 digits rounded half up. The
// result is true when v sits at or next to the midpoint of two 17-digit
// decimals (digits 18 to 23 read 500000 or 499999): either neighbour may
// then be kept, and f[1] gets the other one.
inline bool ref_forms(double v, ref_form f[2])
{
    uint64_t bits = std::bit_cast<uint64_t>(v);
    bool neg = bits >> 63;
    uint64_t frac = bits & ((1ull << 52) - 1);
    if ((bits >> 52 & 0x7ff) == 0x7ff) {
        const char *mk = frac == 0                      ? "1#INF"
                         : bits == 0xFFF8000000000000ull ? "1#IND"
                         : frac >> 51                    ? "1#QNAN"
                                                         : "1#SNAN";
        f[0] = f[1] = {neg, mk, 1};
        return false;
    }
    if (bits << 1 == 0) {
        f[0] = f[1] = {false, "0", 0};
        return false;
    }
    std::string all;
    int d;
    ref_exact(v, &all, &d);
    bool up = all[17] >= '5';
    f[0] = ref_keep17(neg, all, d, up);
    f[1] = ref_keep17(neg, all, d, !up);
    std::string near = all.substr(17, 6);
    return near == "500000" || near == "499999";
}

// Cuts the digit string to n characters, filling with '0'; the one
// character after them decides the carry by its code, so a letter of a
// marker counts as 5 or more.
inline void ref_cut(ref_form *f, int n)
{
    std::string s = f->dig;
    char next = s.size() > (size_t)n ? s[n] : 0;
    s.resize(n, '0');
    if (next >= '5') {
        int i = n - 1;
        while (i >= 0 && s[i] == '9') s[i--] = '0';
        if (i < 0) { s[0] = '1'; f->d++; }
        else s[i]++;
    }
    f->dig = s;
}

inline std::string ref_exp(int x)
{
    int a = x < 0 ? -x : x;
    std::string s = x < 0 ? "e-" : "e+";
    s += (char)('0' + a / 100);
    s += (char)('0' + a / 10 % 10);
    s += (char)('0' + a % 10);
    return s;
}

// The text of a decimal form under conversion 'e' or 'g' with precision p,
// without the blanks of a field.
inline std::string ref_text(ref_form f, char conv, int p)
{
    std::string s = f.neg ? "-" : "";
    if (conv == 'e') {
        bool zero = f.dig == "0";
        ref_cut(&f, p + 1);
        s += f.dig[0];
        if (p > 0) s += "." + f.dig.substr(1);
        return s + ref_exp(zero ? 0 : f.d - 1);
    }
    if (p == 0) p = 1;
    ref_cut(&f, p);
    int x = f.d - 1;
    bool exp = x < -4 || x >= p;
    std::string body;
    if (exp) body = f.dig.substr(0, 1) + "." + f.dig.substr(1);
    else if (f.d <= 0) body = "0." + std::string(-f.d, '0') + f.dig;
    else body = f.dig.substr(0, f.d) + "." + f.dig.substr(f.d);
    // body always holds the point, so this stops there at the latest
    while (body.back() == '0') body.pop_back();
    if (body.back() == '.') body.pop_back();
    return s + body + (exp ? ref_exp(x) : "");
}

inline std::string ref_field(const std::string &s, int width)
{
    return s.size() >= (size_t)width ? s : std::string(width - s.size(), ' ') + s;
}

// The text of v in a field of the given width, as "%W.Pe" or "%W.Pg" write it.
inline std::string ref_number(double v, char conv, int p, int width = 0)
{
    ref_form f[2];
    ref_forms(v, f);
    return ref_field(ref_text(f[0], conv, p), width);
}

// True when got is an acceptable text for the value whose forms are f: the
// text of f[0], or at a tie of the 17-digit rounding the text of f[1].
inline bool ref_accepts(const ref_form f[2], bool tie, char conv, int p, int width,
                        const std::string &got)
{
    return got == ref_field(ref_text(f[0], conv, p), width) ||
           (tie && got == ref_field(ref_text(f[1], conv, p), width));
}
