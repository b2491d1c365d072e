#!/bin/bash
# Builds the Debian package: a Release build with Debian's build flags (hardening included), then
# CPack's DEB generator; lists the package's contents.
#
#   packaging/debian/build-deb.sh [BUILD_DIR]     (default build/deb; the .deb in BUILD_DIR/packages)
#
# BUILD_DIR/older holds the same build packaged with a lower version ("<version>~older"), which
# the upgrade check installs first.
set -euo pipefail

dir=${1:-build/deb}
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags() { echo "$(dpkg-buildflags --get "$1") $(dpkg-buildflags --get CPPFLAGS)"; }
cmake -S "$(dirname -- "$0")/../.." -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCHMARKS=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
  -DCMAKE_C_FLAGS="$(flags CFLAGS)" -DCMAKE_CXX_FLAGS="$(flags CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake --build "$dir" -j 2 --target sorter corvane corvane_package_files
rm -rf -- "$dir/packages" "$dir/older"
(cd "$dir" && cpack -G DEB)
version=$(dpkg-deb -f "$dir"/packages/*.deb Version)
(cd "$dir" && cpack -G DEB -D CPACK_PACKAGE_VERSION="$version~older" \
   -D CPACK_OUTPUT_FILE_PREFIX="$PWD/older" >/dev/null)
dpkg-deb -c "$dir"/packages/*.deb
