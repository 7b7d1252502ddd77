#!/usr/bin/env bash
# ruzazuv-cli on the real pcscd + vpcd + ruzazuv-cardsim stack: readers, status, connection and
# the exact command bytes, the card pulled out and put back.
set -euo pipefail
[[ "$(id -u)" == 0 ]] || { echo "needs root for the private PC/SC stack" >&2; exit 77; }
cd "${RUZAZUV_SOURCE:-.}"
exec scripts/with-pcsc-stack --bin "${RUZAZUV_BIN:-build/dev/bin}" --cardsim-args --verbose -- \
  python3 tests/integration/cli_stack.py
