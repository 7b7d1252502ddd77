"""Drives ruzazuv-cli over its standard input and output for the real-stack tests.

    with Cli(["--site-address", "https://bank/"]) as cli:
        assert cli.call("ConnectReader") == 0
        cli.put("baReaderName", os.environ["RUZAZUV_READER0"])
        cli.get("iNoR")

Each helper sends one JSON-RPC request and waits for its answer line; errors raise RpcError.
"""
import json
import os
import subprocess
import sys


class RpcError(Exception):
    def __init__(self, error):
        super().__init__(f"{error.get('code')}: {error.get('message')}")
        self.code = error.get("code")
        self.hresult = (error.get("data") or {}).get("hresult")


class Cli:
    def __init__(self, args=(), binary=None):
        binary = binary or os.path.join(os.environ.get("RUZAZUV_BIN", "build/dev/bin"), "ruzazuv-cli")
        self.proc = subprocess.Popen([binary, *args], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=sys.stderr, text=True, bufsize=1)
        self.next_id = 1

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        if self.proc.poll() is None:
            self.proc.stdin.close()
            self.proc.wait(timeout=30)
        return self.proc.returncode

    def send_line(self, line):
        """Sends raw text; returns the parsed answer line, or None if no answer is due."""
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        answer = self.proc.stdout.readline()
        if not answer:
            raise RuntimeError("ruzazuv-cli ended without answering")
        return json.loads(answer)

    def request(self, method, params=None):
        rid = self.next_id
        self.next_id += 1
        message = {"jsonrpc": "2.0", "id": rid, "method": method}
        if params is not None:
            message["params"] = params
        answer = self.send_line(json.dumps(message))
        assert answer.get("id") == rid, answer
        if "error" in answer:
            raise RpcError(answer["error"])
        return answer["result"]

    def get(self, name, control=0):
        return self.request("get", {"name": name, "control": control})

    def put(self, name, value, control=0):
        return self.request("put", {"name": name, "value": value, "control": control})

    def call(self, name, control=0):
        return self.request("call", {"name": name, "control": control})


def check(condition, message):
    """Fails the test with a readable message."""
    if not condition:
        raise AssertionError(message)


def expect_equal(actual, expected, what):
    check(actual == expected, f"{what}: expected {expected!r}, got {actual!r}")


class CardSim:
    """The control channel of a ruzazuv-cardsim (remove, insert, swap, status, script)."""

    def __init__(self, port=None):
        import socket
        port = int(port or os.environ["RUZAZUV_CARDSIM_CONTROL0"])
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=30)
        self.file = self.sock.makefile("rw", encoding="utf-8", newline="\n")

    def command(self, line):
        self.file.write(line + "\n")
        self.file.flush()
        answer = self.file.readline().strip()
        if not answer.startswith("ok"):
            raise RuntimeError(f"cardsim {line!r}: {answer}")
        return answer


def wait_for(predicate, what, timeout=10.0, step=0.1):
    """Polls `predicate` until it is true (pcscd notices card changes within about 0.4 s)."""
    import time
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return
        time.sleep(step)
    raise AssertionError(f"timed out waiting for {what}")
