#!/usr/bin/env bash
# Runs one fuzz target for a bounded time, starting from its committed seed
# corpus; new inputs go to a scratch copy so the committed corpus stays as is.
set -eu
bin=$1 seeds=$2 secs=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus"
[ -d "$seeds" ] && cp -r "$seeds"/. "$work/corpus/" 2>/dev/null || true
cd "$work"
"$bin" -max_total_time="$secs" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 corpus
