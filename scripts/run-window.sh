#!/usr/bin/env bash
# Builds Morvane and opens its window in samples/, where a demo stream waits.
# Installs only what building and running need.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${MORVANE_BUILD_DIR:-$top/build}
bash "$top/scripts/install-deps.sh"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_BUILD_TESTS=OFF -DMORVANE_BUILD_BENCH=OFF \
  >/dev/null
cmake --build "$build" -j"$(nproc)" --target morvane morvane-cli
mkdir -p "$top/samples"
[ -f "$top/samples/demo.str" ] || "$build/src/cli/morvane-cli" make-demo "$top/samples/demo.str"
cd "$top/samples"
exec "$build/src/app/morvane"
