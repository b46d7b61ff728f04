#!/bin/sh
# Cross-compiles every core source for Windows (MinGW-w64, C++20), so that the Windows build
# cannot rot while we work on Linux. Usage: tools/mingw-check.sh [repo root]
# Exits 0 with a "skipped" line when the cross compiler is not installed.
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
# The core uses std::thread and std::mutex: with GCC 12 only the posix thread model of
# MinGW-w64 has them (the win32 model gained them in GCC 13), so prefer that variant.
if [ -z "$MINGW_CXX" ]; then
  if command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1; then
    MINGW_CXX=x86_64-w64-mingw32-g++-posix
  else
    MINGW_CXX=x86_64-w64-mingw32-g++
  fi
fi
cxx=$MINGW_CXX
if ! command -v "$cxx" >/dev/null 2>&1; then
  echo "mingw-check: skipped ($cxx not installed)"
  exit 0
fi
includes="-I$root"
# Generated headers (embedded resources) live in whichever build folder made them.
for gen in "$root"/build*/generated; do
  [ -d "$gen" ] && { includes="$includes -I$gen"; break; }
done
failed=0
count=0
for dir in components sequencer fileprep bootstrap form resources; do
  for src in "$root/$dir"/*.cpp; do
    [ -e "$src" ] || continue
    case "$src" in *_posix.cpp) continue ;; esac
    count=$((count + 1))
    if ! "$cxx" -std=c++20 -fsyntax-only -Wall -Wextra -Wpedantic -Wshadow $includes "$src"; then
      echo "mingw-check: FAILED ${src#$root/}"
      failed=$((failed + 1))
    fi
  done
done
echo "mingw-check: $count sources, $failed failed"
[ "$failed" -eq 0 ]
