#!/bin/bash
# Runs the COM window test under Xvfb in a Wine virtual desktop and takes the screenshots it
# asks for (PNG, `import -window root`). The verdict comes from the test's XML report, since
# a program started by the desktop's explorer does not hand its exit code back; it is kept in
# <report.xml> when given.
#
#   run_gui_test.sh <wine-run.sh> <test.exe> <screenshot-dir> [<report.xml>]
set -u

# Inside the X server: run the test and serve its screenshot requests.
if [[ "${1:-}" == --inner ]]; then
  wine_run=$2 test_exe=$3 shots=$4 report=$5
  export CORVANE_SCREENSHOT_DIR="$shots"
  WINE_TIMEOUT=240 "$wine_run" explorer /desktop=corvane,1024x768 "$test_exe" \
    --gtest_output="xml:Z:${report//\//\\}" &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    for ready in "$shots"/*.ready; do
      [[ -e "$ready" ]] || continue
      name=$(basename "$ready" .ready)
      timeout 20 import -window root "$shots/$name.png" || echo "screenshot $name failed" >&2
      rm -f "$ready"; touch "$shots/$name.done"
    done
    sleep 0.2
  done
  wait "$pid"
  exit $?
fi

wine_run=$1 test_exe=$2 shots=$3 keep=${4:-}
report=$(mktemp --suffix=.xml) || exit 2
mkdir -p "$shots"
[[ -n $keep ]] && mkdir -p "$(dirname "$keep")" && rm -f "$keep"
rm -f "$shots"/*.ready "$shots"/*.done
timeout 300 xvfb-run -a -s "-screen 0 1024x768x24" \
  "$(readlink -f "$0")" --inner "$wine_run" "$test_exe" "$shots" "$report"
status=$?
rm -f "$shots"/*.done
if [[ ! -s "$report" ]]; then
  echo "run_gui_test.sh: no test report (exit $status)" >&2; rm -f "$report"; exit 1
fi
cat "$report"
[[ -n $keep ]] && cp "$report" "$keep"
if grep -q 'failures="0"' "$report" && grep -q 'errors="0"' "$report" && grep -q '<testcase' "$report"; then
  rm -f "$report"; echo "GUI TESTS PASSED"; exit 0
fi
rm -f "$report"; echo "GUI TESTS FAILED"; exit 1
