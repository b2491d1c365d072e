# Helpers shared by scripts/run and scripts/test (sourced, not run).

# Packages for the native build and its tests.
NATIVE_PACKAGES=(cmake ninja-build g++ googletest libgtest-dev libgmock-dev libbenchmark-dev
                 python3 pkg-config libcpp-httplib-dev libssl-dev libsodium-dev)
# Everything else the full test run needs: clang for the sanitizer and fuzz builds, the mingw-w64
# cross compilers, Wine with its headers and IDL files, a virtual display for window tests.
TEST_PACKAGES=("${NATIVE_PACKAGES[@]}" clang libclang-rt-14-dev g++-mingw-w64-x86-64-posix
               g++-mingw-w64-i686-posix mingw-w64-tools libwine-dev wine wine64 xvfb xauth
               imagemagick x11-utils qemu-user)
# The packages tier: Windows Installer packages (wixl, msitools), the Debian package (CPack with
# dpkg-shlibdeps, manual pages by help2man, lintian) and its checks (systemd-analyze, man).
PACKAGING_PACKAGES=(wixl msitools dpkg-dev help2man lintian systemd man-db adduser)

log() { printf '==> %s\n' "$*"; }

# How often a failed refresh of the package indexes is tried again, and the pause between tries.
APT_UPDATE_TRIES=${APT_UPDATE_TRIES:-3}
APT_RETRY_PAUSE=${APT_RETRY_PAUSE:-10}
# apt's reason for the last failed ensure_packages: its first error line.
APT_REASON=

# apt_messages FILE: apt's own error and warning lines in FILE, with the resolver's account of
# unmet dependencies, indented for the log.
apt_messages() {
  grep -E '^(E|W|Err):|unmet dependencies|^ +[^ ]+ : (Pre)?Depends:|^ +(Depends|Conflicts|Breaks):' \
    "$1" | sed 's/^/    /'
}

# apt_refresh: refreshes the package indexes; a source that fails to download counts as a
# failure, tried APT_UPDATE_TRIES times with a pause. When every try fails it says so with apt's
# lines and returns 1; the indexes that did arrive are kept.
apt_refresh() {
  local out try
  out=$(mktemp)
  for ((try = 1; try <= APT_UPDATE_TRIES; try++)); do
    if "${sudo[@]}" apt-get update -qq --error-on=any >"$out" 2>&1; then
      rm -f "$out"
      return 0
    fi
    ((try < APT_UPDATE_TRIES)) && sleep "$APT_RETRY_PAUSE"
  done
  log "refreshing the package indexes failed $APT_UPDATE_TRIES times; installing from the indexes at hand:"
  apt_messages "$out"
  rm -f "$out"
  return 1
}

# Installs the named Debian packages that are missing; quiet and idempotent. A name with the
# suffix :i386 adds that architecture first (and removes it again when nothing could be
# installed from it). The indexes are refreshed only when something is to be installed; a
# refresh that fails does not stop the install, since the indexes at hand usually hold what is
# needed. Returns 0 when everything is installed, 2 when the archive cannot supply the packages
# (a download or dependency resolution failure), 1 on any other failure; on failure it prints
# apt's error lines and the packages asked for, and sets APT_REASON.
ensure_packages() {
  local missing=() pkg sudo=() added_arch= out rc
  APT_REASON=
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$pkg")
  done
  ((${#missing[@]} == 0)) && return 0
  log "installing ${missing[*]}"
  ((EUID != 0)) && sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  if [[ " ${missing[*]}" == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo[@]}" dpkg --add-architecture i386 || { APT_REASON="dpkg --add-architecture i386 failed"; return 1; }
    added_arch=i386
  fi
  apt_refresh
  out=$(mktemp)
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=300 \
    "${missing[@]}" >"$out" 2>&1
  rc=$?
  if ((rc == 0)); then
    rm -f "$out"
    return 0
  fi
  log "could not install ${missing[*]} (apt-get exit $rc):"
  apt_messages "$out"
  APT_REASON=$(grep -m1 '^E:' "$out" || tail -n 1 "$out")
  if grep -qE 'Unable to locate package|has no installation candidate|Unable to correct problems|pkgProblemResolver|held packages|unmet dependencies|Failed to fetch|Unable to fetch some archives|Version .* (was|is) not found|is not available' \
       "$out"; then
    rc=2
  else
    rc=1
  fi
  rm -f "$out"
  if [[ -n $added_arch ]] && ! dpkg-query -W -f='${Architecture}\n' 2>/dev/null | grep -qx "$added_arch"; then
    "${sudo[@]}" dpkg --remove-architecture "$added_arch"
  fi
  return $rc
}

# now_ms: milliseconds since the epoch.
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# fmt_ms MS: "1m02s" or "3.4s".
fmt_ms() {
  local ms=$1
  if ((ms >= 60000)); then printf '%dm%02ds' $((ms / 60000)) $((ms % 60000 / 1000))
  else printf '%d.%ds' $((ms / 1000)) $((ms % 1000 / 100))
  fi
}
