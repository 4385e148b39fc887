#!/usr/bin/env bash
# The web page's tests: the page built with Emscripten, then driven in
# Chromium (playwright-core from npm, the system's browser) with streams of
# every shape, each compared with what the native morvane-cli of the given
# build writes and says. scripts/test.sh runs it after the native tests.
#   test-web.sh [BUILD]     (the native build, build/ unless given)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
bash "$top/scripts/install-deps.sh" --web
(cd "$top" && npm ci --no-audit --no-fund --loglevel=error)
site=$(bash "$top/scripts/build-web.sh")
cmake --build "$build" --target morvane-cli make_web_streams >/dev/null
MORVANE_CLI="$build/src/cli/morvane-cli" MORVANE_STREAMS="$build/tests/make_web_streams" MORVANE_SITE="$site" \
  node --test "$top/tests/web/page_test.mjs"
