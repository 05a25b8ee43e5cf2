// The resampler: the walk over the 20 kHz grid, the forward bracket search
// and the linear interpolation, one record per grid time.
//
// The arithmetic is part of the output. The grid time of step i is computed
// afresh as (double)i * dt + t[0], two roundings, never by adding dt to the
// previous time; the value is (1 - c1) * a[j-1] + c1 * a[j], each product
// rounded before the sum. The build forbids contraction into fused
// multiply-adds, so every compiler and target gives the same doubles.
#include "lindrel.h"

#include <bit>
#include <cmath>

static_assert(std::bit_cast<uint64_t>(dt) == 0x3F0A36E2EB1C432Dull, "dt is the double nearest 1/20000");

const char *refused;

// Progress of a long walk, on standard error when that is a terminal and
// nowhere otherwise: percent of the span and records written, a few times
// a second at most, erased when the walk ends. The console transcript and
// the resampled file never see it.
static bool shown;
static double due;

static void progress(int32_t i, double tt)
{
    double tn = os_now();
    if (tn < due) return;
    due = tn + 0.25;
    double span = t[last] - t[0];
    long pc = span > 0 ? (long)(100 * ((tt - t[0]) / span)) : 100;
    print(err, "\r lindrel: %ld%% of the span, %ld records ", pc < 0 ? 0 : pc > 100 ? 100 : pc, (long)i + 1);
    shown = true;
}

// The step index is a 32-bit integer: the walk must end by the last step
// it can count, and it can only end when both end times are finite.
static const char *beyond_limits()
{
    if (!std::isfinite(t[0])) return "the first time is not finite";
    if (!std::isfinite(t[last])) return "the last time is not finite";
    if (!((double)INT32_MAX * dt + t[0] > t[last]))
        return "it needs more than 2147483647 grid steps of 5e-005 s";
    return nullptr;
}

// The walk's working values live in registers: i and js carry from one
// step to the next, the rest belong to a single step.
static void walk(bool tty)
{
    const double t0 = t[0], tl = t[last];
    int32_t js = 1;
    for (int32_t i = 0;; i++) {
        double tt = (double)i * dt + t0;
        if (tt > tl) return;
        if (tty && (i & 0xFFFFF) == 0) progress(i, tt);
        if (js > last) {
            js = js - 1 < 0 ? 0 : js - 1;
            continue;
        }
        int32_t j;
        for (j = js; j <= last; j++) {
            if (j >= 1 && tt == t[j - 1]) { write_record(tt, a[j - 1]); break; }
            if (tt == t[j]) { write_record(tt, a[j]); break; }
            if (j >= 1 && t[j - 1] < tt && tt < t[j]) {
                double num = tt - t[j - 1];
                double den = t[j] - t[j - 1];
                double c1 = num / den;
                double c0 = 1.0 - c1;
                double y = c0 * a[j - 1] + c1 * a[j];
                // Only an invalid operation (infinity minus infinity, zero
                // times infinity) makes a NaN here, and its sign bit differs
                // between processors: x86-64 sets it, AArch64 does not. The
                // record takes the one pattern x86-64 makes, everywhere.
                if (y != y) y = std::bit_cast<double>(IND_NAN);
                write_record(tt, y);
                break;
            }
        }
        js = j - 1 < 0 ? 0 : j - 1;
        if (fp[1]->bad) return;
    }
}

void resample()
{
    print(out, "\n   dt= %12.4g \n", dt);
    write_record(t[0], a[0]);
    if (last == -1) return;
    if ((refused = beyond_limits())) {
        print(out, "\n Time span out of range: %s; no grid records were written. \n", refused);
        return;
    }
    bool tty = os_isatty(os_stderr());
    if (tty) due = os_now() + 0.5;
    walk(tty);
    if (shown) print(err, "\r%60s\r", "");
}
