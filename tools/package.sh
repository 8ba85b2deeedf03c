#!/usr/bin/env bash
# Builds the Debian package: a Release build without the tests and their
# crash points, with Debian's build flags (hardening), into its own build
# folder, packed by CPack (stripped, dependencies from dpkg-shlibdeps).
# Prints the package's path as its last line.
#   tools/package.sh [BUILD_DIR]     default build-package
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/setup.sh
brindle_install_packages "${BRINDLE_BUILD_PACKAGES[@]}" "${BRINDLE_PACKAGE_PACKAGES[@]}" >&2
dir="${1:-build-package}"

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
# Every hardening Debian knows; no debug information, as the packaged
# programs are stripped anyway.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g DEB_CFLAGS_MAINT_STRIP=-g
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS)"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRINDLE_TESTS=OFF -DBRINDLE_TEST_HOOKS=OFF \
  -DBRINDLE_UI=ON -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" "${launcher[@]}" >&2
cmake --build "$dir" -j "$(brindle_jobs)" >&2
rm -f "$dir"/brindle_*.deb
(cd "$dir" && cpack -G DEB) >&2
ls "$dir"/brindle_*.deb
