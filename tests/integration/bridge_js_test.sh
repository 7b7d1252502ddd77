#!/usr/bin/env bash
# ruzazuv.js and the browser extension with node's own test runner: the client against a fake
# bridge and a fake extension, the extension's relay logic, and the generated members and
# declarations against a fresh generation from ruzazuv-cli.
set -euo pipefail
source_dir="${RUZAZUV_SOURCE:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
export RUZAZUV_BIN="${RUZAZUV_BIN:-$source_dir/build/dev/bin}"
command -v node >/dev/null || { echo "bridge_js_test: skipped, node is missing" >&2; exit 77; }
[[ -x "$RUZAZUV_BIN/ruzazuv-cli" ]] || { echo "bridge_js_test: no ruzazuv-cli in $RUZAZUV_BIN" >&2; exit 1; }
"$source_dir/web/tools/ensure-deps.sh"
cd "$source_dir/web"
node --test test/ extension/test/
