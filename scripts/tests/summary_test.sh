#!/bin/bash
# Checks how scripts/test counts: CTest's JUnit report with each Windows test program's gtest
# report in place of its CTest verdict, check scripts' PASS and FAIL lines, crashes, timeouts and
# missing reports as failures; a tier's line and verdict; and how it picks tiers.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../test"

failures=0 checks=0
expect() {
  local what=$1 want=$2 got=$3
  checks=$((checks + 1))
  if [[ "$got" != "$want" ]]; then
    echo "FAIL: $what: want '$want', got '$got'"
    failures=$((failures + 1))
  else
    echo "ok: $what"
  fi
}
counted() { count "$@"; echo "$passed $failed $skipped $tests $programs"; }

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/gtest"

# A CTest run of the Windows tests: gtest programs (reports of their own, one with a failed and a
# skipped case, one whose process failed after a clean report), a program that crashed before
# writing its report, the script client with its PASS/FAIL lines, a plain test, a skipped one.
cat >"$dir/junit.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<testsuite name="(empty)" tests="7" failures="3" disabled="0" skipped="1" hostname="" time="9">
  <testcase name="platform_tests" classname="platform_tests" time="0.3" status="run">
    <system-out>[  PASSED  ] 3 tests.</system-out>
  </testcase>
  <testcase name="corvane_mail_tests" classname="corvane_mail_tests" time="0.3" status="fail">
    <failure message=""/><system-out>[  FAILED  ] 1 test, listed below:</system-out>
  </testcase>
  <testcase name="corvane_lesson_tests" classname="corvane_lesson_tests" time="0.3" status="fail">
    <failure message=""/><system-out>[  PASSED  ] 2 tests.</system-out>
  </testcase>
  <testcase name="corvane_com_tests" classname="corvane_com_tests" time="0.2" status="fail">
    <failure message=""/><system-out>[==========] Running 5 tests from 2 test suites.</system-out>
  </testcase>
  <testcase name="corvane_com_script_test" classname="corvane_com_script_test" time="1" status="fail">
    <failure message=""/><system-out>PASS creates the object
PASS SaveEmail&#13;
FAIL OpenEmail
RESULT passed=2 failed=1</system-out>
  </testcase>
  <testcase name="fuzz_email_msg" classname="fuzz_email_msg" time="0.1" status="run">
    <system-out>INFO: seed corpus: files: 7</system-out>
  </testcase>
  <testcase name="wine_runner_exit_code" classname="wine_runner_exit_code" time="0" status="notrun">
    <skipped message="Disabled"/><system-out></system-out>
  </testcase>
</testsuite>
XML
gtest_report() {  # gtest_report NAME RESULT... (ok, failed, skipped, disabled)
  local name=$1 result i=0
  shift
  {
    echo '<?xml version="1.0" encoding="UTF-8"?>'
    echo "<testsuites tests=\"$#\" name=\"AllTests\"><testsuite name=\"S\" tests=\"$#\">"
    for result in "$@"; do
      i=$((i + 1))
      case $result in
        ok) echo "<testcase name=\"T$i\" status=\"run\" result=\"completed\" classname=\"S\"/>" ;;
        failed) echo "<testcase name=\"T$i\" status=\"run\" result=\"completed\" classname=\"S\">
          <failure message=\"x.cpp:3&#x0A;Expected equality\" type=\"\"><![CDATA[x.cpp:3]]></failure></testcase>" ;;
        skipped) echo "<testcase name=\"T$i\" status=\"run\" result=\"skipped\" classname=\"S\">
          <skipped message=\"\"/></testcase>" ;;
        disabled) echo "<testcase name=\"DISABLED_T$i\" status=\"notrun\" result=\"suppressed\" classname=\"S\"/>" ;;
      esac
    done
    echo '</testsuite></testsuites>'
  } >"$dir/gtest/$name.xml"
}
gtest_report platform_tests ok ok ok
gtest_report corvane_mail_tests ok failed skipped disabled
gtest_report corvane_lesson_tests ok ok

