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

static int32_t i, j, js;
static double tt, num, den, c1, c0, y;

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

void resample()
{
    print(out, "\n   dt= %12.4g \n", dt);
    write_record(t[0], a[0]);
    if (last == -1) return;
    if ((refused = beyond_limits())) {
        print(out, "\n Time span out of range: %s; no grid records were written. \n", refused);
        return;
    }
    js = 1;
    for (i = 0;; i++) {
        tt = (double)i * dt + t[0];
        if (tt > t[last]) return;
        if (js > last) {
            js = js - 1 < 0 ? 0 : js - 1;
            continue;
        }
        for (j = js; j <= last; j++) {
            if (j >= 1 && tt == t[j - 1]) { write_record(tt, a[j - 1]); break; }
            if (tt == t[j]) { write_record(tt, a[j]); break; }
            if (j >= 1 && t[j - 1] < tt && tt < t[j]) {
                num = tt - t[j - 1];
                den = t[j] - t[j - 1];
                c1 = num / den;
                c0 = 1.0 - c1;
                y = c0 * a[j - 1] + c1 * a[j];
                write_record(tt, y);
                break;
            }
        }
        js = j - 1 < 0 ? 0 : j - 1;
        if (fp[1]->bad) return;
    }
}
