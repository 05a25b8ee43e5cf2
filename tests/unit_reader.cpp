// The reader of the time history, driven through read_history on real
// files and pipes, and its number scanner checked against strtod.
//
// The expectations come from two places: a table of hand-written cases, and
// a small model of the number syntax (written apart from the scanner, with
// strtod for the values) that reads whole random files the way the reader
// must. Values are compared by their bit patterns, so -0.0 and +0.0 differ.
#include "lindrel.h"
#include "reader_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <locale.h>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace std::string_literals;

namespace {

uint64_t bits(double x) { return std::bit_cast<uint64_t>(x); }

double c_strtod(const std::string &s) { return ::c_strtod((const unsigned char *)s.data(), s.size()); }

using store = model_store;

store model_read(const std::string &f) { return ::model_read((const unsigned char *)f.data(), f.size()); }

// --- running the real reader ---

char conbuf[1 << 16];

// Reads the time history from the open descriptor fd; returns the console
// text that the reading printed.
std::string read_fd(int fd)
{
    stream in = {fd, false, false, 0, 0, 0, nullptr};
    stream con = {-1, false, false, sizeof conbuf / 2, 0, 0, conbuf};
    stream *in0 = fp[0], *out0 = out;
    fp[0] = &in;
    out = &con;
    reset_history();
    read_history();
    fp[0] = in0;
    out = out0;
    return std::string(conbuf, con.n);
}

// A temporary file holding bytes, already unlinked, positioned at its start.
int temp_fd(const std::string &bytes)
{
    const char *dir = getenv("TMPDIR");
    std::string name = std::string(dir && *dir ? dir : "/tmp") + "/lindrel_reader_XXXXXX";
    int fd = mkstemp(name.data());
    if (fd < 0) return -1;
    unlink(name.c_str());
    for (size_t at = 0; at < bytes.size();) {
        ssize_t w = write(fd, bytes.data() + at, bytes.size() - at);
        if (w <= 0) { close(fd); return -1; }
        at += (size_t)w;
    }
    lseek(fd, 0, SEEK_SET);
    return fd;
}

std::string read_bytes(const std::string &bytes)
{
    int fd = temp_fd(bytes);
    if (fd < 0) {
        ADD_FAILURE() << "cannot make a temporary file";
        return {};
    }
    std::string con = read_fd(fd);
    close(fd);
    return con;
}

// The store as read_history left it, against the expected one: every
// sample bit for bit, and the two slots above last still +0.0.
::testing::AssertionResult same_store(const store &m)
{
    if (last != m.last || nt != m.nt || full != m.full)
        return ::testing::AssertionFailure() << "last " << last << " nt " << nt << " full " << full
                                             << ", expected " << m.last << " " << m.nt << " " << m.full;
    for (long k = 0; k <= m.last; k++)
        if (bits(t[k]) != bits(m.t[k]) || bits(a[k]) != bits(m.a[k]))
            return ::testing::AssertionFailure()
                   << "sample " << k << " is (" << t[k] << ", " << a[k] << "), expected (" << m.t[k]
                   << ", " << m.a[k] << ")";
    for (long k = m.last + 1; k <= m.last + 2 && k < MAX_SAMPLES; k++)
        if (bits(t[k]) != 0 || bits(a[k]) != 0)
            return ::testing::AssertionFailure() << "slot " << k << " above last is not +0.0";
    return ::testing::AssertionSuccess();
}

// The reading summary, given the "%12.4g" texts of t[last] and t[0]
// without their field's blanks.
std::string summary(long l, const char *tl, const char *t0, long n, bool f = false)
{
    auto field = [](const char *g) { return std::string(12 - strlen(g), ' ') + g; };
    std::string s = "\r\n t[" + std::to_string(l) + "]= " + field(tl) + "   t[0]= " + field(t0) +
                    "\r\n\r\n last= " + std::to_string(l) + " \r\n\r\n   nt= " + std::to_string(n) + " \r\n";
    if (f)
        s += "\r\n Warning: the store is full at 5000000 samples; the rest of the file was not read. \r\n";
    return s;
}

// --- the table ---

const double inf = HUGE_VAL;

struct row {
    const char *name;
    std::string in;
    std::vector<std::pair<double, double>> s; // the samples
    long nt;
    const char *tl, *t0; // "%12.4g" texts of t[last] and t[0]
};

const std::string zeros400(400, '0');

const row rows[] = {
    {"lf", "0 1\n0.5 2\n", {{0, 1}, {0.5, 2}}, 3, "0.5", "0"},
    {"crlf", "0 1\r\n0.5 2\r\n", {{0, 1}, {0.5, 2}}, 3, "0.5", "0"},
    {"no line end at the end", "0 1\n0.5 2", {{0, 1}, {0.5, 2}}, 3, "0.5", "0"},
    {"crlf without the last", "0 1\r\n0.5 2", {{0, 1}, {0.5, 2}}, 3, "0.5", "0"},
    {"empty lines after", "0 1\n0.5 2\n\n\n", {{0, 1}, {0.5, 2}}, 3, "0.5", "0"},
    {"crlf empty lines after", "0 1\r\n0.5 2\r\n\r\n\r\n", {{0, 1}, {0.5, 2}}, 3, "0.5", "0"},
    {"empty file", "", {}, 1, "0", "0"},
    {"white space only", " \t\r\n\v\f \n\n", {}, 1, "0", "0"},
    {"header line", "time amp\n0 1\n0.5 2\n", {}, 1, "0", "0"},
    {"odd count", "0 1\n1\n", {{0, 1}, {1, 0}}, 3, "1", "0"},
    {"three to a line", "0 1 2\n1 3 4\n", {{0, 1}, {2, 1}, {3, 4}}, 4, "3", "0"},
    {"byte 26 after a line", "0 1\n\x1a\n", {{0, 1}}, 2, "0", "0"},
    {"byte 26 as an amplitude", "0 1\n1 \x1a 5 6\n", {{0, 1}, {1, 0}}, 3, "1", "0"},
    {"byte 0 as an amplitude", "0 1\n1 \0 5 6\n"s, {{0, 1}, {1, 0}}, 3, "1", "0"},
    {"byte 0 right after a number", "1\0" "2 3"s, {{1, 0}}, 2, "1", "1"},
    {"tab, vertical tab, form feed", "0\t1\v0.5\f2", {{0, 1}, {0.5, 2}}, 3, "0.5", "0"},
    {"byte 160", "1 \xa0 2", {{1, 0}}, 2, "1", "1"},
    {"lone minus then a letter", "1.5 -x 2 3", {{1.5, 0}}, 2, "1.5", "1.5"},
    {"lone minus", "1.5 - 2.5 3.5", {{1.5, 0}, {2.5, 3.5}}, 3, "2.5", "1.5"},
    {"lone point", "1.5 . 2.5 3.5", {{1.5, 0}, {2.5, 3.5}}, 3, "2.5", "1.5"},
    {"sign and point", "1.5 -. 2.5 3.5", {{1.5, 0}, {2.5, 3.5}}, 3, "2.5", "1.5"},
    {"lone minus as a time", "1 2 - 3 4", {{1, 2}}, 2, "1", "1"},
    {"two signs", "1 +-5 6", {{1, 0}, {-5, 6}}, 3, "-5", "1"},
    {"exponent letter alone", "1e 2", {{1, 2}}, 2, "1", "1"},
    {"exponent letter and sign", "1e- 2 3E+", {{1, 2}, {3, 0}}, 3, "3", "1"},
    {"exponent letter then a letter", "1ex 2", {{1, 0}}, 2, "1", "1"},
    {"sign ends a number", "1.5-2.5", {{1.5, -2.5}}, 2, "1.5", "1.5"},
    {"point ends an exponent", "1.5e5.5 3 4", {{150000, 0.5}, {3, 4}}, 3, "3", "1.5e+005"},
    {"second point", "1..5 2", {{1, 0.5}, {2, 0}}, 3, "2", "1"},
    {"second exponent letter", "1e5e5 7", {{1e5, 0}}, 2, "1e+005", "1e+005"},
    {"hexadecimal", "0x10 1", {{0, 0}}, 2, "0", "0"},
    {"comma", "1,5 2", {{1, 0}}, 2, "1", "1"},
    {"letter d", "1d5 2", {{1, 0}}, 2, "1", "1"},
    {"inf", "inf 1", {}, 1, "0", "0"},
    {"nan", "nan 1", {}, 1, "0", "0"},
    {"minus inf", "-inf 1", {}, 1, "0", "0"},
    {"point then exponent", ".e5 1", {}, 1, "0", "0"},
    {"overflow", "1e999 -1e999", {{inf, -inf}}, 2, "1.#IO", "1.#IO"},
    {"underflow", "1e-999 -1e-999", {{0.0, -0.0}}, 2, "0", "0"},
    {"negative zero", "-0 0", {{-0.0, 0.0}}, 2, "0", "0"},
    {"negative zeros", "-0.000 -0e5 +0 -.0", {{-0.0, -0.0}, {0.0, -0.0}}, 3, "0", "0"},
    {"subnormal", "1e-310 -1e-310", {{1e-310, -1e-310}}, 2, "1e-310", "1e-310"},
    {"forms", "+.5 -.5e1 5. .5 1E+05 2e-3 0001.2500 +007", {{0.5, -5}, {5, 0.5}, {1e5, 0.002}, {1.25, 7}},
     5, "1.25", "0.5"},
    {"349 characters end a number", "0." + zeros400 + "1 7", {{0, 1}, {7, 0}}, 3, "7", "0"},
    {"the sign does not count", "-0." + zeros400 + "1 7", {{-0.0, 1}, {7, 0}}, 3, "7", "0"},
    {"exponent letter as the 349th", "1." + zeros400.substr(0, 346) + "e-5", {{1, -5}}, 2, "1", "1"},
    {"349 digits overflow", "1" + zeros400.substr(0, 348) + "25 3", {{inf, 25}, {3, 0}}, 3, "3", "1.#IO"},
};

TEST(reader, cases)
{
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        store m;
        for (auto [tv, av] : r.s) {
            m.t.push_back(tv);
            m.a.push_back(av);
        }
        m.last = (long)r.s.size() - 1;
        m.nt = r.nt;
        std::string con = read_bytes(r.in);
        EXPECT_TRUE(same_store(m));
        EXPECT_EQ(con, summary(m.last, r.tl, r.t0, r.nt));
        // the model must read the table the same way, or it is no oracle
        // for the random files below
        store mm = model_read(r.in);
        EXPECT_EQ(mm.nt, r.nt);
        EXPECT_EQ(mm.t.size(), r.s.size());
    }
}

