#!/bin/bash
# Runs the end-to-end tests of Sorter.exe under Xvfb, inside a Wine virtual desktop.
#
#   run_gui_tests.sh <Sorter.exe> <sorter_gui_test.exe> <Corvane.dll> <work folder> [gtest args]
#
# The library is registered for the machine in the build folder's Wine prefix (the one
# cmake/wine-run.sh uses; Wine's class lookup does not consult per-user registrations), each test gets its own program folder under <work folder>, and the
# test program's output is printed here. Exits 0 only when every test passed.
set -u
here=$(cd -- "$(dirname -- "$0")" && pwd)
runner="$here/../../../cmake/wine-run.sh"
sorter=$(readlink -f -- "$1")
driver=$(readlink -f -- "$2")
dll=$3
work=$(readlink -m -- "$4")
shift 4

winpath() { printf 'Z:%s' "${1//\//\\}"; }

for tool in xvfb-run Xvfb; do
  command -v "$tool" >/dev/null || { echo "run_gui_tests.sh: $tool missing (apt-get install xvfb)" >&2; exit 2; }
done

rm -rf -- "$work" && mkdir -p -- "$work" || exit 2
"$runner" --init || exit 2
if [[ -n "$dll" ]]; then
  WINE_TIMEOUT=120 "$runner" regsvr32 /s "$(winpath "$(readlink -f -- "$dll")")" ||
    { echo "run_gui_tests.sh: registering $dll failed" >&2; exit 1; }
fi

out="$work/gui-test-output.txt"
export SORTER_GUI_EXE SORTER_GUI_WORK SORTER_GUI_OUT
SORTER_GUI_EXE=$(winpath "$sorter")
SORTER_GUI_WORK=$(winpath "$work")
SORTER_GUI_OUT=$(winpath "$out")

# The virtual desktop keeps window closing fast and gives the program a notification area.
run_driver() {
  rm -f -- "$out"
  WINE_TIMEOUT=${SORTER_GUI_TIMEOUT:-420} xvfb-run -a -s "-screen 0 1024x768x24" \
    "$runner" explorer /desktop=sortertest,1024x768 "$(winpath "$driver")" "$@"
  local status=$?
  cat -- "$out" 2>/dev/null || { echo "run_gui_tests.sh: no test output (wine status $status)" >&2; return 1; }
  grep -q '^\[  PASSED  \]' "$out" && ! grep -q '^\[  FAILED  \]' "$out"
}

# A failed run gets one more whole run, as the wine64 tests get a second attempt, against a
# loaded machine's stray delays. The report of the last run is the one counted.
run_driver "$@" || { echo "run_gui_tests.sh: the run failed; running it once more" >&2; run_driver "$@"; }
