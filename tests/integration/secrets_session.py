"""A full session with a PIN through ruzazuv-cli or ruzazuv-bridge on the simulated card,
then where its secrets are left: the log must hold neither the PIN's digits nor its block, and
the process's memory (read from /proc/PID/mem as its parent) holds the block only where the
kept PIN store must (once in its UTF-16 form, at most once in its narrow form), and nowhere
after ConnectCard empties that store.

    secrets_session.py cli SOURCE_DIR BIN_DIR
    secrets_session.py bridge SOURCE_DIR BIN_DIR
"""
import base64
import json
import os
import re
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

mode, source_dir, bin_dir = sys.argv[1:4]
PROFILE = os.path.join(source_dir, "sim", "profiles", "default.json")
with open(PROFILE, encoding="utf-8") as f:
    PIN = json.load(f)["pin"]
BLOCK = (PIN + "F" * 16)[:16]
FORMS = {"narrow": BLOCK.encode("ascii"), "UTF-16": BLOCK.encode("utf-16-le")}
READER = "RuzaZUV Simulated Reader 0"
SITE = "https://ebank.ruzazuv.example/"
failures = []


def check(what, actual, expected):
    if actual != expected:
        failures.append(f"{what}: got {actual!r}, expected {expected!r}")


class Rpc:
    """get, put and call over a transport's request(method, params)."""

    def get(self, name):
        return self.request("get", {"name": name})

    def put(self, name, value):
        return self.request("put", {"name": name, "value": value})

    def call(self, name):
        return self.request("call", {"name": name})

    def answer(self, method, params, text):
        answer = json.loads(text)
        if "error" in answer:
            raise RuntimeError(f"{method} {params}: {answer['error']}")
        return answer["result"]


class CliProcess(Rpc):
    """ruzazuv-cli as a child of this process, its standard error in a file."""

    def __init__(self, args, stderr):
        self.proc = subprocess.Popen([os.path.join(bin_dir, "ruzazuv-cli"), *args],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=stderr, text=True, bufsize=1)

    def request(self, method, params):
        self.proc.stdin.write(json.dumps({"jsonrpc": "2.0", "id": 1, "method": method,
                                          "params": params}) + "\n")
        self.proc.stdin.flush()
        line = self.proc.stdout.readline()
        if not line:
            raise RuntimeError("ruzazuv-cli ended without answering")
        return self.answer(method, params, line)

    def close(self):
        self.proc.stdin.close()
        self.proc.wait(timeout=30)


def session(rpc):
    """Connects, verifies the PIN, runs an inquiry and a transfer, reads Pin back and
    disconnects the card."""
    check("ConnectReader", rpc.call("ConnectReader"), 0)
    rpc.put("noPullPlugReader", READER)
    rpc.put("baReaderName", READER)
    check("ConnectCard", rpc.call("ConnectCard"), 0)
    rpc.put("Pin", PIN)  # the PIN store keeps its block for the pull-plug procedure
    # The block comes last in a long request, so that a copy left in a freed buffer of the
    # request's text or values lies beyond where later small allocations would overwrite it.
    rpc.request("put", {"name": "baBuf", "padding": " " * 20000, "value": BLOCK})
    rpc.put("bPq", 0x10)
    check("VerifyPIN", rpc.call("VerifyPIN"), 0)
    rpc.put("baBuf", None)  # a careful page lets go of its copy once the PIN is verified
    for name, value in (("FdId", "FD000001"), ("FdChkCode", "CHK00001"),
                        ("DateTime", "20260307090503"), ("OptionData1", "PAGE")):
        rpc.put(name, value)
    rpc.put("curAccntIndex", 2)
    check("FiscCardInquiry", rpc.call("FiscCardInquiry"), 0)
    # A transfer, whose confirmation dialog (scripted) writes what it shows to the log.
    rpc.put("money", "150000")
    rpc.put("ImprtAccnt", "8120000000000003")
    check("FiscCardTransfer", rpc.call("FiscCardTransfer"), 0)
    rpc.get("Pin")
    rpc.put("iDisConnectType", 0)
    check("DisConnectCard", rpc.call("DisConnectCard"), 0)


def writable_regions(pid):
    with open(f"/proc/{pid}/maps", encoding="utf-8") as f:
        for line in f:
            fields = line.split()
            if "w" not in fields[1] or (len(fields) > 5 and fields[5] in ("[vvar]", "[vsyscall]")):
                continue
            start, end = (int(x, 16) for x in fields[0].split("-"))
            yield start, end, fields[5] if len(fields) > 5 else "[anonymous]"


# A sanitizer build reserves terabytes of shadow memory as writable mappings; no heap, stack or
# data segment of the program comes near this size.
LARGEST_REGION = 1 << 32
CHUNK = 16 << 20


def copies(pid):
    """Where each form of the PIN block occurs in the process's writable memory."""
    found = {form: [] for form in FORMS}
    overlap = max(len(p) for p in FORMS.values()) - 1
    with open(f"/proc/{pid}/mem", "rb", buffering=0) as mem:
        for start, end, name in writable_regions(pid):
            if end - start > LARGEST_REGION:
                continue
            # Read in chunks that overlap by one pattern less a byte, so nothing is missed at a
            # chunk's edge and nothing is counted twice.
            at = start
            while at < end:
                try:
                    mem.seek(at)
                    data = mem.read(min(CHUNK + overlap, end - at))
                except OSError:
                    break
                for form, pattern in FORMS.items():
                    for m in re.finditer(re.escape(pattern), data):
                        if m.start() < CHUNK:
                            found[form].append(f"{name}+{at - start + m.start():#x}")
                at += CHUNK
    return found


