// End-to-end runner: runs the built program once per case of the table in
// tests/e2e_cases.inc, each in a fresh temporary directory, and compares the
// whole console output, the whole a.out and the exit status with fixed bytes.
//
// A case states its argv (argv[0] included, so the echo is fixed), the files,
// directories and links to lay out first, how standard input and output are
// connected, the size at which file writes fail if it needs one, and what
// must come out. The program under test is LINDREL_BIN, or the path in the
// environment variable of that name.
//
// The same table checks the builds for other platforms: with LINDREL_CROSS
// set to aarch64 or windows, LINDREL_BIN names that platform's program and
// LINDREL_LAUNCHER the program that runs it here (qemu-aarch64, wine). Each
// case must then give the same bytes as on the native build, except the line
// that echoes argv[0], which under wine is the Windows path of the program;
// under qemu argv[0] is passed as the case states it, so nothing is masked.
// Cases that cannot be laid out or connected the same way there are skipped
// with the reason the table gives (cross_skip).
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// --- what a case lays out before the run ---

enum class kind { file, dir, symlink, hardlink, real };

struct entry {
    kind k;
    std::string name; // relative to the working directory; parents are made
    std::string data; // file bytes, link target, or the name of a data file
    std::function<void(std::string &)> gen; // appends the bytes of a large file
};

entry file(std::string name, std::string bytes) { return {kind::file, std::move(name), std::move(bytes), {}}; }
entry dir(std::string name) { return {kind::dir, std::move(name), {}, {}}; }
entry symlink(std::string name, std::string target) { return {kind::symlink, std::move(name), std::move(target), {}}; }
entry hardlink(std::string name, std::string existing) { return {kind::hardlink, std::move(name), std::move(existing), {}}; }
// a copy of one of the measured records shipped with the project
entry real(std::string name, std::string data_file) { return {kind::real, std::move(name), std::move(data_file), {}}; }
entry generated(std::string name, std::function<void(std::string &)> gen)
{
    return {kind::file, std::move(name), {}, std::move(gen)};
}

// --- what a.out must be afterwards ---

struct outcome {
    enum { none, bytes, dir, digest, link } k;
    std::string data;   // bytes: the whole file; digest: its first bytes; link: its target
    long records = 0;   // digest: the number of records
    const char *sha256 = nullptr; // digest: of the whole file, lower-case hex
};

outcome no_out() { return {outcome::none, {}}; }
outcome out(std::string bytes) { return {outcome::bytes, std::move(bytes)}; }
outcome out_dir() { return {outcome::dir, {}}; }
outcome out_digest(long records, std::string head, const char *sha) { return {outcome::digest, std::move(head), records, sha}; }
// a.out is still the symbolic link the case laid out, leading to target
outcome out_link(std::string target) { return {outcome::link, std::move(target)}; }

enum class in_mode { null, closed };
// pipe, file and tty (a terminal in raw mode, so that it adds no carriage
// returns of its own) capture the console; closed, full (/dev/full) and gone
// (a pipe whose reader has left before the first write) capture nothing.
enum class out_mode { pipe, file, tty, closed, full, gone };

struct e2e_case {
    const char *name;
    std::vector<std::string> argv;
    std::vector<entry> files;
    std::string console;
    outcome aout;
    int status;
    in_mode in = in_mode::null;
    out_mode con = out_mode::pipe;
    // Bytes a file may grow to, 0 for the runner's own bound. A write beyond
    // it must fail as on a full disk, after writing what fits.
    long fsize = 0;
};

void PrintTo(const e2e_case *c, std::ostream *os) { *os << c->name; }

// --- the fixed console texts, every line feed written as CR LF ---

std::string num(long v) { return std::to_string(v); }

// The argument echo, printed when there is at least one argument.
std::string echo(int argc, const std::string &argv0, const std::string &argv1)
{
    return "\r\n\r\n  argc = " + num(argc) + " \r\n argv[0] " + argv0 + " \r\n argv[1] " + argv1 + " ";
}

