#!/usr/bin/env bash
# Builds the Debian package: scripts/package.sh [build-folder]; prints the package's path.
# Needs dpkg-dev (dpkg-shlibdeps finds the dependencies) besides the build's own packages.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-package}
# Debian's hardening flags, all of them.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DQDS_BUILD_TESTS=OFF -DCMAKE_CXX_FLAGS="$CXXFLAGS" -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" >&2
cmake --build "$build" --parallel 2 >&2
(cd "$build" && cpack -G DEB >&2)
ls "$build"/*.deb
