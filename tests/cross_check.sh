#!/usr/bin/env bash
# The cross check: the program built for this machine, for AArch64 Linux
# (run under qemu-aarch64) and for Windows (run under wine) must write the
# same a.out, the same console bytes and the same exit status for every
# input. Only the console line that echoes argv[0] may differ: under wine it
# is the Windows path of the program.
#
#   bash tests/cross_check.sh NATIVE_BUILD [AARCH64_BUILD [WINDOWS_BUILD]]
#
# NATIVE_BUILD is a finished native build with its tests (lindrel, e2e_tests,
# cross_corpus). The two cross builds are configured and built in the other
# two directories (default build/aarch64 and build/windows; an existing build
# is brought up to date). Needs the cross compilers g++-aarch64-linux-gnu and
# g++-mingw-w64-x86-64-posix, qemu-user and wine.
#
# What runs:
#   1. the unit tests, built for AArch64, under qemu (ctest, the toolchain's
#      emulator);
#   2. every end-to-end case of tests/e2e_cases.inc with each program; the
#      cases wine cannot set up are skipped with the table's reason;
#   3. the two measured records of examples/ and a seeded random corpus
#      (tests/cross_corpus.cpp), each input in a fresh directory per program,
#      the three results compared byte for byte.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
native=$(cd "${1:?usage: cross_check.sh NATIVE_BUILD [AARCH64_BUILD [WINDOWS_BUILD]]}" && pwd)
a64=${2:-build/aarch64}
win=${3:-build/windows}
jobs=$(nproc)
start=$SECONDS

qemu=$(command -v qemu-aarch64)
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
for f in lindrel tests/e2e_tests tests/cross_corpus; do
    [ -x "$native/$f" ] || { echo "cross check: $native/$f missing: build $native with its tests first" >&2; exit 1; }
done

echo "=== cross builds: $a64 (AArch64, with unit tests), $win (Windows)"
cmake -S . -B "$a64" -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake -DLINDREL_TESTS=ON >/dev/null
cmake --build "$a64" -j "$jobs"
cmake -S . -B "$win" -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake -DLINDREL_TESTS=OFF >/dev/null
cmake --build "$win" -j "$jobs"
a64=$(cd "$a64" && pwd)
win=$(cd "$win" && pwd)
echo "cross builds: $((SECONDS - start)) s"

work=$(mktemp -d "${TMPDIR:-/tmp}/lindrel-cross-XXXXXX")
# the prefix's server lingers after the last run and writes into it
trap '"${wine%64}server" -k 2>/dev/null; rm -rf "$work"' EXIT
# wine keeps its own Windows in a prefix: a private one, made once here
# (several seconds), so that nothing of the user's is touched and no run
# prints the making of it.
export WINEPREFIX=${LINDREL_WINEPREFIX:-$work/wine} WINEDEBUG=-all LANG=C.UTF-8
mkdir -p "$work/boot"
(cd "$work/boot" && "$wine" "$win/lindrel.exe" >/dev/null 2>&1) || true
# The server would leave a few seconds after its last client, and a run
# that starts just then can fail before the program does anything (status
# 1, no console): keep it until the end.
"${wine%64}server" -w
"${wine%64}server" -p

t=$SECONDS
echo "=== unit tests on AArch64 under qemu"
ctest --test-dir "$a64" --output-on-failure -j "$jobs" | tail -n 3
echo "unit tests: $((SECONDS - t)) s"

t=$SECONDS
echo "=== end-to-end cases"
LINDREL_BIN=$native/lindrel "$native/tests/e2e_tests" --gtest_brief=1 | tail -n 2
LINDREL_CROSS=aarch64 LINDREL_LAUNCHER=$qemu LINDREL_BIN=$a64/lindrel \
    "$native/tests/e2e_tests" --gtest_brief=1 | grep -E '^cross check|PASSED|FAILED'
LINDREL_CROSS=windows LINDREL_LAUNCHER=$wine LINDREL_BIN=$win/lindrel.exe \
    "$native/tests/e2e_tests" --gtest_brief=1 | grep -E '^cross check|PASSED|FAILED'
echo "end-to-end cases: $((SECONDS - t)) s"

# --- one input, three programs ---