const std::string banner = "\r\n lindrel " LINDREL_VERSION " "
                           "\r\n\r\n by the lindrel developers "
                           "\r\n Email:  lindrel@example.org "
                           "\r\n\r\n This program performs a linear interpolation on a time history file. \r\n";

const std::string prompts = "\r\n The input file must have two columns:  time(sec) & amplitude(units) "
                            "\r\n\r\n Enter input filename\r\n"
                            "\r\n Enter output filename\r\n";

// Banner, note and prompts: everything before the status lines.
const std::string head = banner + prompts;

std::string opened(const std::string &name) { return " File: " + name + " opened. \r\n"; }
std::string failed(const std::string &name) { return " Failed to open file: " + name + " \r\n"; }
const std::string failed_same = " Failed to open file: a.out (it is the input file) \r\n";

// Both files opened: everything up to the reading summary.
std::string ready(const std::string &input) { return head + opened(input) + opened("a.out"); }

std::string field12(const std::string &g) { return std::string(g.size() < 12 ? 12 - g.size() : 0, ' ') + g; }

// The reading summary; tl and t0 are the "%12.4g" texts without their blanks.
std::string summary(long last, const std::string &tl, const std::string &t0, long nt)
{
    return "\r\n t[" + num(last) + "]= " + field12(tl) + "   t[0]= " + field12(t0) + "\r\n" +
           "\r\n last= " + num(last) + " \r\n" + "\r\n   nt= " + num(nt) + " \r\n";
}

const std::string step = "\r\n   dt=       5e-005 \r\n";
const std::string store_full =
    "\r\n Warning: the store is full at 5000000 samples; the rest of the file was not read. \r\n";
const std::string write_failed = "\r\n Failed to write file: a.out \r\n";

std::string refusal(const std::string &why)
{
    return "\r\n Time span out of range: " + why + "; no grid records were written. \r\n";
}

// --- records, from their "%14.7e" texts ---

struct rec {
    const char *t, *v;
};

std::string records(std::initializer_list<rec> rs)
{
    std::string s;
    for (const rec &r : rs) s += std::string("\r\n ") + r.t + " " + r.v;
    return s;
}

// "%14.7e" text of k * 5e-05 for k >= 0, worked out in decimal from the
// integer 5k: the grid time k * dt lies within a few units of the 17th digit
// of that value, far from any rounding boundary of the eighth.
std::string grid_text(long k)
{
    if (k == 0) return "0.0000000e+000";
    std::string d = num(5 * k);
    long x = (long)d.size() - 1 - 5;
    char e[24];
    snprintf(e, sizeof e, "e%c%03ld", x < 0 ? '-' : '+', x < 0 ? -x : x);
    return d.substr(0, 1) + "." + (d.substr(1) + "0000000").substr(0, 7) + e;
}

// --- generated inputs ---

// n pairs (i e-9, 0) for i = 0 .. n-1, then the tail text.
std::function<void(std::string &)> nano_ramp(long n, std::string tail)
{
    return [n, tail](std::string &s) {
        s.reserve((size_t)n * 14 + tail.size());
        char b[32];
        for (long i = 0; i < n; i++) {
            int k = sizeof b;
            long v = i;
            do b[--k] = (char)('0' + v % 10); while ((v /= 10) > 0);
            s.append(b + k, sizeof b - k);
            s += "e-9 0\n";
        }
        s += tail;
    };
}

// The records of an input whose first time is 0: the first record, then
// grid steps 0 to n-1, the value of step k given by its "%14.7e" text.
std::string grid_records(long n, const std::function<std::string(long)> &value)
{
    std::string s = "\r\n " + grid_text(0) + " " + value(0);
    for (long k = 0; k < n; k++) s += "\r\n " + grid_text(k) + " " + value(k);
    return s;
}

