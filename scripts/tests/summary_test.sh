#!/bin/bash
# Checks how scripts/test reads CTest's verbose output of the Wine run: gtest cases counted from
# gtest's own summaries, other tests by CTest's verdict, crashes and repeated output handled.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../test"

failures=0
expect() {
  local what=$1 want=$2 got=$3
  if [[ "$got" != "$want" ]]; then
    echo "FAIL: $what: want '$want', got '$got'"
    failures=$((failures + 1))
  else
    echo "ok: $what"
  fi
}

log=$(mktemp)
trap 'rm -f "$log"' EXIT

# All passing: two gtest programs, one corpus replay.
cat >"$log" <<'LOG'
1: [==========] Running 3 tests from 1 test suite.
1: [  PASSED  ] 3 tests.
 1/3 Test  #1: platform_tests ...................   Passed    0.32 sec
2: [==========] Running 1 test from 1 test suite.
2: [  PASSED  ] 1 test.
 2/3 Test  #2: model_tests ......................   Passed    0.10 sec
3: replay: 7 inputs
 3/3 Test  #3: fuzz_email_msg ...................   Passed    0.11 sec
100% tests passed, 0 tests failed out of 3
LOG
expect "all pass" "4 0 2 1 1" "$(count_wine_results "$log")"

# One failed case, its output repeated without prefixes by --output-on-failure (not counted
# twice), a program that crashed before its summary, and a failing script test.
cat >"$log" <<'LOG'
1: [==========] Running 3 tests from 1 test suite.
1: [  FAILED  ] Probe.Fails (0 ms)
1: [  PASSED  ] 2 tests.
1: [  FAILED  ] 1 test, listed below:
1: [  FAILED  ] Probe.Fails
 1/4 Test  #1: platform_tests ...................***Failed    0.32 sec
[  PASSED  ] 2 tests.
[  FAILED  ] 1 test, listed below:
2: [==========] Running 5 tests from 2 test suites.
 2/4 Test  #2: com_tests ........................***Exception: SegFault  0.20 sec
3: RESULT passed=11 failed=1
 3/4 Test  #3: com_script_test ..................***Failed  Required regular expression not found.  1.20 sec
4: [==========] Running 2 tests from 1 test suite.
4: [  PASSED  ] 2 tests.
10/10 Test  #4: cli_tests ........................   Passed    0.10 sec
LOG
expect "failures" "4 2 3 0 1" "$(count_wine_results "$log")"

expect "no tests" "0 0 0 0 0" "$(count_wine_results /dev/null)"

expect "fmt_ms seconds" "3.4s" "$(fmt_ms 3456)"
expect "fmt_ms minutes" "2m05s" "$(fmt_ms 125400)"

echo "$((5 - failures)) passed, $failures failed"
((failures == 0))
