#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 60).
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"
CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKV_FUZZ=ON -DKV_SANITIZE=ON -DKV_BUILD_GUI=OFF -DKV_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target hex_reader_fuzz reply_wait_fuzz upload_file_fuzz
for target in hex_reader_fuzz reply_wait_fuzz upload_file_fuzz; do
  corpus="$build/corpus-$target"
  mkdir -p "$corpus"
  [ "$target" = hex_reader_fuzz ] && cp "$root/samples/demo-small.hex" "$corpus/" 2>/dev/null || true
  echo "== $target for $seconds s =="
  "$build/fuzz/$target" -max_total_time="$seconds" -max_len=4096 "$corpus"
done
