#!/usr/bin/env bash
# Builds the Debian package into build/ (vorsk_<version>_amd64.deb). The
# build is configured for the prefix /usr, as the package installs there.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_INSTALL_PREFIX=/usr
cmake --build build
cd build
cpack -G DEB
