#!/usr/bin/env bash
# Builds the web page: the core, the passes and the commands made into
# WebAssembly with Emscripten, and the page's files beside them, in
# build-web/site/ (MORVANE_WEB_BUILD_DIR moves the build), and beside it, in
# bench-site/, what bench/web_convert.mjs times the converter's computing
# with. Prints the page's folder.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${MORVANE_WEB_BUILD_DIR:-$top/build-web}
# Debian's Emscripten optimiser finds Debian's acorn there.
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
emcmake cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" >&2
echo "$build/site"
