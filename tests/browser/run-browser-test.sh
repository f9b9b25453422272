#!/usr/bin/env bash
# Writes the sample machine's report with the built dormex, and with
# dormex-synth when given the report of a 400-device synthetic machine, then
# checks them in headless Chromium.
#   run-browser-test.sh <dormex> <artifact folder> [<dormex-synth>]
set -euo pipefail
dormex=$1
artifacts=$2
synth=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/profile/Desktop" "$artifacts"
cp -r "$root/rules_for_soc" "$work/rules_for_soc"
(cd "$work" && env -u DORMEX_MACHINE USERPROFILE="$work/profile" "$dormex" < /dev/null > "$work/console.txt" 2>&1)
cp "$work/profile/Desktop/VQT-Report.html" "$artifacts/VQT-Report.html"

large=()
if [ -n "$synth" ]; then
  # 400 devices over 100 rules: an internal-state block of about 30,000 px.
  mkdir -p "$work/large/profile/Desktop"
  "$synth" 400 100 "$work/large"
  (cd "$work/large" && DORMEX_MACHINE="$work/large/machine.json" USERPROFILE="$work/large/profile" \
    "$dormex" < /dev/null > "$work/large/console.txt" 2>&1)
  cp "$work/large/profile/Desktop/VQT-Report.html" "$artifacts/VQT-Report-400-devices.html"
  large=("$artifacts/VQT-Report-400-devices.html")
fi
# With DORMEX_LAB, dormex-lab's HTML summary of the sample and of a copy with
# one problem code mended.
if [ -n "${DORMEX_LAB:-}" ]; then
  mkdir -p "$work/lab/captures"
  cp "$root/machines/sample.json" "$work/lab/captures/sample.json"
  python3 - "$root/machines/sample.json" "$work/lab/captures/mended.json" <<'PATCH'
import json, sys
snapshot = json.load(open(sys.argv[1]))
snapshot["devices"]["USB\\VID_2F4A&PID_0C11\\5&1A2B3C4D&0&1"]["ProblemCode"] = 0
json.dump(snapshot, open(sys.argv[2], "w"))
PATCH
  "$DORMEX_LAB" run "$work/lab/captures" --out "$work/lab/out" --rules "$root/rules_for_soc" > /dev/null
  "$DORMEX_LAB" summary "$work/lab/out" --format html -o "$artifacts/lab-summary.html"
  export LAB_SUMMARY="$artifacts/lab-summary.html"
  # dormex-lab show of the sample, and of a 2,000-device synthetic machine.
  (cd "$work" && env -u DORMEX_MACHINE USERPROFILE="$work/profile" \
    DORMEX_RESULTS="$work/sample-results.json" "$dormex" < /dev/null > /dev/null 2>&1)
  "$DORMEX_LAB" show "$work/sample-results.json" --format html -o "$artifacts/lab-show-sample.html"
  export LAB_SHOW_SAMPLE="$artifacts/lab-show-sample.html"
  if [ -n "$synth" ]; then
    mkdir -p "$work/huge/profile/Desktop"
    "$synth" 2000 500 "$work/huge" > /dev/null
    (cd "$work/huge" && DORMEX_MACHINE="$work/huge/machine.json" USERPROFILE="$work/huge/profile" \
      DORMEX_RESULTS="$work/huge/results.json" "$dormex" < /dev/null > /dev/null 2>&1)
    "$DORMEX_LAB" show "$work/huge/results.json" --format html -o "$artifacts/lab-show-2000.html"
    export LAB_SHOW_LARGE="$artifacts/lab-show-2000.html"
  fi
fi
node "$here/report-test.js" "$artifacts/VQT-Report.html" "$artifacts" "${large[@]}"
