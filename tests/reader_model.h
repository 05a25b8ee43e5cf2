// A model of the time history format, written apart from the reader: the
// tests and fuzz targets check the reader against it.
#pragma once

#include "lindrel.h"

#include <algorithm>
#include <cstdlib>
#include <locale.h>
#include <string>
#include <vector>

// strtod in the C locale, whatever locale the process has. It takes a
// leading plus and stops before an exponent letter without digits, so it
// reads a taken text as the format means it; the copy keeps it from looking
// past the text.
inline double c_strtod(const unsigned char *s, size_t n)
{
    static locale_t c = newlocale(LC_ALL_MASK, "C", (locale_t)0);
    std::string str((const char *)s, n);
    return strtod_l(str.c_str(), nullptr, c);
}

inline bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// The number syntax: a sign, digits, a point and digits, then an exponent
// only after a digit; at most 349 characters after the sign. Returns the
// bytes taken; *ok tells a number from a lone sign or point (or nothing).
inline size_t model_scan(const unsigned char *s, size_t len, bool *ok)
{
    size_t i = 0;
    if (i < len && (s[i] == '+' || s[i] == '-')) i++;
    const size_t end = std::min(len, i + 349);
    int nd = 0;
    while (i < end && is_digit(s[i])) i++, nd++;
    if (i < end && s[i] == '.')
        for (i++; i < end && is_digit(s[i]); i++) nd++;
    if (nd > 0 && i < end && (s[i] == 'e' || s[i] == 'E')) {
        i++;
        if (i < end && (s[i] == '+' || s[i] == '-')) i++;
        while (i < end && is_digit(s[i])) i++;
    }
    *ok = nd > 0;
    return i;
}

// What a read leaves: the samples, last, nt, full.
struct model_store {
    std::vector<double> t, a;
    long last = -1, nt = 0;
    bool full = false;
};

// The reading phase over a whole file held in memory.
inline model_store model_read(const unsigned char *s, size_t n)
{
    model_store m;
    // a UTF-8 byte-order mark is skipped at the very start, nowhere else
    size_t p = n >= 3 && s[0] == 0xEF && s[1] == 0xBB && s[2] == 0xBF ? 3 : 0;
    auto next = [&](double *v) {
        while (p < n && (s[p] == ' ' || (s[p] >= 9 && s[p] <= 13))) p++;
        bool ok;
        size_t k = model_scan(s + p, n - p, &ok);
        if (ok) *v = c_strtod(s + p, k);
        p += k;
        return ok;
    };
    for (;;) {
        m.nt++;
        double v, w = 0;
        if (!next(&v)) break;
        next(&w);
        m.t.push_back(v);
        m.a.push_back(w);
        if (m.t.size() == (size_t)MAX_SAMPLES) {
            m.full = next(&v);
            break;
        }
    }
    m.last = (long)m.t.size() - 1;
    return m;
}
