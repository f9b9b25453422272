#!/usr/bin/env bash
# Builds and runs a test suite, installing what it needs first.
#   scripts/test.sh            the Linux build and every unit and end-to-end test
#   scripts/test.sh asan       the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   scripts/test.sh windows    the mingw-w64 cross build of dormex.exe and its runs under Wine
set -euo pipefail
cd "$(dirname "$0")/.."

suite=${1:-default}
jobs=$(nproc 2>/dev/null || echo 2)
case "$suite" in
  default|asan) scripts/install-deps.sh linux; preset=$suite ;;
  windows)      scripts/install-deps.sh windows; preset=windows-mingw ;;
  *) echo "usage: $0 [default|asan|windows]" >&2; exit 1 ;;
esac

cmake --preset "$preset"
cmake --build --preset "$preset" -j "$jobs"
ctest --preset "$preset" -j "$jobs"
