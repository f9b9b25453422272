#!/usr/bin/env bash
# Runs dormex.exe under Wine in a prefix and home of its own.
#   wine-test.sh <dormex.exe> help   "/?" prints the help text exactly and exits 0
#   wine-test.sh <dormex.exe> live   a run on the live (Wine) machine identifies it
set -euo pipefail
exe=$1
mode=$2

work=$(mktemp -d)
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
export WINEPREFIX="$work/prefix" HOME="$work/home" WINEDEBUG=-all
unset DORMEX_MACHINE DISPLAY
mkdir -p "$HOME" "$work/cwd"
cd "$work/cwd"

run() {
  timeout 180 wine "$exe" "$@" < /dev/null > "$work/out" 2> "$work/err" || {
    echo "dormex.exe exited with $?"; cat "$work/err"; exit 1; }
  tr -d '\r' < "$work/out" > "$work/out.txt"
}

fail() {
  echo "FAILED: $*"
  echo "--- console:"; cat "$work/out.txt"
  [ -n "${log:-}" ] && { echo "--- debug log:"; cat "$log"; }
  exit 1
}

case "$mode" in
  help)
    run "/?"
    printf '\nTo use Dormex you can run without any options. \nAlthough, there are some options for running specific modes.\n\n\tARGUMENTS: \n\t\t /?: dumps help information.\n Press ANY key to continue..' > "$work/expected"
    cmp -s "$work/expected" "$work/out.txt" || fail "help text differs"
    ;;
  live)
    run
    # Wine links the profile's Desktop folder to $HOME.
    log=$(find "$HOME" "$WINEPREFIX/drive_c/users" "$work/cwd" -name VQT-Debug-Log.txt 2>/dev/null | head -n 1)
    [ -n "$log" ] || fail "no debug log written"
    grep -q '^Debug file can be found at: C:\\users\\.*\\Desktop\\VQT-Debug-Log.txt$' "$work/out.txt" ||
      fail "no debug-file line"
    for line in "INFORMATION:: AoAc Bit: " "INFORMATION:: CPU Arch: " "INFORMATION:: CPU Family Name: " \
                "INFORMATION:: OsBuild: " "INFORMATION:: Bios Version: " "INFORMATION:: User Profile: C:\\users\\" \
                "INFORMATION:: ---------------------Exiting Application"; do
      grep -qF "$line" "$log" || fail "debug log lacks \"$line\""
    done
    grep -qF '"rules_for_soc" folder not found.  Please check installation.' "$work/out.txt" ||
      fail "no rule-folder message"
    ;;
  *)
    echo "unknown mode $mode"; exit 2 ;;
esac
echo "dormex.exe under Wine: $mode passed"
