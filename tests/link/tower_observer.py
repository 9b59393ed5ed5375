#!/usr/bin/python3
"""A listener in a tower, as a browser is: joins anonymously with the
Socket.IO client library and writes every s_bell_rung and s_call it hears
to --out as one JSON line, with its arrival time in CLOCK_MONOTONIC
microseconds: {"t_us", "event", "bell", "stroke", "disagree", "call"}.
"stroke" is the stroke the ring was sent at (true: handstroke), read from
the tower's state after it. Prints "READY" once it has joined.

Run with /usr/bin/python3. For a wss:// server, SSL_CERT_FILE in the
environment names the certificate authority to trust.
"""

import argparse
import json
import sys
import time

import socketio


def mono_us():
    return time.clock_gettime_ns(time.CLOCK_MONOTONIC) // 1000


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--url", required=True, help="http(s)://host:port of the tower's server")
    p.add_argument("--tower", type=int, required=True)
    p.add_argument("--out", required=True)
    args = p.parse_args()

    out = open(args.out, "a", encoding="utf-8")
    sio = socketio.Client(reconnection=True, reconnection_delay=0.2, reconnection_delay_max=1)
    joined = {"state": False}

    def write(record):
        out.write(json.dumps(record) + "\n")
        out.flush()

    @sio.on("s_bell_rung")
    def on_bell(msg):
        t = mono_us()
        bell = msg["who_rang"]
        # The server turns the bell's state only when the stroke agreed; either
        # way the stroke that was sent is the other one from the state now.
        write({"t_us": t, "event": "s_bell_rung", "bell": bell, "stroke": not msg["global_bell_state"][bell - 1],
               "disagree": msg["disagree"]})

    @sio.on("s_call")
    def on_call(msg):
        write({"t_us": mono_us(), "event": "s_call", "call": msg["call"]})

    @sio.on("s_global_state")
    def on_state(msg):
        if not joined["state"]:
            joined["state"] = True
            print("READY", flush=True)

    @sio.on("connect")
    def on_connect():
        sio.emit("c_join", {"tower_id": args.tower, "user_token": "", "anonymous_user": True})
        sio.emit("c_request_global_state", {"tower_id": args.tower})

    sio.connect(args.url, transports=["websocket"])
    sio.wait()


if __name__ == "__main__":
    sys.exit(main())
