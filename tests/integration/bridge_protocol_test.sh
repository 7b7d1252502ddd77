#!/usr/bin/env bash
# The real ruzazuv-bridge on the simulated reader, driven by node over WebSocket and raw TCP:
# bad JSON and JSON-RPC, wrong members and values, big batches and frames, refused handshakes,
# interleaving and vanishing clients, a client closing while its transfer dialog is open.
set -euo pipefail
source_dir="${RUZAZUV_SOURCE:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
export RUZAZUV_BIN="${RUZAZUV_BIN:-$source_dir/build/dev/bin}"
export RUZAZUV_SOURCE="$source_dir"
command -v node >/dev/null || { echo "bridge_protocol_test: skipped, node is missing" >&2; exit 77; }
[[ -x "$RUZAZUV_BIN/ruzazuv-bridge" ]] || {
  echo "bridge_protocol_test: skipped, no ruzazuv-bridge in $RUZAZUV_BIN (RUZAZUV_BRIDGE off?)" >&2
  exit 77
}
"$source_dir/web/tools/ensure-deps.sh"
cd "$source_dir/web"
node --test --test-concurrency=1 integration/
