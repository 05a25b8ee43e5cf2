#!/usr/bin/env bash
# Speed and memory of lindrel beside a plain fscanf/fprintf program doing the
# same job (bench/baseline.c). Reports figures and ratios; it never fails on
# a slow result.
#
#   bench/run.sh [-n RUNS] [WORKLOAD...]
#
# Workloads: W1 W2 W3 numpy kaikoura (default: all).
#   W1        5,000,000 samples, uneven steps of 0.05 to 0.15 ms (500 s)
#   W2        1,001 samples, 0.6 s apart: 600 s, 12,000,002 records out
#   W3        2,000,000 samples exactly on the 20 kHz grid, "%.17g" text
#   numpy     2,000,000 samples, uneven steps of 0.05 to 0.15 ms, "%.18e"
#             text as numpy.savetxt writes it by default (19 digits)
#   kaikoura  the measured 200 Hz accelerogram, 65,536 samples over 327 s
# RUNS (default 5, or $BENCH_RUNS) runs of each program, alternating.
# LINDREL=/path/to/lindrel skips the build and times that binary.
#
# Each run gets a fresh scratch directory under bench/out/, holding the
# input as a symbolic link a.in, so a.out lands there; the directory goes
# as soon as the run is measured, so at most one a.out is on disk.
# Wall time is taken around the process, peak memory (max RSS) from
# /usr/bin/time; records are the line feeds in a.out.

set -euo pipefail
export LC_ALL=C

root=$(cd "$(dirname "$0")/.." && pwd)
bench=$root/bench
build=$root/build-bench
work=$bench/work
out=$bench/out

runs=${BENCH_RUNS:-5}
sel=()
while [ $# -gt 0 ]; do
    case $1 in
    -n) runs=$2; shift 2 ;;
    -n*) runs=${1#-n}; shift ;;
    -h | --help) sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    W1 | W2 | W3 | numpy | kaikoura) sel+=("$1"); shift ;;
    *) echo "run.sh: unknown argument $1 (try -h)" >&2; exit 2 ;;
    esac
done
case $runs in '' | *[!0-9]* | 0) echo "run.sh: runs must be a positive number" >&2; exit 2 ;; esac
[ ${#sel[@]} -gt 0 ] || sel=(W1 W2 W3 numpy kaikoura)

# Byte sizes of the generated workloads; gen.cpp makes the same bytes on
# every machine, so a file of another size is stale or cut short.
declare -A size=([W1]=126523578 [W2]=18831 [W3]=75519854 [numpy]=101000340)

if [ ! -x /usr/bin/time ]; then
    echo "installing time (for peak memory)"
    apt-get install -y time >/dev/null 2>&1 || { apt-get update >/dev/null && apt-get install -y time >/dev/null; }
fi

# --- machine ---
cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)
mem=$(awk '/^MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
echo "machine: ${cpu:-unknown CPU}, $(nproc) cores, $mem"
echo "kernel:  $(uname -sr)"
echo "compilers: $(c++ --version | head -n1); $(cc --version | head -n1)"
echo "commit:  $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo none)"
echo "runs:    $runs per program, alternating"
echo

# --- build ---
mkdir -p "$build" "$work" "$out"
cflags=(-O2 -ffp-contract=off -Wall -Wextra)
if [ ! -x "$build/bench-baseline" ] || [ "$bench/baseline.c" -nt "$build/bench-baseline" ]; then
    cc "${cflags[@]}" -o "$build/bench-baseline" "$bench/baseline.c"
fi
if [ ! -x "$build/bench-gen" ] || [ "$bench/gen.cpp" -nt "$build/bench-gen" ]; then
    c++ -std=c++20 "${cflags[@]}" -o "$build/bench-gen" "$bench/gen.cpp"
fi
baseline=$build/bench-baseline

lindrel=${LINDREL:-}
if [ -z "$lindrel" ]; then
    echo "building lindrel (Release) in $build"
    if cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >"$build/cmake.log" 2>&1 &&
        cmake --build "$build" >>"$build/cmake.log" 2>&1 && [ -x "$build/lindrel" ]; then
        lindrel=$build/lindrel
    else
        tail -n 20 "$build/cmake.log" >&2
        echo "NOTE: lindrel did not build; timing the baseline alone" >&2
    fi
elif [ ! -x "$lindrel" ]; then
    echo "run.sh: LINDREL=$lindrel is not an executable" >&2
    exit 2
fi
echo

# --- workloads ---
input() { # name -> path of its input file, or nothing
    case $1 in
    kaikoura)
        local f=kaikoura2016_wtmc_n28w_dt0.005.txt
        for p in "$root/examples/$f" "$root/../shared/data/real/$f"; do
            [ -f "$p" ] && { echo "$p"; return 0; }
        done
        return 0 ;;
    *)
        local f=$work/$1.txt
        if [ ! -f "$f" ] || [ "$(stat -c %s "$f")" != "${size[$1]}" ]; then
            echo "generating $1" >&2
            "$build/bench-gen" "$1" "$f.tmp"
            mv "$f.tmp" "$f"
            [ "$(stat -c %s "$f")" = "${size[$1]}" ] ||
                echo "NOTE: $1 is $(stat -c %s "$f") bytes, not ${size[$1]}: update the table in run.sh" >&2
        fi
        echo "$f" ;;
    esac
}

