#!/bin/bash
# Checks the Debian package on this machine (as root): lintian, its contents, dpkg -i, the unit
# templates under systemd-analyze verify and security (the console's keeps the sorter's sandbox
# but for its sockets), the sorter unit's ExecStart run as the service user against a demo store
# (an e-mail sorted, journal priority prefixes, a clean end on SIGTERM), the console unit's with
# the example configuration's options, then dpkg -r.
# Then an upgrade from OLDER.deb (the same build with a lower version) and a purge, with a
# recording stand-in for the service manager first on PATH: the running instances stop on the
# old program before its files are replaced and start again on the new one; the purge leaves no
# instance links. The machine is left as found: package purged, links, stand-in and the
# /run/systemd/system marker (when the check made it) gone.
# Prints one "PASS name" or "FAIL name" line per check and "RESULT passed=N failed=M".
#
#   packaging/debian/check-deb.sh PACKAGE.deb WORK_FOLDER OLDER.deb
set -uo pipefail

here=$(cd -- "$(dirname -- "$0")" && pwd)
deb=$(readlink -f "$1")
work=$(readlink -m "$2")
older=$(readlink -f "$3")
unit_dir=/lib/systemd/system
unit=$unit_dir/corvane-sorter@.service
console_unit=$unit_dir/corvane-console@.service
example=/usr/share/doc/corvane/examples/console.conf
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
# The upgrade check's instances (enabled as systemctl enable links them) and its marker.
wants=/etc/systemd/system/multi-user.target.wants
instances=()
for s in /srv/store-a /srv/store-b /srv/store-c; do
  instances+=("corvane-sorter@$(systemd-escape --path "$s").service")
done
instances+=("corvane-console@$(systemd-escape --path /srv/store-d).service")
made_run_marker='' upgrading=''
leave_as_found() {
  stop_sorter
  local i
  if [[ -n $upgrading ]] && dpkg-query -W corvane >/dev/null 2>&1; then
    managed dpkg --purge corvane >/dev/null
  fi
  upgrading=
  for i in "${instances[@]}"; do rm -f "$wants/$i"; done
  [[ -n $made_run_marker ]] && rmdir /run/systemd/system
  made_run_marker=
  rm -rf "$work/service-manager"
}
trap leave_as_found EXIT

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
           "-rw-r--r-- /lib/systemd/system/corvane-console@.service" \
           "-rw-r--r-- /usr/share/doc/corvane/examples/console.conf" \
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
mailstore=$(systemd-escape --path /srv/mailstore)
check systemd-analyze-verify \
  systemd-analyze verify "$unit_dir/corvane-sorter@$mailstore.service" \
  "$unit_dir/corvane-console@$mailstore.service"
# Exposure figures in tenths: the sorter's unit stays at 1.2 ("OK"), the console's, which may
# open Internet sockets, at 1.6.
exposure() {  # UNIT TENTHS
  systemd-analyze security --offline=true --threshold="$2" "$1" | tail -1
  ((PIPESTATUS[0] == 0))
}
check sorter-unit-exposure exposure "$unit_dir/corvane-sorter@$mailstore.service" 12
check console-unit-exposure exposure "$unit_dir/corvane-console@$mailstore.service" 16
# The console's unit is the sorter's with its configuration file and the console's options on the
# command line, its state and runtime folders (0700), the network once online and Internet
# sockets; every other setting of the sorter's service section is there as it is.
service_settings() { sed -n '/^\[Service\]/,/^\[/{/^[A-Z]/p}' "$1" | sort; }
console_unit_text() {
  local extra
  extra=$(comm -13 <(service_settings "$unit") <(service_settings "$console_unit"))
  comm -23 <(service_settings "$unit") <(service_settings "$console_unit") |
    diff - <(printf '%s\n' 'ExecStart=/usr/bin/corvane-sorter --store %f' IPAddressDeny=any \
                           RestrictAddressFamilies=AF_UNIX) &&
  diff <(echo "$extra") <(printf '%s\n' \
    'EnvironmentFile=/etc/corvane/console-%i.conf' \
    'ExecStart=/usr/bin/corvane-sorter --store %f --console ${CONSOLE_LISTEN} $CONSOLE_OPTIONS' \
    'RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6' 'RuntimeDirectory=corvane/%i' \
    'RuntimeDirectoryMode=0700' 'StateDirectory=corvane/%i' 'StateDirectoryMode=0700') &&
  grep -qx 'Conflicts=corvane-sorter@%i.service' "$console_unit"
}
check console-unit-is-the-sorter-unit-with-a-console console_unit_text
# The largest supported store, 2,000 mailboxes, keeps three folders open per mailbox within half
# of the soft limit, beside 16 for the rest of the round; the README gives the same figure.
nofile=$(sed -n 's/^LimitNOFILE=//p' "$unit")
check unit-descriptor-limit bash -c '
  [[ $0 =~ ^[0-9]+$ ]] && (($0 >= 2 * 3 * 2000 + 16)) &&
  grep -qF "\`LimitNOFILE=$0\`" "$1"' "$nofile" "$here/../../README.md"

# The unit's own command line for a demo store, as the service manager would run it: %f is the
# instance unescaped, User= the account, AmbientCapabilities= the capabilities kept, under the
# unit's LimitNOFILE= (or the service manager's default, 1,024 soft, without one).
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
JOURNAL_STREAM=$(stat -c '%d:%i' "$errors") prlimit --nofile="${nofile:-1024}:${nofile:-524288}" -- setpriv --reuid="$user" --regid="$user" \
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

