// Micro-benchmarks of the number text and the number scanner, each beside
// the C library's routine for the same job, on realistic values and on
// hard ones (subnormals, huge exponents, values that take the exact road).
#include "lindrel.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

static uint64_t seed = 20261211;

static uint64_t rnd()
{
    uint64_t z = (seed += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

static double unit() { return (double)(rnd() >> 11) * 0x1p-53; }

// Realistic: grid times of a long record and amplitudes of a measured signal.
static std::vector<double> realistic()
{
    std::vector<double> v;
    for (int i = 0; i < 4096; i++) {
        v.push_back((double)(i * 997) * dt + 12.5);
        v.push_back((unit() - 0.5) * 2e3 * std::sin(i * 0.01));
    }
    return v;
}

// Hard: subnormals, the extremes, and values whose eighth digit sits on a
// half, which the fast road hands to the exact one.
static std::vector<double> hard()
{
    std::vector<double> v;
    char b[64];
    for (int i = 0; i < 4096; i++) {
        switch (i % 4) {
        case 0: v.push_back(std::ldexp((double)(rnd() >> 12), -1074)); break;
        case 1: v.push_back(std::ldexp(unit() + 1, 900 + (int)(rnd() % 100))); break;
        case 2: v.push_back(std::ldexp(unit() + 1, -1000 + (int)(rnd() % 50))); break;
        default:
            snprintf(b, sizeof b, "%lu5e-3", 10000000 + rnd() % 90000000);
            v.push_back(strtod(b, nullptr));
        }
    }
    return v;
}

static const std::vector<double> real_v = realistic(), hard_v = hard();

static void text(benchmark::State &st, int (*f)(char *, double), const std::vector<double> *v)
{
    char b[64];
    size_t k = 0, n = v->size();
    for (auto _ : st) {
        benchmark::DoNotOptimize(f(b, (*v)[k]));
        benchmark::ClobberMemory();
        if (++k == n) k = 0; // not k % n: a division per call would be most of the time
    }
    st.SetItemsProcessed(st.iterations());
}

static int e7(char *b, double x) { return text_e(b, x); }
static int g4(char *b, double x) { return text_fp(b, x, 'g', 4); }
static int libc_e7(char *b, double x) { return snprintf(b, 64, "%14.7e", x); }
static int libc_g4(char *b, double x) { return snprintf(b, 64, "%12.4g", x); }

// Whole records through write_record into /dev/null: both numbers of a
// record, the line end and the buffer, as the walk writes them. The time
// per number is half the time per record.
static void record(benchmark::State &st, const std::vector<double> *v)
{
    bool busy;
    stream *keep = fp[1];
    fp[1] = open_output("/dev/null", &busy);
    if (!fp[1]) {
        st.SkipWithError("cannot open /dev/null");
        fp[1] = keep;
        return;
    }
    size_t k = 0, n = v->size() & ~(size_t)1;
    for (auto _ : st) {
        write_record((*v)[k], (*v)[k + 1]);
        if ((k += 2) == n) k = 0;
    }
    st.SetItemsProcessed(2 * st.iterations()); // numbers
    finish(0);
    fp[1] = keep;
}

BENCHMARK_CAPTURE(record, record_realistic, &real_v);
BENCHMARK_CAPTURE(record, record_hard, &hard_v);
BENCHMARK_CAPTURE(text, e7_realistic, e7, &real_v);
BENCHMARK_CAPTURE(text, snprintf_e7_realistic, libc_e7, &real_v);
BENCHMARK_CAPTURE(text, e7_hard, e7, &hard_v);
BENCHMARK_CAPTURE(text, snprintf_e7_hard, libc_e7, &hard_v);
BENCHMARK_CAPTURE(text, g4_realistic, g4, &real_v);
BENCHMARK_CAPTURE(text, snprintf_g4_realistic, libc_g4, &real_v);
BENCHMARK_CAPTURE(text, g4_hard, g4, &hard_v);
BENCHMARK_CAPTURE(text, snprintf_g4_hard, libc_g4, &hard_v);

// Number texts as a time history holds them: about 10 significant digits,
// and 17 digits with big exponents for the hard set.
static std::vector<std::string> texts(bool hard)
{
    std::vector<std::string> v;
    char b[64];
    for (int i = 0; i < 4096; i++) {
        if (!hard) snprintf(b, sizeof b, "%.10g", (unit() - 0.5) * 3e3);
        else if (i % 2) snprintf(b, sizeof b, "%.17g", std::ldexp(unit() + 1, (int)(rnd() % 2000) - 1000));
        else snprintf(b, sizeof b, "%.17ge-310", unit());
        v.push_back(b);
    }
    return v;
}

static const std::vector<std::string> real_t = texts(false), hard_t = texts(true);

static void scan(benchmark::State &st, const std::vector<std::string> *v)
{
    size_t k = 0, n = v->size();
    for (auto _ : st) {
        const std::string &s = (*v)[k];
        if (++k == n) k = 0;
        double x;
        bool ok;
        auto p = (const unsigned char *)s.data();
        benchmark::DoNotOptimize(scan_number(p, p + s.size(), &x, &ok));
        benchmark::DoNotOptimize(x);
    }
    st.SetItemsProcessed(st.iterations());
}

static void libc_strtod(benchmark::State &st, const std::vector<std::string> *v)
{
    size_t k = 0, n = v->size();
    for (auto _ : st) {
        const std::string &s = (*v)[k];
        if (++k == n) k = 0;
        benchmark::DoNotOptimize(strtod(s.c_str(), nullptr));
    }
    st.SetItemsProcessed(st.iterations());
}

BENCHMARK_CAPTURE(scan, scan_realistic, &real_t);
BENCHMARK_CAPTURE(libc_strtod, strtod_realistic, &real_t);
BENCHMARK_CAPTURE(scan, scan_hard, &hard_t);
BENCHMARK_CAPTURE(libc_strtod, strtod_hard, &hard_t);

BENCHMARK_MAIN();