scratch=
trap '[ -n "$scratch" ] && rm -rf "$scratch"' EXIT

# One timed run of program $1 on input $2; prints "seconds rss_kib records bytes".
run1() {
    scratch=$(mktemp -d "$out/run.XXXXXX")
    ln -s "$2" "$scratch/a.in"
    local t0 t1 rss rec=0 bytes=0
    # the previous run's output is still being written back to disk: let
    # that finish first, so no run pays for the one before it
    sync
    t0=$EPOCHREALTIME
    # The exit status of a completed lindrel run carries no meaning.
    (cd "$scratch" && /usr/bin/time -f %M -o .rss "$1" a.in >/dev/null 2>.err) || true
    t1=$EPOCHREALTIME
    rss=$(tail -n1 "$scratch/.rss")
    if [ -f "$scratch/a.out" ]; then
        rec=$(wc -l <"$scratch/a.out")
        bytes=$(stat -c %s "$scratch/a.out")
    else
        echo "NOTE: $(basename "$1") wrote no a.out: $(head -c 200 "$scratch/.err")" >&2
    fi
    rm -rf "$scratch"
    scratch=
    awk -v a="$t0" -v b="$t1" -v r="$rss" -v n="$rec" -v c="$bytes" \
        'BEGIN { printf "%.4f %d %d %d\n", b - a, r, n, c }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

progs=()
[ -n "$lindrel" ] && progs+=(lindrel)
progs+=(baseline)

for w in "${sel[@]}"; do
    f=$(input "$w")
    if [ -z "$f" ]; then
        echo "== $w: input not found, skipped"
        echo
        continue
    fi
    nin=$(wc -l <"$f")
    echo "== $w: $(basename "$f"), $nin lines, $(awk -v c="$(stat -L -c %s "$f")" 'BEGIN { if (c < 1e6) printf "%.1f kB", c / 1e3; else printf "%.1f MB", c / 1e6 }')"
    cat "$f" >/dev/null # into the page cache, so that no run reads the disk

    declare -A res=()
    for ((k = 0; k < runs; k++)); do
        # Swap the order every round, so neither program always runs first.
        order=("${progs[@]}")
        if ((k % 2)) && [ ${#progs[@]} -eq 2 ]; then order=("${progs[1]}" "${progs[0]}"); fi
        for p in "${order[@]}"; do
            if [ "$p" = lindrel ]; then bin=$lindrel; else bin=$baseline; fi
            res[$p]+="$(run1 "$bin" "$f")"$'\n'
        done
    done

    printf '%-9s %9s %9s %11s %9s %8s %9s\n' program "median s" "min s" records Mrec/s "MB/s" "RSS MiB"
    declare -A med=() cnt=()
    for p in "${progs[@]}"; do
        r=${res[$p]%$'\n'}
        med[$p]=$(awk '{ print $1 }' <<<"$r" | median)
        mn=$(awk '{ print $1 }' <<<"$r" | sort -g | head -n1)
        rss=$(awk '$2 > m { m = $2 } END { print m + 0 }' <<<"$r")
        nrec=$(awk 'NR == 1 { print $3 }' <<<"$r")
        nb=$(awk 'NR == 1 { print $4 }' <<<"$r")
        if [ "$(awk '{ print $3, $4 }' <<<"$r" | sort -u | wc -l)" -ne 1 ]; then
            echo "NOTE: $p wrote different outputs across runs" >&2
        fi
        awk -v p="$p" -v m="${med[$p]}" -v mn="$mn" -v n="$nrec" -v b="$nb" -v r="$rss" 'BEGIN {
            printf "%-9s %9.3f %9.3f %11d %9.2f %8.1f %9.1f\n", p, m, mn, n, n / m / 1e6, b / m / 1e6, r / 1024 }'
        cnt[$p]=$nrec
    done
    if [ -n "$lindrel" ]; then
        awk -v b="${med[baseline]}" -v l="${med[lindrel]}" \
            'BEGIN { printf "baseline/lindrel time: %.2f\n", b / l }'
        [ "${cnt[lindrel]}" = "${cnt[baseline]}" ] ||
            echo "NOTE: record counts differ: lindrel ${cnt[lindrel]}, baseline ${cnt[baseline]}"
    fi
    unset res med cnt
    echo
done
