#!/usr/bin/env bash
# Faults in the calls to the system: each read, write and close that the
# program makes fails in turn (tests/fault_inject.c, loaded with
# LD_PRELOAD), and what survives is compared with clean runs, byte for byte:
#
#   read of the input fails   status 1, the read failure line last, and
#                             otherwise the console and a.out of a clean
#                             run on the bytes read before the failure
#   write of a.out fails      status 1, the write failure line last, a.out
#                             a proper prefix of the clean run's
#   close of a.out fails      status 1, the write failure line last, a.out
#                             whole
#   console write fails       status 0, no failure line, a.out whole
#
# Interrupted calls before every read and write, and transfers of a few
# bytes, change nothing at all. No run may crash, hang or write to
# standard error (where a sanitizer would report).
#
#   bash tests/sh_faults.sh <path of lindrel> <source dir>
set -euo pipefail
export LC_ALL=C

bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
src=$(cd "$2" && pwd)
[ -x "$bin" ] || { echo "not an executable: $bin"; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
size() { stat -c %s "$1"; }

if ! ldd "$bin" >/dev/null 2>&1; then
    echo "SKIP: $bin is not dynamically linked, so LD_PRELOAD cannot reach its calls"
    exit 0
fi
so=$tmp/fault_inject.so
${CC:-cc} -shared -fPIC -O2 -o "$so" "$src/tests/fault_inject.c" -ldl
# A sanitizer runtime in a shared library (g++'s way) must come first, or
# it refuses to start: it is preloaded ahead of the interposer, and its
# own wrappers of read and write pass the calls on. Linked into the
# program (clang's way) it does the same by itself. The leak check at
# exit scans the 80 MB sample store for pointers, half a second a run;
# the program allocates nothing, and the other tests keep the check.
preload=$so
asan=$(ldd "$bin" | awk '/libasan/ { print $3 }')
[ -z "$asan" ] || preload="$asan $so"
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"

rline=$'\r\n Failed to read file: in.txt \r\n'
wline=$'\r\n Failed to write file: a.out \r\n'

# go DIR [VAR=VALUE...]: runs lindrel in DIR on $arg (in.txt there unless
# set), with the interposer set by the variables, or without it when
# there are none; on a terminal when tty is set. Leaves con, err and the
# interposer's log in DIR and the status in st.
arg=in.txt
tty=
go() {
    local d=$1
    shift
    local pre=()
    [ $# -eq 0 ] || pre=(FI_LOG="$d/log" LD_PRELOAD="$preload")
    rm -f "$d/log"
    st=0
    if [ -z "$tty" ]; then
        (cd "$d" && exec timeout -k 5 60 env "$@" "${pre[@]}" "$bin" "$arg") > "$d/con" 2> "$d/err" || st=$?
    else
        # script gives the run a terminal for its standard streams, and
        # keeps what appears there in con
        (cd "$d" && exec timeout -k 5 60 script -qefc "$(printf '%q ' env "$@" "${pre[@]}" "$bin" "$arg")" "$d/con") \
            > /dev/null 2> "$d/err" || st=$?
    fi
    [ "$st" -ne 124 ] && [ "$st" -ne 137 ] || fail "$(basename "$d") ${*:-}: still running after 60 s"
    [ "$st" -le 1 ] || fail "$(basename "$d") ${*:-}: ended with status $st"
    [ ! -s "$d/err" ] || fail "$(basename "$d") ${*:-}: standard error: $(head -c 2000 "$d/err")"
}

# ref DIR: the clean run, without the interposer: ref.con and ref.out.
ref() {
    go "$1"
    [ "$st" -eq 0 ] || fail "$(basename "$1"): the clean run ended with status $st"
    mv "$1/con" "$1/ref.con"
    mv "$1/a.out" "$1/ref.out"
}

# count DIR [VAR=VALUE...]: made[read], made[write] and made[close], the
# calls a run makes on the descriptors the variables select; the run
# itself must equal the clean one.
declare -A made
count() {
    same "$@"
    local line
    line=$(grep '^calls ' "$1/log") || fail "$(basename "$1"): the interposer reported no calls: was it loaded?"
    read -r _ _ made[read] _ made[write] _ made[close] <<< "$line"
}

# same DIR [VAR=VALUE...]: the run gives the clean run's console, a.out and
# status.
same() {
    local d=$1
    go "$@"
    shift
    local what="$(basename "$d") $*"
    [ "$st" -eq 0 ] || fail "$what: status $st"
    cmp -s "$d/ref.con" "$d/con" || fail "$what: the console differs: $(cmp "$d/ref.con" "$d/con" 2>&1)"
    cmp -s "$d/ref.out" "$d/a.out" || fail "$what: a.out differs: $(cmp "$d/ref.out" "$d/a.out" 2>&1)"
}

# A wrong outcome of one injected failure is reported, and the sweep goes
# on, so that one run lists every call that goes wrong.
faults=0
bad() { echo "FAIL: $*" >&2; faults=$((faults + 1)); }

# inject DIR KIND N [VAR=VALUE...]: call N of KIND on the data files fails,
# with EIO or ENOSPC by turns; checks what survives.
runs=0
inject() {
    local d=$1 kind=$2 n=$3 err=EIO
    shift 3
    [ $((n % 2)) -eq 1 ] || err=ENOSPC
    go "$d" FI_FDS=data FI_OP="$kind" FI_N="$n" FI_ERR=$err "$@"
    runs=$((runs + 1))
    local what="$(basename "$d"): $kind $n fails ($err${*:+ $*})"
    local line
    line=$(grep '^fail ' "$d/log") || fail "$what: no such call was made ($(cat "$d/log"))"
    local b=${line##* after }
    [ "$st" -eq 1 ] || { bad "$what: status $st"; return; }
    case $kind in
    read)
        # a clean run on the bytes read before the failure, under the
        # same name
        local p=$tmp/pre
        if [ "$b" -eq "$(size "$d/in.txt")" ]; then
            cp "$d/ref.con" "$p/con"
            cp "$d/ref.out" "$p/a.out"
        else
            head -c "$b" "$d/in.txt" > "$p/in.txt"
            go "$p"
            [ "$st" -eq 0 ] || fail "$what: the clean run on its first $b bytes ended with status $st"
        fi
        printf '%s' "$rline" >> "$p/con"
        cmp -s "$p/con" "$d/con" ||
            bad "$what: the console is not that of the first $b bytes and the read line: $(cmp "$p/con" "$d/con" 2>&1)"
        cmp -s "$p/a.out" "$d/a.out" ||
            bad "$what: a.out is not that of the first $b bytes: $(cmp "$p/a.out" "$d/a.out" 2>&1)"
        ;;
    write | close)
        { cat "$d/ref.con"; printf '%s' "$wline"; } | cmp -s - "$d/con" ||
            bad "$what: the console is not the clean one and the write line: $(tail -c 120 "$d/con" | od -c | tail -5)"
        local s
        s=$(size "$d/a.out")
        if [ $kind = close ]; then
            cmp -s "$d/ref.out" "$d/a.out" || bad "$what: a.out is not whole: $(cmp "$d/ref.out" "$d/a.out" 2>&1)"
        elif ! { [ "$s" -ge "$b" ] && [ "$s" -lt "$(size "$d/ref.out")" ] && cmp -s -n "$s" "$d/ref.out" "$d/a.out"; }; then
            bad "$what: a.out ($s bytes, $b of them written before the failure) is not a proper prefix of the records: $(cmp "$d/ref.out" "$d/a.out" 2>&1)"
        fi
        ;;
    esac
}

# quiet DIR N [VAR=VALUE...]: console write N fails; the run goes on as if
# nothing happened.
quiet() {
    local d=$1 n=$2
    shift 2
    go "$d" FI_FDS=console FI_OP=write FI_N="$n" FI_ERR=EIO "$@"
    runs=$((runs + 1))
    local what="$(basename "$d"): console write $n fails${*:+ ($*)}"
    grep -q '^fail ' "$d/log" || fail "$what: no such call was made ($(cat "$d/log"))"
    [ "$st" -eq 0 ] || bad "$what: status $st"
    ! grep -q 'Failed to' "$d/con" || bad "$what: a failure was reported: $(grep -a 'Failed to' "$d/con")"
    cmp -s "$d/ref.out" "$d/a.out" || bad "$what: a.out is not whole: $(cmp "$d/ref.out" "$d/a.out" 2>&1)"
}

# spread K N: the call numbers to try out of N: all when N <= K, else K
# spread over 1..N, both ends included (the last call is often the odd one)
spread() {
    local k=$1 n=$2 i
    if [ "$n" -le "$k" ]; then seq 1 "$n"; return; fi
    for i in $(seq 0 $((k - 1))); do echo $((1 + i * (n - 1) / (k - 1))); done
}

mkdir "$tmp/small" "$tmp/tiny" "$tmp/nr" "$tmp/pre"
# 75,000 samples at uneven steps of 50 to 150 us, amplitudes in 17 digits:
# 2.4 MB to read (three reads of 1 MiB and one at the end), 4.9 MB of
# records (ten write-outs)
awk 'BEGIN {
    x = 12345; t = 0
    for (i = 0; i < 75000; i++) {
        x = (x * 16807) % 2147483647
        printf "%.9f %.17g\n", t, (x / 2147483647 - 0.5) * 3
        t += 0.00005 + 0.0001 * (x % 1000) / 1000
    }
}' > "$tmp/small/in.txt"
head -n 3000 "$tmp/small/in.txt" > "$tmp/tiny/in.txt"
cp "$src/examples/northridge1994_la116th_ch1_uneven.txt" "$tmp/nr/in.txt"

