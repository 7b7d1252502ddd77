#!/usr/bin/env bash
# Soak of one bridge on the real pcscd + vpcd + ruzazuv-cardsim stack (needs root): mixed calls
# from pages of five origins and a page that connects to the card and reads it, for SECONDS
# (default 600). Prints p50/p99 latency and the bridge's resident memory sampled every minute
# (every fifth of the run when shorter) with its slope, and fails when the memory is not flat
# within 10 %. Build first (dev preset, or RUZAZUV_BIN=DIR).
#
# usage: bench/soak.sh [SECONDS]
set -euo pipefail
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export RUZAZUV_SOURCE="$source_dir"
export RUZAZUV_BIN="$(cd "${RUZAZUV_BIN:-$source_dir/build/dev/bin}" && pwd)"
seconds="${1:-600}"
[[ "$seconds" =~ ^[0-9]+$ && "$seconds" -ge 10 ]] || { echo "soak: SECONDS is a whole number, at least 10" >&2; exit 2; }
[[ "$(id -u)" == 0 ]] || { echo "soak: needs root for the private PC/SC stack" >&2; exit 2; }
[[ -x "$RUZAZUV_BIN/ruzazuv-bridge" ]] || { echo "soak: no $RUZAZUV_BIN/ruzazuv-bridge; build first" >&2; exit 1; }
"$source_dir/web/tools/ensure-deps.sh"
exec "$source_dir/scripts/with-pcsc-stack" --bin "$RUZAZUV_BIN" --card default.json -- \
  node "$source_dir/bench/soak.mjs" "$seconds"
