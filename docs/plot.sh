#!/usr/bin/env bash
# Draws docs/resampled.png: the input samples of the Northridge example and
# the 20 kHz records that lindrel makes of them, over a short window where
# the input spacing changes between 4, 5 and 6 ms, so that each record can
# be seen to lie on the straight line between two samples.
#
#   bash docs/plot.sh [FROM TO]     window in seconds (default 2.320 2.355)
#
# Needs gnuplot (Debian: apt-get install gnuplot-nox); installs nothing.
# Uses $LINDREL if set, else build/lindrel, building it there if missing.
# The run happens in a scratch directory; only the PNG is written here.
set -euo pipefail
export LC_ALL=C

root=$(cd "$(dirname "$0")/.." && pwd)
from=${1:-2.320}
to=${2:-2.355}
input=$root/examples/northridge1994_la116th_ch1_uneven.txt
png=$root/docs/resampled.png

command -v gnuplot >/dev/null || {
    echo "plot.sh: gnuplot is missing (Debian: apt-get install gnuplot-nox)" >&2
    exit 1
}

lindrel=${LINDREL:-$root/build/lindrel}
if [ ! -x "$lindrel" ]; then
    echo "building lindrel in $root/build" >&2
    cmake -S "$root" -B "$root/build" >/dev/null
    cmake --build "$root/build" -j2 --target lindrel >/dev/null
    lindrel=$root/build/lindrel
fi
lindrel=$(cd "$(dirname "$lindrel")" && pwd)/$(basename "$lindrel")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && "$lindrel" "$input" >console.txt)

# The window's input samples and records, as plain two-column text. a.out
# has CR LF line ends and begins with an empty line.
awk -v a="$from" -v b="$to" '$1 >= a && $1 <= b' "$input" >"$work/in.dat"
tr -d '\r' <"$work/a.out" | awk -v a="$from" -v b="$to" 'NF == 2 && $1 + 0 >= a && $1 + 0 <= b' >"$work/out.dat"
nin=$(wc -l <"$work/in.dat")
nout=$(wc -l <"$work/out.dat")
[ "$nin" -ge 2 ] && [ "$nout" -ge 2 ] || {
    echo "plot.sh: the window $from to $to s holds $nin samples and $nout records" >&2
    exit 1
}

# the spacing of each pair of neighbouring samples, written under the pair
labels=$(awk 'NR > 1 { printf "set label \"%.0f ms\" at %.6f, graph 0.06 center tc rgb \"#d62728\"\n", ($1 - p) * 1000, (p + $1) / 2 } { p = $1 }' "$work/in.dat")

gnuplot <<EOF
set terminal pngcairo size 1200,640 font "DejaVu Sans,12" linewidth 1.2
set output "$png"
set title "Northridge 1994, LA 116th St. School, channel 1: $from to $to s"
set xlabel "time (s)"
set ylabel "amplitude (g/10)"
set xrange [$from:$to]
set format x "%.3f"
set xtics 0.005
set mxtics 5
set grid xtics mxtics ytics lc rgb "#dddddd" lw 0.8
set key below horizontal
set offsets 0, 0, graph 0.05, graph 0.16
$labels
plot "$work/out.dat" using 1:2 with linespoints lc rgb "#1f5fbf" lw 1 pt 7 ps 0.3 \
         title sprintf("resampled by lindrel, 20 kHz (%d records)", $nout), \
     "$work/in.dat" using 1:2 with points lc rgb "#d62728" pt 6 ps 2.2 lw 2 \
         title sprintf("input samples, uneven spacing (%d)", $nin)
EOF
echo "wrote $png: $nin input samples, $nout records from $from to $to s"
