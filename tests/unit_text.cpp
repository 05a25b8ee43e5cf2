// Number text and formatted output: the fixed texts of the number table,
// the integer and string directives, line ends, buffering, records, and a
// differential test of the fast number text against the slow reference in
// text_ref.h over more than a million doubles.
#include "lindrel.h"
#include "text_ref.h"

#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define SLOW_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SLOW_BUILD 1
#endif
#endif

namespace {

double from_bits(uint64_t u) { return std::bit_cast<double>(u); }

// What a stream writes, caught in an unlinked temporary file.
struct sink {
    std::vector<char> buf;
    stream s;
    explicit sink(bool tty, size_t lim = 4096) : buf(2 * lim)
    {
        char name[] = "/tmp/lindrel_textXXXXXX";
        int fd = mkstemp(name);
        unlink(name);
        s = {fd, tty, false, lim, 0, 0, buf.data()};
    }
    ~sink() { close(s.fd); }
    std::string bytes() const
    {
        std::string r;
        char b[4096];
        for (off_t at = 0;; at += (off_t)r.size() - at) {
            ssize_t n = pread(s.fd, b, sizeof b, at);
            if (n <= 0) break;
            r.append(b, (size_t)n);
        }
        return r;
    }
};

// Writes out what a stream has collected, through the one write-out the
// program exposes: finish() at the end of a run writes out fp[1] and out.
void writeout(stream *s, stream *file = nullptr)
{
    stream *o = out, *f = fp[1];
    out = s;
    fp[1] = file;
    finish(0);
    out = o;
    fp[1] = f;
}

// The bytes of a text once its line feeds are expanded.
std::string crlf(const std::string &s)
{
    std::string r;
    for (char c : s) {
        if (c == '\n') r += '\r';
        r += c;
    }
    return r;
}

std::string e14(double v)
{
    char b[48];
    return std::string(b, (size_t)text_e(b, v));
}

std::string fp_text(double v, char conv, int p)
{
    char b[48];
    return std::string(b, (size_t)text_fp(b, v, conv, p));
}

// A console text under a terminal stream, written out at the end of the call.
template <class... A> std::string printed(const char *fmt, A... args)
{
    sink k(true);
    print(&k.s, fmt, args...);
    return k.bytes();
}

} // namespace

// --- fixed texts ---

struct number_case {
    double v;
    const char *e; // "%14.7e"
    int blanks;    // "%12.4g": blanks, then g
    const char *g;
};

static const number_case numbers[] = {
    {5e-05, "5.0000000e-005", 6, "5e-005"},
    {0.0, "0.0000000e+000", 11, "0"},
    {-0.0, "0.0000000e+000", 11, "0"},
    {1234.5678, "1.2345678e+003", 8, "1235"},
    {-0.001, "-1.0000000e-003", 6, "-0.001"},
    {0.0001, "1.0000000e-004", 6, "0.0001"},
    {0.00009999, "9.9990000e-005", 2, "9.999e-005"},
    {0.00012345, "1.2345000e-004", 3, "0.0001234"},
    {9999.4, "9.9994000e+003", 8, "9999"},
    {9999.5, "9.9995000e+003", 6, "1e+004"},
    {1000.5, "1.0005000e+003", 8, "1001"},
    {12345, "1.2345000e+004", 2, "1.235e+004"},
    {-12345, "-1.2345000e+004", 1, "-1.235e+004"},
    {100.05, "1.0005000e+002", 7, "100.1"},
    {1000.00015, "1.0000002e+003", 8, "1000"},
    {12345678.5, "1.2345679e+007", 2, "1.235e+007"},
    {-12345678.5, "-1.2345679e+007", 1, "-1.235e+007"},
    {9.99999999, "1.0000000e+001", 10, "10"},
    {9.99999995, "9.9999999e+000", 10, "10"}, // its double lies below: 9.9999999499999994
    {9.999999950000001, "1.0000000e+001", 10, "10"}, // the carry runs through every digit
    {9.9999999, "9.9999999e+000", 10, "10"},
    {1e100, "1.0000000e+100", 6, "1e+100"},
    {-1.2345e100, "-1.2345000e+100", 1, "-1.235e+100"},
    {1e-100, "1.0000000e-100", 6, "1e-100"},
    {4.9406564584124654e-324, "4.9406565e-324", 2, "4.941e-324"},
    {-4.9406564584124654e-324, "-4.9406565e-324", 1, "-4.941e-324"},
    {2.2250738585072014e-308, "2.2250739e-308", 2, "2.225e-308"},
    {1.7976931348623157e308, "1.7976931e+308", 2, "1.798e+308"},
    {0.5, "5.0000000e-001", 9, "0.5"},
    {-0.5000000000000001, "-5.0000000e-001", 8, "-0.5"},
    {1.5000000000000004, "1.5000000e+000", 9, "1.5"},
    {0.00015000000000000001, "1.5000000e-004", 5, "0.00015"},
    {123.456, "1.2345600e+002", 7, "123.5"},
    {1e15, "1.0000000e+015", 6, "1e+015"},
    {1e-15, "1.0000000e-015", 6, "1e-015"},
};

