#!/usr/bin/env bash
# Runs node test files against a private real PC/SC stack (scripts/with-pcsc-stack), for the
# *_test.sh wrappers of the node tests in tests/integration/.
#
# usage: lib/node_on_stack.sh [with-pcsc-stack options] -- TEST.mjs...   (paths relative to
#        tests/integration/). Exit 77 (skipped) without root, node or the bridge.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source_dir="${RUZAZUV_SOURCE:-$(cd "$here/../.." && pwd)}"
bin="$(cd "${RUZAZUV_BIN:-$source_dir/build/dev/bin}" && pwd)"
name="node tests ($*)"
[[ "$(id -u)" == 0 ]] || { echo "$name: skipped, the PC/SC stack needs root" >&2; exit 77; }
command -v node >/dev/null || { echo "$name: skipped, node is missing" >&2; exit 77; }
for tool in ruzazuv-bridge ruzazuv-cli; do
  [[ -x "$bin/$tool" ]] || { echo "$name: skipped, no $tool in $bin" >&2; exit 77; }
done
stack_args=()
while [[ $# -gt 0 && "$1" != -- ]]; do stack_args+=("$1"); shift; done
[[ "${1:-}" == -- ]] && shift
tests=()
for t in "$@"; do tests+=("$here/$t"); done
"$source_dir/web/tools/ensure-deps.sh"
export RUZAZUV_BIN="$bin" RUZAZUV_SOURCE="$source_dir"
exec "$source_dir/scripts/with-pcsc-stack" --bin "$bin" "${stack_args[@]}" -- \
  node --test --test-concurrency=1 "${tests[@]}"
