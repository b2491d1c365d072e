#!/bin/bash
# Runs a Windows program under wine64 in the build folder's private Wine prefix and returns the
# program's exit code (124 when it outlives WINE_TIMEOUT seconds).
#
#   wine-run.sh program.exe [args...]     run a program
#   wine-run.sh --init                    create the prefix and start its services
#
# The prefix is $CORVANE_WINEPREFIX (CTest sets it for every Windows test), else <build>/wineprefix
# where <build> is the first folder holding a CMakeCache.txt above the current folder or the
# program. It is created on first use; concurrent first uses wait for each other.
#
# With a persistent wineserver (`wineserver -p`), run --init after starting it: the Wine services
# started with the first program inherit its standard output and live as long as the server, so
# CTest, which waits for the end of that output, would wait for them too.
set -u

find_build_dir() {
  local dir
  for dir in "$PWD" "$(dirname -- "$(readlink -f -- "${1:-.}")")"; do
    while [[ "$dir" != / && -n "$dir" ]]; do
      [[ -f "$dir/CMakeCache.txt" ]] && { echo "$dir"; return 0; }
      dir=$(dirname -- "$dir")
    done
  done
  return 1
}

find_wine64() {
  if command -v wine64 >/dev/null; then command -v wine64
  elif [[ -x /usr/lib/wine/wine64 ]]; then echo /usr/lib/wine/wine64
  else echo "wine-run.sh: wine64 not found (apt-get install wine64)" >&2; return 1
  fi
}

if [[ -z "${CORVANE_WINEPREFIX:-}" ]]; then
  build_dir=$(find_build_dir "${1:-.}") || {
    echo "wine-run.sh: no build folder found; set CORVANE_WINEPREFIX" >&2
    exit 2
  }
  CORVANE_WINEPREFIX="$build_dir/wineprefix"
fi
WINE64=$(find_wine64) || exit 2

export WINEPREFIX="$CORVANE_WINEPREFIX"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
export WINELOADER="$WINE64"

init_prefix() {
  [[ -f "$WINEPREFIX/.corvane-ready" ]] && return 0
  mkdir -p -- "$WINEPREFIX" || return 1
  # wineboot leaves services running; they must not inherit the lock's descriptor.
  (
    flock 9
    [[ -f "$WINEPREFIX/.corvane-ready" ]] && exit 0
    timeout "${WINE_INIT_TIMEOUT:-300}" "$WINE64" wineboot -i >/dev/null 2>&1 9>&- || {
      echo "wine-run.sh: wineboot -i failed in $WINEPREFIX" >&2
      exit 1
    }
    touch "$WINEPREFIX/.corvane-ready"
  ) 9>"$WINEPREFIX/.init.lock"
}

init_prefix || exit 2
if [[ "${1:-}" == --init ]]; then
  timeout "${WINE_INIT_TIMEOUT:-300}" "$WINE64" cmd /c exit 0 </dev/null >/dev/null 2>&1
  exit
fi

timeout "${WINE_TIMEOUT:-600}" "$WINE64" "$@"
