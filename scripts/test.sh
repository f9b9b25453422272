#!/usr/bin/env bash
# Builds and runs the tests, installing what they need first.
#   scripts/test.sh all        everything below, as CI runs it
#   scripts/test.sh            the Linux build: unit and end-to-end tests
#   scripts/test.sh browser    the same, with the report checked in headless Chromium
#   scripts/test.sh asan       the suite under AddressSanitizer and UndefinedBehaviorSanitizer
#   scripts/test.sh windows    the mingw-w64 cross build: the unit tests, dormex.exe and the
#                              package zip (signed with a throwaway certificate), all run
#                              under Wine
#   scripts/test.sh fuzz       each libFuzzer harness in fuzz/ for a minute (FUZZ_SECONDS)
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)

run_preset() {
  cmake --preset "$1" "${@:2}"
  cmake --build --preset "$1" -j "$jobs"
  ctest --preset "$1" -j "$jobs"
}

# A self-signed code-signing certificate made for this run, with a password
# on its key: the package is signed with it the way a team signs with its own
# (packaging/windows/Sign.cmake), and the package test verifies the
# signatures against it (DORMEX_TEST_SIGN_CA).
make_throwaway_certificate() {
  local dir=$1
  rm -rf "$dir"
  mkdir -p "$dir"
  chmod 700 "$dir"
  export DORMEX_SIGN_CERT="$dir/certificate.pem" DORMEX_SIGN_KEY="$dir/key.pem" \
    DORMEX_SIGN_PASSWORD="throwaway-$RANDOM$RANDOM" DORMEX_TEST_SIGN_CA="$dir/certificate.pem"
  if ! openssl req -x509 -newkey rsa:2048 -sha256 -days 2 -subj "/O=Corva/CN=Dormex test signing" \
      -addext keyUsage=critical,digitalSignature -addext extendedKeyUsage=codeSigning \
      -addext basicConstraints=critical,CA:FALSE -passout env:DORMEX_SIGN_PASSWORD \
      -keyout "$DORMEX_SIGN_KEY" -out "$DORMEX_SIGN_CERT" 2> "$dir/openssl.log"; then
    cat "$dir/openssl.log" >&2
    return 1
  fi
}

prepare_browser() {
  scripts/install-deps.sh browser
  (cd tests/browser && npm ci --no-audit --no-fund --loglevel=error)
}

# Each harness on a copy of its seed corpus (the committed one does not
# grow), with a time limit per input and leak detection. Any crash, leak or
# time-out fails the suite; its input is kept in build/fuzz/runs/<name>/.
run_fuzzers() {
  local runs=build/fuzz/runs seconds=${FUZZ_SECONDS:-60} failed=0
  rm -rf "$runs"
  mkdir -p "$runs/tmp"
  for name in snapshot rules lpit trace devices run; do
    local dir="$runs/$name" options=()
    mkdir -p "$dir/corpus"
    cp fuzz/corpus/"$name"/* "$dir/corpus/"
    case "$name" in
      snapshot | run) options+=(-dict=fuzz/snapshot.dict) ;;
      rules) options+=(-dict=fuzz/rules.dict) ;;
    esac
    # One at a time: the cores are shared.
    if TMPDIR="$(pwd)/$runs/tmp" build/fuzz/fuzz/fuzz_"$name" "${options[@]}" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -detect_leaks=1 \
        -print_final_stats=1 -artifact_prefix="$dir/" "$dir/corpus" > "$dir/log" 2>&1; then
      echo "fuzz_$name: $(grep -E '^Done [0-9]+ runs' "$dir/log") $(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$dir/log" | tail -1)"
    else
      echo "fuzz_$name FAILED (the whole log: $dir/log)" >&2
      tail -n 60 "$dir/log" >&2
      failed=1
    fi
  done
  rm -rf "$runs/tmp"
  return $failed
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
    make_throwaway_certificate "$(pwd)/build/windows-mingw/test-signing"
    cmake --build --preset windows-mingw --target package
    ctest --preset windows-mingw -j "$jobs" ;;
  fuzz)
    scripts/install-deps.sh fuzz
    cmake --preset fuzz
    cmake --build --preset fuzz -j "$jobs"
    run_fuzzers ;;
  all)
    "$0" browser
    "$0" asan
    "$0" windows
    "$0" fuzz ;;
  *)
    echo "usage: $0 [all|default|browser|asan|windows|fuzz]" >&2
    exit 1 ;;
esac
