#!/usr/bin/env python3
"""Starts the installed bridge the way its systemd user socket would and asks it for `describe`.

Usage: unit_describe.py SOCKET_UNIT SERVICE_UNIT ORIGIN

One listening socket per ListenStream line is made here and handed over as systemd does
(descriptors from 3 in the unit's order, LISTEN_FDS, LISTEN_PID = the bridge's pid), each on a
free loopback port rather than the unit's, so that a bridge already running on this machine is
not in the way. The first must serve the WebSocket service to ORIGIN. A second must serve the
demo page, whose own origin the service then accepts. Prints the describe result as JSON; exits
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


def unit_values(path, section, key):
    """Every value of KEY in [SECTION], in order, with backslash-continued lines joined."""
    current, values, pending = None, [], ""
    with open(path, encoding="utf-8") as unit:
        for raw in unit:
            line = pending + raw.strip()
            pending = ""
            if line.endswith("\\"):
                pending = line[:-1] + " "
                continue
            if line.startswith("[") and line.endswith("]"):
                current = line[1:-1]
            elif current == section and line.startswith(key + "="):
                values.append(line[len(key) + 1:])
    if not values:
        sys.exit(f"{path}: no {key}= in [{section}]")
    return values


def start_bridge(argv, listeners):
    pid = os.fork()
    if pid == 0:
        try:
            # Move every socket above the target range first, so no dup2 overwrites another.
            moved = [100 + index for index in range(len(listeners))]
            for listener, fd in zip(listeners, moved):
                os.dup2(listener.fileno(), fd)
            for index, fd in enumerate(moved):
                os.dup2(fd, 3 + index)
                os.set_inheritable(3 + index, True)
            # What the service prints goes to the journal under systemd; here, to standard
            # error, so that standard output holds the describe result alone.
            os.dup2(2, 1)
            env = dict(os.environ, LISTEN_FDS=str(len(listeners)), LISTEN_PID=str(os.getpid()))
            env.pop("DISPLAY", None)
            env.pop("WAYLAND_DISPLAY", None)
            os.execve(argv[0], argv, env)
        finally:
            os._exit(127)
    for listener in listeners:
        listener.close()
    return pid


def http_get(port, path):
    """The status code and body of GET PATH on 127.0.0.1:PORT."""
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=20) as conn:
            conn.sendall(f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode())
            data = b""
            while chunk := conn.recv(65536):
                data += chunk
    except OSError as e:
        sys.exit(f"GET {path} on the demo socket got no answer: {e}")
    head, _, body = data.partition(b"\r\n\r\n")
    return int(head.split(b" ", 2)[1]), body


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
    listens = unit_values(socket_unit, "Socket", "ListenStream")
    for listen in listens:
        if not listen.startswith("127.0.0.1:"):
            sys.exit(f"the socket unit listens on {listen}, not on loopback")
    if len(listens) > 2:
        sys.exit(f"the socket unit has {len(listens)} ListenStream lines; the bridge takes two")
    argv = shlex.split(unit_values(service_unit, "Service", "ExecStart")[0])
    if not os.path.isabs(argv[0]) or not os.access(argv[0], os.X_OK):
        sys.exit(f"ExecStart names no installed program: {argv[0]}")

    listeners, ports = [], []
    for _ in listens:
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.bind(("127.0.0.1", 0))
        listener.listen(16)
        listeners.append(listener)
        ports.append(listener.getsockname()[1])
    pid = start_bridge(argv, listeners)
    describe = '{"jsonrpc":"2.0","id":1,"method":"describe"}'
    try:
        # The sockets are listening already: a connection waits in its backlog until the bridge
        # takes it, as a page's first connection does under socket activation.
        answer = websocket_request(ports[0], origin, describe)
        if len(ports) > 1:
            demo = f"http://127.0.0.1:{ports[1]}"
            for path, marker in (("/demo/", b"<html"), ("/demo/demo.js", b"../ruzazuv.js"),
                                 ("/ruzazuv.js", b"ruzazuv.members.js"),
                                 ("/ruzazuv.members.js", b"members")):
                status, body = http_get(ports[1], path)
                if status != 200 or marker not in body:
                    sys.exit(f"the demo socket answered GET {path} with {status}, "
                             f"{len(body)} bytes without {marker!r}")
            from_demo = websocket_request(ports[0], demo, describe)
            if from_demo.get("result") != answer.get("result"):
                sys.exit(f"describe from the demo page's origin {demo} differs: {from_demo}")
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
