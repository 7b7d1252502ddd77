#!/usr/bin/env bash
# ruzazuv-cli doctor on the real pcscd + vpcd + ruzazuv-cardsim stack: each situation a user can
# be in gives its line's verdict and the exit status.
set -euo pipefail
[[ "$(id -u)" == 0 ]] || { echo "needs root for the private PC/SC stack" >&2; exit 77; }
cd "${RUZAZUV_SOURCE:-.}"
bin="${RUZAZUV_BIN:-build/dev/bin}"
[[ -x "$bin/ruzazuv-bridge" ]] || { echo "doctor_test: skipped, no ruzazuv-bridge in $bin" >&2; exit 77; }
exec scripts/with-pcsc-stack --bin "$bin" -- python3 tests/integration/doctor_stack.py
