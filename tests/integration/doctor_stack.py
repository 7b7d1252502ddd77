"""ruzazuv-cli doctor in each situation, one after the other on one stack.

Each case sets the situation up, runs the doctor, and checks the verdict of the lines it is
about and the exit status. The doctor runs with a home of its own (no manifests, no allow-list),
a display variable and a plugin directory holding the xcb plugin's file, so that the lines after
the bridge do not depend on the machine.
"""
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "lib"))
from rpc import CardSim, check, expect_equal  # noqa: E402

BIN = os.environ.get("RUZAZUV_BIN", "build/dev/bin")
READER0 = os.environ["RUZAZUV_READER0"]
READER1 = os.environ["RUZAZUV_READER1"]
PCSCD = os.environ["RUZAZUV_PCSCD_CONTROL"]
PORT = 47990

work = tempfile.mkdtemp(prefix="ruzazuv-doctor.")
plugins = os.path.join(work, "platforms")
os.makedirs(plugins)
open(os.path.join(plugins, "libqxcb.so"), "w").close()
DOCTOR_ENV = {
    "PATH": os.environ["PATH"], "HOME": work, "DISPLAY": ":99",
    "QT_QPA_PLATFORM_PLUGIN_PATH": plugins,
    # No allow-list of this machine counts (an installed package's, say).
    "XDG_CONFIG_DIRS": os.path.join(work, "xdg"),
}
# An allow-list of comments only, as the package installs it: it names no origin.
os.makedirs(os.path.join(work, ".config", "ruzazuv"))
with open(os.path.join(work, ".config", "ruzazuv", "allowed-origins"), "w", encoding="utf-8") as f:
    f.write("# one origin per line\n")


def doctor(*args):
    """Runs the doctor; returns (exit status, {(id, subject): (verdict, line)})."""
    run = subprocess.run([os.path.join(BIN, "ruzazuv-cli"), "doctor", "--port", str(PORT), *args],
                         env=DOCTOR_ENV, capture_output=True, text=True, timeout=60)
    # The doctor reports on standard output only: anything on standard error is a fault (a
    # sanitizer's report among them).
    check(run.stderr == "", f"doctor {args} wrote to standard error:\n{run.stderr}")
    lines = {}
    for line in run.stdout.splitlines():
        verdict, rest = line.split(None, 1)
        head = rest.split(": ", 1)[0]
        ident = head.split(" ", 1)[0]
        subject = head[len(ident) + 2:-1] if head.startswith(ident + " (") else ""
        lines[(ident, subject)] = (verdict, line)
    return run.returncode, lines, run.stdout


def wait_card(state):
    subprocess.run([os.path.join(BIN, "ruzazuv-pcsc-wait"), "--timeout", "10000", "--state", state,
                    "--reader", READER0], check=True, stdout=subprocess.DEVNULL)


class Listener:
    """Another program on the bridge's port: answers the opening with `reply`, or says nothing."""

    def __init__(self, reply):
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", PORT))
        self.sock.listen(4)
        self.reply = reply
        self.held = []
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            self.held.append(conn)
            if self.reply:
                conn.recv(4096)
                conn.sendall(self.reply)
                conn.close()

    def close(self):
        self.sock.shutdown(socket.SHUT_RDWR)  # wakes the accept, which a close alone would not
        self.thread.join(timeout=5)
        self.sock.close()
        for conn in self.held:
            conn.close()


class Situation:
    bridge = None
    listener = None
    pcscd = None


HAS_CHROMIUM = shutil.which("chromium") is not None


def chromium_manifest(host):
    """Registers the extension's host with Chromium for the doctor's user."""
    folder = os.path.join(work, ".config", "chromium", "NativeMessagingHosts")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "ruzazuv.nmhost.json"), "w", encoding="utf-8") as f:
        json.dump({"name": "ruzazuv.nmhost", "type": "stdio", "path": host,
                   "allowed_origins": ["chrome-extension://moanljbngfilffkbckjlcdhohgonjlgj/"]}, f)


def start_bridge():
    Situation.bridge = subprocess.Popen(
        [os.path.join(BIN, "ruzazuv-bridge"), "--port", str(PORT), "--ui", "none",
         "--pcsc", "system"], stderr=subprocess.PIPE, text=True)
    for line in Situation.bridge.stderr:
        if "serving ws://" in line:
            break
    threading.Thread(target=Situation.bridge.stderr.read, daemon=True).start()


def stop_bridge():
    Situation.bridge.terminate()
    Situation.bridge.wait(timeout=20)


def hold_port(reply):
    def setup():
        if Situation.listener:
            Situation.listener.close()
        Situation.listener = Listener(reply)
    return setup


def release_port():
    Situation.listener.close()
    Situation.listener = None


