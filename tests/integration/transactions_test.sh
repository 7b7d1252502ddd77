#!/usr/bin/env bash
# The five authorisations end to end: ruzazuv-cli on the real pcscd with the simulated card runs
# an inquiry, a tax payment, a payment, and (on a reader exempt from the pull-plug check) a
# confirmed transfer and an expense; the card's log shows each record it received, and TAC and
# OptionData1 are checked against independent computations. Then the refusals: a malformed
# check code, a transfer whose confirmation is cancelled, and a page outside the bank's site.
set -euo pipefail

if [[ "$(id -u)" != 0 ]]; then
  echo "transactions_test: skipped, the PC/SC stack needs root" >&2
  exit 77
fi

source_dir="${RUZAZUV_SOURCE:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
bin="${RUZAZUV_BIN:-$source_dir/build/dev/bin}"
profile="$source_dir/sim/profiles/default.json"
for tool in python3 openssl; do
  command -v "$tool" >/dev/null || { echo "transactions_test: $tool missing" >&2; exit 1; }
done

work="$(mktemp -d /tmp/transactions.XXXXXX)"
trap 'rm -rf "$work"' EXIT

cat > "$work/page.py" <<'PY'
import datetime
import hashlib
import json
import os
import subprocess
import sys

source_dir, profile_file = sys.argv[1], sys.argv[2]
sys.path.insert(0, os.path.join(source_dir, "tests", "integration", "lib"))
from rpc import Cli  # noqa: E402

with open(profile_file, encoding="utf-8") as f:
    profile = json.load(f)
reader = os.environ["RUZAZUV_READER0"]
card_log = os.environ["RUZAZUV_CARDSIM_LOG0"]
site = "https://ebank.ruzazuv.example/"
failures = []


def check(what, actual, expected):
    if actual != expected:
        failures.append(f"{what}: got {actual!r}, expected {expected!r}")


def records_received():
    """The transaction records of the authorisation commands in the card's log, in order."""
    records = []
    with open(card_log, encoding="utf-8") as f:
        for line in f:
            if "> " not in line:
                continue
            command = line.split("> ", 1)[1].split()[0].upper()
            if command.startswith("00E21080"):
                lc = int(command[8:10], 16)
                check("authorisation command length", len(command), 2 * (5 + lc + 1))
                check("authorisation Le", command[-2:], "00")
                records.append(bytes.fromhex(command[10:10 + 2 * lc]).decode("ascii"))
    return records


def expected_tac(record):
    digest = hashlib.sha256(bytes.fromhex(profile["tacKey"]) + record.encode()).digest()
    return digest[:8].hex().upper()


def enciphered(text):
    plain = text + "0" * (-len(text) % 16)
    key = "5e0b7c19d2a4f836".encode().hex()
    out = subprocess.run(["openssl", "enc", "-aes-128-ecb", "-nopad", "-K", key],
                         input=plain.encode(), capture_output=True, check=True).stdout
    return out.hex().upper()


def authorise(cli, method, expected_record, code):
    """Runs one authorisation and checks what the card received and what the page reads."""
    before = len(records_received())
    cli.put("OptionData1", "PAGE" + method)
    check(f"{method} ret", cli.call(method), 0)
    check(f"{method} status", cli.get("uiSW12"), 0x9000)
    records = records_received()
    check(f"{method} records sent", len(records), before + 1)
    record = records[-1] if len(records) > before else ""
    if expected_record is not None:
        check(f"{method} record", record, expected_record)
    tac = expected_tac(record)
    check(f"{method} ICC", cli.get("ICC"), profile["icc"])
    check(f"{method} TACLen", cli.get("TACLen"), "8")
    check(f"{method} TAC", cli.get("TAC"), tac)
    check(f"{method} PCode", cli.get("PCode"), code)
    check(f"{method} Account", cli.get("Account"), account)
    check(f"{method} OptionData1", cli.get("OptionData1"), enciphered(tac + "PAGE" + method))


account = profile["accounts"][1]
money = "00000000150000"
fd_id, check_code, date_time = "FD000001", "CHK00001", "20260307090503"
import_account, payment_type, cancel_no = "8120000000000003", "TAX01", "CN00000000000042"

