#!/usr/bin/env bash
# Builds the whole suite, window tests included, with the address,
# undefined-behaviour and leak sanitizers in a build folder of its own
# (MORVANE_SANITIZE_BUILD_DIR, default build-asan) and runs every test
# headless. Leak checking is on and nothing is suppressed: any leak, in the
# window tests too, fails the run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${MORVANE_SANITIZE_BUILD_DIR:-$top/build-asan}
jobs=${MORVANE_JOBS:-$(nproc)}
bash "$top/scripts/install-deps.sh" --tests

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:check_initialization_order=1:strict_init_order=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=offscreen

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_SANITIZE=ON \
  -DMORVANE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$jobs"
ctest --test-dir "$build" --output-on-failure -j"$jobs"
