"""ruzazuv-nmhost driven through its pipes on the simulated reader: a session over envelopes,
separate state per origin, refusals it goes on after, and every way its input ends. Standard
output must carry frames and nothing else."""
import json
import os
import struct
import subprocess
import sys
import tempfile
import threading
import time

BIN = os.environ.get("RUZAZUV_BIN", "build/dev/bin")
SOURCE = os.environ.get("RUZAZUV_SOURCE", ".")
PROFILE = os.path.join(SOURCE, "sim", "profiles", "default.json")
with open(PROFILE, encoding="utf-8") as f:
    PIN = json.load(f)["pin"]
BLOCK = (PIN + "F" * 16)[:16]
READER = "RuzaZUV Simulated Reader 0"
BANK = "https://bank.example"
OTHER = "https://other.example"
CHROMIUM_ARG = "chrome-extension://moanljbngfilffkbckjlcdhohgonjlgj/"
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL: " + message, file=sys.stderr)


def expect_equal(actual, expected, what):
    check(actual == expected, f"{what}: expected {expected!r}, got {actual!r}")


def frame(payload):
    data = payload if isinstance(payload, bytes) else json.dumps(payload).encode()
    return struct.pack("=I", len(data)) + data


class Host:
    """One ruzazuv-nmhost with its configuration directories of its own."""

    def __init__(self, ui="scripted:ok", args=(), allow_file=None):
        self.config = tempfile.TemporaryDirectory()
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.config.name, "home"),
                   XDG_CONFIG_DIRS=os.path.join(self.config.name, "system"))
        if allow_file is not None:
            os.makedirs(os.path.join(self.config.name, "system", "ruzazuv"))
            with open(os.path.join(self.config.name, "system", "ruzazuv", "allowed-origins"),
                      "w", encoding="utf-8") as f:
                f.write(allow_file)
        self.proc = subprocess.Popen(
            [os.path.join(BIN, "ruzazuv-nmhost"), "--pcsc", "simulated:" + PROFILE, "--ui", ui,
             "--site-address", BANK + "/", *args, CHROMIUM_ARG],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        self.log = []
        self.reader = threading.Thread(target=self._read_log, daemon=True)
        self.reader.start()
        self.next_id = 1
        self.rpc_id = 100

    def _read_log(self):
        for line in self.proc.stderr:
            self.log.append(line.decode(errors="replace"))

    def wait_log(self, *words, timeout=10):
        """Waits for a log line holding every one of `words`."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if any(all(w in line for w in words) for line in self.log):
                return True
            time.sleep(0.02)
        return False

    def send(self, data, pieces=1):
        """Writes the bytes in `pieces` writes, pausing between them (split reads)."""
        step = max(1, -(-len(data) // pieces))
        for at in range(0, len(data), step):
            self.proc.stdin.write(data[at:at + step])
            self.proc.stdin.flush()
            if pieces > 1:
                time.sleep(0.01)

    def envelope(self, origin, **members):
        eid = self.next_id
        self.next_id += 1
        return eid, frame({"id": eid, "origin": origin, **members})

    def rpc_text(self, method, params):
        self.rpc_id += 1
        return json.dumps({"jsonrpc": "2.0", "id": self.rpc_id, "method": method,
                           "params": params})

    def read_frame(self):
        header = self.proc.stdout.read(4)
        if len(header) < 4:
            return None
        (length,) = struct.unpack("=I", header)
        data = self.proc.stdout.read(length)
        check(len(data) == length, "a frame cut short on standard output")
        return json.loads(data)

    def exchange(self, origin, pieces=1, **members):
        eid, data = self.envelope(origin, **members)
        self.send(data, pieces)
        answer = self.read_frame()
        check(answer is not None and answer.get("id") == eid, f"answer to {eid}: {answer!r}")
        return answer or {}

    def rpc(self, origin, method, params, pieces=1):
        answer = self.exchange(origin, pieces, request=self.rpc_text(method, params))
        inner = json.loads(answer.get("answer") or "null") or {}
        check("result" in inner, f"{method} {params}: {answer!r}")
        return inner.get("result")

    def get(self, origin, name, control=0):
        return self.rpc(origin, "get", {"name": name, "control": control})

    def put(self, origin, name, value):
        return self.rpc(origin, "put", {"name": name, "value": value})

    def call(self, origin, name):
        return self.rpc(origin, "call", {"name": name})

    def finish(self):
        """Closes the input; every remaining frame on standard output, and the exit status."""
        self.proc.stdin.close()
        frames = []
        while (f := self.read_frame()) is not None:
            frames.append(f)
        status = self.proc.wait(timeout=30)
        self.reader.join(timeout=5)
        # A sanitizer's report need not change the exit status (UBSan's does not).
        check(not any("Sanitizer" in line or "runtime error:" in line for line in self.log),
              "a sanitizer report: " + "".join(self.log))
        self.config.cleanup()
        return frames, status


def verified_session(host, origin):
    expect_equal(host.call(origin, "ConnectReader"), 0, "ConnectReader")
    expect_equal(host.call(origin, "ListReaders"), 0, "ListReaders")
    expect_equal(host.get(origin, "caReader1"), READER, "caReader1")
    host.put(origin, "noPullPlugReader", READER)  # no pull-plug procedure for the transfer
    host.put(origin, "baReaderName", READER)
    expect_equal(host.call(origin, "ConnectCard"), 0, "ConnectCard")
    host.put(origin, "Pin", PIN)
    host.put(origin, "baBuf", BLOCK)
    host.put(origin, "bPq", 0x10)
    expect_equal(host.call(origin, "VerifyPIN"), 0, "VerifyPIN")


def transfer_requests(host):
    texts = [host.rpc_text("put", {"name": n, "value": v}) for n, v in (
        ("FdId", "FD000001"), ("FdChkCode", "CHK00001"), ("DateTime", "20260307090503"),
        ("OptionData1", "PAGE"), ("curAccntIndex", 2), ("money", "150000"),
        ("ImprtAccnt", "8120000000000003"))]
    return texts + [host.rpc_text("call", {"name": "FiscCardTransfer"})]


def test_session_and_origins():
    host = Host(args=("--allow-origin", BANK), allow_file=f"# listed\n{OTHER}\nnot an origin\n")
    expect_equal(host.exchange(BANK, pieces=5, hello=True).get("hello"),
                 {"progid": "RuzaZUV.Vorn.1", "version": "1.0"}, "hello")
    verified_session(host, BANK)
    expect_equal(host.get(BANK, "Pin"), BLOCK, "Pin kept for the bank's origin")
    expect_equal(host.get(BANK, "SupportURL"), "0", "the bank's page passes the site check")
    # The other origin (from the allow-list file) has its own state: no PIN, no reader.
    check(host.get(OTHER, "Pin") in (None, ""), "the other origin must not hold the PIN block")
    expect_equal(host.get(OTHER, "SupportURL"), "-1", "the other origin fails the site check")
    # A refusal is answered once, and the host goes on.
    expect_equal(host.exchange("https://evil.example", request="{}").get("refused"), "origin",
                 "an origin not allowed")
    notification = json.dumps({"jsonrpc": "2.0", "method": "get", "params": {"name": "iNoR"}})
    answer = host.exchange(BANK, request=notification)
    check("answer" in answer and answer["answer"] is None, f"notification only: {answer!r}")
    for text in transfer_requests(host):
        answer = json.loads(host.exchange(BANK, request=text)["answer"])
    expect_equal(answer.get("result"), 0, "FiscCardTransfer through the confirmation")
    frames, status = host.finish()
    expect_equal((frames, status), ([], 0), "clean end of input")
    check(any("not an origin, skipped" in line for line in host.log), "the bad line is logged")
    check(any(CHROMIUM_ARG in line for line in host.log), "the browser's argument is logged")


def test_input_closed_mid_dialog():
    host = Host(ui="scripted:ok@1000")
    verified_session(host, BANK)
    ids = []
    for text in transfer_requests(host):
        eid, data = host.envelope(BANK, request=text)
        ids.append(eid)
        host.send(data)
    check(host.wait_log("dialog", " open"), "the confirmation dialog opens")
    for _ in range(3):  # queued while the dialog is open
        eid, data = host.envelope(BANK, request=host.rpc_text("get", {"name": "Pin"}))
        ids.append(eid)
        host.send(data)
    # A transfer queued behind the open one would show its confirmation to a page that is gone.
    for text in transfer_requests(host):
        eid, data = host.envelope(BANK, request=text)
        ids.append(eid)
        host.send(data)
    frames, status = host.finish()
    expect_equal([f.get("id") for f in frames], ids, "every queued envelope answered, in order")
    # The page has gone: both confirmations end as if Cancel were pressed (detail 1015).
    for transfer in (frames[-12], frames[-1]):
        expect_equal(json.loads(transfer["answer"]).get("result"), -1001, "the transfer is cancelled")
    expect_equal(status, 0, "exit status after the input closed mid-dialog")


# How the input ends after two good frames: the exit status and the reason logged.
ENDINGS = [
    ("clean end", b"", 0, "closed the input"),
    ("over the limit", struct.pack("=I", 65537) + b"x" * 100, 1, "longer than 65536"),
    ("zero length", struct.pack("=I", 0) + frame({"id": 9}), 1, "length zero"),
    ("truncated frame", struct.pack("=I", 40) + b'{"id":', 1, "inside a frame"),
    ("not an object", frame(b"[1,2]") + frame({"id": 9}), 1, "not a JSON object"),
]


def test_endings():
    for name, tail, expected_status, reason in ENDINGS:
        host = Host(ui="none", args=("--allow-origin", BANK))
        first, data1 = host.envelope(BANK, hello=True)
        second, data2 = host.envelope(BANK, request=host.rpc_text("get", {"name": "iNoR"}))
        host.send(data1 + data2 + tail)
        frames, status = host.finish()
        expect_equal([f.get("id") for f in frames], [first, second], f"{name}: answers kept")
        expect_equal(status, expected_status, f"{name}: exit status")
        check(any(reason in line for line in host.log), f"{name}: logs {reason!r}: {host.log}")


def test_output_closed():
    host = Host(ui="none", args=("--allow-origin", BANK))
    host.proc.stdout.close()
    host.send(host.envelope(BANK, hello=True)[1])
    try:
        status = host.proc.wait(timeout=30)  # the input stays open: the write ends it
    except subprocess.TimeoutExpired:
        host.proc.kill()
        status = "still running"
    host.reader.join(timeout=5)
    host.config.cleanup()
    expect_equal(status, 0, "exit status once nobody reads the answers")


def test_terminated():
    host = Host(ui="none", args=("--allow-origin", BANK))
    expect_equal(host.exchange(BANK, hello=True).get("id"), 1, "hello before the signal")
    host.proc.terminate()
    frames, status = host.finish()
    expect_equal((frames, status), ([], 0), "SIGTERM ends the host through its main")


for test in (test_session_and_origins, test_input_closed_mid_dialog, test_endings,
             test_output_closed, test_terminated):
    test()
if failures:
    sys.exit(1)
print("nmhost pipe test passed")
