#!/usr/bin/env bash
# Runs bench/bridge_bench.mjs: on the real pcscd + vpcd + ruzazuv-cardsim stack when root (via
# scripts/with-pcsc-stack), else on the simulated reader in process. Build first (dev preset, or
# RUZAZUV_BIN=DIR).
set -euo pipefail
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export RUZAZUV_SOURCE="$source_dir"
export RUZAZUV_BIN="${RUZAZUV_BIN:-$source_dir/build/dev/bin}"
for tool in ruzazuv-bridge ruzazuv_bench; do
  [[ -x "$RUZAZUV_BIN/$tool" ]] || { echo "bridge_bench: no $RUZAZUV_BIN/$tool; build first" >&2; exit 1; }
done
"$source_dir/web/tools/ensure-deps.sh"
if [[ "$(id -u)" == 0 && -x "$source_dir/scripts/with-pcsc-stack" && "${RUZAZUV_BENCH_PCSC:-}" != simulated:* ]]; then
  exec "$source_dir/scripts/with-pcsc-stack" --bin "$RUZAZUV_BIN" -- \
    bash -c 'RUZAZUV_BENCH_PCSC=system RUZAZUV_BENCH_READER="$RUZAZUV_READER0" exec node "$0"' \
    "$source_dir/bench/bridge_bench.mjs"
fi
exec node "$source_dir/bench/bridge_bench.mjs"
