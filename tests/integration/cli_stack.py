"""Reader context and card connection through ruzazuv-cli on the real stack."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "lib"))
from rpc import CardSim, Cli, RpcError, expect_equal, check, wait_for  # noqa: E402

reader0 = os.environ["RUZAZUV_READER0"]
reader1 = os.environ["RUZAZUV_READER1"]
log0 = os.environ["RUZAZUV_CARDSIM_LOG0"]
DEFAULT_ATR = "3B8C8131FE4552555A415A55564649534331EC"


def commands_seen():
    """The command APDUs the card received, from its verbose log."""
    with open(log0, encoding="utf-8") as f:
        return [line.split("> ", 1)[1].split()[0] for line in f if "> " in line]


with Cli() as cli:
    expect_equal(cli.call("ConnectReader"), 0, "ConnectReader")
    expect_equal(cli.call("ListReaders"), 0, "ListReaders")
    expect_equal(cli.get("iNoR"), 2, "iNoR")
    expect_equal(cli.get("caReader1"), reader0, "caReader1")
    expect_equal(cli.get("caReader2"), reader1, "caReader2")
    expect_equal(cli.get("caReader3"), "", "caReader3 (the closing entry)")

    # A reader nobody has: the platform's code passed on unchanged.
    cli.put("baReaderName", "No Such Reader")
    expect_equal(cli.call("GetCardStatus"), -2146435063, "GetCardStatus of an unknown reader")
    expect_equal(cli.get("ulState"), 0, "ulState after a failed status")

    cli.put("baReaderName", reader1)  # the second reader holds no card
    expect_equal(cli.call("CheckCardInsert"), 1, "CheckCardInsert, empty reader")

    cli.put("baReaderName", reader0)
    expect_equal(cli.call("CheckCardInsert"), 0, "CheckCardInsert, card in")
    expect_equal(cli.call("GetCardStatus"), 0, "GetCardStatus")
    expect_equal(cli.get("ulLen"), 19, "ulLen")
    expect_equal(cli.get("baATR"), DEFAULT_ATR, "baATR")
    check(cli.get("ulState") & 0x20, "ulState has the present bit")

    before = len(commands_seen())
    expect_equal(cli.call("ConnectCard"), 0, "ConnectCard")
    expect_equal(cli.get("uiSW12"), 36864, "uiSW12 after ConnectCard")
    expect_equal(cli.get("ulProtocol"), 2, "ulProtocol (T=1)")
    expect_equal(commands_seen()[before:], [
        "00A4040008A00000017295000100",  # the financial application
        "00A40200021001", "00B2030400",  # identity: record 3 of 1001 ...
        "00A40200021001", "00B2020400",  # ... then record 2
    ], "commands of ConnectCard")
    expect_equal(cli.call("GetStatus"), 0, "GetStatus with the card in")

    # vpcd answers no reader attribute: the platform's refusal is passed on, values stay.
    cli.put("dwAttrId", 0x00090303)
    check(cli.call("GetReaderStatus") != 0, "GetReaderStatus fails on vpcd")
    expect_equal(cli.get("pcbAttrLen"), 0, "pcbAttrLen after a failed attribute read")

    # A second control of the process sees the same reader name through the fallback.
    expect_equal(cli.get("baReaderName", control=1), reader0, "baReaderName of control 1")

    sim = CardSim()
    sim.command("remove")
    wait_for(lambda: cli.call("CheckCardInsert") == 1, "the card to be out")
    expect_equal(cli.call("GetStatus"), -1001, "GetStatus with the card out")
    check(cli.get("uiSW12") != 0, "GetStatus puts its reason in uiSW12")
    sim.command("insert")
    wait_for(lambda: cli.call("CheckCardInsert") == 0, "the card to be back")
    cli.put("iResetType", 0)  # a cold reset renews the connection of the pulled card
    expect_equal(cli.call("ReConnectCard"), 0, "ReConnectCard after reinsertion")
    expect_equal(commands_seen()[-1], "00A4040008A00000017295000100", "ReConnectCard selects")
    cli.put("iDisConnectType", 0)
    expect_equal(cli.call("DisConnectCard"), 0, "DisConnectCard")
    expect_equal(cli.call("ConnectCard"), 0, "ConnectCard after DisConnectCard")
    # Connecting again while connected (a page that loaded again) lets go of the first
    # exclusive connection instead of being refused by it; so does connecting after the card
    # was pulled out and put back.
    expect_equal(cli.call("ConnectCard"), 0, "a second ConnectCard")
    sim.command("remove")
    wait_for(lambda: cli.call("CheckCardInsert") == 1, "the card to be out")
    sim.command("insert")
    wait_for(lambda: cli.call("CheckCardInsert") == 0, "the card to be back")
    expect_equal(cli.call("ConnectCard"), 0, "ConnectCard after the card came back")
    expect_equal(cli.call("DisConnectCard"), 0, "DisConnectCard of the last connection")
    # Nothing of this process holds the reader any more: another process connects to it.
    with Cli() as other:
        expect_equal(other.call("ConnectReader"), 0, "ConnectReader of another process")
        other.put("baReaderName", reader0)
        expect_equal(other.call("ConnectCard"), 0, "ConnectCard of another process")
        expect_equal(other.call("DisConnectCard"), 0, "DisConnectCard of another process")
    expect_equal(cli.call("DisConnectReader"), 0, "DisConnectReader")
    expect_equal(cli.call("ConnectReader"), 0, "ConnectReader again")
    expect_equal(cli.call("ConnectCard"), 0, "ConnectCard on the new context")
    expect_equal(cli.call("DisConnectCard"), 0, "DisConnectCard at the end")
    expect_equal(cli.call("DisConnectReader"), 0, "DisConnectReader at the end")

    # Bad input never ends the tool.
    answer = cli.send_line("{broken")
    expect_equal(answer["error"]["code"], -32700, "parse error")
    try:
        cli.put("iNoR", "seven")
        check(False, "a string for an integer must fail")
    except RpcError as e:
        expect_equal(e.hresult, 0x80020005, "hresult of a type mismatch")
    expect_equal(cli.get("InquiryTxnID"), "2500", "still serving")

print("cli_stack: all checks passed")
