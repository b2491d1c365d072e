#!/bin/bash
# Checks the Debian package on this machine (as root): lintian, its contents, dpkg -i, the unit
# template under systemd-analyze verify, the unit's ExecStart run as the service user against a
# demo store (an e-mail sorted, journal priority prefixes, a clean end on SIGTERM), then dpkg -r.
# Prints one "PASS name" or "FAIL name" line per check and "RESULT passed=N failed=M".
#
#   packaging/debian/check-deb.sh PACKAGE.deb WORK_FOLDER
set -uo pipefail

deb=$(readlink -f "$1")
work=$(readlink -m "$2")
unit_dir=/lib/systemd/system
unit=$unit_dir/corvane-sorter@.service
passed=0 failed=0
sorter_pid=

check() {  # check NAME COMMAND...
  local name=$1
  shift
  if "$@"; then
    echo "PASS $name"
    passed=$((passed + 1))
  else
    echo "FAIL $name"
    failed=$((failed + 1))
  fi
}

stop_sorter() {
  [[ -n $sorter_pid ]] && kill -KILL "$sorter_pid" 2>/dev/null
  sorter_pid=
}
trap stop_sorter EXIT

rm -rf "$work" && mkdir -p "$work" || exit 2

# ---- the package file ----
lintian_clean() {
  lintian --display-info --pedantic "$deb" >"$work/lintian.txt" 2>&1
  cat "$work/lintian.txt"
  # Errors and warnings fail; the information tags left are explained in the README.
  ! grep -qE '^[EW]: ' "$work/lintian.txt"
}
check lintian-no-errors-or-warnings lintian_clean

dpkg-deb -c "$deb" | awk '{ print $1, $6 }' | sed 's#^\(\S*\) \./#\1 /#' >"$work/contents.txt"
contains() { grep -qxF "$1" "$work/contents.txt"; }
check contents-programs-and-unit bash -c '
  for f in "-rwxr-xr-x /usr/bin/corvane-sorter" "-rwxr-xr-x /usr/bin/corvane" \
           "-rw-r--r-- /lib/systemd/system/corvane-sorter@.service" \
           "-rw-r--r-- /usr/share/man/man8/corvane-sorter.8.gz" \
           "-rw-r--r-- /usr/share/man/man1/corvane.1.gz" \
           "-rw-r--r-- /usr/share/doc/corvane/copyright"; do
    grep -qxF -- "$f" "$0" || { echo "missing: $f"; exit 1; }
  done' "$work/contents.txt"

# ---- installed ----
dpkg -r corvane >/dev/null 2>&1
check dpkg-install dpkg -i "$deb"
check service-user-is-a-system-user bash -c '
  uid=$(id -u corvane-sorter) && ((uid < 1000)) &&
  [[ $(getent passwd corvane-sorter | cut -d: -f7) == */nologin ]]'
check manual-pages-render bash -c '
  man -l /usr/share/man/man8/corvane-sorter.8.gz 2>&1 | grep -q -- "--store DIR" &&
  man -l /usr/share/man/man1/corvane.1.gz 2>&1 | grep -q "dump-email"'
check systemd-analyze-verify \
  systemd-analyze verify "$unit_dir/corvane-sorter@$(systemd-escape --path /srv/mailstore).service"

# The unit's own command line for a demo store, as the service manager would run it: %f is the
# instance unescaped, User= the account, AmbientCapabilities= the capabilities kept.
store="$work/demo store"
mkdir -p "$store/MailBank" "$store/Error" "$store/MailBox/ann/Inbox" "$store/MailBox/bob/Inbox"
chmod 755 "$work"
instance=$(systemd-escape --path "$store")
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
user=$(sed -n 's/^User=//p' "$unit")
chown -R "$user:" "$store"
unescaped=$(systemd-escape --unescape --path "$instance")
read -ra command <<<"$exec_start"
for i in "${!command[@]}"; do command[$i]=${command[$i]//%f/$unescaped}; done
corvane send "$store/MailBank" --from ann --to bob --subject "Lunch" --text "At noon?" >/dev/null
corvane send "$store/MailBank" --from ann --to nobody --subject "Lost" --text "No box." >/dev/null

# Standard error goes to a file whose device and inode JOURNAL_STREAM names, as the journal's
# stream would be.
errors="$work/stderr.txt"
: >"$errors"
JOURNAL_STREAM=$(stat -c '%d:%i' "$errors") setpriv --reuid="$user" --regid="$user" \
  --init-groups --inh-caps=+lease --ambient-caps=+lease -- "${command[@]}" 2>>"$errors" &
sorter_pid=$!
delivered() {
  local i
  for ((i = 0; i < 60; i++)); do
    [[ -n $(ls -A "$store/MailBox/bob/Inbox" 2>/dev/null | grep -vi timestamp.dat) &&
       -n $(ls -A "$store/Error" | grep -vi sorterr.log) ]] && return 0
    sleep 0.5
  done
  return 1
}
check unit-command-sorts-as-service-user delivered
check sorted-files-owned-by-service-user bash -c '
  [[ $(stat -c %U "$0/MailBox/bob/Inbox/timeStamp.dat") == "$1" ]]' "$store" "$user"
kill -TERM "$sorter_pid"
rc=0
wait "$sorter_pid" || rc=$?
sorter_pid=
check sigterm-ends-cleanly test "$rc" = 0
# The end of the program writes the flag into "sorter.ini": one file with Sorter.ini.
settings=$(find "$store" -maxdepth 1 -iname sorter.ini)
check sigterm-writes-running-flag grep -qE '^running=False'$'\r''?$' "${settings:-/nonexistent}"
cat "$errors"
check journal-priority-prefixes bash -c '
  grep -q "^<6>sorter: sorting " "$0" && grep -q "^<4>Email sent to non-existant recipient!" "$0" &&
  grep -q "^<6>sorter: stopped" "$0" && ! grep -qv "^<[346]>" "$0"' "$errors"

# ---- removed ----
check dpkg-remove dpkg -r corvane
check removal-leaves-no-programs-or-unit bash -c '
  [[ ! -e /usr/bin/corvane-sorter && ! -e /usr/bin/corvane && ! -e "$0" ]]' "$unit"
check removal-leaves-the-store bash -c '
  [[ -n $(ls -A "$0/MailBox/bob/Inbox") && -n $(find "$0" -maxdepth 1 -iname sorter.ini) &&
     -f "$0/Error/SortErr.log" ]]' \
  "$store"

echo "RESULT passed=$passed failed=$failed"
((failed == 0))
