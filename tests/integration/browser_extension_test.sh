#!/usr/bin/env bash
# Pages in Chromium (playwright-core) with the unpacked extension from web/extension and
# ruzazuv-nmhost registered in the test profile, on the real pcscd stack with two cards: see
# tests/browser/extension_stack.test.mjs.
set -euo pipefail

if [[ "$(id -u)" != 0 ]]; then
  echo "browser_extension_test: skipped, the PC/SC stack needs root" >&2
  exit 77
fi
source_dir="${RUZAZUV_SOURCE:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
bin="$(cd "${RUZAZUV_BIN:-$source_dir/build/dev/bin}" && pwd)"
for tool in ruzazuv-bridge ruzazuv-nmhost; do
  [[ -x "$bin/$tool" ]] || { echo "browser_extension_test: no $tool in $bin" >&2; exit 1; }
done
"$source_dir/tests/browser/ensure-deps.sh"
"$source_dir/web/tools/ensure-deps.sh"

cd "$source_dir/tests/browser"
RUZAZUV_BIN="$bin" RUZAZUV_SOURCE="$source_dir" \
  "$source_dir/scripts/with-pcsc-stack" --bin "$bin" --second-card second-card.json -- \
  node --test extension_stack.test.mjs
