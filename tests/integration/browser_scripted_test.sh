#!/usr/bin/env bash
# The demo bank page in Chromium (playwright-core) against ruzazuv-bridge --ui scripted:ok on the
# real pcscd stack: readers, card, accounts, PIN, inquiry, and a transfer during which
# ruzazuv-cardsim pulls its card out and puts it back; then a transfer cancelled in the
# confirmation. A picture of the page after the session goes to screenshots/ of the build tree.
set -euo pipefail

if [[ "$(id -u)" != 0 ]]; then
  echo "browser_scripted_test: skipped, the PC/SC stack needs root" >&2
  exit 77
fi
source_dir="${RUZAZUV_SOURCE:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
bin="${RUZAZUV_BIN:-$source_dir/build/dev/bin}"
[[ -x "$bin/ruzazuv-bridge" ]] || { echo "browser_scripted_test: no ruzazuv-bridge in $bin" >&2; exit 1; }
"$source_dir/tests/browser/ensure-deps.sh"

cd "$source_dir/tests/browser"
RUZAZUV_BIN="$bin" RUZAZUV_SOURCE="$source_dir" \
  RUZAZUV_SCREENSHOT_DIR="${RUZAZUV_SCREENSHOT_DIR:-$(cd "$bin/.." && pwd)/screenshots}" \
  "$source_dir/scripts/with-pcsc-stack" --bin "$bin" -- node --test demo_scripted.test.mjs
