#!/usr/bin/env bash
# Writes the sample machine's report with the built dormex, then checks it in
# headless Chromium.   run-browser-test.sh <dormex> <artifact folder>
set -euo pipefail
dormex=$1
artifacts=$2
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/profile/Desktop" "$artifacts"
cp -r "$root/rules_for_soc" "$work/rules_for_soc"
(cd "$work" && env -u DORMEX_MACHINE USERPROFILE="$work/profile" "$dormex" < /dev/null > "$work/console.txt" 2>&1)
cp "$work/profile/Desktop/VQT-Report.html" "$artifacts/VQT-Report.html"
node "$here/report-test.js" "$artifacts/VQT-Report.html" "$artifacts"
