#!/usr/bin/env bash
# Builds the web page and serves it on this machine (127.0.0.1) until Ctrl+C,
# printing its address. Installs with apt-get what building needs when it is
# missing, and the npm packages of the browser tests.
#   run-web.sh [PORT]     (8080 unless given; 0 takes any free port)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/install-deps.sh" --web
(cd "$top" && npm ci --no-audit --no-fund --loglevel=error)
site=$(bash "$top/scripts/build-web.sh")
exec node "$top/web/serve.mjs" "$site" "${1:-8080}"
