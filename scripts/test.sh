#!/usr/bin/env bash
# Builds and runs the tests, installing what they need first.
#   scripts/test.sh all        everything below, as CI runs it
#   scripts/test.sh            the Linux build: unit and end-to-end tests
#   scripts/test.sh browser    the same, with the report checked in headless Chromium
#   scripts/test.sh asan       the suite under AddressSanitizer and UndefinedBehaviorSanitizer
#   scripts/test.sh windows    the mingw-w64 cross build: the unit tests, dormex.exe and the
#                              package zip, all run under Wine
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)

run_preset() {
  cmake --preset "$1" "${@:2}"
  cmake --build --preset "$1" -j "$jobs"
  ctest --preset "$1" -j "$jobs"
}

prepare_browser() {
  scripts/install-deps.sh browser
  (cd tests/browser && npm ci --no-audit --no-fund --loglevel=error)
}

suite=${1:-default}
case "$suite" in
  default)
    scripts/install-deps.sh linux
    run_preset default ;;
  browser)
    scripts/install-deps.sh linux
    prepare_browser
    run_preset default ;;
  asan)
    scripts/install-deps.sh linux
    run_preset asan ;;
  windows)
    scripts/install-deps.sh windows
    linux_exe=""
    [ -x build/default/dormex ] && linux_exe="$(pwd)/build/default/dormex"
    cmake --preset windows-mingw -DDORMEX_LINUX_EXE="$linux_exe"
    cmake --build --preset windows-mingw -j "$jobs"
    cmake --build --preset windows-mingw --target package
    ctest --preset windows-mingw -j "$jobs" ;;
  all)
    "$0" browser
    "$0" asan
    "$0" windows ;;
  *)
    echo "usage: $0 [all|default|browser|asan|windows]" >&2
    exit 1 ;;
esac
