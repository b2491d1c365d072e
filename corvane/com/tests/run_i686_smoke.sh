#!/bin/bash
# Smoke run of the 32-bit Corvane.dll on a machine whose kernel runs no 32-bit code: Wine's i386
# loader runs under qemu-i386 (no preloader: WINELOADERNOEXEC=1), against a 64-bit Wine prefix
# whose wineserver and services run natively. Two 32-bit processes only, each close to a minute of
# emulated CPU: regsvr32 (oleaut32.dll for the prefix's 32-bit view, then Corvane.dll) and the
# early-bound client.
#
#   run_i686_smoke.sh <folder with Corvane.dll and corvane_i686_smoke_client.exe> <work folder>
#
# Prints PASS/FAIL lines (the regsvr32 step, then the client's checks) and a last line
# "SMOKE passed=N failed=M"; exits non-zero when any check failed or a step did not finish.
# Needs qemu-user and Wine's i386 packages (wine32:i386, libwine:i386).
set -u

[[ $# == 2 ]] || { echo "usage: $0 <com build folder> <work folder>" >&2; exit 2; }
COM_DIR=$(readlink -f -- "$1")
WORK=$(readlink -m -- "$2")
WINE32=/usr/lib/wine/wine
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
I386_DLLS=/usr/lib/i386-linux-gnu/wine/i386-windows
PROCESS_TIMEOUT=${SMOKE_PROCESS_TIMEOUT:-400}

passed=0 failed=0
report() {  # report OK|FAIL WHAT
  if [[ $1 == OK ]]; then echo "PASS $2"; passed=$((passed + 1))
  else echo "FAIL $2"; failed=$((failed + 1))
  fi
}
finish() {
  echo "SMOKE passed=$passed failed=$failed"
  ((failed == 0)) && exit 0
  exit 1
}

for need in "$(command -v qemu-i386)" "$WINE32" "$WINE64" "$WINESERVER" "$I386_DLLS/regsvr32.exe" \
            "$COM_DIR/Corvane.dll" "$COM_DIR/corvane_i686_smoke_client.exe"; do
  [[ -n "$need" && -e "$need" ]] && continue
  report FAIL "prerequisite missing: ${need:-qemu-i386} (qemu-user, wine32:i386, the i686 build)"
  finish
done

# A Windows path for a Linux one, through Wine's Z: drive.
winpath() { local p="Z:$1"; echo "${p//\//\\}"; }

export WINEPREFIX="$WORK/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p -- "$WINEPREFIX" "$WORK/files"

# One wineserver for the whole run, stopped by its pid on the way out.
"$WINESERVER" -f -p >"$WORK/wineserver.log" 2>&1 </dev/null &
ws_pid=$!
stop_wineserver() {
  timeout 60 "$WINESERVER" -k >/dev/null 2>&1
  kill "$ws_pid" 2>/dev/null
  wait "$ws_pid" 2>/dev/null
}
trap stop_wineserver EXIT

# The prefix is made by the native 64-bit Wine. Its syswow64 must hold Wine's i386 DLLs, programs
# and type libraries; wineboot copies them when it finds them, else they are copied here.
if [[ ! -f "$WINEPREFIX/.i686-ready" ]]; then
  if ! timeout 300 "$WINE64" wineboot -i >"$WORK/wineboot.log" 2>&1 </dev/null; then
    report FAIL "wineboot -i (see $WORK/wineboot.log)"
    finish
  fi
  syswow64="$WINEPREFIX/drive_c/windows/syswow64"
  if ! cmp -s "$I386_DLLS/oleaut32.dll" "$syswow64/oleaut32.dll"; then
    mkdir -p -- "$syswow64"
    cp -- "$I386_DLLS"/*.dll "$I386_DLLS"/*.exe "$I386_DLLS"/*.tlb "$syswow64/"
  fi
  touch "$WINEPREFIX/.i686-ready"
fi

# run32 LOG PROGRAM ARGS...: one 32-bit process under qemu-i386, its output in LOG. The services
# it starts in the prefix inherit no descriptor of ours but LOG.
run32() {
  local log=$1
  shift
  WINELOADERNOEXEC=1 timeout "$PROCESS_TIMEOUT" qemu-i386 "$WINE32" "$@" >"$log" 2>&1 </dev/null
}

start=$SECONDS
run32 "$WORK/regsvr32.log" regsvr32 /s oleaut32.dll "$(winpath "$COM_DIR/Corvane.dll")"
rc=$?
if ((rc == 0)); then report OK "32-bit regsvr32 registers oleaut32.dll and Corvane.dll"
else report FAIL "32-bit regsvr32 exit code $rc ($((SECONDS - start)) s, 124 is the timeout)"
fi
echo "regsvr32: $((SECONDS - start)) s"
((rc == 0)) || finish

start=$SECONDS
run32 "$WORK/client.raw" "$COM_DIR/corvane_i686_smoke_client.exe" "$(winpath "$WORK/files")"
rc=$?
tr -d '\r' <"$WORK/client.raw" >"$WORK/client.log"
echo "client: $((SECONDS - start)) s, exit code $rc"
grep -E '^(PASS|FAIL) ' "$WORK/client.log"
client_passed=$(grep -c '^PASS ' "$WORK/client.log")
client_failed=$(grep -c '^FAIL ' "$WORK/client.log")
passed=$((passed + client_passed)) failed=$((failed + client_failed))
# A client that died or was cut short before its count line fails the run.
if ! grep -qE "^RESULT passed=$client_passed failed=$client_failed\b" "$WORK/client.log" ||
   ((rc != 0 && client_failed == 0)); then
  report FAIL "the client did not finish (exit code $rc; see $WORK/client.log)"
fi
finish
