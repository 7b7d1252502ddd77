#!/usr/bin/env bash
# The bridge's log after a page's session with a PIN (verify, inquiry, Pin read back, card
# disconnected) on the simulated card holds neither the PIN nor its block.
set -euo pipefail
source_dir="${RUZAZUV_SOURCE:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
bin="${RUZAZUV_BIN:-$source_dir/build/dev/bin}"
[[ -x "$bin/ruzazuv-bridge" ]] || { echo "secrets_log_test: no ruzazuv-bridge built" >&2; exit 77; }
exec python3 "$source_dir/tests/integration/secrets_session.py" bridge "$source_dir" "$bin"
