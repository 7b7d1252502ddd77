"""A transfer through ruzazuv-cli --ui scripted:ok on the real stack, with the pull-plug check.

usage: pull_plug_stack.py reinsert|runout LOGFILE

reinsert: the card program pulls its card 1.5 s after the transfer's own PIN check and puts it
back 2 s later, inside the countdown; the transfer then completes.
runout:   the card stays in; the real 15-second countdown runs out, its message stays for 5 s,
and the transfer is refused with detail code 1015.
"""
import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
from rpc import CardSim, Cli  # noqa: E402

mode, log_file = sys.argv[1], sys.argv[2]
source_dir = os.environ["RUZAZUV_SOURCE"]
with open(os.path.join(source_dir, "sim", "profiles", "default.json"), encoding="utf-8") as f:
    profile = json.load(f)
reader = os.environ["RUZAZUV_READER0"]
site = "https://ebank.ruzazuv.example/"
failures = []


def check(what, actual, expected):
    if actual != expected:
        failures.append(f"{what}: got {actual!r}, expected {expected!r}")


# The dialogs' log (standard error of ruzazuv-cli) goes to LOGFILE for the checks below.
log = open(log_file, "w", encoding="utf-8")
sys.stderr.flush()
saved_stderr = sys.stderr
sys.stderr = log
try:
    with Cli(["--site-address", site, "--page-address", site + "transfer.html",
              "--ui", "scripted:ok"]) as cli:
        check("ConnectReader", cli.call("ConnectReader"), 0)
        cli.put("baReaderName", reader)
        check("isPullPlugReader", cli.get("isPullPlugReader"), "True")
        check("ConnectCard", cli.call("ConnectCard"), 0)
        cli.put("Pin", profile["pin"])
        cli.put("money", "150000")
        cli.put("FdId", "FD000001")
        cli.put("FdChkCode", "CHK00001")
        cli.put("DateTime", "20260307090503")
        cli.put("curAccntIndex", 2)
        cli.put("ImprtAccnt", "8120000000000003")
        cli.put("AcceptNo", "812")
        if mode == "reinsert":
            # The transfer's first VERIFY is its own PIN check, just before the countdown opens.
            CardSim().command("script on-apdu:00200010#1+1500,remove;then:2000,insert")
        ret = cli.call("FiscCardTransfer")
        sw = cli.get("uiSW12")
        if mode == "reinsert":
            check("transfer ret", ret, 0)
            check("transfer uiSW12", sw, 36864)
            check("TACLen", cli.get("TACLen"), "8")
        else:
            check("transfer ret", ret, -1001)
            check("transfer uiSW12", sw, 1015)
            check("TAC after the refusal", cli.get("TAC"), "")
        cli.put("iDisConnectType", 0)
        cli.call("DisConnectCard")
        cli.call("DisConnectReader")
finally:
    sys.stderr = saved_stderr
    log.close()

with open(log_file, encoding="utf-8") as f:
    shown = f.read()


def saw(text):
    if text not in shown:
        failures.append(f"the dialogs' log lacks {text!r}")


saw("countdown: 請於倒數15秒內將晶片卡拔出，再插入讀卡機，以完成交易")
if mode == "reinsert":
    saw("抽拔晶片卡偵測 closed with 2000")
    saw("confirmation dialog: ok")
    saw("confirmation dialog: closed with 1")
else:
    saw("countdown: 請於倒數00秒內將晶片卡拔出，再插入讀卡機，以完成交易")
    saw("countdown: [2002]時間內未拔插晶片卡")
    saw("抽拔晶片卡偵測 closed with 2002")
    if "confirmation dialog" in shown:
        failures.append("the confirmation dialog opened after a failed pull-plug check")
if "message box" in shown:
    failures.append("a message box was shown")
if profile["pin"] in shown:
    failures.append("the PIN appears in the log")

for failure in failures:
    print(f"pull_plug_stack ({mode}): {failure}", file=sys.stderr)
if failures:
    print(shown, file=sys.stderr)
sys.exit(1 if failures else 0)
