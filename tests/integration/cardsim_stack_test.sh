#!/usr/bin/env bash
# The real PC/SC stack with two virtual cards: both readers list with a card present, the first
# card answers the application selection through pcscd, and the control channel pulls, inserts
# and swaps the card, which pcscd reports.
#
# usage: cardsim_stack_test.sh [BIN_DIR]   (default $RUZAZUV_BIN, else build/dev/bin; the test
#        runs itself under scripts/with-pcsc-stack). Exit 77 (skipped) when not root.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
bin="$(cd "${1:-${RUZAZUV_BIN:-$here/../../build/dev/bin}}" && pwd)"

if [[ "${RUZAZUV_PCSC_STACK:-}" != 1 ]]; then
  [[ "$(id -u)" == 0 ]] || { echo "skipped: needs root"; exit 77; }
  exec "$here/../../scripts/with-pcsc-stack" --bin "$bin" --card default.json \
    --second-card second-card.json -- "${BASH_SOURCE[0]}" "$bin"
fi

failures=0
check() {  # check DESCRIPTION COMMAND...
  local what="$1"; shift
  if "$@"; then echo "ok   - $what"; else echo "FAIL - $what"; failures=$((failures + 1)); fi
}

control() {  # control PORT COMMAND -> the answer line
  exec 3<>"/dev/tcp/127.0.0.1/$1"
  printf '%s\n' "$2" >&3
  local line
  IFS= read -r -t 10 line <&3 || line="(no answer)"
  exec 3<&- 3>&-
  printf '%s\n' "$line"
}

answer_is() { [[ "$(control "$1" "$2")" == "$3"* ]]; }

reader_state() {  # reader_state NAME present|empty
  "$bin/ruzazuv-pcsc-wait" --timeout 5000 --state "$2" --reader "$1" >/dev/null
}

select_answer() {
  "$bin/ruzazuv-pcsc-apdu" --reader "$1" 00A4040008A00000017295000100 2>/dev/null | sed -n 2p
}

check "first reader is Virtual PCD 00 00" [ "$RUZAZUV_READER0" = "Virtual PCD 00 00" ]
check "second reader is Virtual PCD 00 01" [ "$RUZAZUV_READER1" = "Virtual PCD 00 01" ]
check "both readers hold a card" reader_state "$RUZAZUV_READER0" present
check "the second reader holds one too" reader_state "$RUZAZUV_READER1" present
check "the application answers with data and 90 00" \
  bash -c '[[ "$0" =~ ^\<\ 6F[0-9A-F]+9000$ ]]' "$(select_answer "$RUZAZUV_READER0")"
check "the card saw the selection" answer_is "$RUZAZUV_CARDSIM_CONTROL0" "count 00A404" "ok 1"

check "remove is acknowledged" answer_is "$RUZAZUV_CARDSIM_CONTROL0" remove "ok removed"
check "pcscd sees the reader empty" reader_state "$RUZAZUV_READER0" empty
check "the other reader keeps its card" reader_state "$RUZAZUV_READER1" present
check "no card, no answer" bash -c '! "$0" --reader "$1" 00A4040008A00000017295000100 \
  >/dev/null 2>&1' "$bin/ruzazuv-pcsc-apdu" "$RUZAZUV_READER0"
check "status tells the card is out" answer_is "$RUZAZUV_CARDSIM_CONTROL0" status \
  "ok inserted=0 connected=0 card=default"

check "insert is acknowledged" answer_is "$RUZAZUV_CARDSIM_CONTROL0" insert "ok inserted default"
check "pcscd sees the card again" reader_state "$RUZAZUV_READER0" present

check "swap answers once the other card is in" \
  answer_is "$RUZAZUV_CARDSIM_CONTROL0" "swap second-card.json 1200" "ok swapped second-card"
check "the swapped card is present" reader_state "$RUZAZUV_READER0" present
check "and it is the other card" answer_is "$RUZAZUV_CARDSIM_CONTROL0" status \
  "ok inserted=1 connected=1 card=second-card"
check "unknown commands are refused" answer_is "$RUZAZUV_CARDSIM_CONTROL0" dance "error"
check "a bad script is refused" answer_is "$RUZAZUV_CARDSIM_CONTROL0" "script later,remove" "error"

# A scripted pull: the card leaves 300 ms after the next selection and comes back 1.5 s later.
check "a script is accepted" answer_is "$RUZAZUV_CARDSIM_CONTROL1" \
  "script on-apdu:00A404+300,remove;then:1500,insert" "ok 2 steps"
select_answer "$RUZAZUV_READER1" >/dev/null
check "the scripted removal happens" reader_state "$RUZAZUV_READER1" empty
check "the scripted insertion follows" reader_state "$RUZAZUV_READER1" present

if [[ "$failures" -ne 0 ]]; then
  echo "$failures check(s) failed; card logs:"
  cat "$RUZAZUV_CARDSIM_LOG0" "$RUZAZUV_CARDSIM_LOG1"
  exit 1
fi
echo "all checks passed"