with Cli(["--site-address", site, "--page-address", site + "transfer.html",
          "--ui", "scripted:ok"]) as cli:
    check("ConnectReader", cli.call("ConnectReader"), 0)
    # The reader is exempt from the pull-plug check; the page then hands over the PIN itself.
    cli.put("noPullPlugReader", "Some Other Reader|" + reader)
    cli.put("baReaderName", reader)
    check("isPullPlugReader", cli.get("isPullPlugReader"), "False")
    check("ConnectCard", cli.call("ConnectCard"), 0)
    cli.put("Pin", profile["pin"])
    check("SupportURL", cli.get("SupportURL"), "0")

    cli.put("money", "150000")
    cli.put("FdId", fd_id)
    cli.put("FdChkCode", check_code)
    cli.put("DateTime", date_time)
    cli.put("curAccntIndex", 2)
    cli.put("PaymentType", payment_type)
    cli.put("CancelNo", cancel_no)
    cli.put("MerchantID", "MERCHANT0012")
    cli.put("ImprtAccnt", import_account)
    cli.put("AcceptNo", "812")

    authorise(cli, "FiscCardInquiry", "2500" + check_code + account, "2500")
    authorise(cli, "FiscCardTax",
              "2521" + money + fd_id + check_code + date_time + payment_type + account + cancel_no,
              "2521")

    # The payment dates itself with the local time.
    cli.put("DateTime", "19990101000000")
    authorise(cli, "FiscCardPayment", None, "2541")
    stamped = cli.get("DateTime")
    records = records_received()
    check("payment record", records[-1],
          "2541" + money + fd_id + check_code + stamped + "0" * 18 + "MERCHANT0012" + account)
    try:
        taken = datetime.datetime.strptime(stamped, "%Y%m%d%H%M%S")
        if abs((datetime.datetime.now() - taken).total_seconds()) > 300:
            failures.append(f"payment DateTime {stamped} is not the local time")
    except ValueError:
        failures.append(f"payment DateTime {stamped!r} is not a date")
    cli.put("DateTime", date_time)

    # Confirmed by the scripted view's one "ok".
    authorise(cli, "FiscCardTransfer",
              "2521" + money + fd_id + check_code + date_time + import_account + account, "2521")
    authorise(cli, "FiscCardExpense",
              "2561" + money + fd_id + check_code + date_time + account, "2561")

    # Refusals. A check code of 7 characters: after the PIN was verified again, nothing more.
    sent = len(records_received())
    tac = cli.get("TAC")
    cli.put("FdChkCode", "CHK0001")
    check("short FdChkCode ret", cli.call("FiscCardInquiry"), -1001)
    check("short FdChkCode code", cli.get("uiSW12"), 1004)
    cli.put("FdChkCode", check_code)
    # The scripted actions have run out: the view cancels, and the card never sees the record.
    check("cancelled transfer ret", cli.call("FiscCardTransfer"), -1001)
    check("cancelled transfer code", cli.get("uiSW12"), 1015)
    check("records after the refusals", len(records_received()), sent)
    check("TAC after the refusals", cli.get("TAC"), tac)

    cli.put("iDisConnectType", 0)
    check("DisConnectCard", cli.call("DisConnectCard"), 0)
    check("DisConnectReader", cli.call("DisConnectReader"), 0)

# A page outside the bank's site may not run any authorisation.
with Cli(["--site-address", site, "--page-address", "https://elsewhere.example/",
          "--ui", "scripted:ok"]) as cli:
    check("unapproved ConnectReader", cli.call("ConnectReader"), 0)
    cli.put("baReaderName", reader)
    check("unapproved ConnectCard", cli.call("ConnectCard"), 0)
    cli.put("Pin", profile["pin"])
    sent = len(records_received())
    for method in ("FiscCardInquiry", "FiscCardTransfer", "FiscCardTax", "FiscCardPayment",
                   "FiscCardExpense"):
        check(f"unapproved {method} ret", cli.call(method), -1001)
        check(f"unapproved {method} code", cli.get("uiSW12"), 1016)
    check("records for the unapproved page", len(records_received()), sent)
    cli.put("iDisConnectType", 0)
    cli.call("DisConnectCard")
    cli.call("DisConnectReader")

for failure in failures:
    print(f"transactions_test: {failure}", file=sys.stderr)
sys.exit(1 if failures else 0)
PY

RUZAZUV_BIN="$bin" "$source_dir/scripts/with-pcsc-stack" --bin "$bin" --card "$profile" \
  --cardsim-args --verbose -- python3 "$work/page.py" "$source_dir" "$profile"
