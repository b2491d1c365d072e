#!/bin/bash
# Checks ensure_packages (scripts/lib.sh) against a package archive with a source that cannot be
# reached, as a broken mirror or proxy leaves it: an extra apt source on a closed loopback port,
# removed afterwards. Needs root and Debian's archive; prints PASS and FAIL lines.
#
#   - a package set that is installed already is a no-op (no refresh, no output);
#   - a missing package of this architecture still installs, and the log names the failed source;
#   - a package the archive does not have fails with apt's reason and the package named.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

if ((EUID != 0)); then
  echo "FAIL ensure_packages checks need root"
  exit 1
fi

failures=0
check() {  # check WHAT CONDITION...
  local what=$1
  shift
  if "$@"; then echo "PASS $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
contains() { grep -qF -- "$2" <<<"$1"; }

# A port nobody listens on: bound and released at once.
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
source_file=/etc/apt/sources.list.d/corvane-unreachable-test.list
probe=hello
probe_was_installed=$(dpkg-query -W -f='${Status}' "$probe" 2>/dev/null | grep -c 'install ok installed')
cleanup() {
  rm -f "$source_file"
  ((probe_was_installed)) || apt-get purge -y -qq "$probe" >/dev/null 2>&1
}
trap cleanup EXIT
echo "deb [trusted=yes] http://127.0.0.1:$port/debian bookworm main" >"$source_file"
export APT_UPDATE_TRIES=2 APT_RETRY_PAUSE=1

out=$(ensure_packages dpkg coreutils 2>&1)
rc=$?
check "installed packages: nothing to do, nothing printed" test "$rc:$out" = "0:"

if ((probe_was_installed)); then
  apt-get purge -y -qq "$probe" >/dev/null 2>&1
  probe_was_installed=0
fi
out=$(ensure_packages "$probe" 2>&1)
rc=$?
echo "$out" | sed 's/^/    /'
check "a missing package installs although a source is unreachable" test "$rc" = 0
check "the package is installed" \
  bash -c "dpkg-query -W -f='\${Status}' $probe | grep -q 'install ok installed'"
check "the failed refresh is reported" contains "$out" "refreshing the package indexes failed 2 times"
check "the report names the unreachable source" contains "$out" "127.0.0.1:$port"

missing=corvane-no-such-package
ensure_packages "$missing" >"${TMPDIR:-/tmp}/ensure-missing.$$" 2>&1
rc=$?
out=$(cat "${TMPDIR:-/tmp}/ensure-missing.$$")
rm -f "${TMPDIR:-/tmp}/ensure-missing.$$"
echo "$out" | sed 's/^/    /'
check "a package the archive lacks: the archive cannot supply it (2)" test "$rc" = 2
check "the failure names the package asked for" contains "$out" "could not install $missing"
check "apt's own error line is printed" contains "$out" "Unable to locate package $missing"
check "the reason is apt's error line" test "$APT_REASON" = "E: Unable to locate package $missing"

echo "RESULT failed=$failures"
((failures == 0))
