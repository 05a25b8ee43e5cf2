// Workload generator for the benchmarks: writes one time history file.
//
//   gen W1 file   5,000,000 samples, uneven steps of 0.05 to 0.15 ms, "%.10g"
//   gen W2 file   1,001 samples, 0.6 s apart, spanning 600 s, "%.10g"
//   gen W3 file   2,000,000 samples on the 20 kHz grid, times i*dt, "%.17g"
//   gen numpy file  2,000,000 samples, uneven steps of 0.05 to 0.15 ms,
//                   "%.18e" as numpy's savetxt writes by default
//
// The files are the same byte for byte on every machine: the random numbers
// come from splitmix64 with a fixed seed, the sine is our own polynomial over
// plain double arithmetic (a libm sin may differ in the last bit between
// systems), and glibc's printf rounds exactly. Build with -ffp-contract=off
// so that no multiply-add changes a rounding.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static uint64_t seed = 0x6c696e6472656cULL;

static uint64_t next()
{
    uint64_t z = (seed += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// Uniform in [0, 1), from the top 53 bits: exact in a double.
static double uni()
{
    return (double)(next() >> 11) * 0x1.0p-53;
}

// Sine by range reduction and the Taylor series to x^21. Only +, -, *, /
// and floor, all exactly rounded, so the result is the same everywhere.
static double wsin(double x)
{
    const double pi = 3.141592653589793;
    const double twopi = 6.283185307179586;
    const double hpi = 1.5707963267948966;
    double k = std::floor(x / twopi + 0.5);
    double r = x - k * twopi;
    if (r > hpi)
        r = pi - r;
    else if (r < -hpi)
        r = -pi - r;
    double r2 = r * r;
    double term = r;
    double sum = r;
    for (int n = 1; n <= 10; n++) {
        term = term * -r2 / (double)((2 * n) * (2 * n + 1));
        sum = sum + term;
    }
    return sum;
}

// A ground-motion-like trace: three tones, the lowest at f hertz, and some
// noise.
static double signal(double t, double f, double noise)
{
    const double w = 6.283185307179586 * f;
    double s = 0.8 * wsin(w * t);
    s = s + 0.3 * wsin(w * 5.4615 * t + 0.4);
    s = s + 0.1 * wsin(w * 23.846 * t + 1.1);
    return s + noise * (2.0 * uni() - 1.0);
}

static FILE *fo;
static char line[128];

static void put(const char *fmt, double t, double v)
{
    int n = snprintf(line, sizeof line, fmt, t, v);
    fwrite(line, 1, (size_t)n, fo);
}

static void w1()
{
    const long n = 5000000;
    double t = 0.0;
    double prev = -1.0;
    char tb[40];
    for (long k = 0; k < n;) {
        // Ten digits keep 0.1 us at 500 s, far below the least step, but
        // check the value read back anyway: the times must strictly rise.
        snprintf(tb, sizeof tb, "%.10g", t);
        double back = strtod(tb, nullptr);
        if (back > prev) {
            put("%.10g %.10g\n", back, signal(t, 1.3, 0.02));
            prev = back;
            k++;
        }
        t = t + (0.05e-3 + 0.1e-3 * uni());
    }
}

static void w2()
{
    for (int k = 0; k <= 1000; k++) {
        double t = (double)k * 0.6;
        put("%.10g %.10g\n", t, signal(t, 0.013, 0.05));
    }
}

static void w3()
{
    const double dt = 1.0 / 20000.0;
    for (int i = 0; i < 2000000; i++) {
        double t = (double)i * dt;
        put("%.17g %.17g\n", t, signal(t, 1.3, 0.02));
    }
}

// numpy.savetxt's default text: "%.18e", one blank between the columns, a
// line feed after each row. Nineteen significant digits, so nearly every
// number is beyond 2^53 as an integer and its last digits are noise below
// the double's precision.
static void numpy()
{
    const long n = 2000000;
    double t = 0.0;
    for (long k = 0; k < n; k++) {
        put("%.18e %.18e\n", t, signal(t, 1.3, 0.02));
        t = t + (0.05e-3 + 0.1e-3 * uni());
    }
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: gen W1|W2|W3|numpy file\n");
        return 2;
    }
    void (*make)() = nullptr;
    if (strcmp(argv[1], "W1") == 0)
        make = w1;
    else if (strcmp(argv[1], "W2") == 0)
        make = w2;
    else if (strcmp(argv[1], "W3") == 0)
        make = w3;
    else if (strcmp(argv[1], "numpy") == 0)
        make = numpy;
    if (!make) {
        fprintf(stderr, "gen: unknown workload %s (W1, W2, W3 or numpy)\n", argv[1]);
        return 2;
    }
    fo = fopen(argv[2], "wb");
    if (!fo) {
        perror(argv[2]);
        return 1;
    }
    static char buf[1 << 20];
    setvbuf(fo, buf, _IOFBF, sizeof buf);
    make();
    if (ferror(fo) || fclose(fo) != 0) {
        fprintf(stderr, "gen: write to %s failed\n", argv[2]);
        return 1;
    }
    return 0;
}
