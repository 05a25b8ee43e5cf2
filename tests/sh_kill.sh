#!/usr/bin/env bash
# A run killed in the middle of its walk leaves behind a.out cut short and
# nothing else: what it holds is a prefix of the records a whole run writes,
# and the next run in the same directory gives the console, a.out and status
# of a run in a fresh directory.
#
#   bash tests/sh_kill.sh <path of lindrel> <source dir>
set -euo pipefail
export LC_ALL=C

bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
[ -x "$bin" ] || { echo "not an executable: $bin"; exit 1; }

tmp=$(mktemp -d)
pid=
cleanup() {
    if [ -n "$pid" ]; then kill -KILL "$pid" 2>/dev/null || true; fi
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
size() { stat -c %s "$1" 2>/dev/null || echo 0; }

mkdir "$tmp/used" "$tmp/fresh" "$tmp/limited"

# --- the killed run: 3,000 s at 20 kHz would be 60 million records, about
# 2 GB, far more than it writes before the kill ---
printf '0 0\n3000 1\n' > "$tmp/used/a.in"
cd "$tmp/used"
"$bin" > "$tmp/killed.con" 2> "$tmp/killed.err" &
pid=$!
# kill it once the walk has written out 1 MiB, a few blocks of records, so
# that it dies mid-file; soon after, so that the test writes little
for _ in $(seq 3000); do [ -f a.out ] && [ "$(size a.out)" -ge 1048576 ] && break; sleep 0.01; done
[ "$(size a.out)" -ge 1048576 ] || fail "a.out holds $(size a.out) bytes after 30 s"
kill -KILL "$pid"
st=0
{ wait "$pid"; } 2>/dev/null || st=$?
pid=
[ "$st" -eq 137 ] || fail "the long run ended with status $st before it was killed"
# the console is buffered until the run ends and has not gathered 4096
# characters: nothing of it came out
[ ! -s "$tmp/killed.con" ] || fail "console of the killed run: $(od -c "$tmp/killed.con" | head -3)"
[ ! -s "$tmp/killed.err" ] || fail "standard error of the killed run: $(head -c 300 "$tmp/killed.err")"
[ "$(ls -A)" = $'a.in\na.out' ] || fail "the killed run left: $(ls -A | tr '\n' ' ')"

# What it wrote is where a whole run would have written the same bytes: a
# run of the same input whose file may grow only a little further (the
# limit's signal ignored, so writing fails as on a full disk) holds them.
cut=$(size a.out)
cd "$tmp/limited"
cp "$tmp/used/a.in" .
st=0
(trap '' XFSZ; ulimit -f $((cut / 1024 + 1)); exec "$bin") > "$tmp/limited.con" 2>&1 || st=$?
[ "$st" -eq 1 ] || fail "the run on a disk that fills ended with status $st"
[ "$(tail -c 33 "$tmp/limited.con")" = $'\r\n Failed to write file: a.out \r' ] ||
    fail "the run on a disk that fills did not report it: $(tail -c 80 "$tmp/limited.con" | od -c | tail -4)"
[ "$(size a.out)" -ge "$cut" ] || fail "a.out of the limited run is shorter than the killed run's"
cmp -n "$cut" "$tmp/used/a.out" a.out || fail "a.out of the killed run is not a prefix of the records"

# --- the next run, in the directory of the killed one and in a fresh one ---
printf '0 0\n0.0001 1\n0.0002 0\n' > "$tmp/used/a.in"
cp "$tmp/used/a.in" "$tmp/fresh/a.in"
for d in used fresh; do
    cd "$tmp/$d"
    st=0
    "$bin" > "$tmp/$d.con" 2> "$tmp/$d.err" || st=$?
    echo "$st" > "$tmp/$d.status"
done
cmp "$tmp/fresh.status" "$tmp/used.status" ||
    fail "status after the killed run $(cat "$tmp/used.status"), in a fresh directory $(cat "$tmp/fresh.status")"
cmp "$tmp/fresh.con" "$tmp/used.con" || fail "console after the killed run differs from a fresh run's"
cmp "$tmp/fresh.err" "$tmp/used.err" || fail "standard error after the killed run differs from a fresh run's"
cmp "$tmp/fresh/a.out" "$tmp/used/a.out" || fail "a.out after the killed run differs from a fresh run's"
[ "$(cat "$tmp/fresh.status")" = 0 ] || fail "the short run ended with status $(cat "$tmp/fresh.status")"
# six records of 32 bytes: nothing of the killed run is left
[ "$(size "$tmp/used/a.out")" -eq 192 ] || fail "a.out after the killed run holds $(size "$tmp/used/a.out") bytes"
[ "$(ls -A "$tmp/used")" = $'a.in\na.out' ] || fail "after the next run: $(ls -A "$tmp/used" | tr '\n' ' ')"
echo "killed run: ok (cut at $cut bytes)"
