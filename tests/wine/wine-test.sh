#!/usr/bin/env bash
# Runs dormex.exe under Wine in a prefix and home of its own.
#   wine-test.sh <dormex.exe> help   "/?" prints the help text exactly and exits 0
#   wine-test.sh <dormex.exe> live   a run on the live (Wine) machine identifies it
#   wine-test.sh <dormex.exe> trace  with a rule file for Wine's processor, the live run
#                                    reaches the power trace, which Wine cannot replay
#   wine-test.sh <dormex.exe> replay [<linux dormex>]
#                                    replays the sample machine end to end; given the
#                                    Linux build, its report and log must be the same
#   wine-test.sh <dormex.exe> record [<linux dormex>]
#                                    the trace run with DORMEX_RECORD writes a snapshot;
#                                    given the Linux build, replaying it there logs the
#                                    same lines and ends with the same exit status
#   wine-test.sh <dormex.exe> interrupt
#                                    Ctrl+C (SIGINT, which Wine turns into a console
#                                    event) during the live run's capture: the run ends
#                                    as interrupted, cleans up and writes its results
#   wine-test.sh <dormex.exe> two-runs
#                                    a second run while the first captures says so and
#                                    leaves the first alone, which goes on to its end
#   wine-test.sh <dormex.exe> codepage <dormex.exe without the UTF-8 code page>
#                                    from a folder named with non-ASCII letters, the run
#                                    replays and writes its results there; the build that
#                                    runs in the ANSI code page (Windows before 1903)
#                                    refuses to run there, and runs from an ASCII folder
#   wine-test.sh <zip> package       the package users download, unpacked into a fresh
#                                    folder: its files are there, the third-party notices
#                                    name every part with its copyright holder, each
#                                    executable's version information has its copyright
#                                    and, with DORMEX_TEST_SIGN_CA set (scripts/test.sh
#                                    sets it), a signature that verifies against that
#                                    certificate; its dormex.exe, started from an
#                                    empty folder, shows the help and replays the sample
#                                    with the rules beside it, and its dormex-diff.exe
#                                    compares the results
set -euo pipefail
exe=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
mode=$2
rules_dir=$(cd "$(dirname "$0")/../../rules_for_soc" && pwd)

work=$(mktemp -d)
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
export WINEPREFIX="$work/prefix" HOME="$work/home" WINEDEBUG=-all
unset DORMEX_MACHINE DISPLAY
mkdir -p "$HOME" "$work/cwd"
cd "$work/cwd"

# Runs dormex.exe; $status is its exit status (124 when it ran out of time).
run() {
  status=0
  timeout 180 wine "$exe" "$@" < /dev/null > "$work/out" 2> "$work/err" || status=$?
  tr -d '\r' < "$work/out" > "$work/out.txt"
  tr -d '\r' < "$work/err" > "$work/err.txt"
  [ "$status" -ne 124 ] || { cat "$work/err"; fail "dormex.exe did not end in time"; }
}

# Starts dormex.exe in the background ($first_pid), its output in first.out.
start_run() {
  timeout 180 wine "$exe" "$@" < /dev/null > "$work/first.out" 2> "$work/first.err" &
  first_pid=$!
}

# Waits for the background run; $first_status is its exit status.
finish_run() {
  first_status=0
  wait "$first_pid" || first_status=$?
  tr -d '\r' < "$work/first.out" > "$work/out.txt"
}

# Waits until the debug log at $log holds a line, then a moment more.
wait_for_log_line() {
  for _ in $(seq 600); do
    [ -f "$log" ] && grep -qF "$1" "$log" && { sleep "${2:-0}"; return 0; }
    sleep 0.1
  done
  fail "the debug log never showed \"$1\""
}

fail() {
  echo "FAILED: $*"
  echo "--- console:"; cat "$work/out.txt"
  [ -n "${log:-}" ] && { echo "--- debug log:"; cat "$log"; }
  exit 1
}

expect_help() {
  run "/?"
  [ "$status" -eq 0 ] || fail "exit status $status"
  printf '\nTo use Dormex you can run without any options. \nAlthough, there are some options for running specific modes.\n\n\tARGUMENTS: \n\t\t /?: dumps help information.\n Press ANY key to continue..' > "$work/expected"
  cmp -s "$work/expected" "$work/out.txt" || fail "help text differs"
}

