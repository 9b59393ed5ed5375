#!/usr/bin/python3
"""A tower server of the tests' own, on the Socket.IO library Ringing Room
runs on (python3-socketio with eventlet): the events a ringing client uses,
handled as Ringing Room's server handles them, and the web routes that lead
a client to the tower (the tower page with its server address, the token
and tower APIs).

Run with /usr/bin/python3 (Debian's packages). Prints "PORT=<n>" (and
"PLAIN_PORT=<n>") on standard output once it listens. Every event a client
sends is written to --events as one JSON line: {"t_us": CLOCK_MONOTONIC us,
"sid": ..., "event": ..., "data": ...}.

--delay-ms holds every event a client sends, and every event sent to a
client, that long, as a distant server would be reached (Engine.IO's pings
are not held); an event's t_us is when it is handled, after the hold.

Users (--user) are numbered from 1 in the order given, their user name the
part of the e-mail before "@". A logged-in ringer is told the tower's host
mode and its assignments, and may assign (c_assign_user), as on Ringing
Room, whose server checks neither: the browsers do. --host-mode TOWER puts a
tower in host mode with a host in it (Ringing Room turns host mode off when
no host is left), so a ringer who is not a host may assign nobody and ring
only the bells a host gave them.

--hostile makes the WebSocket route a raw one that, after a normal open and
connect, sends the frames listed in the file given (one a line; a line
"@big N" is a message of N bytes), then behaves as a tower.
"""

import argparse
import base64
import json
import os
import secrets
import sys
import time

import eventlet

eventlet.monkey_patch()

import socketio  # noqa: E402
from eventlet import websocket, wsgi  # noqa: E402


def mono_us():
    return time.clock_gettime_ns(time.CLOCK_MONOTONIC) // 1000


class Towers:
    def __init__(self, towers, users):
        self.bells = {}  # tower id (int) -> list of bool, True at handstroke
        for item in towers.split(","):
            tid, _, n = item.partition(":")
            self.bells[int(tid)] = [True] * int(n or 8)
        self.users = users  # email -> password
        self.ids = {email: i + 1 for i, email in enumerate(users)}
        self.tokens = {}  # token -> email
        self.host_mode = {}  # tower id -> bool
        self.assignments = {tid: {} for tid in self.bells}  # tower id -> {bell: user id}
        self.present = {tid: {} for tid in self.bells}  # tower id -> {user id: user name}
        self.sids = {}  # sid -> (tower id, user id) of a logged-in ringer
        self.events = None

    @staticmethod
    def username(email):
        return email.partition("@")[0]

    def user_list(self, tid):
        return [{"user_id": i, "username": n, "badge": None} for i, n in self.present[tid].items()]

    def log(self, sid, event, data):
        if self.events is None:
            return
        self.events.write(json.dumps({"t_us": mono_us(), "sid": sid, "event": event, "data": data}) + "\n")
        self.events.flush()