TEST(text, numbers)
{
    for (const number_case &c : numbers) {
        SCOPED_TRACE(c.e);
        std::string g = std::string(c.blanks, ' ') + c.g;
        EXPECT_EQ(e14(c.v), c.e);
        EXPECT_EQ(fp_text(c.v, 'e', 7), c.e);
        EXPECT_EQ(fp_text(c.v, 'g', 4), c.g);
        EXPECT_EQ(printed("%14.7e", c.v), c.e);
        EXPECT_EQ(printed("%12.4g", c.v), g);
        // the reference must agree with the same table before it judges anything
        EXPECT_EQ(ref_number(c.v, 'e', 7, 14), c.e);
        EXPECT_EQ(ref_number(c.v, 'g', 4, 12), g);
    }
}

struct nonfinite_case {
    uint64_t bits;
    const char *e;
    const char *g;
};

static const nonfinite_case nonfinite[] = {
    {0x7FF0000000000000, "1.#INF000e+000", "1.#IO"},
    {0xFFF0000000000000, "-1.#INF000e+000", "-1.#IO"},
    {0xFFF8000000000000, "-1.#IND000e+000", "-1.#IO"}, // what 0.0 / 0.0 makes here
    {0x7FF8000000000000, "1.#QNAN00e+000", "1.#QO"},
    {0x7FF8000000000001, "1.#QNAN00e+000", "1.#QO"},
    {0xFFF8000000000001, "-1.#QNAN00e+000", "-1.#QO"},
    {0xFFFC000000000000, "-1.#QNAN00e+000", "-1.#QO"},
    {0x7FFFFFFFFFFFFFFF, "1.#QNAN00e+000", "1.#QO"},
    {0x7FF0000000000001, "1.#SNAN00e+000", "1.#SO"},
    {0x7FF4000000000000, "1.#SNAN00e+000", "1.#SO"},
    {0xFFF0000000000001, "-1.#SNAN00e+000", "-1.#SO"},
    {0xFFF7FFFFFFFFFFFF, "-1.#SNAN00e+000", "-1.#SO"},
};

TEST(text, nonfinite)
{
    for (const nonfinite_case &c : nonfinite) {
        SCOPED_TRACE(c.e);
        double v = from_bits(c.bits);
        std::string g = std::string(12 - strlen(c.g), ' ') + c.g;
        EXPECT_EQ(e14(v), c.e);
        EXPECT_EQ(fp_text(v, 'e', 7), c.e);
        EXPECT_EQ(fp_text(v, 'g', 4), c.g);
        EXPECT_EQ(printed("%14.7e", v), c.e);
        EXPECT_EQ(printed("%12.4g", v), g);
        EXPECT_EQ(ref_number(v, 'e', 7, 14), c.e);
        EXPECT_EQ(ref_number(v, 'g', 4, 12), g);
    }
    // the marker is cut like digits at any precision: "1#INF" becomes 1, 1.$,
    // 1.#J, 1.#IO, 1.#INF and then fills with zeros
    double inf = from_bits(0x7FF0000000000000);
    const char *g[] = {"1", "1", "1.$", "1.#J", "1.#IO", "1.#INF", "1.#INF"};
    const char *e[] = {"1e+000", "1.$e+000", "1.#Je+000", "1.#IOe+000", "1.#INFe+000", "1.#INF0e+000"};
    for (int p = 0; p < 7; p++) EXPECT_EQ(fp_text(inf, 'g', p), g[p]) << p;
    for (int p = 0; p < 6; p++) EXPECT_EQ(fp_text(inf, 'e', p), e[p]) << p;
}

