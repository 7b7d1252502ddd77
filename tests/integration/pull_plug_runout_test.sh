#!/usr/bin/env bash
# A transfer on the real pcscd stack that leaves the card in: the real 15-second countdown runs
# out, the 2002 message stays 5 s, and the transfer is refused with detail code 1015 (about 20 s).
set -euo pipefail

if [[ "$(id -u)" != 0 ]]; then
  echo "pull_plug_runout_test: skipped, the PC/SC stack needs root" >&2
  exit 77
fi

source_dir="${RUZAZUV_SOURCE:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
bin="${RUZAZUV_BIN:-$source_dir/build/dev/bin}"
command -v python3 >/dev/null || { echo "pull_plug_runout_test: python3 missing" >&2; exit 1; }

work="$(mktemp -d /tmp/pull_plug_runout_test.XXXXXX)"
trap 'rm -rf "$work"' EXIT

RUZAZUV_BIN="$bin" RUZAZUV_SOURCE="$source_dir" "$source_dir/scripts/with-pcsc-stack" \
  --bin "$bin" -- python3 "$source_dir/tests/integration/pull_plug_stack.py" runout \
  "$work/dialogs.log"
