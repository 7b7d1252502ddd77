#!/usr/bin/env bash
# ruzazuv-bridge --register / --unregister in a temporary configuration directory, and the
# registered service's command line started the way systemd starts it: with the listening
# socket inherited as descriptor 3 (LISTEN_FDS / LISTEN_PID). Beside the service, the browsers'
# native-messaging host manifests and the launcher that carries the host's options.
set -euo pipefail
source_dir="${RUZAZUV_SOURCE:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
bin="${RUZAZUV_BIN:-$source_dir/build/dev/bin}"
bridge="$bin/ruzazuv-bridge"
[[ -x "$bridge" ]] || { echo "bridge_registration_test: skipped, no $bridge" >&2; exit 77; }
command -v python3 >/dev/null || { echo "bridge_registration_test: skipped, no python3" >&2; exit 77; }

work="$(mktemp -d /tmp/bridge-registration.XXXXXX)"
trap 'rm -rf "$work"' EXIT
# A private configuration and runtime directory: no user manager is reachable, so nothing is
# told to a real systemd.
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"
unset XDG_DATA_HOME
# No system allow-list: the origins served follow from the options alone.
export XDG_CONFIG_DIRS="$work/xdg"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
units="$XDG_CONFIG_HOME/systemd/user"
autostart="$XDG_CONFIG_HOME/autostart"
profile="$source_dir/sim/profiles/default.json"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
listing() {
  (cd "$XDG_CONFIG_HOME" && find . \( -type f -o -type l \) -not -path '*/NativeMessagingHosts/*' |
    sort | tr '\n' ' ')
}
manifest_dirs=("$XDG_CONFIG_HOME/chromium/NativeMessagingHosts"
  "$XDG_CONFIG_HOME/google-chrome/NativeMessagingHosts"
  "$XDG_CONFIG_HOME/microsoft-edge/NativeMessagingHosts" "$HOME/.mozilla/native-messaging-hosts")
launcher="$HOME/.local/share/ruzazuv/ruzazuv-nmhost-launch"
host="$(dirname "$(readlink -f "$bridge")")/ruzazuv-nmhost"
# The "path" of each browser's manifest, "-" where there is none.
manifest_paths() {
  for dir in "${manifest_dirs[@]}"; do
    if [[ -f "$dir/ruzazuv.nmhost.json" ]]; then
      python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["path"], end=" ")' \
        "$dir/ruzazuv.nmhost.json"
    else
      printf -- '- '
    fi
  done
}
# The launcher's command line, one word a line, as sh reads it.
launcher_words() {
  python3 -c 'import shlex, sys; print("\n".join(shlex.split(open(sys.argv[1]).readlines()[-1])))' \
    "$launcher"
}

# Registering twice leaves one set; the service runs this very executable.
for _ in 1 2; do
  "$bridge" --register=systemd --port 47961 --pcsc "simulated:$profile" \
    --site-address "http://127.0.0.1:8123/" --ui none > "$work/register.log"
done
expected="./systemd/user/ruzazuv-bridge.service ./systemd/user/ruzazuv-bridge.socket ./systemd/user/sockets.target.wants/ruzazuv-bridge.socket "
[[ "$(listing)" == "$expected" ]] || fail "systemd set: $(listing)"
grep -qx 'ListenStream=127.0.0.1:47961' "$units/ruzazuv-bridge.socket" || fail "socket port"
grep -q "^ExecStart=\"$(readlink -f "$bridge")\" " "$units/ruzazuv-bridge.service" || fail "ExecStart"
grep -q 'systemctl' "$work/register.log" && fail "systemctl run without a user manager"
# Each browser's manifest starts the host through the launcher, which holds the host's options.
[[ "$(manifest_paths)" == "$launcher $launcher $launcher $launcher " ]] ||
  fail "manifests with options: $(manifest_paths)"
[[ -x "$launcher" ]] || fail "launcher not executable"
expected_words="exec
$host
--pcsc
simulated:$profile
--site-address
http://127.0.0.1:8123/
--ui
none
\$@"
[[ "$(launcher_words)" == "$expected_words" ]] || fail "launcher: $(launcher_words)"
# Started as Chromium starts it, the host serves the registered site address's origin: the
# options reached it.
if [[ -x "$host" ]]; then
  answer="$(python3 - "$launcher" <<'PY'