# Replays the sample machine with the rule files in ./rules_for_soc.
replay_sample() {
  DORMEX_MACHINE=$(winepath -w "$rules_dir/../machines/sample.json" 2>/dev/null)
  export DORMEX_MACHINE
  run
  unset DORMEX_MACHINE
  [ "$status" -eq 0 ] || fail "exit status $status"
  report=$(find "$HOME" "$WINEPREFIX/drive_c/users" -name VQT-Report.html 2>/dev/null | head -n 1)
  log=$(find "$HOME" "$WINEPREFIX/drive_c/users" -name VQT-Debug-Log.txt 2>/dev/null | head -n 1)
  [ -n "$report" ] || fail "no report written"
  grep -q 'Found <span style="color:red">10</span> issue(s)' "$report" || fail "the report lacks the findings"
}

# Puts a rule file for Wine's own processor into ./rules_for_soc, so that a
# live run gets as far as the power trace.
rules_for_wine() {
  run
  log=$(find "$HOME" "$WINEPREFIX/drive_c/users" -name VQT-Debug-Log.txt 2>/dev/null | head -n 1)
  [ -n "$log" ] || fail "no debug log written"
  family=$(tr -d '\r' < "$log" | sed -n 's/^INFORMATION:: CPU Family Name: //p')
  model=$(tr -d '\r' < "$log" | sed -n 's/^INFORMATION:: CPU Model: //p')
  mkdir -p rules_for_soc
  cp "$rules_dir/Family_6_Model_138_Microsoft_Windows_10.xml" \
     "rules_for_soc/Family_${family}_Model_${model}_Microsoft_Windows_10.xml"
}

# The debug log with the profile folder it names replaced by PROFILE.
profile_free_log() {
  local profile
  profile=$(tr -d '\r' < "$1" | sed -n 's/^INFORMATION:: User Profile: //p')
  tr -d '\r' < "$1" | sed "s|$(printf '%s' "$profile" | sed 's/[\\&|]/\\&/g')|PROFILE|g"
}

