#!/usr/bin/env bash
# pcscd killed under ruzazuv-cli and under the bridge, idle and in the middle of card work:
# every call answers with a PC/SC result and, once pcscd is back, the same process connects
# again (see fault_pcscd.test.mjs).
exec "$(dirname "${BASH_SOURCE[0]}")/lib/node_on_stack.sh" -- fault_pcscd.test.mjs
