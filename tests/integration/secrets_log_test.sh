#!/usr/bin/env bash
# Where a PIN is left after a page's session (verify, inquiry, transfer, Pin read back, card
# disconnected) through ruzazuv-bridge on the simulated card: its log holds neither the PIN nor
# its block, and its memory holds the block only in the kept PIN store, and nowhere once
# ConnectCard has emptied that store.
set -euo pipefail
source_dir="${RUZAZUV_SOURCE:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
bin="${RUZAZUV_BIN:-$source_dir/build/dev/bin}"
[[ -x "$bin/ruzazuv-bridge" ]] || { echo "secrets_log_test: no ruzazuv-bridge built" >&2; exit 77; }
exec python3 "$source_dir/tests/integration/secrets_session.py" bridge "$source_dir" "$bin"