# Runs one program on input $1 (copied into a fresh directory under its
# own name) and leaves console, status and a.out in the directory $2.
# argv[0] is "lindrel" natively and under qemu; wine makes its own.
run_one() {
    local in=$1 dir=$2 plat=$3 name
    name=$(basename "$in")
    mkdir "$dir"
    cp "$in" "$dir/$name"
    local st=0
    case $plat in
    native) (cd "$dir" && exec -a lindrel "$native/lindrel" "$name" >console 2>stderr) || st=$? ;;
    aarch64) (cd "$dir" && exec "$qemu" -0 lindrel "$a64/lindrel" "$name" >console 2>stderr) || st=$? ;;
    windows) (cd "$dir" && exec "$wine" "$win/lindrel.exe" "$name" >console 2>stderr) || st=$? ;;
    esac
    echo "$st" >"$dir/status"
}

# The console with the bytes of the argv[0] echo line cut away.
masked() { perl -0777 -pe 's/\r\n argv\[0\] [^\r]*/\r\n argv[0] /' "$1"; }

# Compares the run in $2 with the native run in $1; prints the bytes
# compared, or what differs.
same_as() {
    local ref=$1 dir=$2 plat=$3 in=$4 bad=
    cmp -s "$ref/status" "$dir/status" || bad="exit status $(cat "$ref/status") native, $(cat "$dir/status") $plat"
    if [ "$plat" = windows ]; then
        cmp -s <(masked "$ref/console") <(masked "$dir/console") || bad="$bad console;"
    else
        cmp -s "$ref/console" "$dir/console" || bad="$bad console;"
    fi
    cmp -s "$ref/a.out" "$dir/a.out" || bad="$bad a.out: $(cmp "$ref/a.out" "$dir/a.out" 2>&1 | head -n 1);"
    [ -s "$dir/stderr" ] && bad="$bad standard error: $(head -c 200 "$dir/stderr");"
    if [ -n "$bad" ]; then
        echo "MISMATCH $plat $in:$bad console ends: $(tail -c 120 "$dir/console" | od -An -c | tr -s ' \n' ' ')"
        return 1
    fi
    echo "ok $plat $(($(stat -c %s "$dir/console") + $(stat -c %s "$dir/a.out")))"
}

# All three programs on each input named; one line per comparison. The
# files stay until the end, emptied: wine's server may close a finished
# run's handles late, and it tells files apart by device and inode, so a
# deleted a.out whose inode came back as a new run's a.out could be taken
# for one still open.
check() {
    local in d fail=0
    for in in "$@"; do
        d=$(mktemp -d "$work/run-XXXXXX")
        run_one "$in" "$d/native" native
        echo "ok native $(($(stat -c %s "$d/native/console") + $(stat -c %s "$d/native/a.out")))"
        for plat in aarch64 windows; do
            run_one "$in" "$d/$plat" $plat
            same_as "$d/native" "$d/$plat" $plat "$in" || fail=1
            : >"$d/$plat/a.out"
        done
        : >"$d/native/a.out"
    done
    return $fail
}
export -f run_one masked same_as check
export native a64 win qemu wine work

t=$SECONDS
echo "=== measured records and the random corpus"
mkdir "$work/corpus"
"$native/tests/cross_corpus" "$work/corpus"
inputs=("$src"/examples/*.txt "$work/corpus"/*.txt)
# the large ones one at a time, so that at most one 200 MB a.out of each
# platform exists at once; the small ones in parallel
status=0
{
    check "$src"/examples/*.txt || status=1
    printf '%s\0' "$work/corpus"/*.txt | xargs -0 -n 16 -P "$jobs" bash -c 'check "$@"' check || status=1
} >"$work/log"
grep '^MISMATCH' "$work/log" || true
awk -v n=${#inputs[@]} '
    $1 == "ok" { runs[$2]++; bytes[$2] += $3 }
    END { for (p in runs) printf "cross check, %s: %d of %d inputs run, %d bytes of console and a.out\n", p, runs[p], n, bytes[p] }
' "$work/log" | sort
echo "measured records and corpus: $((SECONDS - t)) s"
if [ $status -ne 0 ] || grep -q '^MISMATCH' "$work/log"; then
    echo "cross check FAILED" >&2
    exit 1
fi
echo "cross check passed in $((SECONDS - start)) s"