import json, struct, subprocess, sys
def frame(obj):
    data = json.dumps(obj).encode()
    return struct.pack("=I", len(data)) + data
request = json.dumps({"jsonrpc": "2.0", "id": 7, "method": "get", "params": {"name": "SupportURL"}})
out = subprocess.run([sys.argv[1], "chrome-extension://moanljbngfilffkbckjlcdhohgonjlgj/"],
                     input=frame({"id": 1, "origin": "http://127.0.0.1:8123", "request": request}),
                     capture_output=True, timeout=60)
(length,) = struct.unpack("=I", out.stdout[:4])
reply = json.loads(out.stdout[4:4 + length])
print(out.returncode, reply.get("id"), json.loads(reply["answer"]).get("result") if "answer" in reply else reply)
PY
)" || true
  [[ "$answer" == "0 1 0" ]] ||
    fail "host through the launcher: $answer"
fi

# The service's command line as systemd would run it, with the socket handed over.
cat > "$work/activate.py" <<'PY'
import base64, json, os, shlex, socket, struct, sys, time

unit, bind_host = sys.argv[1], sys.argv[2]
line = next(l for l in open(unit) if l.startswith("ExecStart="))[len("ExecStart="):]
argv = [a.replace("%%", "%") for a in shlex.split(line)]
listener = socket.socket()
listener.bind((bind_host, 0))
listener.listen(16)
port = listener.getsockname()[1]
pid = os.fork()
if pid == 0:
    if listener.fileno() != 3:
        os.dup2(listener.fileno(), 3)
    os.set_inheritable(3, True)
    os.environ["LISTEN_FDS"] = "1"
    os.environ["LISTEN_PID"] = str(os.getpid())
    os.execv(argv[0], argv)
listener.close()


def exchange(port):
    s = socket.create_connection(("127.0.0.1", port), timeout=10)
    key = base64.b64encode(os.urandom(16)).decode()
    s.sendall((f"GET / HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nUpgrade: websocket\r\n"
               f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
               "Sec-WebSocket-Version: 13\r\nOrigin: http://127.0.0.1:8123\r\n\r\n").encode())
    head = b""
    while b"\r\n\r\n" not in head:
        chunk = s.recv(4096)
        if not chunk:
            return "closed during handshake"
        head += chunk
    status = head.split(b"\r\n")[0].decode()
    if " 101 " not in status:
        return status
    payload = json.dumps({"jsonrpc": "2.0", "id": 1, "method": "get",
                          "params": {"name": "SupportURL"}}).encode()
    mask = os.urandom(4)
    s.sendall(bytes([0x81, 0x80 | len(payload)]) + mask +
              bytes(b ^ mask[i % 4] for i, b in enumerate(payload)))
    rest = head.split(b"\r\n\r\n", 1)[1]
    while len(rest) < 2:
        rest += s.recv(4096)
    length = rest[1] & 0x7F
    while len(rest) < 2 + length:
        rest += s.recv(4096)
    return json.loads(rest[2:2 + length])["result"]


result = None
if bind_host == "127.0.0.1":
    for _ in range(100):
        try:
            result = exchange(port)
            break
        except OSError:
            time.sleep(0.1)
    os.kill(pid, 15)
deadline = time.time() + 20
while True:
    done, status = os.waitpid(pid, os.WNOHANG)
    if done:
        break
    if time.time() > deadline:
        os.kill(pid, 9)
    time.sleep(0.05)
print(json.dumps({"result": result, "exit": os.waitstatus_to_exitcode(status)}))
PY
activated="$(python3 "$work/activate.py" "$units/ruzazuv-bridge.service" 127.0.0.1 2>"$work/activate.err")"
# The page of the site address is approved: the inherited socket served it, on its own port.
[[ "$activated" == '{"result": "0", "exit": 0}' ]] || fail "socket activation: $activated $(cat "$work/activate.err")"
grep -q 'socket from the service manager' "$work/activate.err" || fail "inherited socket not used"
# A handed-over socket that is not on the loopback address is refused.
refused="$(python3 "$work/activate.py" "$units/ruzazuv-bridge.service" 0.0.0.0 2>"$work/refused.err")"
[[ "$refused" == '{"result": null, "exit": 1}' ]] || fail "non-loopback socket: $refused"
grep -q 'not on the loopback address' "$work/refused.err" || fail "non-loopback message"

