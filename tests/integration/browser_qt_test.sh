#!/usr/bin/env bash
# The demo bank page in Chromium against ruzazuv-bridge --ui qt on an X display (Xvfb) and the
# real pcscd stack: the Qt countdown shows while ruzazuv-cardsim pulls its card out and puts it
# back, and xdotool clicks the real OK button of the Qt confirmation where the view placed it.
# Screenshots of the screen with each dialog go to screenshots/ of the build tree.
set -euo pipefail

if [[ "$(id -u)" != 0 ]]; then
  echo "browser_qt_test: skipped, the PC/SC stack needs root" >&2
  exit 77
fi
source_dir="${RUZAZUV_SOURCE:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
bin="${RUZAZUV_BIN:-$source_dir/build/dev/bin}"
[[ -x "$bin/ruzazuv-bridge" ]] || { echo "browser_qt_test: no ruzazuv-bridge in $bin" >&2; exit 1; }
"$source_dir/tests/browser/ensure-deps.sh"

cd "$source_dir/tests/browser"
RUZAZUV_BIN="$bin" RUZAZUV_SOURCE="$source_dir" \
  RUZAZUV_SCREENSHOT_DIR="${RUZAZUV_SCREENSHOT_DIR:-$(cd "$bin/.." && pwd)/screenshots}" \
  "$source_dir/scripts/with-pcsc-stack" --bin "$bin" -- node --test demo_qt.test.mjs