def expect_copies(pid, most, when, kept=None):
    """At most `most` copies of each form; exactly one of the form `kept` (the PIN store's,
    which also shows that the scan reads the memory it should)."""
    found = copies(pid)
    for form, places in found.items():
        if len(places) > most or (form == kept and len(places) != 1):
            failures.append(f"{when}: {len(places)} copies of the PIN block's {form} form "
                            f"(at most {most}): {', '.join(places)}")


def session_and_scan(rpc, pid):
    """The session, then the process's memory: after DisConnectCard the block is held only by
    the kept PIN store (its wide text, and at most the narrow copy made for the card); once
    ConnectCard has emptied the store, nowhere."""
    session(rpc)
    expect_copies(pid, 1, "after DisConnectCard", kept="UTF-16")
    check("ConnectCard", rpc.call("ConnectCard"), 0)
    expect_copies(pid, 0, "after ConnectCard emptied the PIN store")


def expect_clean_log(path, what):
    with open(path, "rb") as f:
        text = f.read()
    for secret in (PIN.encode(), BLOCK.encode(), BLOCK.lower().encode()):
        if secret in text:
            failures.append(f"{what} holds {secret.decode()!r}")
    return text


def run_cli():
    with tempfile.TemporaryDirectory() as work:
        log = os.path.join(work, "cli.log")
        with open(log, "w", encoding="utf-8") as err:
            cli = CliProcess(["--pcsc", "simulated:" + PROFILE, "--site-address", SITE,
                              "--page-address", SITE + "transfer.html", "--ui", "scripted:ok"],
                             err)
            try:
                session_and_scan(cli, cli.proc.pid)
            finally:
                cli.close()
        if not expect_clean_log(log, "the cli's standard error").strip():
            failures.append("the cli's standard error is empty: its log was not captured")


class WebSocketPage(Rpc):
    """A page's connection to the bridge, enough for text frames of JSON-RPC."""

    def __init__(self, port, origin):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=30)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall((f"GET / HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nUpgrade: websocket\r\n"
                           f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
                           f"Sec-WebSocket-Version: 13\r\nOrigin: {origin}\r\n\r\n").encode())
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise RuntimeError("the bridge closed during the handshake")
            head += chunk
        if not head.startswith(b"HTTP/1.1 101"):
            raise RuntimeError(f"handshake refused: {head.splitlines()[0]!r}")
        self.buffer = head.split(b"\r\n\r\n", 1)[1]
        self.next_id = 1

    def _read(self, n):
        while len(self.buffer) < n:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise RuntimeError("the bridge closed the connection")
            self.buffer += chunk
        data, self.buffer = self.buffer[:n], self.buffer[n:]
        return data

    def send_text(self, text):
        payload = text.encode()
        mask = os.urandom(4)
        n = len(payload)
        head = bytes([0x81]) + (bytes([0x80 | n]) if n < 126 else
                                struct.pack("!BH", 0x80 | 126, n) if n < 65536 else
                                struct.pack("!BQ", 0x80 | 127, n))
        self.sock.sendall(head + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(payload)))

    def receive_text(self):
        first, second = self._read(2)
        n = second & 0x7F
        if n == 126:
            n = struct.unpack("!H", self._read(2))[0]
        elif n == 127:
            n = struct.unpack("!Q", self._read(8))[0]
        payload = self._read(n)
        if first & 0x0F != 1:
            raise RuntimeError(f"unexpected frame {first:#x}")
        return payload.decode()

    def request(self, method, params):
        rid = self.next_id
        self.next_id += 1
        self.send_text(json.dumps({"jsonrpc": "2.0", "id": rid, "method": method,
                                   "params": params}))
        return self.answer(method, params, self.receive_text())


def run_bridge():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    with tempfile.TemporaryDirectory() as work:
        log = os.path.join(work, "bridge.log")
        with open(log, "w", encoding="utf-8") as err:
            bridge = subprocess.Popen(
                [os.path.join(bin_dir, "ruzazuv-bridge"), "--pcsc", "simulated:" + PROFILE,
                 "--ui", "scripted:ok", "--port", str(port), "--site-address", SITE],
                stdout=err, stderr=err, env={**os.environ, "QT_QPA_PLATFORM": "offscreen"})
            try:
                deadline = time.monotonic() + 30
                while True:
                    try:
                        page = WebSocketPage(port, SITE.rstrip("/"))
                        break
                    except (ConnectionRefusedError, RuntimeError):
                        if time.monotonic() > deadline or bridge.poll() is not None:
                            raise
                        time.sleep(0.2)
                session_and_scan(page, bridge.pid)
                page.sock.close()
            finally:
                bridge.send_signal(signal.SIGTERM)
                bridge.wait(timeout=30)
        if not expect_clean_log(log, "the bridge's log").strip():
            failures.append("the bridge's log is empty: its log was not captured")


try:
    run_cli() if mode == "cli" else run_bridge()
except Exception as e:  # a broken session is a failure like the others
    failures.append(f"{type(e).__name__}: {e}")
for failure in failures:
    print("FAIL:", failure, file=sys.stderr)
sys.exit(1 if failures else 0)
