#!/usr/bin/env bash
# Clicks the confirmation dialog's real OK button with the X server's mouse (run under
# xvfb-run): starts the dialog test's mouse case under Wine, reads where it put the OK button,
# moves the pointer over the dialog and onto the button, and clicks.
# usage: click_ok_with_xdotool.sh WINE_RUNNER TEST_PROGRAM
set -euo pipefail
runner="$1"
program="$2"
handshake="$(mktemp -d)"
trap 'rm -rf "$handshake"' EXIT
RUZAZUV_MOUSE_HANDSHAKE="Z:$handshake" "$runner" "$program" \
  --gtest_filter='Win32ConfirmByMouse.*' &
test_pid=$!
for _ in $(seq 1 600); do
  [[ -f "$handshake/ok-button.txt" ]] && break
  kill -0 "$test_pid" 2>/dev/null || break
  sleep 0.1
done
if [[ ! -f "$handshake/ok-button.txt" ]]; then
  echo "click_ok_with_xdotool: the dialog never said where its OK button is" >&2
  kill "$test_pid" 2>/dev/null || true
  wait "$test_pid" || true
  # The runner is a script around Wine: end the prefix's programs too.
  WINEPREFIX="$RUZAZUV_WINEPREFIX" wineserver -k 2>/dev/null || true
  exit 1
fi
read -r x y <"$handshake/ok-button.txt"
y="${y%$'\r'}"
# Over the dialog first (its caption flashes on moves), then onto the button, then the click.
xdotool mousemove "$((x + 30))" "$((y + 30))"
sleep 0.2
xdotool mousemove "$x" "$y"
sleep 0.2
xdotool click 1
wait "$test_pid"
