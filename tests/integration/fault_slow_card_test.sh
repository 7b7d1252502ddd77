#!/usr/bin/env bash
# A slow card during the pull-plug countdown of transfers through ruzazuv-cli: the outcome
# codes still follow the procedure's rules (see fault_slow_card.test.mjs).
exec "$(dirname "${BASH_SOURCE[0]}")/lib/node_on_stack.sh" --card default.json \
  --second-card second-card.json -- fault_slow_card.test.mjs