case "$mode" in
  help)
    expect_help
    ;;
  live)
    run
    [ "$status" -eq 0 ] || fail "exit status $status"
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
  trace)
    rules_for_wine
    run
    [ "$status" -ne 0 ] || fail "exit status 0 after a failed trace"
    grep -qF 'Running checks...' "$work/out.txt" || fail "the run did not reach the checks"
    grep -qF 'Something went wrong. Please restart application.' "$work/out.txt" ||
      fail "no trace stop message"
    grep -qE '^Exit Error code: [1-9][0-9]*$' "$work/out.txt" || fail "no non-zero exit code"
    grep -qF 'ERROR:: OpenTrace failed. :: Error code: ' "$log" || fail "no OpenTrace line"
    ;;
  record)
    rules_for_wine
    DORMEX_RECORD=$(winepath -w "$work/recording.json" 2>/dev/null) run
    [ -s "$work/recording.json" ] || fail "no recording written"
    grep -qF "dormex: recorded the machine in " "$work/err" || fail "no line naming the recording"
    grep -qF '"format": "dormex-machine/1"' "$work/recording.json" || fail "not a machine snapshot"
    linux=${3:-}
    if [ -n "$linux" ]; then
      mkdir -p "$work/linux/profile/Desktop"
      cp -r rules_for_soc "$work/linux/rules_for_soc"
      linux_status=0
      (cd "$work/linux" && DORMEX_MACHINE="$work/recording.json" USERPROFILE="$work/linux/profile" \
        "$linux" < /dev/null > /dev/null 2>&1) || linux_status=$?
      [ "$linux_status" -eq "$status" ] || fail "the replay ends with $linux_status, the live run with $status"
      profile_free_log "$log" > "$work/windows.log"
      profile_free_log "$work/linux/profile/Desktop/VQT-Debug-Log.txt" > "$work/linux.log"
      cmp -s "$work/windows.log" "$work/linux.log" ||
        { diff "$work/windows.log" "$work/linux.log" | head -20; fail "the replay's debug log differs"; }
    fi
    ;;
  interrupt)
    rules_for_wine
    rm -f "$log"
    DORMEX_RESULTS=$(winepath -w "$work/results.json" 2>/dev/null) start_run
    # Identified: the capture's five seconds begin.
    wait_for_log_line "INFORMATION:: User Profile: " 1.5
    kill -INT "$first_pid"
    finish_run
    [ "$first_status" -eq $((1223 % 256)) ] || fail "exit status $first_status"
    grep -qx 'Exit Error code: 1223' "$work/out.txt" || fail "no exit code line"
    grep -qF 'USER_INFO:: The run was interrupted (Ctrl+C, Ctrl+Break or the console window closed); no report was written. :: Error code: 1223' "$log" ||
      fail "the debug log lacks the interruption"
    tail -n 1 "$log" | grep -qF 'Exiting Application' || fail "the debug log does not end"
    grep -qF '"stop": "interrupted"' "$work/results.json" 2>/dev/null || fail "no interrupted results"
    left=$(find "$HOME" "$WINEPREFIX/drive_c/users" \( -name VQTSystemTrace.etl -o -name VQT_Device_file.txt \) 2>/dev/null)
    [ -z "$left" ] || fail "left behind: $left"
    ;;
  two-runs)
    rules_for_wine
    rm -f "$log"
    start_run
    wait_for_log_line "INFORMATION:: User Profile: "
    # Held in its capture while the second runs, however slowly Wine starts.
    first_wine=$(pgrep -P "$first_pid")
    kill -STOP "$first_wine"
    run
    kill -CONT "$first_wine"
    [ "$status" -eq 170 ] || fail "the second run's exit status is $status"
    grep -qx 'dormex: another Dormex run is in progress on this machine; wait for it to end, then run again' "$work/err.txt" ||
      { cat "$work/err"; fail "the second run does not say why it stops"; }
    [ ! -s "$work/out.txt" ] || fail "the second run wrote to the console"
    finish_run
    grep -qF 'ERROR:: OpenTrace failed.' "$log" || fail "the first run did not reach its trace"
    tail -n 1 "$log" | grep -qF 'Exiting Application' || fail "the first run's log does not end"
    [ "$(grep -c 'Debug File Initialized' "$log")" -eq 1 ] || fail "the second run wrote into the first one's log"
    ;;
  codepage)
    mkdir -p "$work/Jösé" && cd "$work/Jösé"
    cp -r "$rules_dir" rules_for_soc
    DORMEX_RESULTS=$(winepath -w "$work/Jösé/results.json" 2>/dev/null)
    export DORMEX_RESULTS
    replay_sample
    grep -qF '"result": "completed"' "$work/Jösé/results.json" || fail "no results beside the rules"
    unset DORMEX_RESULTS
    rm -f "$report" "$log"
    exe=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")
    DORMEX_MACHINE=$(winepath -w "$rules_dir/../machines/sample.json" 2>/dev/null) run
    [ "$status" -eq $((1113 % 256)) ] || fail "the ANSI build's exit status is $status"
    grep -qx 'dormex: the current folder has characters outside ASCII, and Windows runs programs here in code page 1252, not UTF-8 (Windows 10 before version 1903, or a dormex.exe without its manifest): run Dormex on Windows 10 version 1903 or later, or from folders with ASCII names' "$work/err.txt" ||
      { cat "$work/err"; fail "the ANSI build does not say why it stops"; }
    [ -z "$(find "$HOME" "$WINEPREFIX/drive_c/users" -name VQT-Debug-Log.txt 2>/dev/null)" ] ||
      fail "the ANSI build wrote a debug log"
    cd "$work/cwd"
    cp -r "$rules_dir" rules_for_soc
    replay_sample
    ;;
  package)
    cmake -E tar xf "$exe"
    folder="$work/cwd/$(basename "$exe" .zip)"
    : > "$work/out.txt"
    executables="dormex.exe dormex-rules-check.exe dormex-diff.exe dormex-lab.exe"
    for file in $executables README.txt THIRD-PARTY-NOTICES.txt; do
      [ -f "$folder/$file" ] || fail "the package lacks $file"
    done
    for rules in "$rules_dir"/*.xml; do
      [ -f "$folder/rules_for_soc/$(basename "$rules")" ] || fail "the package lacks $(basename "$rules")"
    done
    # Each part's heading, then its copyright holder in the paragraphs taken
    # from its copyright file; Windows line ends throughout.
    notices="$folder/THIRD-PARTY-NOTICES.txt"
    ! grep -qv $'\r$' "$notices" || fail "THIRD-PARTY-NOTICES.txt has lines without CRLF"
    while IFS='|' read -r part holder; do
      tr -d '\r' < "$notices" | awk -v part="$part" -v holder="$holder" '
        /^-+$/ && length($0) == length(previous) { section = previous }
        section == part && index($0, holder) { found = 1 }
        { previous = $0 }
        END { exit !found }' || fail "THIRD-PARTY-NOTICES.txt: no $part with \"$holder\""
    done <<'PARTS'
PCRE2|University of Cambridge
tinyxml2|Lee Thomason
nlohmann/json|Niels Lohmann
mingw-w64 runtime (C runtime, winpthreads)|the mingw-w64 project
PARTS
    for file in $executables; do
      x86_64-w64-mingw32-windres -i "$folder/$file" -O rc 2> /dev/null |
        grep -F 'VALUE "LegalCopyright", "Copyright (C) 2026 Corva"' > /dev/null ||
        fail "$file: the version information lacks LegalCopyright"
      if [ -n "${DORMEX_TEST_SIGN_CA:-}" ]; then
        osslsigncode verify -CAfile "$DORMEX_TEST_SIGN_CA" -in "$folder/$file" > "$work/verify" 2>&1 ||
          { cat "$work/verify"; fail "$file: no signature that verifies against $DORMEX_TEST_SIGN_CA"; }
      fi
    done
    # Started as from a fresh administrator's prompt: the current folder
    # (System32 there) has no rules_for_soc, the rules beside the program are
    # used.
    mkdir -p "$work/system32" && cd "$work/system32"
    exe="$folder/dormex.exe"
    expect_help
    DORMEX_RESULTS=$(winepath -w "$work/results.json" 2>/dev/null)
    export DORMEX_RESULTS
    replay_sample
    unset DORMEX_RESULTS
    rule_folder="INFORMATION:: Rule folder: $(winepath -w "$folder" 2>/dev/null)\\rules_for_soc (beside the program; the current folder has none)"
    # grep -q would end the pipe early, and pipefail count tr's broken pipe.
    tr -d '\r' < "$log" | grep -xF "$rule_folder" > /dev/null ||
      fail "the debug log does not name the rule folder beside the program"
    [ -z "$(ls -A "$work/system32")" ] || fail "the run wrote into the current folder"
    exe="$folder/dormex-diff.exe"
    run "$(winepath -w "$work/results.json" 2>/dev/null)" "$(winepath -w "$work/results.json" 2>/dev/null)"
    [ "$status" -eq 0 ] || { cat "$work/err"; fail "dormex-diff.exe exits with $status"; }
    head -n 1 "$work/out.txt" | grep -qx "0 new, 0 fixed, 10 unchanged" ||
      fail "dormex-diff.exe does not find the run unchanged"
    # The lab, from the same prompt, with the rules beside it: the sample's
    # capture gives the same findings as the run above.
    exe="$folder/dormex-lab.exe"
    run run "$(winepath -w "$rules_dir/../machines/sample.json" 2>/dev/null)" --out "$(winepath -w "$work/lab" 2>/dev/null)"
    [ "$status" -eq 0 ] || { cat "$work/out.txt" "$work/err"; fail "dormex-lab.exe exits with $status"; }
    exe="$folder/dormex-diff.exe"
    run "$(winepath -w "$work/results.json" 2>/dev/null)" "$(winepath -w "$work/lab/sample.json/dormex-results.json" 2>/dev/null)"
    head -n 1 "$work/out.txt" | grep -qx "0 new, 0 fixed, 10 unchanged" ||
      fail "dormex-lab.exe's results differ from dormex.exe's"
    # A packet for each owner of the run's findings, under Windows names.
    exe="$folder/dormex-lab.exe"
    run packets "$(winepath -w "$work/results.json" 2>/dev/null)" --out "$(winepath -w "$work/packets" 2>/dev/null)"
    [ "$status" -eq 0 ] && [ -f "$work/packets/BIOS.md" ] && [ -f "$work/packets/driver-Zephlink-Semiconductor.md" ] ||
      { cat "$work/out.txt" "$work/err"; fail "dormex-lab.exe packets does not write a packet per owner"; }
    ;;
  replay)
    cp -r "$rules_dir" rules_for_soc
    replay_sample
    linux=${3:-}
    if [ -n "$linux" ]; then
      mkdir -p "$work/linux/profile/Desktop"
      cp -r "$rules_dir" "$work/linux/rules_for_soc"
      (cd "$work/linux" && env -u DORMEX_MACHINE USERPROFILE="$work/linux/profile" "$linux" < /dev/null > /dev/null 2>&1)
      cmp -s "$report" "$work/linux/profile/Desktop/VQT-Report.html" ||
        fail "the report differs from the Linux build's"
      profile_free_log "$log" > "$work/windows.log"
      profile_free_log "$work/linux/profile/Desktop/VQT-Debug-Log.txt" > "$work/linux.log"
      cmp -s "$work/windows.log" "$work/linux.log" ||
        { diff "$work/windows.log" "$work/linux.log" | head -20; fail "the debug log differs from the Linux build's"; }
    fi
    ;;
  *)
    echo "unknown mode $mode"; exit 2 ;;
esac
echo "dormex.exe under Wine: $mode passed"
