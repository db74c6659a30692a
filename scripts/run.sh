#!/usr/bin/env bash
# Sets up, builds and starts Vorsk from a working folder that holds its
# settings, logs and sounds (build/run/).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
mkdir -p build/run
cd build/run
# A Vorsk.ini here keeps Vorsk in this folder rather than the user's.
touch Vorsk.ini
exec ../bin/vorsk "$@"