# The console unit's command for one round, its options the example configuration's, split as
# the service manager splits $CONSOLE_OPTIONS (at spaces, quotes removed), on a loopback port,
# the state and runtime folders as the service manager gives them.
console_round() {
  local options folder
  eval "options=($(sed -n 's/^CONSOLE_OPTIONS=//p' "$example"))"
  for folder in state runtime; do
    install -d -m 0700 -o "$user" -g "$user" "$work/console-$folder" || return 1
  done
  STATE_DIRECTORY="$work/console-state" RUNTIME_DIRECTORY="$work/console-runtime" \
    setpriv --reuid="$user" --regid="$user" --init-groups -- \
    "${command[@]}" --console 127.0.0.1:0 "${options[@]}" --once 2>"$work/console.txt" || return 1
  cat "$work/console.txt"
  grep -q "^sorter: store console at http://127.0.0.1:[1-9].* kept in $work/console-runtime/" \
    "$work/console.txt" &&
  [[ $(stat -c '%U %a' "$work"/console-runtime/corvane-console-*.token) == "$user 600" ]]
}
check console-unit-command-with-the-example-options console_round

# ---- removed ----
check dpkg-remove dpkg -r corvane
check removal-leaves-no-programs-or-unit bash -c '
  [[ ! -e /usr/bin/corvane-sorter && ! -e /usr/bin/corvane && ! -e "$0" ]]' "$unit"
check removal-leaves-the-store bash -c '
  [[ -n $(ls -A "$0/MailBox/bob/Inbox") && -n $(find "$0" -maxdepth 1 -iname sorter.ini) &&
     -f "$0/Error/SortErr.log" ]]' \
  "$store"

# ---- upgrade and purge, the service manager a recording stand-in ----
# "systemctl" and "deb-systemd-invoke" first on PATH are the stand-in (its calls in calls.log,
# each with the inode of /usr/bin/corvane-sorter at the time); /run/systemd/system tells the
# maintainer scripts that a service manager runs.
standin="$work/service-manager"
mkdir -p "$standin/bin"
for tool in systemctl deb-systemd-invoke; do
  ln -s "$here/tests/service-manager-standin.sh" "$standin/bin/$tool"
done
had_run_marker=$([[ -d /run/systemd/system ]] && echo yes)
if [[ ! -d /run/systemd/system ]]; then
  mkdir /run/systemd/system && made_run_marker=1
fi
managed() { PATH="$standin/bin:$PATH" STANDIN_DIR="$standin" "$@"; }
upgrading=1

check dpkg-install-older managed dpkg -i "$older"
old_inode=$(stat -c %i /usr/bin/corvane-sorter)
# Sorters a and b and the console of d enabled and running, sorter c enabled but stopped; d's
# console has made its state folder.
for i in "${instances[@]}"; do ln -sf "$unit_dir/${i%%@*}@.service" "$wants/$i"; done
running=("${instances[0]}" "${instances[1]}" "${instances[3]}")
printf '%s\n' "${running[@]}" >"$standin/active"
install -d -m 0700 -o corvane-sorter /var/lib/corvane/srv-store-d
: >"$standin/calls.log"
check dpkg-upgrade managed dpkg -i "$deb"
new_inode=$(stat -c %i /usr/bin/corvane-sorter)
cat "$standin/calls.log"
# The units' changes: a and b stopped on the old program, then all three running the new one.
states() { awk '$1 == "state" { print $3, $2, $4 }' "$standin/calls.log"; }
stopped_then_started() {
  [[ $old_inode != "$new_inode" ]] || { echo "the upgrade did not replace the program"; return 1; }
  states | awk -v old="@$old_inode" -v new="@$new_inode" '
    $1 == "stopped" { if (started || $3 != old) bad = 1 }
    $1 == "running" { started = 1; if ($3 != new) bad = 1 }
    END { exit bad }' || return 1
  [[ $(states | awk '$1 == "stopped" { print $2 }' | sort) == \
     "$(printf '%s\n' "${running[@]}" | sort)" ]]
}
check upgrade-stops-running-instances-before-replacing stopped_then_started
check upgrade-runs-the-enabled-instances-on-the-new-program bash -c '
  [[ $(sort "$0") == "$(printf "%s\n" "$@" | sort)" ]]' "$standin/active" "${instances[@]}"

: >"$standin/calls.log"
check dpkg-purge managed dpkg --purge corvane
cat "$standin/calls.log"
check purge-stops-the-instances bash -c '[[ ! -s $0 ]]' "$standin/active"
check purge-leaves-no-unit-links-nor-console-state bash -c '
  [[ -z $(find /etc/systemd/system -name "corvane-sorter@*" -o -name "corvane-console@*") &&
     -z $(find /var/lib/systemd/deb-systemd-helper-enabled -name "corvane-*@*" 2>/dev/null) &&
     ! -e /var/lib/corvane ]]'
leave_as_found
check machine-left-as-found bash -c '
  ! dpkg-query -W corvane >/dev/null 2>&1 && [[ ! -e $0 ]] &&
  [[ $([[ -d /run/systemd/system ]] && echo yes) == "$1" ]]' "$standin" "$had_run_marker"

echo "RESULT passed=$passed failed=$failed"
((failed == 0))
