#!/usr/bin/env bash
# A script host drives RuzaZUV.dll: registers the module in the build tree's prefix, runs the
# session SCRIPT with cscript on the simulated card (RUZAZUV_PCSC), on the bank's page
# (RUZAZUV_PAGE_ADDRESS), and checks that a PC/SC choice the module cannot follow makes control
# creation fail instead of falling back.
#
#   script_host_test.sh MODULE.dll PREFIX RUNNER SCRIPT PROFILE.json
set -uo pipefail
module="$1"
export RUZAZUV_WINEPREFIX="$2"
runner="$3"
script="$4"
profile="$5"
failures=0

"$runner" regsvr32 /s "$module" || { echo "script_host_test: regsvr32 failed" >&2; exit 1; }

out="$(RUZAZUV_PCSC="simulated:Z:$profile" RUZAZUV_PAGE_ADDRESS=https://ebank.ruzazuv.example/ \
  "$runner" cscript //nologo "Z:$script" 2>&1 | tr -d '\r')"
status=$?
echo "$out"
if [[ $status -ne 0 || "$(tail -1 <<<"$out")" != "session passed" ]]; then
  echo "script_host_test: $(basename "$script") failed (status $status)" >&2
  failures=$((failures + 1))
fi

# No quiet fallback: an unknown binding and an unreadable profile refuse to make the control.
probe="$(dirname "$module")/creation_probe.js"
cat >"$probe" <<'JS'
try {
  new ActiveXObject("RuzaZUV.Vorn");
  WScript.Echo("created");
} catch (e) {
  WScript.Echo("refused");
}
JS
for choice in bogus "simulated:Z:/no/such/profile.json"; do
  answer="$(RUZAZUV_PCSC="$choice" "$runner" cscript //nologo "Z:$probe" 2>&1 | tr -d '\r' | tail -1)"
  if [[ "$answer" != "refused" ]]; then
    echo "script_host_test: RUZAZUV_PCSC=$choice: $answer, expected the creation refused" >&2
    failures=$((failures + 1))
  fi
done

exit $((failures > 0))
