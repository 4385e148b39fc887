#!/usr/bin/env bash
# Builds Morvane and runs every test headless: the native tests (the window
# on the offscreen platform), then the web page's in a headless Chromium.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${MORVANE_BUILD_DIR:-$top/build}
bash "$top/scripts/install-deps.sh" --tests
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_BUILD_TESTS=ON -DMORVANE_BUILD_BENCH=ON \
  ${MORVANE_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
bash "$top/scripts/test-web.sh" "$build"
