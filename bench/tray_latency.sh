#!/bin/bash
# The tray program's delivery latency under wine64: a scratch store with Sorter.exe in it (its
# program folder is its store) and one mailbox, "pupil"; Sorter.exe runs in a Wine virtual
# desktop under Xvfb, and tray_latency_probe.exe, in the same Wine session, drops e-mails at
# random moments and prints the median, p90 and worst from a close to the Inbox.
#
#   bench/tray_latency.sh [MINGW64_BUILD [CORVANE]] [-- PROBE OPTIONS...]
#
# MINGW64_BUILD defaults to build/mingw64 (Sorter.exe, Corvane.dll, bench/tray_latency_probe.exe),
# CORVANE to build/native/tools/corvane (it writes the sample e-mail). Probe options: --files N,
# --mode single|paused|both, --max-gap S, --max-pause S, --patience S, --seed N. Sorter.ini
# lines may be given in TRAY_LATENCY_INI (e.g. $'[Delivery]\ninstant=False').
set -u
root=$(cd -- "$(dirname -- "$0")/.." && pwd)
build=build/mingw64 corvane=build/native/tools/corvane
[[ $# -gt 0 && $1 != -- ]] && { build=$1; shift; }
[[ $# -gt 0 && $1 != -- ]] && { corvane=$1; shift; }
[[ $# -gt 0 && $1 == -- ]] && shift
build=$(readlink -f -- "$build") corvane=$(readlink -f -- "$corvane")
for f in "$build/sorter/ui/Sorter.exe" "$build/corvane/com/Corvane.dll" \
         "$build/bench/tray_latency_probe.exe" "$corvane"; do
  [[ -f $f ]] || { echo "tray_latency.sh: $f missing (build the mingw64 and native presets)" >&2; exit 2; }
done
for tool in xvfb-run Xvfb; do
  command -v "$tool" >/dev/null || { echo "tray_latency.sh: $tool missing (apt-get install xvfb)" >&2; exit 2; }
done

winpath() { printf 'Z:%s' "${1//\//\\}"; }
work=$(mktemp -d /tmp/tray-latency.XXXXXX)
store=$work/store
mkdir -p "$store/MailBank" "$store/MailBox/pupil/Inbox" "$store/Error" "$work/sample"
cp -- "$build/sorter/ui/Sorter.exe" "$store/"
[[ -n ${TRAY_LATENCY_INI:-} ]] && printf '%s\n' "$TRAY_LATENCY_INI" >"$store/Sorter.ini"
"$corvane" send "$work/sample" --from ann --to pupil --subject Latency \
  --text "A pupil's e-mail." >/dev/null || exit 2
sample=$(find "$work/sample" -type f | head -n 1)

export CORVANE_WINEPREFIX=$work/wineprefix
runner=$root/cmake/wine-run.sh
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
mkdir -p "$CORVANE_WINEPREFIX"
WINEPREFIX=$CORVANE_WINEPREFIX timeout 1800 "$wineserver" -f -p </dev/null &
server=$!
stop() {
  WINEPREFIX=$CORVANE_WINEPREFIX timeout 60 "$wineserver" -k
  [[ -n ${desktop:-} ]] && { timeout 30 tail --pid="$desktop" -f /dev/null; kill "$desktop" 2>/dev/null; }
  kill "$server" 2>/dev/null
  wait 2>/dev/null
  rm -rf -- "$work"
}
trap stop EXIT

"$runner" --init || exit 2
WINE_TIMEOUT=120 "$runner" regsvr32 /s "$(winpath "$build/corvane/com/Corvane.dll")" ||
  { echo "tray_latency.sh: registering Corvane.dll failed" >&2; exit 2; }
WINE_TIMEOUT=1500 xvfb-run -a -s "-screen 0 800x600x24" \
  "$runner" explorer /desktop=latency,800x600 "$(winpath "$store/Sorter.exe")" >/dev/null 2>&1 &
desktop=$!
WINE_TIMEOUT=1200 "$runner" "$build/bench/tray_latency_probe.exe" "$(winpath "$store")" \
  "$(winpath "$sample")" "$@"
