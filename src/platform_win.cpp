// The platform layer on Windows. Files are opened by their wide names and
// written with WriteFile, so no runtime library translates line ends and
// every byte goes out as the program made it.
//
// Names: the arguments that the C runtime hands to main are in the active
// code page, where a name in another script is lost. os_start takes them
// again from the wide command line and turns them into UTF-8, the form
// names have on every other system, and the opens turn UTF-8 back into
// wide names. So any name the shell can pass reaches the file system whole,
// and the console echoes the same bytes as on Linux.
#include "platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <shellapi.h>

#include <cwchar>

static HANDLE h(os_file f) { return (HANDLE)f; }

// The command line as UTF-8: Windows caps it at 32,767 wide characters,
// each at most three bytes of UTF-8 (a pair of surrogates makes four from
// two), plus a terminator per argument.
static char argtext[3 * 32768 + 32768];
static char *argp[16384 + 1];

void os_start(int *argc, char ***argv)
{
    // no dialog box when a removable drive is missing or the process fails
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX | SEM_NOGPFAULTERRORBOX);
    int n = 0;
    wchar_t **w = CommandLineToArgvW(GetCommandLineW(), &n);
    if (!w) return;
    size_t used = 0;
    int k = 0;
    for (; k < n && k < 16384; k++) {
        int len = WideCharToMultiByte(CP_UTF8, 0, w[k], -1, argtext + used, (int)(sizeof argtext - used), nullptr,
                                      nullptr);
        if (len <= 0) break;
        argp[k] = argtext + used;
        used += (size_t)len;
    }
    LocalFree(w);
    if (k != n) return; // keep the runtime's arguments rather than a part
    argp[k] = nullptr;
    *argc = k;
    *argv = argp;
}

static os_file std_handle(DWORD which)
{
    HANDLE s = GetStdHandle(which);
    return s == nullptr || s == INVALID_HANDLE_VALUE ? NO_FILE : (os_file)s;
}

os_file os_stdout() { return std_handle(STD_OUTPUT_HANDLE); }
os_file os_stderr() { return std_handle(STD_ERROR_HANDLE); }

bool os_isatty(os_file f)
{
    // the null device is a character device too, but has no console mode
    DWORD mode;
    return f != NO_FILE && GetFileType(h(f)) == FILE_TYPE_CHAR && GetConsoleMode(h(f), &mode);
}

static const int WNAME = 32768;

// UTF-8 to a wide name; false for an empty name or bytes that are not UTF-8.
// A path of MAX_PATH (260) characters or more is refused by the plain form
// of the file calls, while Linux takes names of up to 4095 bytes. Such a
// name is made absolute and given the \\?\ prefix, which lifts the limit
// to the 32,767 characters of Windows itself.
static bool wide(const char *name, wchar_t *w, int cap)
{
    int n = name[0] ? MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, w, cap) : 0;
    if (n <= 0) return false;
    static wchar_t full[WNAME];
    DWORD m = GetFullPathNameW(w, WNAME, full, nullptr);
    if (m == 0 || m < MAX_PATH) return true; // as it stands
    if (m + 8 > (DWORD)cap) return false;
    // already a device or prefixed path (\\.\, \\?\): nothing to add
    if (full[0] == L'\\' && full[1] == L'\\' && (full[2] == L'.' || full[2] == L'?') && full[3] == L'\\') {
        std::wmemcpy(w, full, m + 1);
        return true;
    }
    // C:\x becomes \\?\C:\x, and \\server\share\x becomes \\?\UNC\server\share\x
    bool unc = full[0] == L'\\' && full[1] == L'\\';
    const wchar_t *pre = unc ? L"\\\\?\\UNC" : L"\\\\?\\";
    size_t lp = std::wcslen(pre), skip = unc ? 1 : 0;
    std::wmemcpy(w, pre, lp);
    std::wmemcpy(w + lp, full + skip, m - skip + 1);
    return true;
}

os_file os_open_read(const char *name)
{
    static wchar_t w[WNAME];
    if (!wide(name, w, WNAME)) return NO_FILE;
    // Others may go on reading, writing or renaming it. A directory cannot
    // be opened without backup semantics, so it is refused here.
    HANDLE f = CreateFileW(w, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (f == INVALID_HANDLE_VALUE) return NO_FILE;
    BY_HANDLE_FILE_INFORMATION fi;
    if (GetFileInformationByHandle(f, &fi) && (fi.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(f);
        return NO_FILE;
    }
    return (os_file)f;
}

os_file os_open_write(const char *name, bool *busy)
{
    static wchar_t w[WNAME];
    *busy = false;
    if (!wide(name, w, WNAME)) return NO_FILE;
    // Sharing only reading keeps every other writer out while this run
    // holds the file; OPEN_ALWAYS leaves its bytes alone until then.
    HANDLE f = CreateFileW(w, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        *busy = GetLastError() == ERROR_SHARING_VIOLATION || GetLastError() == ERROR_LOCK_VIOLATION;
        return NO_FILE;
    }
    if (GetFileType(f) == FILE_TYPE_DISK && !SetEndOfFile(f)) {
        CloseHandle(f);
        return NO_FILE;
    }
    return (os_file)f;
}

bool os_same_file(os_file f, const char *name)
{
    static wchar_t w[WNAME];
    if (!wide(name, w, WNAME)) return false;
    // Identity is the volume serial number and the file index: names,
    // links and case differences all lead to the same pair.
    HANDLE g = CreateFileW(w, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (g == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION a, b;
    bool same = GetFileInformationByHandle(h(f), &a) && GetFileInformationByHandle(g, &b) &&
                a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
                a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(g);
    return same;
}

// ReadFile and WriteFile take 32-bit counts; the program's blocks are far
// smaller, but a larger request is simply cut.
static DWORD count(size_t n) { return n > (1u << 30) ? (1u << 30) : (DWORD)n; }

long os_read(os_file f, void *buf, size_t n)
{
    DWORD got = 0;
    if (ReadFile(h(f), buf, count(n), &got, nullptr)) return (long)got;
    // the writing end of a pipe has closed: that is its end of file
    return GetLastError() == ERROR_BROKEN_PIPE || GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
}

long os_write(os_file f, const void *buf, size_t n)
{
    if (f == NO_FILE) return -1;
    DWORD put = 0;
    // A pipe whose reader has gone fails with ERROR_NO_DATA, a full disk
    // with ERROR_DISK_FULL: both are failed writes. Nothing written, yet no
    // error, is one too, or the caller would retry for ever.
    if (!WriteFile(h(f), buf, count(n), &put, nullptr) || put == 0) return -1;
    return (long)put;
}

bool os_close(os_file f) { return CloseHandle(h(f)) != 0; }

double os_now()
{
    LARGE_INTEGER c, q;
    QueryPerformanceCounter(&c);
    QueryPerformanceFrequency(&q);
    return (double)c.QuadPart / (double)q.QuadPart;
}

void os_advise_huge(void *, size_t) {}
