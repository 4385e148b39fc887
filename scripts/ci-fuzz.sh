#!/usr/bin/env bash
# Builds the fuzz targets (clang's libFuzzer, with the address and
# undefined-behaviour sanitizers) and runs each on seeds made by the test
# helpers. FUZZ_SECONDS per target (60), MORVANE_FUZZ_BUILD_DIR (build-fuzz);
# the corpus grows in the build folder from run to run, and an input that
# breaks a target is kept under findings/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${MORVANE_FUZZ_BUILD_DIR:-$top/build-fuzz}
seconds=${FUZZ_SECONDS:-60}
jobs=${MORVANE_JOBS:-$(nproc)}

cmake -S "$top/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j"$jobs"
rm -rf "$build/seeds"
"$build/make_seeds" "$build/seeds"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
for target in analysis cinepak demux map_walk wav_conversion; do
  corpus=$build/corpus/$target
  findings=$build/findings/$target
  mkdir -p "$corpus" "$findings"
  echo "== ${target}_fuzzer: $seconds s"
  # The input cap keeps a map from creating more than about a hundred files.
  if "$build/${target}_fuzzer" -max_len=4096 -timeout=30 -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$findings/" "$corpus" "$build/seeds/$target" >"$build/$target.log" 2>&1; then
    grep -E '^(Done|stat::number_of_executed_units|stat::average_exec_per_sec)' "$build/$target.log" || true
  else
    tail -n 40 "$build/$target.log"
    failed+=("$target")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz targets that failed: ${failed[*]} (inputs in $build/findings)" >&2
  exit 1
fi