# passed: 3 + 1 + 2 + 2 script checks + 1 fuzz replay; failed: 1 case, the lesson program's
# failed process, the crashed com program, 1 script check; skipped: 2 cases and 1 test.
expect "windows run, gtest reports" "9 4 3 7 3" "$(counted 0 "$dir/junit.xml" --gtest-dir "$dir/gtest")"
expect "windows run, no gtest reports" "4 4 1 7 0" "$(counted 0 "$dir/junit.xml")"
expect "a gtest report on its own" "1 1 2 0 0" \
  "$(counted 0 "$dir/gtest/corvane_mail_tests.xml")"

printf 'PASS installs\nFAIL removes: left /usr/bin/corvane\n  PASS indented is no check\nRESULT passed=1 failed=1\n' \
  >"$dir/check.log"
printf 'PASS a\nPASS b\n' >"$dir/check2.log"
expect "check logs summed" "3 1 0 0 0" "$(counted 1 "$dir/check.log" "$dir/check2.log")"
expect "a step that failed without a FAIL line" "2 1 0 0 0" "$(counted 124 "$dir/check2.log")"
: >"$dir/empty.log"
expect "an empty log of a clean step" "0 0 0 0 0" "$(counted 0 "$dir/empty.log")"
expect "a missing report fails" "0 1 0 0 0" "$(counted 0 "$dir/missing.xml" 2>/dev/null)"
expect "no reports" "0 0 0 0 0" "$(counted 0)"

# A tier's line and verdict from the last count; any failure fails the run.
CURRENT_TIER=com passed=3 failed=1 skipped=2
tier_result "com: %s checks passed"
CURRENT_TIER=gui
tier_failed "gui: build failed"
CURRENT_TIER=fuzz passed=2 failed=0 skipped=0
tier_result "fuzz: %s targets clean"
expect "tier lines" "com: 3/4 checks passed (2 skipped)|gui: build failed|fuzz: 2/2 targets clean" \
  "${TIER_LINE[com]}|${TIER_LINE[gui]}|${TIER_LINE[fuzz]}"
expect "tier verdicts and totals" "fail fail pass 5 2" \
  "${TIER_STATUS[com]} ${TIER_STATUS[gui]} ${TIER_STATUS[fuzz]} $TOTAL_PASSED $TOTAL_FAILED"

# The i686 smoke tier when apt cannot give it Wine's i386 packages: not run, with apt's reason,
# when the archive cannot supply them; failed on any other install failure. Nothing is built.
LOG_DIR=$dir STAGE_ROWS=()
build() { echo "built" >"$dir/built"; return 1; }
ensure_packages() { APT_REASON="E: Package 'wine32:i386' has no installation candidate"; return 2; }
CURRENT_TIER=windows32-smoke
tier_windows32-smoke
expect "tier not run for want of packages" \
  "skip|windows32-smoke: not run: E: Package 'wine32:i386' has no installation candidate|5 2 3" \
  "${TIER_STATUS[windows32-smoke]}|${TIER_LINE[windows32-smoke]}|$TOTAL_PASSED $TOTAL_FAILED $TOTAL_SKIPPED"
ensure_packages() { APT_REASON="E: Sub-process /usr/bin/dpkg returned an error code (1)"; return 1; }
tier_windows32-smoke
expect "tier failed when the install fails otherwise" \
  "fail|windows32-smoke: Wine's i386 packages could not be installed: E: Sub-process /usr/bin/dpkg returned an error code (1)|3|no build" \
  "${TIER_STATUS[windows32-smoke]}|${TIER_LINE[windows32-smoke]}|$TOTAL_FAILED|$([[ -e $dir/built ]] && echo built || echo no build)"

expect "chosen tiers keep their order" "windows64 com asan" \
  "$(select_tiers asan com windows64; echo "${TIERS[*]}")"
expect "every tier by default" "${ALL_TIERS[*]}" "$(select_tiers; echo "${TIERS[*]}")"
expect "an unknown tier stops the run" "2" "$( (select_tiers native nonsense) 2>/dev/null; echo $?)"

expect "fmt_ms seconds" "3.4s" "$(fmt_ms 3456)"
expect "fmt_ms minutes" "2m05s" "$(fmt_ms 125400)"

echo "$((checks - failures)) passed, $failures failed"
((failures == 0))
