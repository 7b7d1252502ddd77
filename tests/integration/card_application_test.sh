#!/usr/bin/env bash
# The card application end to end: ruzazuv-cli on the real pcscd with the simulated card lists
# the accounts and transfer-in accounts, verifies and changes the PIN (and changes it back),
# reads the trade log and completes a server challenge, each with the card's own values.
set -euo pipefail

if [[ "$(id -u)" != 0 ]]; then
  echo "card_application_test: skipped, the PC/SC stack needs root" >&2
  exit 77
fi

source_dir="${RUZAZUV_SOURCE:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
bin="${RUZAZUV_BIN:-$source_dir/build/dev/bin}"
profile="$source_dir/sim/profiles/default.json"
for tool in python3 openssl; do
  command -v "$tool" >/dev/null || { echo "card_application_test: $tool missing" >&2; exit 1; }
done

work="$(mktemp -d /tmp/card-application.XXXXXX)"
trap 'rm -rf "$work"' EXIT

# The page's side of the conversation. It runs inside the stack and talks to ruzazuv-cli one
# request at a time, since the challenge's answer depends on the card's random number.
cat > "$work/page.py" <<'PY'
import json
import os
import re
import subprocess
import sys

cli, profile_file = sys.argv[1], sys.argv[2]
with open(profile_file, encoding="utf-8") as f:
    profile = json.load(f)
reader = os.environ["RUZAZUV_READER0"]

control = subprocess.Popen([cli, "--pcsc", "system"], stdin=subprocess.PIPE,
                           stdout=subprocess.PIPE, text=True)
failures = []
next_id = 0


def rpc(method, **params):
    global next_id
    next_id += 1
    request = {"jsonrpc": "2.0", "id": next_id, "method": method, "params": params}
    control.stdin.write(json.dumps(request) + "\n")
    control.stdin.flush()
    line = control.stdout.readline()
    if not line:
        sys.exit(f"ruzazuv-cli ended during {request}")
    answer = json.loads(line)
    if answer.get("id") != next_id or "error" in answer:
        sys.exit(f"unexpected answer {answer} to {request}")
    return answer["result"]


def call(name):
    return rpc("call", name=name)


def get(name):
    return rpc("get", name=name)


def put(name, value):
    rpc("put", name=name, value=value)


def check(what, actual, expected):
    if actual != expected:
        failures.append(f"{what}: got {actual!r}, expected {expected!r}")


def pin_block(pin):
    return pin + "F" * (16 - len(pin))


def verify(block):
    put("baBuf", block)
    put("bPq", 16)
    check(f"VerifyPIN {block[:2]}.. ret", call("VerifyPIN"), 0)
    return get("uiSW12")


def change_pin(pin):
    put("Pin", pin)
    check(f"ChangePIN ret", call("ChangePIN"), 0)
    check(f"ChangePIN status", get("uiSW12"), 0x9000)


def server_answer(random_number):
    plain = random_number + "0" * (-len(random_number) % 16)
    key = "5e0b7c19d2a4f836".encode().hex()
    out = subprocess.run(["openssl", "enc", "-aes-128-ecb", "-nopad", "-K", key],
                         input=plain.encode(), capture_output=True, check=True).stdout
    return out.hex().upper()


check("ConnectReader", call("ConnectReader"), 0)
put("baReaderName", reader)
check("ConnectCard", call("ConnectCard"), 0)

# Own accounts: file 1001.
check("FiscListAccounts", call("FiscListAccounts"), 0)
check("issueNo", get("issueNo"), profile["issueNumber"])
check("Remark", get("Remark"), profile["remark"].upper())
for i, account in enumerate(profile["accounts"]):
    check(f"account{i}", get(f"account{i}"), account)

# Transfer-in accounts: records 1 to 7 and 10 of file 1002.
check("FiscListImportAccounts", call("FiscListImportAccounts"), 0)
imports = profile["importAccounts"]
for i in range(7):
    check(f"importaccount{i}", get(f"importaccount{i}"), imports[i])
check("importaccount7", get("importaccount7"), imports[9])

# PIN: a wrong one costs a try, the right one is accepted and kept.
pin = profile["pin"]
check("wrong PIN", verify(pin_block("999999")), 0x63C2)
check("right PIN", verify(pin_block(pin)), 0x9000)
check("Pin after VerifyPIN", get("Pin"), pin_block(pin))

# Change it, check that only the new one verifies, and change it back.
change_pin("654321")
check("old PIN after change", verify(pin_block(pin)), 0x63C2)
check("new PIN after change", verify(pin_block("654321")), 0x9000)
change_pin(pin)
check("PIN changed back", verify(pin_block(pin)), 0x9000)

# Trade log: the card's records as upper-case hex; entries without a record stay empty.
check("FiscListTradeLog", call("FiscListTradeLog"), 0)
for i, entry in enumerate(profile["tradeLog"], start=1):
    check(f"tradeLog{i}", get(f"tradeLog{i}"), entry.upper())
check(f"tradeLog{len(profile['tradeLog']) + 1}", get(f"tradeLog{len(profile['tradeLog']) + 1}"), "")

# The server challenge.
check("GenRandomNumber", call("GenRandomNumber"), 0)
random_number = get("randomNumber")
if not re.fullmatch(r"[0-9A-F]{16}", random_number):
    failures.append(f"randomNumber {random_number!r} is not 16 upper-case hex characters")
check("TAC", get("TAC"), random_number)
check("OptionData1 after the challenge", get("OptionData1"), "")
answer = server_answer(random_number)
put("OptionData1", answer.lower())
check("lower-case answer", call("AuthenServer"), -1001)
check("lower-case answer status", get("uiSW12"), 1019)
put("OptionData1", answer)
check("server answer", call("AuthenServer"), 0)

# A new challenge has a new number, and the old answer no longer fits.
check("second GenRandomNumber", call("GenRandomNumber"), 0)
if get("randomNumber") == random_number:
    failures.append("the second challenge repeated the random number")
put("OptionData1", answer)
check("old answer", call("AuthenServer"), -1001)

put("iDisConnectType", 0)
check("DisConnectCard", call("DisConnectCard"), 0)
check("DisConnectReader", call("DisConnectReader"), 0)
control.stdin.close()
check("ruzazuv-cli exit", control.wait(timeout=10), 0)

for failure in failures:
    print(f"card_application_test: {failure}", file=sys.stderr)
sys.exit(1 if failures else 0)
PY

RUZAZUV_BIN="$bin" "$source_dir/scripts/with-pcsc-stack" --bin "$bin" --card "$profile" -- \
  python3 "$work/page.py" "$bin/ruzazuv-cli" "$profile"
