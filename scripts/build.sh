#!/usr/bin/env bash
# Configures and builds every Windows binary of the system into $KELVO_BUILD_DIR (default build/).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KELVO_BUILD_DIR:-$root/build}
"$root/scripts/install-deps.sh"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
fi
cmake --build "$build" -j"$(nproc)"