// The records of a nano ramp whose last stored time lies below 100 * 5e-05:
// the first record, then grid steps 0 to 99, every value zero.
std::string nano_ramp_records()
{
    return grid_records(100, [](long) { return std::string("0.0000000e+000"); });
}

// n bytes drawn by splitmix64 from seed: the same bytes on every platform.
std::function<void(std::string &)> random_bytes(uint64_t seed, size_t n)
{
    return [seed, n](std::string &s) {
        uint64_t x = seed;
        s.reserve(s.size() + n);
        for (size_t i = 0; i < n; i += 8) {
            uint64_t z = x += 0x9E3779B97F4A7C15ull;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            z ^= z >> 31;
            for (size_t b = 0; b < 8 && i + b < n; b++) s += (char)(z >> (8 * b));
        }
    };
}

// --- SHA-256, for the outputs too large to spell out ---

struct sha256 {
    uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    unsigned char blk[64];
    size_t used = 0;
    uint64_t total = 0;

    // Plain code, nothing left to the inliner, and no instrumentation: in
    // the unoptimised sanitizer build the hash of a 200 MB output would
    // otherwise cost far more than the run that wrote it.
    __attribute__((always_inline)) static uint32_t ror(uint32_t x, int n) { return x >> n | x << (32 - n); }

