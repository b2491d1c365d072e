#!/bin/bash
# A recording stand-in for the service manager, for checks of the maintainer scripts on a
# machine without a running systemd. Installed first on PATH as "systemctl" and as
# "deb-systemd-invoke" (a link to this file: the name says which), it keeps the units' states in
# STANDIN_DIR/active (one running unit a line) and appends each call to STANDIN_DIR/calls.log
# as "TOOL ACTION UNIT... @INODE", INODE being that of /usr/bin/corvane-sorter at the call
# ("-" when there is none), and each change of a unit's state as "state UNIT running|stopped
# @INODE", so that a check sees which program a call stopped or started.
# Enabled units are those with a link in /etc/systemd/system/*.wants, as systemctl enable
# makes them. deb-systemd-invoke starts or restarts only enabled units (or, for restart,
# running ones), as the real one does; policy-rc.d is not asked.
set -euo pipefail

state=${STANDIN_DIR:?}
tool=$(basename -- "$0")
active=$state/active
touch "$active"

args=()
for a in "$@"; do [[ $a == -* ]] || args+=("$a"); done
action=${args[0]:-}
units=("${args[@]:1}")

inode=$(stat -c %i /usr/bin/corvane-sorter 2>/dev/null || echo -)
echo "$tool $action ${units[*]} @$inode" >>"$state/calls.log"

is_active() { grep -qxF -- "$1" "$active"; }
is_enabled() {
  local wants
  for wants in /etc/systemd/system/*.wants; do [[ -L $wants/$1 ]] && return 0; done
  return 1
}
matching_active() {  # PATTERN: the running units it names (a glob, as systemctl takes)
  local unit
  while read -r unit; do
    # shellcheck disable=SC2053 # the pattern is a glob on purpose
    [[ $unit == $1 ]] && echo "$unit"
  done <"$active"
}
set_running() {  # UNIT yes|no
  if is_active "$1"; then [[ $2 == no ]] || return 0; else [[ $2 == yes ]] || return 0; fi
  grep -vxF -- "$1" "$active" >"$active.new" || true
  [[ $2 == yes ]] && echo "$1" >>"$active.new"
  mv -- "$active.new" "$active"
  echo "state $1 $([[ $2 == yes ]] && echo running || echo stopped) @$inode" >>"$state/calls.log"
}

if [[ $tool == deb-systemd-invoke ]]; then
  case $action in
    start | restart)
      for unit in "${units[@]}"; do
        if is_enabled "$unit" || { [[ $action == restart ]] && is_active "$unit"; }; then
          set_running "$unit" no  # a restart stops a running unit first
          set_running "$unit" yes
        fi
      done ;;
    stop)
      for pattern in "${units[@]}"; do
        for unit in $(matching_active "$pattern"); do set_running "$unit" no; done
      done ;;
    try-restart) ;;  # a running unit stays running, now on the program in place
    *) echo "$tool: $action not supported by the stand-in" >&2; exit 1 ;;
  esac
  exit 0
fi

case $action in
  daemon-reload) ;;
  is-active) is_active "${units[0]}" ;;
  is-enabled) if is_enabled "${units[0]}"; then echo enabled; else echo disabled; exit 1; fi ;;
  list-units)
    for unit in $(matching_active "${units[0]:-*}"); do echo "$unit loaded active running"; done ;;
  stop) for unit in "${units[@]}"; do set_running "$unit" no; done ;;
  start | restart) for unit in "${units[@]}"; do set_running "$unit" yes; done ;;
  try-restart) ;;
  *) echo "$tool: $action not supported by the stand-in" >&2; exit 1 ;;
esac
