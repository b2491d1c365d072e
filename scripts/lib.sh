# Helpers shared by scripts/run and scripts/test (sourced, not run).

# Packages for the native build and its tests.
NATIVE_PACKAGES=(cmake ninja-build g++ googletest libgtest-dev libgmock-dev libbenchmark-dev
                 python3 pkg-config libcpp-httplib-dev)
# Everything else the full test run needs: clang for the sanitizer and fuzz builds, the mingw-w64
# cross compilers, Wine with its headers and IDL files, a virtual display for window tests.
TEST_PACKAGES=("${NATIVE_PACKAGES[@]}" clang libclang-rt-14-dev g++-mingw-w64-x86-64-posix
               g++-mingw-w64-i686-posix mingw-w64-tools libwine-dev wine wine64 xvfb xauth
               imagemagick x11-utils qemu-user)
# The packages tier: Windows Installer packages (wixl, msitools), the Debian package (CPack with
# dpkg-shlibdeps, manual pages by help2man, lintian) and its checks (systemd-analyze, man).
PACKAGING_PACKAGES=(wixl msitools dpkg-dev help2man lintian systemd man-db adduser)

log() { printf '==> %s\n' "$*"; }

# Installs the named Debian packages that are missing; quiet and idempotent. A name with the
# suffix :i386 adds that architecture first. The package lists are refreshed only when something
# is to be installed.
ensure_packages() {
  local missing=() pkg sudo=()
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$pkg")
  done
  ((${#missing[@]} == 0)) && return 0
  log "installing ${missing[*]}"
  ((EUID != 0)) && sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  if [[ " ${missing[*]}" == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo[@]}" dpkg --add-architecture i386 || return 1
  fi
  "${sudo[@]}" apt-get update -qq >/dev/null &&
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=300 \
      "${missing[@]}" >/dev/null
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