start=$SECONDS

# --- every call on the small input (counted in a run that meets an
# interruption before each read and write, and must not show it), then a
# sample with transfers cut to at most 256 kB, which puts failures in the
# middle of a write-out and after short reads ---
ref "$tmp/small"
count "$tmp/small" FI_FDS=data FI_EINTR=1
[ "${made[read]}" -ge 3 ] && [ "${made[write]}" -ge 5 ] ||
    fail "small: ${made[read]} reads and ${made[write]} writes, too few to sweep"
for kind in read write close; do
    for n in $(seq 1 "${made[$kind]}"); do inject "$tmp/small" $kind "$n"; done
done
count "$tmp/small" FI_FDS=data FI_SHORT=262144
for kind in read write; do
    for n in $(spread 3 "${made[$kind]}"); do inject "$tmp/small" $kind "$n" FI_SHORT=262144; done
done

# --- a read and then a write-out that fail in the same run: the walk
# over what was read stops at the failed write-out, and both are reported,
# the read first ---
for n in 2 3; do
    d=$tmp/small
    go "$d" FI_FDS=data FI_OP=read,write FI_N="$n"
    runs=$((runs + 2))
    what="small: read $n and write $n fail"
    br=$(sed -n 's/^fail read .* after //p' "$d/log")
    bw=$(sed -n 's/^fail write .* after //p' "$d/log")
    [ -n "$br" ] && [ -n "$bw" ] || fail "$what: not both calls were made ($(cat "$d/log"))"
    [ "$st" -eq 1 ] || bad "$what: status $st"
    head -c "$br" "$d/in.txt" > "$tmp/pre/in.txt"
    go "$tmp/pre"
    printf '%s%s' "$rline" "$wline" >> "$tmp/pre/con"
    cmp -s "$tmp/pre/con" "$d/con" ||
        bad "$what: the console is not that of the first $br bytes and both lines: $(tail -c 120 "$d/con" | od -c | tail -5)"
    s=$(size "$d/a.out")
    [ "$s" -ge "$bw" ] && [ "$s" -lt "$(size "$tmp/pre/a.out")" ] && cmp -s -n "$s" "$tmp/pre/a.out" "$d/a.out" ||
        bad "$what: a.out ($s bytes) is not a proper prefix of that of the first $br bytes: $(cmp "$tmp/pre/a.out" "$d/a.out" 2>&1)"
