#!/usr/bin/env bash
# `make bench`: the benchmarks, each printing its figures (nothing here passes or fails on time).
set -euo pipefail
build=${1:-build}
echo "== Tick timer: 60 ms for 30 s =="
"$build/bench/tick/bench_tick" 30
echo
echo "== Conversion: a 4 MB image as Intel HEX to .KVU, beside objcopy =="
"$build/bench/convert/bench_convert" 5
echo
echo "== Upload: milliseconds per record against rq410-sim, per tick and on request =="
"$build/bench/upload/bench_upload" 600
"$build/bench/upload/bench_upload" 600 --program-ms 5
echo
echo "== Production line: 1 to 32 units at once through kvuflash-cli =="
"$build/bench/line/bench_line" 300 1