    __attribute__((no_sanitize("address", "undefined"))) void block(const unsigned char *p)
    {
        static const uint32_t k[64] = {
            0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
            0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
            0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
            0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
            0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
            0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
            0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
            0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
        uint32_t w[64];
        for (int i = 0; i < 16; i++)
            w[i] = (uint32_t)p[4 * i] << 24 | (uint32_t)p[4 * i + 1] << 16 | (uint32_t)p[4 * i + 2] << 8 | p[4 * i + 3];
        for (int i = 16; i < 64; i++) {
            uint32_t s0 = ror(w[i - 15], 7) ^ ror(w[i - 15], 18) ^ (w[i - 15] >> 3);
            uint32_t s1 = ror(w[i - 2], 17) ^ ror(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
        for (int i = 0; i < 64; i++) {
            uint32_t t1 = hh + (ror(e, 6) ^ ror(e, 11) ^ ror(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
            uint32_t t2 = (ror(a, 2) ^ ror(a, 13) ^ ror(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            hh = g, g = f, f = e, e = d + t1, d = c, c = b, b = a, a = t1 + t2;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e, h[5] += f, h[6] += g, h[7] += hh;
    }

    void add(const unsigned char *p, size_t n)
    {
        total += n;
        if (used) {
            size_t m = std::min(n, 64 - used);
            memcpy(blk + used, p, m);
            used += m, p += m, n -= m;
            if (used < 64) return;
            block(blk);
            used = 0;
        }
        for (; n >= 64; p += 64, n -= 64) block(p);
        memcpy(blk, p, n);
        used = n;
    }

    std::string hex()
    {
        uint64_t bits = total * 8;
        unsigned char pad[72] = {0x80};
        size_t m = (used < 56 ? 56 : 120) - used;
        for (int i = 0; i < 8; i++) pad[m + i] = (unsigned char)(bits >> (56 - 8 * i));
        add(pad, m + 8);
        std::string s;
        char b[9];
        for (uint32_t x : h) snprintf(b, sizeof b, "%08x", x), s += b;
        return s;
    }
};

// --- running a case ---

std::string env(const char *name)
{
    const char *v = getenv(name);
    return v ? v : "";
}

std::string program()
{
    std::string p = env("LINDREL_BIN");
    return p.empty() ? LINDREL_BIN : p;
}

// The platform of the program under test: empty for this machine's own.
const std::string &platform()
{
    static const std::string p = env("LINDREL_CROSS");
    return p;
}

// The console with the argv[0] echo line cut down to its label. Only the
// first such line is the echo; a name echoed later is left alone.
std::string mask_argv0(std::string s)
{
    const std::string label = "\r\n argv[0] ";
    size_t p = s.find(label);
    if (p == std::string::npos) return s;
    size_t e = s.find("\r\n", p + label.size());
    s.erase(p + label.size(), (e == std::string::npos ? s.size() : e) - (p + label.size()));
    return s;
}

// Where the measured records are: the copies in examples/, else the shared
// data beside the repository.
std::string data_path(const std::string &name)
{
    for (const char *d : {"/examples/", "/../shared/data/real/"}) {
        std::string p = std::string(LINDREL_SOURCE_DIR) + d + name;
        if (fs::exists(p)) return p;
    }
    return {};
}

std::string slurp(const std::string &path)
{
    std::string s;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return s;
    char b[1 << 16];
    for (ssize_t r; (r = read(fd, b, sizeof b)) != 0;) {
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) break;
        s.append(b, (size_t)r);
    }
    close(fd);
    return s;
}

bool spill(int dir, const char *name, const std::string &bytes)
{
    int fd = openat(dir, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t r = write(fd, bytes.data() + done, bytes.size() - done);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        done += (size_t)r;
    }
    return close(fd) == 0 && done == bytes.size();
}

// Bytes shown escaped, so that CR, LF and bytes above 127 are visible.
std::string shown(const std::string &s, size_t from, size_t len)
{
    std::string r;
    for (size_t i = from; i < s.size() && i < from + len; i++) {
        unsigned char c = (unsigned char)s[i];
        char b[8];
        if (c == '\r') r += "\\r";
        else if (c == '\n') r += "\\n";
        else if (c == '\\') r += "\\\\";
        else if (c < 32 || c > 126) snprintf(b, sizeof b, "\\x%02x", c), r += b;
        else r += (char)c;
    }
    return r;
}

// Empty when equal; else where the two first differ, with the bytes around.
std::string difference(const std::string &want, const std::string &got)
{
    if (want == got) return {};
    size_t i = 0;
    while (i < want.size() && i < got.size() && want[i] == got[i]) i++;
    size_t from = i > 40 ? i - 40 : 0;
    return "lengths " + num((long)want.size()) + " expected, " + num((long)got.size()) + " actual; first difference at byte " +
           num((long)i) + "\n  expected: ..." + shown(want, from, 120) + "\n  actual:   ..." + shown(got, from, 120);
}

// The file at path: its record count, its first n bytes and its SHA-256,
// read in blocks so that a file of hundreds of megabytes costs no memory.
struct summary_of_file {
    long records = 0;
    std::string head, sha;
    bool ok = false;
};

summary_of_file digest_file(const std::string &path, size_t n)
{
    summary_of_file r;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return r;
    sha256 h;
    static unsigned char b[1 << 20];
    for (ssize_t k; (k = read(fd, b, sizeof b)) != 0;) {
        if (k < 0 && errno == EINTR) continue;
        if (k < 0) { close(fd); return r; }
        h.add(b, (size_t)k);
        for (unsigned char *q = b, *e = b + k; (q = (unsigned char *)memchr(q, '\n', e - q)); q++) r.records++;
        if (r.head.size() < n) r.head.append((char *)b, std::min((size_t)k, n - r.head.size()));
    }
    close(fd);
    r.sha = h.hex();
    r.ok = true;
    return r;
}

// Removes name in dir with all it holds, by descriptors all the way down, so
// that depth and path length do not matter. Links are removed, not followed.
void wipe(int dir, const char *name)
{
    if (unlinkat(dir, name, 0) == 0) return;
    int fd = openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    if (DIR *d = fdopendir(fd)) {
        std::vector<std::string> names;
        while (dirent *de = readdir(d))
            if (strcmp(de->d_name, ".") != 0 && strcmp(de->d_name, "..") != 0) names.push_back(de->d_name);
        for (const std::string &n : names) wipe(dirfd(d), n.c_str());
        closedir(d);
    } else close(fd);
    unlinkat(dir, name, AT_REMOVEDIR);
}

// A working directory of its own for one case, removed with all it holds.
struct scratch {
    std::string root, work;
    int wd = -1;
    scratch()
    {
        std::string tmpl = (fs::temp_directory_path() / "lindrel-e2e-XXXXXX").string();
        if (mkdtemp(tmpl.data())) {
            root = tmpl;
            work = root + "/w";
            if (mkdir(work.c_str(), 0755) == 0) wd = open(work.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        }
    }
    ~scratch()
    {
        if (wd >= 0) close(wd);
        if (!root.empty()) wipe(AT_FDCWD, root.c_str());
    }
};

std::string why(const std::string &what, const std::string &name) { return what + " " + name + ": " + strerror(errno); }

// Lays out one entry; empty on success, else what went wrong. Everything is
// made relative to the working directory (wd), so that a name of 4095 bytes
// stays within the path length limit.
std::string lay_out(int wd, const entry &e)
{
    const char *name = e.name.c_str();
    for (size_t k = e.name.find('/'); k != std::string::npos; k = e.name.find('/', k + 1)) {
        std::string parent = e.name.substr(0, k);
        if (mkdirat(wd, parent.c_str(), 0755) != 0 && errno != EEXIST) return why("mkdir", parent);
    }
    switch (e.k) {
    case kind::file:
    case kind::real: {
        std::string bytes = e.data;
        if (e.k == kind::real) {
            std::string src = data_path(e.data);
            if (src.empty()) return "measured record " + e.data + " found neither in examples/ nor in ../shared/data/real/";
            bytes = slurp(src);
        }
        if (e.gen) e.gen(bytes);
        if (!spill(wd, name, bytes)) return why("write", e.name);
        return {};
    }
    case kind::dir:
        if (mkdirat(wd, name, 0755) != 0) return why("mkdir", e.name);
        return {};
    case kind::symlink:
        if (symlinkat(e.data.c_str(), wd, name) != 0) return why("symlink", e.name);
        return {};
    case kind::hardlink:
        if (linkat(wd, e.data.c_str(), wd, name, 0) != 0) return why("link", e.name);
        return {};
    }
    return "unknown entry kind";
}

// The first path component of a name: what the case leaves in the working directory.
std::string top(const std::string &name) { return name.substr(0, name.find('/')); }

struct result {
    std::string console, err;
    int status = -1;
    std::string fault; // a failure of the runner itself
};

// Runs the program in work with argv, standard input and output as the case
// says; standard error goes to a file and must stay empty. A run is bounded
// in time and in file size, so that a walk that never ends cannot fill the disk.
result run(const e2e_case &c, const scratch &s)
{
    result r;
    std::string bin = program();
    std::string con_path = s.root + "/console", err_path = s.root + "/stderr";
    int pfd[2] = {-1, -1};
    bool piped = c.con == out_mode::pipe || c.con == out_mode::gone;
    if (piped && pipe2(pfd, O_CLOEXEC) != 0) {
        r.fault = std::string("pipe: ") + strerror(errno);
        return r;
    }
    int tty = -1; // the terminal's side that the program writes to
    if (c.con == out_mode::tty) {
        pfd[0] = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (pfd[0] < 0 || grantpt(pfd[0]) != 0 || unlockpt(pfd[0]) != 0 ||
            (tty = open(ptsname(pfd[0]), O_RDWR | O_NOCTTY | O_CLOEXEC)) < 0) {
            r.fault = std::string("terminal: ") + strerror(errno);
            return r;
        }
        termios raw;
        tcgetattr(tty, &raw);
        cfmakeraw(&raw);
        tcsetattr(tty, TCSANOW, &raw);
    }
    // Under a launcher the program is its argument: qemu takes argv[0]
    // apart (-0), wine makes its own from the program's Windows path.
    std::vector<std::string> args;
    std::string launcher = env("LINDREL_LAUNCHER");
    if (!launcher.empty()) {
        args.push_back(launcher);
        if (platform() == "aarch64") args.insert(args.end(), {"-0", c.argv[0]});
        args.push_back(bin);
        args.insert(args.end(), c.argv.begin() + 1, c.argv.end());
        bin = launcher;
    } else args = c.argv;
    std::vector<char *> argv;
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid < 0) {
        r.fault = std::string("fork: ") + strerror(errno);
        return r;
    }
    if (pid == 0) {
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int con = piped ? pfd[1]
                  : c.con == out_mode::tty  ? tty
                  : c.con == out_mode::full ? open("/dev/full", O_WRONLY)
                                            : open(con_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err < 0 || con < 0 || dup2(con, 1) < 0 || dup2(err, 2) < 0) _exit(126);
        if (c.con == out_mode::closed) close(1);
        if (c.in == in_mode::closed) close(0);
        else {
            int nul = open("/dev/null", O_RDONLY);
            if (nul < 0 || dup2(nul, 0) < 0) _exit(126);
            close(nul);
        }
        close(err), close(con);
        if (chdir(s.work.c_str()) != 0) _exit(126);
        struct rlimit fsize = {1ul << 30, 1ul << 30}, core = {0, 0};
        if (c.fsize) fsize.rlim_cur = fsize.rlim_max = (rlim_t)c.fsize;
        // the signal keeps its default action: the program itself must turn
        // the limit into a failed write
        signal(SIGXFSZ, SIG_DFL);
        setrlimit(RLIMIT_FSIZE, &fsize);
        setrlimit(RLIMIT_CORE, &core);
        signal(SIGPIPE, SIG_DFL);
        alarm(300);
        execv(bin.c_str(), argv.data());
        dprintf(2, "cannot run %s: %s\n", bin.c_str(), strerror(errno));
        _exit(127);
    }
    if (c.con == out_mode::gone) close(pfd[0]), close(pfd[1]);
    if (c.con == out_mode::pipe || c.con == out_mode::tty) {
        // the terminal reports EIO once the program has closed its side
        close(c.con == out_mode::tty ? tty : pfd[1]);
        char b[1 << 16];
        for (ssize_t k; (k = read(pfd[0], b, sizeof b)) != 0;) {
            if (k < 0 && errno == EINTR) continue;
            if (k < 0) break;
            r.console.append(b, (size_t)k);
        }
        close(pfd[0]);
    }
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {}
    if (WIFEXITED(st)) r.status = WEXITSTATUS(st);
    else if (WIFSIGNALED(st)) {
        r.status = 128 + WTERMSIG(st);
        r.fault = "killed by signal " + num(WTERMSIG(st));
    }
    if (c.con == out_mode::file) r.console = slurp(con_path);
    r.err = slurp(err_path);
    return r;
}

#include "e2e_cases.inc"

const std::vector<const e2e_case *> &case_list()
{
    static const std::vector<e2e_case> table = cases();
    static std::vector<const e2e_case *> list;
    if (list.empty())
        for (const e2e_case &c : table) list.push_back(&c);
    return list;
}

// What a run on another platform compared, printed when the tests end.
struct tally {
    long run = 0, skipped = 0, bytes = 0;
};
tally counted;

class cross_report : public testing::Environment {
    void TearDown() override
    {
        if (platform().empty()) return;
        printf("cross check, %s: %ld cases run, %ld skipped, %ld bytes of console and a.out compared\n",
               platform().c_str(), counted.run, counted.skipped, counted.bytes);
    }
};
testing::Environment *const reporter = testing::AddGlobalTestEnvironment(new cross_report);

class e2e : public testing::TestWithParam<const e2e_case *> {};

TEST_P(e2e, run)
{
    const e2e_case &c = *GetParam();
    if (!platform().empty()) {
        if (const char *r = cross_skip(c, platform())) {
            counted.skipped++;
            GTEST_SKIP() << "not run on " << platform() << ": " << r;
        }
        counted.run++;
    }
    scratch s;
    ASSERT_TRUE(s.wd >= 0) << "cannot make a temporary directory: " << strerror(errno);
    for (const entry &e : c.files) {
        std::string fault = lay_out(s.wd, e);
        ASSERT_TRUE(fault.empty()) << fault;
    }

    result r = run(c, s);
    ASSERT_TRUE(r.fault.empty() || r.status > 128) << r.fault;
    EXPECT_EQ(c.status, r.status) << r.fault;
    std::string expect = c.console;
    if (platform() == "windows") expect = mask_argv0(expect), r.console = mask_argv0(r.console);
    counted.bytes += (long)r.console.size();
    if (std::string d = difference(expect, r.console); !d.empty()) ADD_FAILURE() << "console output: " << d;
    if (!r.err.empty()) ADD_FAILURE() << "standard error: " << shown(r.err, 0, 2000);

    // The working directory holds what the case laid out, and a.out.
    std::set<std::string> want, got;
    for (const entry &e : c.files) want.insert(top(e.name));
    if (c.aout.k != outcome::none) want.insert("a.out");
    for (const auto &d : fs::directory_iterator(s.work)) got.insert(d.path().filename().string());
    EXPECT_EQ(want, got) << "entries of the working directory";

    std::string aout = s.work + "/a.out";
    struct stat st;
    bool there = stat(aout.c_str(), &st) == 0; // through a link, if a.out is one
    switch (c.aout.k) {
    case outcome::none:
        EXPECT_FALSE(there) << "a.out leads to a file";
        break;
    case outcome::dir:
        EXPECT_TRUE(there && S_ISDIR(st.st_mode)) << "a.out is no longer a directory";
        break;
    case outcome::link: {
        char b[4096];
        ssize_t k = readlink(aout.c_str(), b, sizeof b);
        EXPECT_EQ(c.aout.data, std::string(b, k < 0 ? 0 : (size_t)k)) << "a.out is no longer the link";
        break;
    }
    case outcome::bytes:
        ASSERT_TRUE(there) << "a.out missing";
        counted.bytes += (long)st.st_size;
        if (std::string d = difference(c.aout.data, slurp(aout)); !d.empty()) ADD_FAILURE() << "a.out: " << d;
        break;
    case outcome::digest: {
        summary_of_file f = digest_file(aout, c.aout.data.size());
        ASSERT_TRUE(f.ok) << "a.out cannot be read";
        counted.bytes += (long)st.st_size;
        EXPECT_EQ(c.aout.records, f.records) << "records in a.out";
        if (std::string d = difference(c.aout.data, f.head); !d.empty()) ADD_FAILURE() << "first records of a.out: " << d;
        EXPECT_EQ(c.aout.sha256, f.sha) << "SHA-256 of a.out";
        break;
    }
    }
}

INSTANTIATE_TEST_SUITE_P(lindrel, e2e, testing::ValuesIn(case_list()),
                         [](const testing::TestParamInfo<const e2e_case *> &i) { return std::string(i.param->name); });

// The runner's own digest, checked on the standard's test vectors: a wrong
// digest here would make every large-output case meaningless.
TEST(e2e_runner, sha256)
{
    auto of = [](const std::string &s) {
        sha256 h;
        h.add((const unsigned char *)s.data(), s.size());
        return h.hex();
    };
    EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", of(""));
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", of("abc"));
    EXPECT_EQ("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
              of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"));
    sha256 h;
    std::string a(1000, 'a');
    for (int i = 0; i < 1000; i++) h.add((const unsigned char *)a.data(), a.size());
    EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0", h.hex());
}

} // namespace