TEST(reader, no_sample_summary)
{
    EXPECT_EQ(read_bytes("\r\n"), "\r\n t[-1]=            0   t[0]=            0\r\n"
                                  "\r\n last= -1 \r\n"
                                  "\r\n   nt= 1 \r\n");
    EXPECT_EQ(last, -1);
    EXPECT_EQ(nt, 1);
    EXPECT_FALSE(full);
}

TEST(reader, subnormal_stays_subnormal)
{
    read_bytes("1e-310 2.2250738585072009e-308 4.9406564584124654e-324 2.4703282292062328e-324 "
               "2.4703282292062327e-324 1");
    EXPECT_EQ(std::fpclassify(t[0]), FP_SUBNORMAL);
    EXPECT_EQ(bits(t[0]), bits(1e-310));
    EXPECT_EQ(bits(a[0]), 0x000FFFFFFFFFFFFFull); // the largest subnormal
    EXPECT_EQ(bits(t[1]), 1u);                   // the least subnormal
    EXPECT_EQ(bits(a[1]), 1u);                   // just above half of it
    EXPECT_EQ(bits(t[2]), 0u);                   // just below half of it
    EXPECT_EQ(last, 2);
}

// A read that fails counts as the end of the file.
TEST(reader, failed_read_ends_the_file)
{
    int fd = open("/dev/null", O_WRONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(read_fd(fd), summary(-1, "0", "0", 1));
    close(fd);
    fd = open(".", O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    read_fd(fd);
    EXPECT_EQ(last, -1);
    EXPECT_EQ(nt, 1);
    close(fd);
}

// --- random files, by the model ---

// One random token of a file that holds only numbers, so that the reader
// goes on to its end: short numbers with every syntax form, long ones up to
// the 349-character limit, and over-long digit runs that the limit cuts in
// two (digits and at most one point with digits after it, so that every
// piece is a number again).
std::string token(std::mt19937_64 &r)
{
    auto pick = [&](int n) { return (int)(r() % (unsigned)n); };
    auto digits = [&](int n) {
        std::string s;
        for (int i = 0; i < n; i++) s += (char)('0' + pick(10));
        return s;
    };
    std::string s;
    int sign = pick(4);
    if (sign == 1) s = "-";
    if (sign == 2) s = "+";
    switch (pick(10)) {
    case 0: { // long, at the limit or just under it
        int len = 300 + pick(50);
        int pt = pick(len);
        s += digits(pt) + "." + digits(len - pt - 1);
        break;
    }
    case 1: { // over-long digit run
        int len = 350 + pick(450);
        s += digits(len);
        if (pick(2)) s.insert(s.size() - 1 - pick(len - 1), ".");
        break;
    }
    case 2: // exponent without digits, or with a sign only
        s += digits(1 + pick(5)) + (pick(2) ? "e" : "E") + (pick(3) == 0 ? "" : pick(2) ? "+" : "-");
        break;
    case 3: // two numbers with nothing between
        s += digits(1 + pick(3)) + "." + digits(pick(3) + 1) + (pick(2) ? "-" : "+") + digits(1 + pick(4));
        break;
    default: {
        s += digits(pick(8));
        if (s.empty() || s.back() < '0' || pick(2)) s += "." + digits(1 + pick(6));
        if (pick(3) == 0) s += "e" + std::string(pick(2) ? "-" : "") + std::to_string(pick(400));
        break;
    }
    }
    return s;
}

std::string space(std::mt19937_64 &r)
{
    static const char ws[] = " \t\n\v\f\r";
    int n = r() % 50 == 0 ? 1000 + (int)(r() % 4000) : 1 + (int)(r() % 3);
    std::string s;
    for (int i = 0; i < n; i++) s += ws[r() % 6];
    return s;
}

// A random file of about size bytes. At each of the given cuts a signed
// number of the greatest length (350 bytes) starts `before` bytes earlier;
// for a negative `before` the cut falls in the blanks ahead of it.
std::string random_file(std::mt19937_64 &r, size_t size, std::vector<size_t> cuts, long before)
{
    std::string f;
    for (size_t c : cuts) {
        size_t start = c - before;
        // a token and its white space take at most about 6000 bytes
        while (f.size() + 8000 < start) f += token(r) + space(r);
        f += std::string(start - f.size(), ' ');
        f += "-1." + std::string(346, '7') + "5" + " ";
    }
    while (f.size() < size) f += token(r) + space(r);
    return f;
}

// The reader takes the file in chunks of 1 MiB, the first one ending at
// offset 1048576. Numbers and runs of white space that straddle the chunks
// must read as if whole; a number that starts 349 bytes before the end of
// a chunk is one byte too long for what is left of it.
TEST(reader, numbers_across_chunks)
{
    std::mt19937_64 r(11);
    for (long before : {350, 349, 200, 1, 0, -151}) {
        SCOPED_TRACE(before);
        std::string f = random_file(r, (2u << 20) + 100000, {1u << 20, 2u << 20}, before);
        store m = model_read(f);
        ASSERT_GT(m.last, 3000);
        read_bytes(f);
        EXPECT_TRUE(same_store(m));
    }
}

// A pipe delivers the file in short pieces; the reader must gather them.
TEST(reader, pipe_in_short_pieces)
{
    signal(SIGPIPE, SIG_IGN);
    std::mt19937_64 r(12);
    std::string f = random_file(r, 30000, {}, 0);
    store m = model_read(f);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::thread writer([&] {
        std::mt19937_64 rr(13);
        for (size_t at = 0; at < f.size();) {
            size_t k = std::min(f.size() - at, (size_t)(1 + rr() % 40));
            ssize_t w = write(fds[1], f.data() + at, k);
            if (w <= 0) break;
            at += (size_t)w;
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
        close(fds[1]);
    });
    read_fd(fds[0]);
    writer.join();
    close(fds[0]);
    EXPECT_TRUE(same_store(m));
    read_bytes(f);
    EXPECT_TRUE(same_store(m));
}

// --- the capacity of the store ---

// MAX_SAMPLES lines "k k%10", k counting from 0, written straight into a
// buffer: about 49 MB in a few tens of milliseconds.
std::string full_file()
{
    std::string f(MAX_SAMPLES * 11, ' ');
    char *s = f.data();
    for (int k = 0; k < MAX_SAMPLES; k++) {
        auto r = std::to_chars(s, s + 8, k);
        s = r.ptr;
        *s++ = ' ';
        *s++ = (char)('0' + k % 10);
        *s++ = '\n';
    }
    f.resize(s - f.data());
    return f;
}

TEST(reader, store_capacity)
{
    std::string base = full_file();
    int fd = temp_fd(base);
    ASSERT_GE(fd, 0);
    struct variant {
        const char *tail;
        bool full;
    };
    // a warning only when a number follows the last stored pair
    for (variant v : {variant{"", false}, variant{"5000000 0\n", true}, variant{"\n- 1", false}}) {
        SCOPED_TRACE(v.tail);
        ASSERT_EQ(ftruncate(fd, (off_t)base.size()), 0);
        ASSERT_EQ(pwrite(fd, v.tail, strlen(v.tail), (off_t)base.size()), (ssize_t)strlen(v.tail));
        lseek(fd, 0, SEEK_SET);
        std::string con = read_fd(fd);
        EXPECT_EQ(last, MAX_SAMPLES - 1);
        EXPECT_EQ(nt, MAX_SAMPLES);
        EXPECT_EQ(full, v.full);
        long bad = -1;
        for (int k = 0; k < MAX_SAMPLES && bad < 0; k++)
            if (t[k] != k || a[k] != k % 10) bad = k;
        EXPECT_EQ(bad, -1) << "first wrong sample";
        EXPECT_EQ(con, summary(MAX_SAMPLES - 1, "5e+006", "0", MAX_SAMPLES, v.full));
    }
    close(fd);
}

// --- the scanner against strtod ---

// Scans s from an exactly sized heap copy, so that a read past its end is
// caught by the address sanitizer.
size_t scan(const std::string &s, double *v, bool *ok)
{
    std::unique_ptr<unsigned char[]> b(new unsigned char[s.size()]);
    memcpy(b.get(), s.data(), s.size());
    return scan_number(b.get(), b.get() + s.size(), v, ok);
}

std::string rand_digits(std::mt19937_64 &r, int n)
{
    std::string s;
    for (int i = 0; i < n; i++) s += (char)('0' + r() % 10);
    return s;
}

// Exponent text for x: e or E, sometimes a plus, sometimes leading zeros.
std::string exp_text(std::mt19937_64 &r, long x)
{
    std::string s = r() % 2 ? "e" : "E";
    if (x < 0) s += "-";
    else if (r() % 3 == 0) s += "+";
    if (r() % 8 == 0) s += std::string(1 + r() % 3, '0');
    return s + std::to_string(x < 0 ? -x : x);
}

// Writes the value 0.d * 10^x (d a digit string without a leading zero)
// in one of the forms a file may use, within the 349-character limit.
std::string layout(std::mt19937_64 &r, const std::string &d, long x)
{
    long n = (long)d.size();
    std::string s;
    switch (r() % 6) {
    case 0: s = d.substr(0, 1) + "." + d.substr(1) + exp_text(r, x - 1); break;
    case 1: s = "0." + d + exp_text(r, x); break;
    case 2: s = d + exp_text(r, x - n); break;
    case 3: s = std::string(1 + r() % 4, '0') + d.substr(0, 1) + "." + d.substr(1) + exp_text(r, x - 1); break;
    default: // no exponent where the digits allow it
        if (x > 0 && x < n) s = d.substr(0, x) + "." + d.substr(x);
        else if (x <= 0 && -x + n + 2 <= 349) s = "0." + std::string(-x, '0') + d;
        else if (x >= n && x <= 340) s = d + std::string(x - n, '0') + (r() % 2 ? "." : "");
    }
    if (s.empty() || s.size() > 349) s = d.substr(0, 1) + "." + d.substr(1) + "e" + std::to_string(x - 1);
    return s;
}

// The exact decimal digits (without trailing zeros) and exponent x of a
// long double y > 0, as y = 0.d * 10^x. The x87 long double holds the
// midpoint of two adjacent doubles exactly.
std::pair<std::string, long> exact_digits(long double y)
{
    static char b[1200];
    auto res = std::to_chars(b, b + sizeof b, y, std::chars_format::scientific, 1100);
    std::string s(b, res.ptr);
    size_t e = s.find('e');
    std::string d = s.substr(0, 1) + s.substr(2, e - 2);
    while (d.size() > 1 && d.back() == '0') d.pop_back();
    return {d, std::stol(s.substr(e + 1)) + 1};
}

// Adds one unit to the last digit of a digit string.
void bump(std::string &d)
{
    size_t i = d.size();
    while (i > 0 && d[i - 1] == '9') d[--i] = '0';
    if (i == 0) d.insert(d.begin(), '1');
    else d[i - 1]++;
}

// A decimal on or near the midpoint of a double and the next one up: the
// hard cases of rounding, where one digit decides between two doubles.
std::string near_midpoint(std::mt19937_64 &r)
{
    static const double special[] = {0.0, 4.9406564584124654e-324, 2.2250738585072009e-308,
                                     DBL_MIN, DBL_MAX, std::nextafter(DBL_MAX, 0.0),
                                     9007199254740992.0, 1.0, 0.1, 1e22, 1e23, 5e-324 * 3};
    double x;
    if (r() % 5 == 0) x = special[r() % (sizeof special / sizeof *special)];
    else {
        do x = std::bit_cast<double>(r() & 0x7FFFFFFFFFFFFFFFull);
        while (!std::isfinite(x));
    }
    long double lo = x;
    long double hi = x == DBL_MAX ? std::ldexp(1.0L, 1024) : (long double)std::nextafter(x, HUGE_VAL);
    auto [d, e] = exact_digits(lo + (hi - lo) / 2);
    // room for a point, the exponent and one more digit
    if (d.size() > 340) d.resize(17 + r() % 323);
    switch (r() % 5) {
    case 0: bump(d); break; // just above (or, cut, perhaps still below)
    case 1: // just below
        if (d.back() > '0') d.back()--;
        break;
    case 2: d += std::string(r() % 4, '0') + "1"; break; // the least bit above
    case 3: d += "000"; break;                          // the same value, longer
    default: break;                                     // the midpoint itself, or a cut of it
    }
    if (d.size() > 342) d.resize(342);
    return layout(r, d, e);
}

// A number with plain random parts: sign, leading zeros, up to 40 digits
// before and after the point, an exponent of any size or none or empty.
std::string plain(std::mt19937_64 &r)
{
    std::string s;
    int sign = r() % 3;
    if (sign) s = sign == 1 ? "+" : "-";
    if (r() % 4 == 0) s += std::string(1 + r() % 5, '0');
    int ni = r() % 4 == 0 ? (int)(r() % 41) : (int)(r() % 21);
    int nf = r() % 2 ? (int)(r() % 41) : 0;
    s += rand_digits(r, ni);
    if (nf || r() % 4 == 0) s += "." + rand_digits(r, nf);
    if (s.find_first_of("0123456789") == std::string::npos) s += rand_digits(r, 1 + r() % 5);
    switch (r() % 8) {
    case 0: s += exp_text(r, (long)(r() % 31) - 15); break;
    case 1: s += exp_text(r, (long)(r() % 701) - 350); break;
    case 2: s += exp_text(r, (long)(r() % 101) + 290); break;
    case 3: s += exp_text(r, -(long)(r() % 101) - 290); break;
    case 4: s += r() % 2 ? "e" : r() % 2 ? "E+" : "e-"; break;
    case 5: s += exp_text(r, (long)(r() % 2 ? 1 : -1) * (long)(r() % 100000000)); break;
    default: break;
    }
    return s;
}

// Random digits and a decimal exponent anywhere from below the least
// subnormal to above the greatest double.
std::string sweep(std::mt19937_64 &r)
{
    int n = r() % 8 == 0 ? 20 + (int)(r() % 320) : 1 + (int)(r() % 25);
    std::string d = std::to_string(1 + r() % 9) + rand_digits(r, n - 1);
    return (r() % 2 ? "-" : "") + layout(r, d, (long)(r() % 660) - 345);
}

// Integers near 2^53 times small powers of ten: the edge of the path that
// needs no big arithmetic, with zeros past the 19th digit or a digit there.
std::string fast_edge(std::mt19937_64 &r)
{
    uint64_t m = (1ull << 53) - 2000 + r() % 4000;
    if (r() % 4 == 0) m = r() % 10000000000000000000ull;
    std::string s = std::to_string(m);
    if (r() % 3 == 0) s += std::string(1 + r() % 8, '0');
    if (r() % 4 == 0) s += std::string(r() % 6, '0') + "1";
    long x = (long)(r() % 49) - 24;
    if (r() % 2) {
        long at = (long)s.size() - (long)(r() % (s.size() + 1));
        s.insert(at, ".");
        if (at == 0) s.insert(0, "0");
    }
    return s + exp_text(r, x);
}

TEST(scan, value_matches_strtod)
{
    std::mt19937_64 r(20240611);
    int bad = 0;
    for (int k = 0; k < 100000 && bad < 10; k++) {
        std::string s;
        switch (k % 5) {
        case 0: s = plain(r); break;
        case 1: s = near_midpoint(r); break;
        case 2: s = sweep(r); break;
        case 3: s = fast_edge(r); break;
        default: s = (r() % 2 ? "-" : "") + near_midpoint(r); break;
        }
        double v = -1;
        bool ok = false;
        size_t n = scan(s, &v, &ok);
        double want = c_strtod(s);
        if (!ok || n != s.size() || bits(v) != bits(want)) {
            bad++;
            ADD_FAILURE() << s << "\n took " << n << " of " << s.size() << ", ok " << ok << ", value "
                          << std::hexfloat << v << ", strtod " << want;
        }
    }
}

// Fixed points of the conversion: the ends of the range, with their signs.
TEST(scan, range_ends)
{
    const std::pair<std::string, uint64_t> cases[] = {
        {"1.7976931348623157e308", 0x7FEFFFFFFFFFFFFFull},
        {"1.7976931348623158e308", 0x7FEFFFFFFFFFFFFFull},
        {"179769313486231580793728971405303415079934132710037826936173778980444968292764750946649017977587207096"
         "330286416692887910946555547851940402630657488671505820681908902000708383676273854845817711531764475730"
         "270069855571366959622842914819860834936475292719074168444365510704342711559699508093042880177904174497"
         "791",
         0x7FEFFFFFFFFFFFFFull},
        {"179769313486231580793728971405303415079934132710037826936173778980444968292764750946649017977587207096"
         "330286416692887910946555547851940402630657488671505820681908902000708383676273854845817711531764475730"
         "270069855571366959622842914819860834936475292719074168444365510704342711559699508093042880177904174497"
         "792",
         0x7FF0000000000000ull},
        {"-1.797693134862315807937289714054e308", 0xFFF0000000000000ull},
        {"2.4703282292062327e-324", 0},
        {"-2.4703282292062327e-324", 0x8000000000000000ull},
        {"2.4703282292062328e-324", 1},
        {"-0e999999999", 0x8000000000000000ull},
        {"0." + zeros400.substr(0, 300) + "e+400", 0},
        {"1e", 0x3FF0000000000000ull},
        {"+1E-", 0x3FF0000000000000ull},
        {"-.5", 0xBFE0000000000000ull},
        {"0.000000000000000000000000000001e30", 0x3FF0000000000000ull},
        {"100000000000000000000000e-22", 0x4024000000000000ull},
    };
    for (const auto &[s, want] : cases) {
        SCOPED_TRACE(s);
        double v;
        bool ok;
        EXPECT_EQ(scan(s, &v, &ok), s.size());
        EXPECT_TRUE(ok);
        EXPECT_EQ(bits(v), want);
    }
}

// Bytes taken and the ok flag against the model, on short strings of the
// characters that matter to the syntax and some that end a number, and on
// long ones that meet the 349-character limit at every kind of character.
TEST(scan, syntax_matches_model)
{
    static const char alpha[] = "0123456789+-.eExd ,";
    std::mt19937_64 r(7);
    int bad = 0;
    for (int k = 0; k < 200000 && bad < 10; k++) {
        std::string s;
        if (k % 10 == 9) {
            int len = 340 + (int)(r() % 20);
            s = (r() % 2 ? "-" : "") + rand_digits(r, len);
            for (int i = r() % 4; i > 0; i--)
                s[(r() % 2 ? 330 + r() % 25 : r() % len) % s.size()] = "+-.eE"[r() % 5];
        } else {
            int len = (int)(r() % 13);
            for (int i = 0; i < len; i++) s += alpha[r() % (sizeof alpha - 1)];
        }
        double v = 0;
        bool ok = false, mok;
        size_t n = scan(s, &v, &ok);
        size_t mn = model_scan((const unsigned char *)s.data(), s.size(), &mok);
        bool same = n == mn && ok == mok;
        if (same && ok) same = bits(v) == bits(c_strtod(s.substr(0, n)));
        if (!same) {
            bad++;
            ADD_FAILURE() << "\"" << s << "\": took " << n << " ok " << ok << " value " << v << "; model took "
                          << mn << " ok " << mok;
        }
    }
}

} // namespace