// The reference's tie test: 421638361986393.625 lies exactly halfway between
// two 17-digit decimals, its neighbour 421638361986393.5625 does not.
TEST(text, reference_ties)
{
    ref_form f[2];
    EXPECT_TRUE(ref_forms(421638361986393.625, f));
    EXPECT_EQ(f[0].dig, "42163836198639363");
    EXPECT_EQ(f[1].dig, "42163836198639362");
    EXPECT_EQ(f[0].d, 15);
    EXPECT_FALSE(ref_forms(421638361986393.5625, f));
    EXPECT_FALSE(ref_forms(1000.00015, f));
    EXPECT_EQ(f[0].dig, "100000015");
    EXPECT_EQ(f[0].d, 4);
}

// --- the formatted-output facility ---

struct print_case {
    const char *want;
    std::function<void(stream *)> call;
};

static const print_case prints[] = {
    {"0", [](stream *s) { print(s, "%d", 0); }},
    {"-1", [](stream *s) { print(s, "%d", -1); }},
    {"100", [](stream *s) { print(s, "%d", 100); }},
    {"-2147483648", [](stream *s) { print(s, "%d", INT_MIN); }},
    {"2147483647", [](stream *s) { print(s, "%d", INT_MAX); }},
    {"0", [](stream *s) { print(s, "%ld", 0L); }},
    {"-1", [](stream *s) { print(s, "%ld", -1L); }},
    {"100", [](stream *s) { print(s, "%ld", 100L); }},
    {"-2147483648", [](stream *s) { print(s, "%ld", (long)INT_MIN); }},
    {"2147483647", [](stream *s) { print(s, "%ld", (long)INT_MAX); }},
    {"   42", [](stream *s) { print(s, "%5d", 42); }},
    {"-123", [](stream *s) { print(s, "%3d", -123); }},
    {"a.in", [](stream *s) { print(s, "%s", "a.in"); }},
    {"", [](stream *s) { print(s, "%s", ""); }},
    {"a\r\nb\r\n", [](stream *s) { print(s, "%s", "a\nb\n"); }},
    {"\r\n\r\n", [](stream *s) { print(s, "%s%s", "\n", "\n"); }},
    {"  ab", [](stream *s) { print(s, "%4s", "ab"); }},
    {"abcdef", [](stream *s) { print(s, "%3s", "abcdef"); }},
    {"\xff\x01\r\x7f", [](stream *s) { print(s, "%s", "\xff\x01\r\x7f"); }},
    {"", [](stream *s) { print(s, ""); }},
    {"plain text, no directive", [](stream *s) { print(s, "plain text, no directive"); }},
    {"\r\n\r\n Enter input filename\r\n", [](stream *s) { print(s, "\n\n Enter input filename\n"); }},
    {"\r\n\r\n  argc = 2 ", [](stream *s) { print(s, "\n\n  argc = %d ", 2); }},
    {" File: a.in opened. \r\n", [](stream *s) { print(s, " File: %s opened. \n", "a.in"); }},
    {"\r\n   3       0.0002           0 \r\n",
     [](stream *s) { print(s, "\n%4ld %12.4g %11.4g \n", 3L, 0.0002, -0.0); }},
    {"x=-5.0000000e-001|y=  1.#IO|z=1|w=-2147483648",
     [](stream *s) { print(s, "x=%14.7e|y=%7.4g|z=%s|w=%ld", -0.5, from_bits(0x7FF0000000000000), "1", (long)INT_MIN); }},
    // width and precision in general: a missing precision counts as 6, a
    // precision of 0 under 'g' as 1
    {"1.000000e+000", [](stream *s) { print(s, "%e", 1.0); }},
    {"0.333333", [](stream *s) { print(s, "%g", 1.0 / 3); }},
    {"3e+000", [](stream *s) { print(s, "%.0e", 2.5); }},
    {"3", [](stream *s) { print(s, "%.0g", 2.5); }},
    {"  1.00e+010", [](stream *s) { print(s, "%11.2e", 1e10); }},
    {"1e+010", [](stream *s) { print(s, "%.5g", 1e10); }},
    {"123456", [](stream *s) { print(s, "%.6g", 123456.4); }},
    {"1.23457e+006", [](stream *s) { print(s, "%.6g", 1234565.0); }},
};

TEST(print, directives)
{
    for (const print_case &c : prints) {
        sink k(true);
        c.call(&k.s);
        EXPECT_EQ(k.bytes(), c.want);
    }
}