# Switching to the autostart entry replaces the systemd set.
"$bridge" --register=autostart --port 47961 > /dev/null
[[ "$(listing)" == "./autostart/ruzazuv-bridge.desktop " ]] || fail "autostart set: $(listing)"
# Without host options the manifests name the host itself, and the launcher goes.
[[ "$(manifest_paths)" == "$host $host $host $host " ]] || fail "manifests: $(manifest_paths)"
grep -q "^Exec=\"$(readlink -f "$bridge")\" \"--pcsc\" \"system\" \"--port\" \"47961\"$" \
  "$autostart/ruzazuv-bridge.desktop" || fail "Exec line"

# Unregistering removes ours only; a foreign entry of our name is never overwritten.
mkdir -p "$units"
echo "[Unit]" > "$units/someone-else.service"
"$bridge" --unregister > /dev/null
[[ "$(listing)" == "./systemd/user/someone-else.service " ]] || fail "after unregister: $(listing)"
[[ "$(manifest_paths)" == "- - - - " ]] || fail "manifests after unregister: $(manifest_paths)"
printf '[Desktop Entry]\nExec=/usr/bin/other\n' > "$autostart/ruzazuv-bridge.desktop"
if "$bridge" --register=autostart 2> "$work/foreign.err"; then fail "overwrote a foreign entry"; fi
grep -qx 'Exec=/usr/bin/other' "$autostart/ruzazuv-bridge.desktop" || fail "foreign entry changed"
"$bridge" --unregister > /dev/null
[[ -f "$autostart/ruzazuv-bridge.desktop" ]] || fail "unregister removed a foreign entry"
rm -f "$autostart/ruzazuv-bridge.desktop"

# A foreign manifest of our name refuses the whole registration: not even the service is written.
edge="${manifest_dirs[2]}/ruzazuv.nmhost.json"
mkdir -p "${manifest_dirs[2]}"
echo '{"name": "ruzazuv.nmhost", "path": "/usr/bin/other"}' > "$edge"
if "$bridge" --register=autostart 2> "$work/foreign.err"; then fail "overwrote a foreign manifest"; fi
grep -q "$edge exists and was not installed" "$work/foreign.err" || fail "foreign manifest message"
[[ "$(listing)" == "./systemd/user/someone-else.service " ]] || fail "half-registered: $(listing)"
[[ "$(manifest_paths)" == "- - /usr/bin/other - " ]] || fail "manifests: $(manifest_paths)"
rm -f "$edge"

# Bad usage is refused before anything is written.
if "$bridge" --register --port 0 2>/dev/null; then fail "registered without a port"; fi
if "$bridge" --register --allow-origin null 2>/dev/null; then fail "registered origin null"; fi
[[ "$(manifest_paths)" == "- - - - " ]] || fail "bad usage wrote manifests: $(manifest_paths)"
[[ "$(listing)" == "./systemd/user/someone-else.service " ]] || fail "bad usage wrote: $(listing)"

# The host's own registration: the manifests and its launcher, no service of the bridge.
if [[ -x "$host" ]]; then
  "$host" --register --allow-origin "http://127.0.0.1:8124" > /dev/null ||
    fail "ruzazuv-nmhost --register"
  [[ "$(manifest_paths)" == "$launcher $launcher $launcher $launcher " ]] ||
    fail "host's own manifests: $(manifest_paths)"
  grep -qx 'http://127.0.0.1:8124' <<< "$(launcher_words)" || fail "host's launcher lacks its origin"
  [[ "$(listing)" == "./systemd/user/someone-else.service " ]] || fail "host wrote: $(listing)"
  "$host" --unregister > /dev/null || fail "ruzazuv-nmhost --unregister"
  [[ "$(manifest_paths)" == "- - - - " && ! -e "$launcher" ]] ||
    fail "host's unregister left: $(manifest_paths)"
fi

if (( failures )); then exit 1; fi
echo "bridge_registration_test: ok"
