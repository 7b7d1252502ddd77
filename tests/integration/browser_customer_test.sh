#!/usr/bin/env bash
# The demo bank page in Chromium (playwright-core) walked as a customer would, against
# ruzazuv-bridge --ui scripted:ok on the real pcscd stack: the texts shown at each step, the
# page's own PIN rule, a refusal in the customer's words with its code, the transfer form filled
# from a transfer-in account, disconnect and connect again, and no request of the page unanswered.
set -euo pipefail

if [[ "$(id -u)" != 0 ]]; then
  echo "browser_customer_test: skipped, the PC/SC stack needs root" >&2
  exit 77
fi
source_dir="${RUZAZUV_SOURCE:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
bin="${RUZAZUV_BIN:-$source_dir/build/dev/bin}"
[[ -x "$bin/ruzazuv-bridge" ]] || { echo "browser_customer_test: no ruzazuv-bridge in $bin" >&2; exit 1; }
"$source_dir/tests/browser/ensure-deps.sh"

cd "$source_dir/tests/browser"
RUZAZUV_BIN="$bin" RUZAZUV_SOURCE="$source_dir" \
  "$source_dir/scripts/with-pcsc-stack" --bin "$bin" -- node --test demo_customer.test.mjs
