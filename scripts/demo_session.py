#!/usr/bin/env python3
"""An example session with ruzazuv-cli, printing each request and its answer."""
import json
import subprocess
import sys

cli = subprocess.Popen(sys.argv[1:], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                       bufsize=1)
next_id = 0


def rpc(method, **params):
    global next_id
    next_id += 1
    request = {"jsonrpc": "2.0", "id": next_id, "method": method}
    if params:
        request["params"] = params
    line = json.dumps(request, ensure_ascii=False)
    cli.stdin.write(line + "\n")
    cli.stdin.flush()
    answer = json.loads(cli.stdout.readline())
    print("> " + line)
    print("< " + json.dumps(answer, ensure_ascii=False))
    return answer.get("result")


rpc("call", name="ConnectReader")
rpc("call", name="ListReaders")
reader = rpc("get", name="caReader1")
rpc("put", name="baReaderName", value=reader)
rpc("call", name="ConnectCard")
rpc("get", name="baATR")
rpc("call", name="FiscListAccounts")
rpc("get", name="issueNo")
rpc("get", name="account0")
rpc("put", name="baBuf", value="123456FFFFFFFFFF")
rpc("put", name="bPq", value=16)
rpc("call", name="VerifyPIN")
rpc("get", name="uiSW12")
rpc("call", name="GenRandomNumber")
rpc("get", name="randomNumber")
rpc("call", name="DisConnectCard")
rpc("call", name="DisConnectReader")
cli.stdin.close()
sys.exit(cli.wait())
