#!/usr/bin/env bash
# Progress of a long walk appears on standard error when that is a terminal,
# is erased at the end, and changes neither the console transcript nor a.out;
# when standard error is not a terminal nothing at all is written to it.
set -eu
bin=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*"; exit 1; }
# a.out goes to /dev/null so the test writes nothing large
ln -s /dev/null a.out

# The walk must outlast the half second before the first update: size the
# span to this build's speed (a sanitizer build is many times slower).
span=200
for _ in 1 2 3 4 5; do
    printf '0 0\n%s 1\n' "$span" > a.in
    start=$(date +%s%N)
    "$bin" > plain.out 2> plain.err
    ms=$(( ($(date +%s%N) - start) / 1000000 ))
    [ ! -s plain.err ] || fail "standard error not a terminal, yet written: $(od -c plain.err | head -3)"
    [ "$ms" -ge 1500 ] && break
    span=$(( span * 2000 / (ms + 1) ))
    [ "$span" -le 20000 ] || span=20000
done

# script gives the program a pseudo-terminal; standard output stays a file
script -qefc "\"$bin\" > tty.out" typescript > /dev/null
cmp plain.out tty.out || fail "console transcript differs with a terminal on standard error"
grep -q "% of the span, " typescript || fail "no progress line on the terminal (span $span s, $ms ms)"
# the last progress line is overwritten by blanks and the cursor returns
tr -d '\n' < typescript | grep -q $'\r *\r' || fail "progress line not erased"

# a short run shows nothing even on a terminal
rm a.out
printf '0 0\n0.001 1\n' > a.in
script -qefc "\"$bin\" > short.out" short.ts > /dev/null
! grep -q "% of the span" short.ts || fail "progress shown for a short run"
printf '\r\n 0.0000000e+000 0.0000000e+000' | cmp -n 32 - a.out || fail "a.out of the short run"
echo "progress: ok (span $span s)"
