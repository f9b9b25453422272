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
node "$here/report-test.js" "$artifacts/VQT-Report.html" "$artifacts" "${large[@]}"
