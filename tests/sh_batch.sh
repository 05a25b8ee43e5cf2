#!/usr/bin/env bash
# The batch recipe of README.md, run as the README prints it, on the two
# examples: every result must be the a.out and console of a direct run, byte
# for byte, with the known record counts. A second batch with an input that
# the program refuses checks that the failure is reported and leaves no
# result behind.
#
#   bash tests/sh_batch.sh <path of lindrel> <source dir>
set -euo pipefail
export LC_ALL=C

bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
src=$(cd "$2" && pwd)
[ -x "$bin" ] || { echo "not an executable: $bin"; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The recipe is the sh block that follows the marker line in README.md, so
# the text a reader copies is the text tested here.
recipe=$(awk '/^<!-- batch recipe/ { m = 1; next }
              m == 1 && /^```sh$/ { m = 2; next }
              m == 2 && /^```$/ { exit }
              m == 2 { print }' "$src/README.md")
[ -n "$recipe" ] || { echo "README.md has no batch recipe block"; exit 1; }

# The recipe calls lindrel by name, as an installed program would be.
mkdir "$tmp/bin"
ln -s "$bin" "$tmp/bin/lindrel"
export PATH="$tmp/bin:$PATH"

fail=0
bad() { echo "FAIL: $*"; fail=1; }
records() { tr -cd '\n' <"$1" | wc -c; }

# --- the two examples ---
declare -A want=([northridge1994_la116th_ch1_uneven]=1199961 [kaikoura2016_wtmc_n28w_dt0.005]=6553502)
mkdir -p "$tmp/batch/records"
for n in "${!want[@]}"; do cp "$src/examples/$n.txt" "$tmp/batch/records/"; done

# The direct runs, with the same argument so that even the console must be
# the same, go on beside the batch: the examples make 250 MB of records, and
# a sanitizer build is slow.
pids=()
for n in "${!want[@]}"; do
    mkdir "$tmp/direct-$n"
    (cd "$tmp/direct-$n" && st=0 && { lindrel "$tmp/batch/records/$n.txt" >console.txt || st=$?; } &&
        echo "$st" >status) &
    pids+=($!)
done

status=0
(cd "$tmp/batch" && sh -c "$recipe") || status=$?
[ "$status" = 0 ] || bad "the batch exited with status $status"
wait "${pids[@]}"

expect=$(for n in "${!want[@]}"; do echo "$n.log"; echo "$n.out"; done | sort)
got=$(ls -A "$tmp/batch/out" | sort)
[ "$got" = "$expect" ] || bad "out/ holds: $(echo $got), expected: $(echo $expect)"

for n in "${!want[@]}"; do
    [ "$(cat "$tmp/direct-$n/status")" = 0 ] ||
        bad "$n: the direct run exited with status $(cat "$tmp/direct-$n/status")"
    r=$tmp/batch/out/$n
    [ -f "$r.out" ] || { bad "$n: no out/$n.out"; continue; }
    cmp "$r.out" "$tmp/direct-$n/a.out" || bad "$n: out/$n.out differs from a direct run's a.out"
    cmp "$r.log" "$tmp/direct-$n/console.txt" || bad "$n: out/$n.log differs from a direct run's console"
    c=$(records "$r.out")
    [ "$c" = "${want[$n]}" ] || bad "$n: $c records, expected ${want[$n]}"
    rm -rf "$tmp/direct-$n"
done
rm -rf "$tmp/batch"

# --- a refused input among good ones ---
# An infinite last time is refused with status 1: the batch must say which
# input failed, exit non-zero, keep that input's console, and still collect
# the others.
mkdir -p "$tmp/batch2/records"
printf '0 0\n1e999 1\n' >"$tmp/batch2/records/endless.txt"
printf '0 0\n0.0003 3\n' >"$tmp/batch2/records/short.txt"
status=0
(cd "$tmp/batch2" && sh -c "$recipe") 2>"$tmp/err" || status=$?
[ "$status" != 0 ] || bad "a batch with a refused input exited with status 0"
grep -q "endless.txt" "$tmp/err" || bad "the batch did not name the refused input: $(cat "$tmp/err")"
[ ! -e "$tmp/batch2/out/endless.out" ] || bad "the refused input left out/endless.out"
left=$(find "$tmp/batch2/out" -name console.txt -path '*endless*')
[ -n "$left" ] && grep -q "Time span out of range" "$left" ||
    bad "the refused input's console was not kept in its working directory"
[ -f "$tmp/batch2/out/short.out" ] && [ "$(records "$tmp/batch2/out/short.out")" = 7 ] ||
    bad "the good input of a failing batch was not collected"

[ "$fail" = 0 ] && echo "batch recipe: all checks passed"
exit "$fail"