// Text that is not a terminal's goes out only when 4096 characters have
// gathered and a further one arrives, counted before line feeds expand.
TEST(print, blocks)
{
    std::string text;
    for (int i = 0; text.size() < 5000; i++) text += i % 7 ? "ab" : "\n";
    sink k(false);
    print(&k.s, "%s", text.c_str());
    EXPECT_EQ(k.bytes(), crlf(text.substr(0, 4096)));
    print(&k.s, "\n");
    EXPECT_EQ(k.bytes(), crlf(text.substr(0, 4096)));
    writeout(&k.s);
    EXPECT_EQ(k.bytes(), crlf(text + "\n"));

    // a buffer that is exactly full is written out only when more arrives
    sink f(false, 4);
    print(&f.s, "ab\ncd");
    EXPECT_EQ(f.bytes(), "ab\r\nc");
    print(&f.s, "ef");
    EXPECT_EQ(f.bytes(), "ab\r\nc");
    writeout(&f.s);
    EXPECT_EQ(f.bytes(), "ab\r\ncdef");
}

// A terminal sees the text of each call when the call ends.
TEST(print, terminal)
{
    sink k(true);
    print(&k.s, "\n one ");
    EXPECT_EQ(k.bytes(), "\r\n one ");
    print(&k.s, "%d\n", 2);
    EXPECT_EQ(k.bytes(), "\r\n one 2\r\n");
}

// A failed write-out loses its buffer, and the call that met it writes no
// text past the character that caused it; later calls write normally.
TEST(print, failed_writeout)
{
    sink k(false, 4);
    int fd = k.s.fd;
    k.s.fd = -1;
    print(&k.s, "abcdefgh");
    EXPECT_TRUE(k.s.bad);
    k.s.fd = fd;
    print(&k.s, "XY\n");
    writeout(&k.s);
    EXPECT_EQ(k.bytes(), "eXY\r\n");
}

// --- records ---

namespace {

// The bytes of a file the test wrote; the file is removed.
std::string take_file(const std::string &path)
{
    std::string r;
    FILE *f = fopen(path.c_str(), "rb");
    for (int c; f && (c = fgetc(f)) != EOF;) r += (char)c;
    if (f) fclose(f);
    unlink(path.c_str());
    return r;
}

// Writes the records through write_record to a file opened as the
// resampled file is, and returns the file's bytes.
std::string record_file(const std::vector<std::pair<double, double>> &recs)
{
    std::string path = "/tmp/lindrel_text_" + std::to_string(getpid()) + ".out";
    stream *keep = fp[1];
    bool busy;
    fp[1] = open_output(path.c_str(), &busy);
    EXPECT_NE(fp[1], nullptr);
    if (!fp[1]) { fp[1] = keep; return ""; }
    for (auto &r : recs) write_record(r.first, r.second);
    sink con(true);
    writeout(&con.s, fp[1]);
    EXPECT_EQ(con.bytes(), ""); // no failure line
    fp[1] = keep;
    return take_file(path);
}

std::string ref_record(double tt, double v)
{
    return "\r\n " + ref_number(tt, 'e', 7, 14) + " " + ref_number(v, 'e', 7, 14);
}

} // namespace

TEST(record, lengths)
{
    struct {
        double tt, v;
        size_t len;
        const char *bytes;
    } cases[] = {
        {5e-05, 0.5, 32, "\r\n 5.0000000e-005 5.0000000e-001"},
        {0.00025, -0.5000000000000001, 33, "\r\n 2.5000000e-004 -5.0000000e-001"},
        {-1.0, 2.0, 33, "\r\n -1.0000000e+000 2.0000000e+000"},
        {-1e-300, -1e300, 34, "\r\n -1.0000000e-300 -1.0000000e+300"},
        {-0.0, -0.0, 32, "\r\n 0.0000000e+000 0.0000000e+000"},
        {0.25, from_bits(0x7FF0000000000000), 32, "\r\n 2.5000000e-001 1.#INF000e+000"},
        {from_bits(0xFFF8000000000000), from_bits(0xFFF0000000000000), 34,
         "\r\n -1.#IND000e+000 -1.#INF000e+000"},
    };
    for (auto &c : cases) {
        std::string r = record_file({{c.tt, c.v}});
        EXPECT_EQ(r, c.bytes);
        EXPECT_EQ(r.size(), c.len);
    }
}