def make_sio(towers, args):
    sio = socketio.Server(async_mode="eventlet", ping_interval=args.ping_interval,
                          ping_timeout=args.ping_timeout, cors_allowed_origins="*")
    held = args.delay_ms / 1000

    # Each event is handled in a green thread of its own: held ones wake in
    # the order they came.
    def arrive():
        if held:
            eventlet.sleep(held)

    def emit(*a, **k):
        if held:
            eventlet.spawn_after(held, sio.emit, *a, **k)
        else:
            sio.emit(*a, **k)

    # As Ringing Room's: towers[tower_id] with the id as sent, so a string id
    # finds no tower (the handler fails and nothing is sent back).
    def tower(data):
        return towers.bells[data["tower_id"]]

    @sio.on("c_join")
    def on_join(sid, data):
        arrive()
        towers.log(sid, "c_join", data)
        token = data.get("user_token")
        if token and token not in towers.tokens:
            emit("s_bad_token", data, to=sid)
            emit("s_redirection", "/authenticate", to=sid)
            return
        tower(data)
        tid = data["tower_id"]
        sio.enter_room(sid, tid)
        emit("s_set_userlist", {"user_list": towers.user_list(tid)}, to=sid)
        if token:
            email = towers.tokens[token]
            uid, name = towers.ids[email], towers.username(email)
            towers.present[tid][uid] = name
            towers.sids[sid] = (tid, uid)
            emit("s_host_mode", {"tower_id": tid, "new_mode": towers.host_mode.get(tid, False)}, to=sid)
            emit("s_user_entered", {"user_id": uid, "username": name, "badge": None}, room=tid)

    @sio.on("c_request_global_state")
    def on_state(sid, data):
        arrive()
        towers.log(sid, "c_request_global_state", data)
        emit("s_global_state", {"global_bell_state": list(tower(data))}, to=sid)
        for bell, user in towers.assignments[data["tower_id"]].items():
            emit("s_assign_user", {"bell": bell, "user": user}, to=sid)

    # As Ringing Room's: any client's assignment is taken and told to all.
    @sio.on("c_assign_user")
    def on_assign(sid, data):
        arrive()
        towers.log(sid, "c_assign_user", data)
        tower(data)
        towers.assignments[data["tower_id"]][data["bell"]] = data["user"]
        emit("s_assign_user", data, room=data["tower_id"])

    @sio.on("c_host_mode")
    def on_host_mode(sid, data):
        arrive()
        towers.log(sid, "c_host_mode", data)
        tower(data)
        towers.host_mode[data["tower_id"]] = data["new_mode"]
        emit("s_host_mode", data, room=data["tower_id"], skip_sid=sid)

    # As Ringing Room's: the bell turns only for a ring at the stroke the
    # tower holds it at; any other is answered with disagree and leaves the
    # tower's stroke as it was. The answer goes to the events too.
    @sio.on("c_bell_rung")
    def on_bell(sid, data):
        arrive()
        towers.log(sid, "c_bell_rung", data)
        state = tower(data)
        bell = data["bell"]
        disagree = state[bell - 1] is not data["stroke"]
        if not disagree:
            state[bell - 1] = not state[bell - 1]
        answer = {"global_bell_state": list(state), "who_rang": bell, "disagree": disagree}
        towers.log(sid, "s_bell_rung", answer)
        emit("s_bell_rung", answer, room=data["tower_id"])

    @sio.on("c_call")
    def on_call(sid, data):
        arrive()
        towers.log(sid, "c_call", data)
        emit("s_call", data, room=data["tower_id"])

    @sio.on("c_user_left")
    def on_left(sid, data):
        arrive()
        towers.log(sid, "c_user_left", data)
        tid, uid = towers.sids.pop(sid, (None, None))
        name = towers.present[tid].pop(uid, None) if uid is not None else None
        if name is not None:
            emit("s_user_left", {"user_id": uid, "username": name}, room=tid)

    @sio.on("connect")
    def on_connect(sid, environ):
        towers.log(sid, "connect", None)

    @sio.on("disconnect")
    def on_disconnect(sid):
        towers.log(sid, "disconnect", None)

    return sio


def web_app(towers, args):
    def respond(start, status, body, ctype="text/html"):
        body = body.encode() if isinstance(body, str) else body
        start(status, [("Content-Type", ctype), ("Content-Length", str(len(body)))])
        return [body]

    def app(environ, start):
        path = environ.get("PATH_INFO", "")
        method = environ.get("REQUEST_METHOD", "GET")
        auth = environ.get("HTTP_AUTHORIZATION", "")
        scheme = "https" if args.cert else "http"
        root = f"{scheme}://{environ.get('HTTP_HOST', 'localhost')}/"
        parts = [p for p in path.split("/") if p]
        if method == "POST" and parts == ["api", "tokens"]:
            try:
                email, _, password = base64.b64decode(auth.split(" ", 1)[1]).decode().partition(":")
            except Exception:
                email, password = "", None
            if towers.users.get(email) != password or password is None:
                return respond(start, "401 UNAUTHORIZED", json.dumps({"error": "Unauthorized"}), "application/json")
            token = secrets.token_urlsafe(24)
            towers.tokens[token] = email
            return respond(start, "200 OK", json.dumps({"token": token}), "application/json")
        if method == "GET" and parts == ["api", "user"]:
            if not auth.startswith("Bearer ") or auth[7:] not in towers.tokens:
                return respond(start, "401 UNAUTHORIZED", json.dumps({"error": "Unauthorized"}), "application/json")
            email = towers.tokens[auth[7:]]
            return respond(start, "200 OK", json.dumps({"username": towers.username(email), "email": email}),
                           "application/json")
        if method == "GET" and len(parts) == 3 and parts[:2] == ["api", "tower"] and parts[2].isdigit():
            if not auth.startswith("Bearer ") or auth[7:] not in towers.tokens:
                return respond(start, "401 UNAUTHORIZED", json.dumps({"error": "Unauthorized"}), "application/json")
            if int(parts[2]) not in towers.bells:
                return respond(start, "404 NOT FOUND", json.dumps({"error": "Not Found"}), "application/json")
            return respond(start, "200 OK", json.dumps({"tower_id": int(parts[2]), "server_address": root}),
                           "application/json")
        if method == "GET" and len(parts) >= 1 and parts[0].isdigit():
            if int(parts[0]) not in towers.bells:
                return respond(start, "404 NOT FOUND", "<h1>Not Found</h1>")
            page = ("<html><script>\n    window.tower_parameters = {\n        id: parseInt(" + parts[0] + "),\n"
                    '        anonymous_user: true,\n        server_ip: "' + root + '",\n    };\n</script></html>')
            return respond(start, "200 OK", page)
        return respond(start, "404 NOT FOUND", "<h1>Not Found</h1>")

    return app


