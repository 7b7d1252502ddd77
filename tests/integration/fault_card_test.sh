#!/usr/bin/env bash
# The card pulled, swapped between two commands, the reader's card side gone for good and
# another reader's card appearing, under pages of the bridge (see fault_card.test.mjs).
exec "$(dirname "${BASH_SOURCE[0]}")/lib/node_on_stack.sh" --card default.json -- fault_card.test.mjs
