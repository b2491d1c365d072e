#!/bin/bash
# Builds the Debian package: a Release build with Debian's build flags (hardening included), then
# CPack's DEB generator; lists the package's contents.
#
#   packaging/debian/build-deb.sh [BUILD_DIR]     (default build/deb; the .deb in BUILD_DIR/packages)
set -euo pipefail

dir=${1:-build/deb}
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags() { echo "$(dpkg-buildflags --get "$1") $(dpkg-buildflags --get CPPFLAGS)"; }
cmake -S "$(dirname -- "$0")/../.." -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCHMARKS=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
  -DCMAKE_C_FLAGS="$(flags CFLAGS)" -DCMAKE_CXX_FLAGS="$(flags CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake --build "$dir" -j 2 --target sorter corvane corvane_package_files
rm -rf -- "$dir/packages"
(cd "$dir" && cpack -G DEB)
dpkg-deb -c "$dir"/packages/*.deb