TEST(record, seven)
{
    std::string want = "\r\n 0.0000000e+000 0.0000000e+000"
                       "\r\n 0.0000000e+000 0.0000000e+000"
                       "\r\n 5.0000000e-005 5.0000000e-001"
                       "\r\n 1.0000000e-004 1.0000000e+000"
                       "\r\n 1.5000000e-004 1.5000000e+000"
                       "\r\n 2.0000000e-004 2.0000000e+000"
                       "\r\n 2.5000000e-004 2.5000000e+000";
    std::string r = record_file({{0, 0},
                                 {0, 0},
                                 {5e-05, 0.5},
                                 {0.0001, 1},
                                 {0.00015000000000000001, 1.5000000000000004},
                                 {0.0002, 2},
                                 {0.00025, 2.5}});
    EXPECT_EQ(r.size(), 224u);
    EXPECT_EQ(r, want);
}

// Enough records of mixed lengths to fill the file's buffer several times:
// the whole file must be the records in order, nothing lost or doubled at
// the seams.
TEST(record, many)
{
    // a pool of records of every length, drawn at random
    uint64_t x = 7;
    std::vector<std::pair<double, double>> pool;
    std::vector<std::string> texts;
    for (int i = 0; i < 400; i++) {
        x = x * 6364136223846793005ull + 1442695040888963407ull;
        double tt = (i % 3 == 0 ? -1e-300 : 1.0) * (double)i * dt;
        double v = (double)(int64_t)(x >> 11) / (1ll << 40) - 2048.0;
        pool.push_back({tt, v});
        texts.push_back(ref_record(tt, v));
    }
    std::vector<std::pair<double, double>> recs;
    std::string want;
    for (int i = 0; i < 60000; i++) {
        x = x * 6364136223846793005ull + 1442695040888963407ull;
        size_t k = (x >> 33) % pool.size();
        recs.push_back(pool[k]);
        want += texts[k];
    }
    std::string r = record_file(recs);
    EXPECT_EQ(r.size(), want.size());
    EXPECT_TRUE(r == want);
}

// A write-out of the resampled file that fails loses its buffer, and the
// record that caused it is not written either: what reaches the file stays
// a prefix of the records. Here the first write-out fails and the later
// ones work, so the file holds exactly the records after the lost ones.
TEST(record, failed_writeout)
{
    std::string path = "/tmp/lindrel_fail_" + std::to_string(getpid()) + ".out";
    stream *keep = fp[1];
    bool busy;
    fp[1] = open_output(path.c_str(), &busy);
    ASSERT_NE(fp[1], nullptr);
    os_file fd = fp[1]->fd;
    fp[1]->fd = NO_FILE;
    int i = 0;
    while (!fp[1]->bad) write_record((double)i++ * dt, 0.5);
    fp[1]->fd = fd;
    std::string want;
    for (int k = i; k < i + 3; k++) {
        write_record((double)k * dt, 0.5);
        want += ref_record((double)k * dt, 0.5);
    }
    sink con(true);
    writeout(&con.s, fp[1]);
    fp[1] = keep;
    EXPECT_EQ(con.bytes(), "\r\n Failed to write file: " + std::string(fname[1]) + " \r\n");
    EXPECT_GT(i, 10000);
    EXPECT_EQ(take_file(path), want);
}

// The step line and the first record of a run with an empty store.
TEST(record, step_line)
{
    std::string path = "/tmp/lindrel_step_" + std::to_string(getpid()) + ".out";
    reset_history();
    stream *keep = fp[1], *o = out;
    bool busy;
    fp[1] = open_output(path.c_str(), &busy);
    ASSERT_NE(fp[1], nullptr);
    sink con(false);
    out = &con.s;
    resample();
    out = o;
    writeout(&con.s, fp[1]);
    fp[1] = keep;
    std::string f = take_file(path);
    EXPECT_EQ(con.bytes(), "\r\n   dt=       5e-005 \r\n");
    EXPECT_EQ(f, "\r\n 0.0000000e+000 0.0000000e+000");
}

// --- differential test against the reference ---

