#!/usr/bin/env bash
# 50 WebSocket pages of 5 origins x 1,000 requests against one bridge on the real stack: no
# answer lost, doubled or out of order, no state crossing origins (see load_bridge.test.mjs).
exec "$(dirname "${BASH_SOURCE[0]}")/lib/node_on_stack.sh" --card default.json -- load_bridge.test.mjs