def hostile_app(towers, args, normal):
    """The WebSocket route answers with the listed frames first."""
    frames = []
    for line in open(args.hostile, encoding="utf-8"):
        line = line.rstrip("\n")
        if line.startswith("@big "):
            frames.append("4" + "x" * (int(line[5:]) - 1))
        elif line:
            frames.append(line)

    @websocket.WebSocketWSGI
    def handle(ws):
        sid = secrets.token_hex(8)
        ws.send(json.dumps({"sid": sid, "upgrades": [], "pingInterval": 25000, "pingTimeout": 20000}).join(["0", ""]))
        state = None
        while True:
            m = ws.wait()
            if m is None:
                return
            towers.log(sid, "raw", m)
            if m == "40":
                ws.send('40{"sid":"' + sid + '"}')
            elif m.startswith("42"):
                name, data = json.loads(m[2:])[:2]
                if name == "c_request_global_state":
                    state = towers.bells[data["tower_id"]]
                    for f in frames:
                        ws.send(f)
                    ws.send("42" + json.dumps(["s_global_state", {"global_bell_state": state}]))
                elif name == "c_bell_rung" and state is not None:
                    ws.send("42" + json.dumps(["s_bell_rung", {"global_bell_state": state,
                                                               "who_rang": data["bell"], "disagree": False}]))

    def app(environ, start):
        if environ.get("PATH_INFO", "").startswith("/socket.io"):
            return handle(environ, start)
        return normal(environ, start)

    return app


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--plain-port", type=int, default=-1, help="also serve without TLS here (0: any port)")
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--towers", default="123456789:8")
    p.add_argument("--user", action="append", default=[], help="email:password")
    p.add_argument("--ping-interval", type=float, default=25)
    p.add_argument("--ping-timeout", type=float, default=20)
    p.add_argument("--events")
    p.add_argument("--hostile")
    p.add_argument("--delay-ms", type=float, default=0)
    p.add_argument("--host-mode", type=int, action="append", default=[], help="a tower in host mode, a host in it")
    args = p.parse_args()

    users = dict(u.split(":", 1) for u in args.user)
    towers = Towers(args.towers, users)
    for tid in args.host_mode:
        towers.host_mode[tid] = True
    if args.events:
        towers.events = open(args.events, "a", encoding="utf-8")
    web = web_app(towers, args)
    if args.hostile:
        app = hostile_app(towers, args, web)
    else:
        app = socketio.WSGIApp(make_sio(towers, args), web)

    listener = eventlet.listen(("127.0.0.1", args.port))
    port = listener.getsockname()[1]
    if args.cert:
        listener = eventlet.wrap_ssl(listener, certfile=args.cert, keyfile=args.key, server_side=True)
    servers = [listener]
    print(f"PORT={port}", flush=True)
    if args.plain_port >= 0:
        plain = eventlet.listen(("127.0.0.1", args.plain_port))
        print(f"PLAIN_PORT={plain.getsockname()[1]}", flush=True)
        servers.append(plain)
    log = open(os.devnull, "w")
    pool = eventlet.GreenPool()
    for s in servers:
        pool.spawn(wsgi.server, s, app, log=log, log_output=False)
    pool.waitall()


if __name__ == "__main__":
    sys.exit(main())
