#!/usr/bin/env bash
# Builds the Debian package into build-deb/ (vorsk_<version>_amd64.deb). The
# build is configured for the prefix /usr, as the package installs there,
# with Debian's hardening flags (fortified functions, stack protector, PIE,
# read-only relocations bound at start); a build folder of its own, since
# CMake takes compiler flags from the environment only when it first
# configures a folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
eval "$(dpkg-buildflags --export=sh)"
# CMake has no preprocessor flags of its own.
export CFLAGS="$CPPFLAGS $CFLAGS" CXXFLAGS="$CPPFLAGS $CXXFLAGS"
cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_INSTALL_PREFIX=/usr -DVORSK_BUILD_TESTS=OFF \
  -DCMAKE_C_FLAGS="$CFLAGS" -DCMAKE_CXX_FLAGS="$CXXFLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" -DCMAKE_SHARED_LINKER_FLAGS="$LDFLAGS" \
  -DCMAKE_MODULE_LINKER_FLAGS="$LDFLAGS"
cmake --build build-deb
cd build-deb
cpack -G DEB
