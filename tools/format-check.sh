#!/bin/sh
# Fails, naming the files, when a C++ source differs from what the committed .clang-format makes
# of it. Usage: tools/format-check.sh [repo root]
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root" || exit 1
if ! command -v clang-format >/dev/null 2>&1; then
  echo "format-check: clang-format is not installed" >&2
  exit 1
fi
files=$(git ls-files '*.cpp' '*.h')
bad=$(clang-format --dry-run $files 2>&1 | grep -o '^[^:]*:[0-9]*:[0-9]*: warning' | cut -d: -f1 | sort -u)
if [ -n "$bad" ]; then
  echo "format-check: these files are not formatted (run clang-format -i on them):"
  echo "$bad"
  exit 1
fi
echo "format-check: $(echo "$files" | wc -w) files formatted"