done

# --- transfers of 1 to 7 bytes, with and without interruptions, on the
# console too ---
ref "$tmp/tiny"
same "$tmp/tiny" FI_SHORT=7
same "$tmp/tiny" FI_SHORT=7 FI_EINTR=1 FI_SEED=2

# --- the console on a terminal, written out at every line: a failed
# write-out loses that line and nothing else ---
tty=1
go "$tmp/tiny" FI_FDS=console
[ "$st" -eq 0 ] && cmp -s "$tmp/tiny/ref.out" "$tmp/tiny/a.out" || fail "tiny, on a terminal: status $st, or a.out differs"
k=$(sed -n 's/^calls.* write \([0-9]*\).*/\1/p' "$tmp/tiny/log")
[ "${k:-0}" -ge 10 ] || fail "tiny, on a terminal: ${k:-no} console writes"
for n in $(spread 8 "$k"); do quiet "$tmp/tiny" "$n"; done
tty=

# --- the Northridge record, 39 MB of records in some 70 write-outs: a
# sample of its calls ---
ref "$tmp/nr"
count "$tmp/nr" FI_FDS=data
for kind in read write close; do
    for n in $(spread 5 "${made[$kind]}"); do inject "$tmp/nr" $kind "$n"; done
done
same "$tmp/nr" FI_SHORT=65536 FI_EINTR=1

# --- the console: an input name of 3,000 bytes makes a transcript of
# more than 4096 characters, written out in the middle of the run and at
# its end ---
dir=$(printf 'd%.0s' $(seq 200))
long=$tmp/long
mkdir "$long"
arg=
for _ in $(seq 15); do arg=$arg$dir/; done
mkdir -p "$long/$arg"
arg=${arg}in.txt
cp "$tmp/tiny/in.txt" "$long/$arg"
ref "$long"
count "$long" FI_FDS=console
[ "${made[write]}" -ge 2 ] || fail "long name: ${made[write]} console writes"
for n in $(seq 1 "${made[write]}"); do quiet "$long" "$n"; done
count "$long" FI_FDS=console FI_SHORT=1024
for n in $(seq 1 "${made[write]}"); do quiet "$long" "$n" FI_SHORT=1024; done
same "$long" FI_SHORT=7 FI_EINTR=1

[ "$faults" -eq 0 ] || fail "$faults of $runs injected failures went wrong"
echo "fault injection: ok ($runs failed calls in $((SECONDS - start)) s)"
