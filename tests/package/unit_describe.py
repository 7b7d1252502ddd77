#!/usr/bin/env python3
"""Starts the installed bridge the way its systemd user socket would and asks it for `describe`.

Usage: unit_describe.py SOCKET_UNIT SERVICE_UNIT ORIGIN

The listening socket is made here and handed over as systemd does (descriptor 3, LISTEN_FDS=1,
LISTEN_PID = the bridge's pid), on a free loopback port rather than the unit's, so that a bridge
already running on this machine is not in the way. Prints the describe result as JSON; exits
non-zero with a reason on standard error when anything differs from what the units promise.
"""
import base64
import json
import os
import shlex
import signal
import socket
import struct
import sys
import time


def unit_value(path, section, key):
    current = None
    with open(path, encoding="utf-8") as unit:
        for line in unit:
            line = line.strip()
            if line.startswith("[") and line.endswith("]"):
                current = line[1:-1]
            elif current == section and line.startswith(key + "="):
                return line[len(key) + 1:]
    sys.exit(f"{path}: no {key}= in [{section}]")


def start_bridge(argv, listener):
    pid = os.fork()
    if pid == 0:
        try:
            os.dup2(listener.fileno(), 3)
            os.set_inheritable(3, True)
            env = dict(os.environ, LISTEN_FDS="1", LISTEN_PID=str(os.getpid()))
            env.pop("DISPLAY", None)
            env.pop("WAYLAND_DISPLAY", None)
            os.execve(argv[0], argv, env)
        finally:
            os._exit(127)
    listener.close()
    return pid


def receive_exactly(conn, count):
    data = b""
    while len(data) < count:
        chunk = conn.recv(count - len(data))
        if not chunk:
            sys.exit("the bridge closed the connection")
        data += chunk
    return data


def websocket_request(port, origin, text):
    conn = socket.create_connection(("127.0.0.1", port), timeout=20)
    key = base64.b64encode(os.urandom(16)).decode()
    conn.sendall((f"GET / HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nUpgrade: websocket\r\n"
                  f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
                  f"Sec-WebSocket-Version: 13\r\nOrigin: {origin}\r\n\r\n").encode())
    head = b""
    while b"\r\n\r\n" not in head:
        head += receive_exactly(conn, 1)
    status = head.split(b"\r\n", 1)[0].decode()
    if " 101 " not in status:
        sys.exit(f"handshake refused: {status}")
    payload = text.encode()
    mask = os.urandom(4)
    header = bytes([0x81])
    if len(payload) < 126:
        header += bytes([0x80 | len(payload)])
    else:
        header += bytes([0x80 | 126]) + struct.pack("!H", len(payload))
    conn.sendall(header + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(payload)))
    first, second = receive_exactly(conn, 2)
    if first & 0x0F != 1:
        sys.exit(f"expected a text frame, got opcode {first & 0x0F}")
    length = second & 0x7F
    if length == 126:
        length = struct.unpack("!H", receive_exactly(conn, 2))[0]
    elif length == 127:
        length = struct.unpack("!Q", receive_exactly(conn, 8))[0]
    answer = receive_exactly(conn, length).decode()
    conn.close()
    return json.loads(answer)


def main():
    socket_unit, service_unit, origin = sys.argv[1:4]
    listen = unit_value(socket_unit, "Socket", "ListenStream")
    if not listen.startswith("127.0.0.1:"):
        sys.exit(f"the socket unit listens on {listen}, not on loopback")
    argv = shlex.split(unit_value(service_unit, "Service", "ExecStart"))
    if not os.path.isabs(argv[0]) or not os.access(argv[0], os.X_OK):
        sys.exit(f"ExecStart names no installed program: {argv[0]}")

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    port = listener.getsockname()[1]
    pid = start_bridge(argv, listener)
    try:
        # The socket is listening already: the connection waits in its backlog until the bridge
        # takes it, as a page's first connection does under socket activation.
        answer = websocket_request(port, origin,
                                   '{"jsonrpc":"2.0","id":1,"method":"describe"}')
    finally:
        os.kill(pid, signal.SIGTERM)
        deadline = time.monotonic() + 20
        status = None
        while time.monotonic() < deadline:
            done, status = os.waitpid(pid, os.WNOHANG)
            if done:
                break
            time.sleep(0.1)
        else:
            os.kill(pid, signal.SIGKILL)
            os.waitpid(pid, 0)
            sys.exit("the bridge did not stop on SIGTERM")
    if "result" not in answer:
        sys.exit(f"describe failed: {answer}")
    if not os.WIFEXITED(status) or os.WEXITSTATUS(status) != 0:
        sys.exit(f"the bridge ended with status {status} after SIGTERM")
    print(json.dumps(answer["result"]))


if __name__ == "__main__":
    main()
