#!/usr/bin/env bash
# Two runs at once. While one run writes a.out, a second run in the same
# directory leaves that file alone: it says the file is in use where it
# would say it opened it, and ends with status 1. A run in another
# directory at the same time is unaffected, and so are runs whose a.out is
# a link to a device. The lock goes with the process that held it, however
# that process ends.
#
#   bash tests/sh_lock.sh <path of lindrel> <source dir>
set -euo pipefail
export LC_ALL=C

bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
[ -x "$bin" ] || { echo "not an executable: $bin"; exit 1; }

tmp=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do
        kill -KILL "$p" 2>/dev/null || true
        wait "$p" 2>/dev/null || true
    done
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
size() { stat -c %s "$1" 2>/dev/null || echo 0; }
# waits up to 30 s for a condition
until_() { for _ in $(seq 3000); do if eval "$1"; then return 0; fi; sleep 0.01; done; return 1; }

# go DIR [ARG]: a run in DIR to its end, console in DIR/con, status in st
go() {
    st=0
    (cd "$1" && shift && exec timeout -k 5 60 "$bin" "$@") > "$1/con" 2> "$1/err" || st=$?
    [ "$st" -ne 124 ] && [ "$st" -ne 137 ] || fail "$1: still running after 60 s"
    [ ! -s "$1/err" ] || fail "$1: standard error: $(head -c 300 "$1/err")"
}

mkdir "$tmp/held" "$tmp/clean" "$tmp/other" "$tmp/null" "$tmp/limited"
short=$'0 0\n0.0001 1\n0.0002 0\n'
for d in held clean other null; do printf '%s' "$short" > "$tmp/$d/a.in"; done

# the clean run of the short input, which the others are measured by
go "$tmp/clean"
[ "$st" -eq 0 ] || fail "the clean run ended with status $st"
opened=$' File: a.out opened. \r\n'
busy=$' Failed to open file: a.out (in use by another run) \r\n'

# --- the first run: 3,000 s at 20 kHz, 60 million records, about 2 GB;
# it holds the lock once it has written records. It is stopped while the
# others run (a stopped process keeps its locks), so that it writes little.
printf '0 0\n3000 1\n' > "$tmp/held/long.in"
(cd "$tmp/held" && exec "$bin" long.in) > "$tmp/held/long.con" 2>&1 &
first=$!
pids+=("$first")
a=$tmp/held/a.out
until_ '[ "$(size "$a")" -ge 1048576 ]' || fail "a.out of the first run holds $(size "$a") bytes after 30 s"
kill -STOP "$first"
before=$(size "$a")

# --- a second run in the same directory gets no further than a.out ---
go "$tmp/held"
[ "$st" -eq 1 ] || fail "the second run ended with status $st"
# the clean console up to the line for a.out, and the in-use line there
clean=$(cat "$tmp/clean/con")
printf '%s%s' "${clean%%"$opened"*}" "$busy" | cmp -s - "$tmp/held/con" ||
    fail "console of the second run: $(tail -c 200 "$tmp/held/con" | od -c | tail -8)"
[ "$(size "$a")" -eq "$before" ] || fail "the second run changed the size of a.out from $before to $(size "$a") bytes"

# --- meanwhile, a run in another directory goes through ---
go "$tmp/other"
[ "$st" -eq 0 ] || fail "the run in another directory ended with status $st"
cmp -s "$tmp/clean/con" "$tmp/other/con" || fail "console of the run in another directory differs from a clean run's"
cmp -s "$tmp/clean/a.out" "$tmp/other/a.out" || fail "a.out of the run in another directory differs from a clean run's"

# the first run goes on writing, and all it wrote is a prefix of the true
# records: nothing of the second run's is in it
kill -CONT "$first"
until_ '[ "$(size "$a")" -gt "$before" ]' || fail "a.out of the first run stopped growing at $before bytes"
kill -KILL "$first"
wait "$first" 2>/dev/null || true
cut=$(size "$a")
# the true records up to there: a run of the same input on a disk that
# fills just beyond them (the limit's signal ignored, so writing fails)
cp "$tmp/held/long.in" "$tmp/limited/"
st=0
(cd "$tmp/limited" && trap '' XFSZ && ulimit -f $((cut / 1024 + 1)) && exec "$bin" long.in) > /dev/null 2>&1 || st=$?
[ "$st" -eq 1 ] || fail "the run on a disk that fills ended with status $st"
[ "$(size "$tmp/limited/a.out")" -ge "$cut" ] || fail "the limited run wrote less than the first run"
cmp -n "$cut" "$tmp/limited/a.out" "$a" || fail "a.out of the first run is not a prefix of the records"

# --- the lock went with the killed run: the next run there is clean ---
go "$tmp/held"
[ "$st" -eq 0 ] || fail "the run after the killed one ended with status $st"
cmp -s "$tmp/clean/con" "$tmp/held/con" || fail "console of the run after the killed one differs from a clean run's"
cmp -s "$tmp/clean/a.out" "$a" || fail "a.out of the run after the killed one differs from a clean run's"

# --- a.out a link to the null device: nothing to lock, two runs at once
# both go through. The first one's walk would take 100,000 s. ---
ln -s /dev/null "$tmp/null/a.out"
printf '0 0\n100000 1\n' > "$tmp/null/long.in"
(cd "$tmp/null" && exec "$bin" long.in) > "$tmp/null/long.con" 2>&1 &
first=$!
pids+=("$first")
# it has opened a.out once it holds a descriptor on the device beyond the
# standard three
opened_null() {
    local f
    for f in /proc/"$first"/fd/*; do
        [ "${f##*/}" -ge 3 ] && [ "$(readlink "$f")" = /dev/null ] && return 0
    done
    return 1
}
until_ opened_null || fail "the first run on the null device never opened it"
go "$tmp/null"
[ "$st" -eq 0 ] || fail "the second run on the null device ended with status $st"
cmp -s "$tmp/clean/con" "$tmp/null/con" || fail "console of the second run on the null device differs from a clean run's"
kill -0 "$first" 2>/dev/null || fail "the first run on the null device ended: $(tr -d '\r' < "$tmp/null/long.con" | tail -3)"
[ -L "$tmp/null/a.out" ] || fail "a.out, a link to the null device, was replaced"
echo "lock: ok (the first run stopped at $before bytes, killed at $cut)"
