// Fuzz target for a whole run after the file setup: the input is written to
// a file, read as the time history and resampled, the records going to
// /dev/null. A crash, a sanitizer report or a hang is a finding; so is a
// store that differs from what a separate model of the file format reads.
//
// The resampler writes one record per 5e-05 s of the input's span, so a few
// bytes such as "0 0 1e4 0" ask for 2e8 records: legitimate work, but no
// use to the fuzzer. The walk ends at the first step whose grid time passes
// the last time, and grid times grow with the step, so that step can be
// found beforehand by bisection; each step scans at most the whole store
// for its bracket. Inputs whose walk would exceed MAX_STEPS steps or
// MAX_WORK step-sample visits are read but not resampled. Spans the
// resampler refuses (non-finite ends, more than 2^31-1 steps) are always
// passed to it, since it must refuse them at once.
#include "lindrel.h"
#include "reader_model.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <locale.h>
#include <string>
#include <unistd.h>
#include <vector>

// 16384 steps are 0.8 s of signal; a record costs some microseconds under
// the sanitizers, so the slowest input still runs in a fraction of a second.
static const int64_t MAX_STEPS = 1 << 14;
static const int64_t MAX_WORK = 1 << 22;

static int fd = -1; // the input file, unlinked at once: nothing is left behind
static stream in;
static char conbuf[2 * 4096];
static stream con = {-1, false, false, 4096, 0, 0, conbuf};

// Pair reads as the file format defines them; false where the store that
// read_history left differs.
static bool same_as_model(const unsigned char *s, size_t n)
{
    model_store m = model_read(s, n);
    auto same = [](double x, double y) { return std::bit_cast<uint64_t>(x) == std::bit_cast<uint64_t>(y); };
    if (last != m.last || nt != m.nt || full != m.full) return false;
    for (long k = 0; k <= last; k++)
        if (!same(t[k], m.t[k]) || !same(a[k], m.a[k])) return false;
    // the slot after the last sample is untouched
    return last + 1 >= MAX_SAMPLES || (same(t[last + 1], 0.0) && same(a[last + 1], 0.0));
}

// --- the bound on the walk ---

static bool affordable()
{
    if (last < 0 || !std::isfinite(t[0]) || !std::isfinite(t[last])) return true;
    if (!((double)INT32_MAX * dt + t[0] > t[last])) return true;
    int64_t lo = 0, hi = INT32_MAX;
    while (lo < hi) {
        int64_t mid = lo + (hi - lo) / 2;
        if ((double)mid * dt + t[0] > t[last]) hi = mid;
        else lo = mid + 1;
    }
    return lo <= MAX_STEPS && lo * ((int64_t)last + 1) <= MAX_WORK;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const char *dir = getenv("TMPDIR");
    std::string name = std::string(dir && *dir ? dir : "/tmp") + "/lindrel_fuzz_run_XXXXXX";
    fd = mkstemp(name.data());
    if (fd < 0) {
        perror("mkstemp");
        abort();
    }
    unlink(name.c_str());
    con.fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    bool busy;
    fp[1] = open_output("/dev/null", &busy);
    if (con.fd < 0 || !fp[1]) {
        perror("/dev/null");
        abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != (ssize_t)size) abort();
    lseek(fd, 0, SEEK_SET);
    in = {fd, false, false, 0, 0, 0, nullptr};
    fp[0] = &in;
    out = &con;
    reset_history();
    read_history();
    if (!same_as_model(data, size)) {
        fprintf(stderr, "the store differs from the model's reading\n");
        abort();
    }
    if (affordable()) resample();
    return 0;
}