namespace {

uint64_t seed;

uint64_t next64()
{
    uint64_t z = (seed += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

int below(int n) { return (int)(next64() % (uint64_t)n); }

// n random decimal digits, the first not 0
std::string digits(int n)
{
    std::string s(1, (char)('1' + below(9)));
    while ((int)s.size() < n) s += (char)('0' + below(10));
    return s;
}

// The double nearest the decimal with the digits s, the first of them
// standing for 10^e: ("12345", 3) is 1234.5.
double decimal(const std::string &s, int e)
{
    std::string t = s.substr(0, 1) + "." + s.substr(1) + "e" + std::to_string(e);
    return strtod(t.c_str(), nullptr);
}

// a decimal exponent: mostly near 1, a quarter of the time anywhere
int some_exponent() { return below(4) ? below(41) - 20 : below(636) - 326; }

struct differ {
    long count = 0;
    long ties = 0;
    int bad = 0;
    std::string shown;

    void check(double v)
    {
        ref_form f[2];
        bool tie = ref_forms(v, f);
        count++;
        ties += tie;
        char b[48];
        test(v, f, tie, 'e', 7, 14, std::string(b, (size_t)text_e(b, v)), "text_e");
        test(v, f, tie, 'e', 7, 0, std::string(b, (size_t)text_fp(b, v, 'e', 7)), "e 7");
        test(v, f, tie, 'g', 4, 0, std::string(b, (size_t)text_fp(b, v, 'g', 4)), "g 4");
    }

    void test(double v, const ref_form f[2], bool tie, char conv, int p, int w,
              const std::string &got, const char *what)
    {
        if (ref_accepts(f, tie, conv, p, w, got)) return;
        if (bad++ < 20) {
            char h[160];
            snprintf(h, sizeof h, "%s of %.17g (0x%016llx): ", what, v,
                     (unsigned long long)std::bit_cast<uint64_t>(v));
            shown += h + got + " want " + ref_field(ref_text(f[0], conv, p), w) + "\n";
        }
    }

    // v and k neighbours on each side
    void around(double v, int k)
    {
        check(v);
        double lo = v, hi = v;
        for (int i = 0; i < k; i++) {
            check(lo = std::nextafter(lo, -INFINITY));
            check(hi = std::nextafter(hi, INFINITY));
        }
    }
};

#ifdef SLOW_BUILD
const int scale = 8; // a sanitizer build runs an eighth of the values
#else
const int scale = 1;
#endif

int n(int count) { return count / scale; }

} // namespace

TEST(text_diff, against_reference)
{
    seed = 0x243F6A8885A308D3ull;
    differ t;

    // whole range: random bit patterns (NaNs and infinities among them),
    // subnormals, random values in every binary exponent, and more of them
    // where records mostly fall, from 2^-60 to 2^130
    for (int i = 0; i < n(100000); i++) t.check(from_bits(next64()));
    for (int i = 0; i < n(30000); i++) t.check(from_bits(next64() & 0x800FFFFFFFFFFFFFull));
    for (int i = 0; i < n(40000); i++) {
        uint64_t u = next64() & 0x800FFFFFFFFFFFFFull;
        t.check(from_bits(u | (uint64_t)below(2047) << 52));
    }
    for (int i = 0; i < n(200000); i++) {
        uint64_t u = next64() & 0x800FFFFFFFFFFFFFull;
        t.check(from_bits(u | (uint64_t)(963 + below(191)) << 52));
    }

    // values like those of real files: up to 12 significant digits near 1
    for (int i = 0; i < n(250000); i++) {
        std::string s = digits(1 + below(12));
        double v = decimal(s, below(17) - 8);
        t.check(below(2) ? -v : v);
    }

    // every decade: 1, 5, 9.9999999 and 9.99999995 of it with neighbours
    // (the last is where the record's double product takes the next power
    // of ten), and random 17-digit values in it
    for (int e = -324; e <= 308; e++) {
        t.around(decimal("1", e), 3);
        t.around(decimal("5", e), 3);
        t.around(decimal("99999999", e), 3);
        t.around(decimal("999999995", e), 4);
        for (int i = 0; i < n(40); i++) t.check(decimal(digits(17), e));
    }

    // every power of two with neighbours
    for (int e = -1074; e <= 1023; e++) t.around(std::ldexp(1.0, e), 2);

    // where the conversions hand over to one another: the record's double
    // product up to 2^24 and its 128-bit table up to 2^51, the general
    // 128-bit product from about 1e-15 to 2^128 (dividing from 1e18 up),
    // and the exact expansion beyond both ends
    for (int i = 0; i < n(90000); i++) {
        static const int at[] = {-49, -52, 24, 51, 59, 63, 127};
        int b = at[i % 7] + below(17) - 8;
        uint64_t u = next64();
        t.check(from_bits((u & 0x800FFFFFFFFFFFFFull) | (uint64_t)(b + 1023) << 52));
    }
    for (double v : {1e-15, 1e-16, 2e-16, 1e-14, 0x1p-49, 0x1p-50, 0x1p-52, 0x1p24, 1e7, 1e8,
                     0x1p51, 1e15, 1e16, 1e17, 1e18, 1e19, 0x1p63,
                     0x1p64, 0x1p127, 0x1p128, 3.4e38, 1e21, 1e22})
        t.around(v, n(2000));

    // the two roundings meet: digits 9 to 17 close to a half of the eighth
    // digit (a correctly rounded 8-digit conversion differs here), digits 5
    // to 17 close to a half of the fourth, and carries through every digit
    static const char *tail8[] = {"5",        "50",      "4999999995", "49999999", "499999999",
                                  "5000000001", "4999999", "499999",     "5000001",  "50000001",
                                  "4",          "45",      "6"};
    for (int i = 0; i < n(40000); i++) {
        std::string s = digits(8);
        s += tail8[below(13)];
        if (below(4) == 0) s += digits(3);
        t.around(decimal(s, some_exponent()), 3);
    }
    static const char *tail4[] = {"5", "50", "4999999999995", "499999999999", "4999999999999",
                                  "5000000000001", "4", "45"};
    for (int i = 0; i < n(25000); i++) {
        std::string s = digits(4);
        s += tail4[below(8)];
        if (below(4) == 0) s += digits(3);
        t.around(decimal(s, some_exponent()), 3);
    }
    for (int k = 1; k <= 18; k++)
        for (const char *tail : {"", "5", "4", "49", "95", "99"})
            for (int i = 0; i < 20; i++) t.around(decimal(std::string(k, '9') + tail, some_exponent()), 2);

    // the fixed and exponent layouts of "%12.4g", and the trap values
    for (double v : {0.0001, 9.9995e-5, 9.9994999e-5, 0.00009999, 9999.5, 9999.4999, 10000.0, 99995.0,
                     999.95, 99.995, 9.9995, 0.99995, 1000.00015, 12345678.5, 100.05, 9.99999995})
        for (double s : {1.0, -1.0}) t.around(s * v, 300);

    // zeros and the non-finite values with many payloads
    for (uint64_t u : {0x0ull, 0x8000000000000000ull, 0x7FF0000000000000ull, 0xFFF0000000000000ull,
                       0xFFF8000000000000ull, 0x7FF8000000000000ull, 0x1ull, 0x000FFFFFFFFFFFFFull,
                       0x0010000000000000ull, 0x7FEFFFFFFFFFFFFFull})
    {
        t.check(from_bits(u));
        t.check(from_bits(u ^ 0x8000000000000000ull));
    }
    for (int i = 0; i < 2000; i++)
        t.check(from_bits(next64() | 0x7FF0000000000000ull));

    printf("checked %ld doubles (%ld at a tie of the 17-digit rounding)\n", t.count, t.ties);
    EXPECT_EQ(t.bad, 0) << t.shown;
}

// Every precision of both styles, on a smaller sample of the same kinds.
TEST(text_diff, precisions)
{
    seed = 0x13198A2E03707344ull;
    differ t;
    for (int i = 0; i < n(20000); i++) {
        // one draw a statement, so that every compiler makes the same values
        std::string s;
        int e;
        switch (i % 4) {
        case 0: s = ""; break;
        case 1: s = digits(1 + below(17)); s += below(2) ? "5" : "49999"; break;
        case 2: s = std::string(1 + below(17), '9') + "5"; break;
        default: s = digits(1 + below(8)); break;
        }
        e = i % 4 == 3 ? below(13) - 6 : some_exponent();
        double v = s.empty() ? from_bits(next64()) : decimal(s, e);
        ref_form f[2];
        bool tie = ref_forms(v, f);
        for (int p = 0; p <= 17; p++) {
            t.test(v, f, tie, 'e', p, 0, fp_text(v, 'e', p), "text_fp e");
            t.test(v, f, tie, 'g', p, 0, fp_text(v, 'g', p), "text_fp g");
        }
    }
    EXPECT_EQ(t.bad, 0) << t.shown;
}
