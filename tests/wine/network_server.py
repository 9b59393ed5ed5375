"""HTTP and WebSocket server for the network backend's tests, plain and TLS.

    /usr/bin/python3 network_server.py READY_FILE [CERT KEY]

Listens on 127.0.0.1 on free ports (TLS only when given a certificate and
its key) and writes "http=PORT tls=PORT" to READY_FILE once both listen.

  /status/N         answers HTTP status N
  /echo             answers "METHOD\\nX-Quennick-Test header\\nquery\\n" + body
  /big?N            answers N bytes
  /slow             answers after 5 s
  /ws/echo          WebSocket: echoes every message, except commands:
      !frag N K     a text message of N bytes sent in K fragments
      !big N        a text message of N bytes in one frame
      !burst N      N messages "burst 0" .. "burst N-1"
      !binary       a binary message
      !close        a close frame (1001, "bye"), then the end
      !drop         the connection dropped without a close frame
      !silent       nothing
Fragment payloads are "abc...z" repeated.
"""

import os
import socket
import sys

import eventlet
from eventlet import websocket, wsgi


def pattern(n):
    return ("abcdefghijklmnopqrstuvwxyz" * (n // 26 + 1))[:n]


@websocket.WebSocketWSGI
def ws_echo(ws):
    while True:
        m = ws.wait()
        if m is None:
            return
        if not isinstance(m, str) or not m.startswith("!"):
            ws.send(m)
            continue
        words = m.split()
        cmd, args = words[0], [int(w) for w in words[1:]]
        if cmd == "!frag":
            n, k = args
            text = pattern(n)
            step = max(1, -(-n // k))
            parts = [text[i:i + step] for i in range(0, n, step)] or [""]
            for i, part in enumerate(parts):
                ws.send(part, continuation=i > 0, final=i == len(parts) - 1)
        elif cmd == "!big":
            ws.send("b" * args[0])
        elif cmd == "!burst":
            for i in range(args[0]):
                ws.send("burst %d" % i)
        elif cmd == "!binary":
            ws.send(b"\x00\x01\x02")
        elif cmd == "!close":
            ws.close(close_data=(1001, "bye"))
            return
        elif cmd == "!drop":
            ws.socket.shutdown(socket.SHUT_RDWR)
            ws.socket.close()
            return
        elif cmd == "!silent":
            pass


def app(environ, start_response):
    path = environ["PATH_INFO"]
    query = environ.get("QUERY_STRING", "")
    if path.startswith("/ws/"):
        return ws_echo(environ, start_response)
    if path.startswith("/status/"):
        code = int(path[len("/status/"):])
        start_response("%d Test" % code, [("Content-Type", "text/plain")])
        return [b"status %d" % code]
    if path == "/echo":
        length = int(environ.get("CONTENT_LENGTH") or 0)
        body = environ["wsgi.input"].read(length) if length else b""
        head = "%s\n%s\n%s\n" % (environ["REQUEST_METHOD"], environ.get("HTTP_X_QUENNICK_TEST", ""), query)
        start_response("200 OK", [("Content-Type", "text/plain")])
        return [head.encode() + body]
    if path == "/big":
        start_response("200 OK", [("Content-Type", "text/plain")])
        return [b"x" * int(query)]
    if path == "/slow":
        eventlet.sleep(5)
        start_response("200 OK", [("Content-Type", "text/plain")])
        return [b"slow"]
    start_response("404 Not Found", [("Content-Type", "text/plain")])
    return [b"no such page"]


class Quiet:
    def write(self, _):
        pass


def serve(sock):
    # A client that refuses the certificate ends its handshake with an
    # error here: that is the test passing, not the server failing.
    while True:
        try:
            wsgi.server(sock, app, log=Quiet(), log_output=False)
            return
        except Exception:  # noqa: BLE001
            continue


def main():
    ready = sys.argv[1]
    plain = eventlet.listen(("127.0.0.1", 0))
    ports = "http=%d" % plain.getsockname()[1]
    servers = [eventlet.spawn(serve, plain)]
    if len(sys.argv) >= 4:
        tls = eventlet.wrap_ssl(eventlet.listen(("127.0.0.1", 0)), certfile=sys.argv[2], keyfile=sys.argv[3],
                                server_side=True)
        ports += " tls=%d" % tls.getsockname()[1]
        servers.append(eventlet.spawn(serve, tls))
    with open(ready + ".tmp", "w") as f:
        f.write(ports + "\n")
    os.replace(ready + ".tmp", ready)
    for s in servers:
        s.wait()


if __name__ == "__main__":
    main()
