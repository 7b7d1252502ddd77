#!/usr/bin/env bash
# Runs bench/extension_rtt.mjs: a get from a page in Chromium over the extension and
# ruzazuv-nmhost next to the same over the WebSocket bridge, both on the simulated card. Build
# first (dev preset, or RUZAZUV_BIN=DIR).
set -euo pipefail
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export RUZAZUV_SOURCE="$source_dir"
export RUZAZUV_BIN="${RUZAZUV_BIN:-$source_dir/build/dev/bin}"
for tool in ruzazuv-bridge ruzazuv-nmhost; do
  [[ -x "$RUZAZUV_BIN/$tool" ]] || { echo "extension_rtt: no $RUZAZUV_BIN/$tool; build first" >&2; exit 1; }
done
"$source_dir/tests/browser/ensure-deps.sh"
"$source_dir/web/tools/ensure-deps.sh"
exec node "$source_dir/bench/extension_rtt.mjs"