def swap(profile):
    def setup():
        CardSim().command(f"swap {profile} 600")
        wait_card("present")
    return setup


def remove_card():
    CardSim().command("remove")
    wait_card("empty")


def pcscd_without_readers():
    """The stack's pcscd stopped and one started with no reader driver: vpcd always lists its two
    readers, card or no card, so a pcscd without readers is one without the vpcd entry."""
    subprocess.run([PCSCD, "stop"], check=True)
    empty = os.path.join(work, "no-readers")
    os.makedirs(empty, exist_ok=True)
    Situation.pcscd = subprocess.Popen(["pcscd", "--foreground", "--config", empty],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    end = time.monotonic() + 10
    while not os.path.exists("/run/pcscd/pcscd.comm"):
        check(time.monotonic() < end, "the pcscd without readers did not start")
        time.sleep(0.05)
    time.sleep(0.3)


def no_pcscd():
    Situation.pcscd.terminate()
    Situation.pcscd.wait(timeout=20)
    for leftover in ("/run/pcscd/pcscd.comm", "/run/pcscd/pcscd.pid"):
        if os.path.exists(leftover):
            os.remove(leftover)


OK_STACK = {("pcscd", ""): "ok", ("readers", ""): "ok", ("card", READER0): "ok",
            ("card", READER1): "skip"}
# (situation, set-up, the lines' expected verdicts, words of the deciding line, exit status);
# each case starts from the one before.
# With Chromium installed, the extension's host is registered first with a host that exists, then
# with one that does not (with a usable host, the bridge down would be no failure).
EXTENSION_OK = {("manifest", "Chromium"): "ok", ("local-network", ""): "ok"} if HAS_CHROMIUM else {}
EXTENSION_BROKEN = {("manifest", "Chromium"): "warn", ("local-network", ""): "warn"} \
    if HAS_CHROMIUM else {}
CASES = [
    ("everything in place",
     lambda: (start_bridge(), chromium_manifest(os.path.abspath(os.path.join(BIN, "ruzazuv-cli")))),
     {**OK_STACK, ("bridge", ""): "ok", ("origins", ""): "ok", ("display", ""): "ok",
      **EXTENSION_OK}, None, 0),
    ("the bridge down", lambda: (stop_bridge(), chromium_manifest(os.path.join(work, "missing"))),
     {**OK_STACK, ("bridge", ""): "FAIL", **EXTENSION_BROKEN}, "nothing answers", 5),
    ("the port held by a web server", hold_port(b"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"),
     {**OK_STACK, ("bridge", ""): "FAIL"}, "another program", 6),
    ("the port held by a silent program", hold_port(None),
     {("bridge", ""): "FAIL"}, "another program", 6),
    ("a reader without a card", lambda: (release_port(), remove_card()),
     {("card", READER0): "FAIL", ("card", READER1): "FAIL"}, "no card in this reader", 4),
    ("a card without the application", swap("no-application.json"),
     {("card", READER0): "FAIL", ("card", READER1): "FAIL"}, "financial application", 4),
    ("a foreign card", swap("t0-only.json"), {("card", READER0): "FAIL"}, "not a bank card", 4),
    ("pcscd without readers", pcscd_without_readers,
     {("pcscd", ""): "ok", ("readers", ""): "FAIL", ("card", ""): "skip"}, "no card reader", 3),
    ("no pcscd", no_pcscd,
     {("pcscd", ""): "FAIL", ("readers", ""): "skip", ("card", ""): "skip"}, "does not answer", 1),
]

failures = []
for name, setup, verdicts, words, status in CASES:
    setup()
    code, lines, text = doctor()
    print(f"== {name}\n{text}", flush=True)
    try:
        for key, verdict in verdicts.items():
            check(key in lines, f"{name}: no line {key}")
            expect_equal(lines[key][0], verdict, f"{name}: verdict of {key}")
        if words:
            deciding = [line for verdict, line in lines.values() if verdict == "FAIL"][0]
            check(words in deciding, f"{name}: {words!r} not in {deciding!r}")
        expect_equal(code, status, f"{name}: exit status")
    except AssertionError as e:
        failures.append(str(e))
    if name == "everything in place":
        # A file naming no origin is not where the origins come from.
        origins = lines[("origins", "")][1]
        check("none being listed" in origins and "allowed-origins" not in origins, origins)
        # The same report as one JSON object.
        rc, _, out = doctor("--json")
        report = json.loads(out)
        expect_equal(report["exit"], rc, "--json: exit member")
        expect_equal([(c["id"], c.get("subject", ""), c["verdict"]) for c in report["checks"]],
                     [(k[0], k[1], v[0]) for k, v in lines.items()], "--json: the checks")

shutil.rmtree(work, ignore_errors=True)
if failures:
    sys.exit("\n".join(failures))
