#!/usr/bin/env bash
# Where a PIN is left after a session through ruzazuv-cli on the simulated card: its standard
# error holds neither the PIN nor its block, and its memory (scanned as its parent through
# /proc/PID/mem) holds the block only in the kept PIN store, and nowhere once ConnectCard has
# emptied that store.
set -euo pipefail
source_dir="${RUZAZUV_SOURCE:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
exec python3 "$source_dir/tests/integration/secrets_session.py" cli "$source_dir" \
  "${RUZAZUV_BIN:-$source_dir/build/dev/bin}"
