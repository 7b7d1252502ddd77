#!/usr/bin/env bash
# A transfer on the real pcscd stack in which ruzazuv-cardsim pulls its card out and puts it back
# during the countdown: the same card returns, the stored PIN is accepted, the scripted view
# confirms, and the card authorises the transfer (ret 0, uiSW12 36864).
set -euo pipefail

if [[ "$(id -u)" != 0 ]]; then
  echo "pull_plug_reinsert_test: skipped, the PC/SC stack needs root" >&2
  exit 77
fi

source_dir="${RUZAZUV_SOURCE:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
bin="${RUZAZUV_BIN:-$source_dir/build/dev/bin}"
command -v python3 >/dev/null || { echo "pull_plug_reinsert_test: python3 missing" >&2; exit 1; }

work="$(mktemp -d /tmp/pull_plug_reinsert_test.XXXXXX)"
trap 'rm -rf "$work"' EXIT

RUZAZUV_BIN="$bin" RUZAZUV_SOURCE="$source_dir" "$source_dir/scripts/with-pcsc-stack" \
  --bin "$bin" -- python3 "$source_dir/tests/integration/pull_plug_stack.py" reinsert \
  "$work/dialogs.log"
