#!/usr/bin/env bash
# Builds Dormex and runs it on the bundled sample machine, in a folder of its
# own under build/, then says where the report and the debug log are.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/install-deps.sh linux
cmake --preset default > /dev/null
# The programs the README uses after this one as well.
cmake --build --preset default --target dormex dormex-diff dormex-rules-check dormex-lab \
  -j "$(nproc 2>/dev/null || echo 2)"

run="$root/build/sample-run"
rm -rf "$run"
mkdir -p "$run/profile/Desktop"
ln -s "$root/rules_for_soc" "$run/rules_for_soc"
cd "$run"
status=0
USERPROFILE="$run/profile" "$root/build/default/dormex" "$@" || status=$?
echo
echo
echo "Report:    $run/profile/Desktop/VQT-Report.html"
echo "Debug log: $run/profile/Desktop/VQT-Debug-Log.txt"
exit $status
