#!/usr/bin/python3
"""Quennick rings 60 strikes into a tower over TLS: the whole program, on a
serial port whose CTS line the modem-line shim plays from a timeline, with
stored settings for "Ringing Room - any browser with focus" and a tower link
to the tests' tower server (tower_server.py, python3-socketio) with a test
certificate for DNS:localhost. A listener in the tower (tower_observer.py)
records every ring as it arrives. Checked: every strike arrives once, in
order, at the right stroke, between its due time and 150 ms after it (a
gross bound); the delay from due time to arrival is printed (median, p99).
The program leaves the tower (c_user_left) when it quits.

The program under test is a Runner; this file has the Linux one
(--runner linux: the program in tmux, the pty its serial port). The Windows
program's runner is tests/e2e/towerlink.py's WineRunner: it needs the end-to-end
suite's Wine session and console reader, so that suite calls ring60() itself
(scenario TowerLinkRings60StrikesThroughWinHTTP). A runner provides:

    comport              what the settings file's comport= holds
    trust                "env": SSL_CERT_FILE reaches the program;
                         "store": the test CA must be in the system's store
    Class(program, port) the program's path and the LinePort (port.device is
                         the pty the program's serial port must be)
    start(workdir, env)  runs the program in workdir (settings file there),
                         with env added (the shim's variables, SSL_CERT_FILE)
    screen()             the console's text now
    type(keys)           keys typed at the console
    wait_exit(timeout)   the exit code, or None while it still runs
    stop()               ends whatever is left

and is chosen with --runner module:Class (the module on sys.path). A Wine
runner has its COM port on port.device, adds QN_SHIM_LATCH=1 to env (Wine
polls the lines) and has trust = "store": the harness then puts the test
CA in the system's store for the run and takes it out again (a CA left by a
run that was killed is taken out by the next, as throwaway-ca.sh does).

Run with /usr/bin/python3 (Debian's python3-socketio for the listener).
Ends with a line "ring60: N passed, N failed".
"""

import argparse
import ctypes
import importlib
import json
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent
TOWER = 123456789
BELL = 5  # towerbellj in the fixture
VERSION = "Quennick_v0.8.2d3_(04_Jan_2021)_"
TIOCM_CTS = 0x020
PR_SET_PDEATHSIG = 1
PULSE_MS = 50
SENSOR_GAP_MS = 150  # the fixture's bell has two sensors; the sensing point is the second
STRIKES = 60
INTERVAL_MS = 600
LATE_LIMIT_MS = 150


class Failure(AssertionError):
    pass


def check(ok, what):
    if not ok:
        raise Failure(what)


def mono_us():
    return time.clock_gettime_ns(time.CLOCK_MONOTONIC) // 1000


def wait_until(done, timeout, step=0.05):
    end = time.monotonic() + timeout
    while True:
        v = done()
        if v or time.monotonic() > end:
            return v
        time.sleep(step)


def setting(text, key):
    for line in text.replace("\r\n", "\n").split("\n"):
        if line.startswith(key + "="):
            return line[len(key) + 1:]
    return None


def json_lines(path):
    out = []
    if os.path.exists(path):
        for line in open(path, encoding="utf-8"):
            try:
                out.append(json.loads(line))
            except ValueError:
                pass
    return out


def pid_alive(pid):
    try:
        os.kill(int(pid), 0)
    except (ValueError, ProcessLookupError):
        return False
    except PermissionError:
        pass
    return True


def percentile(values, p):
    v = sorted(values)
    return v[min(len(v) - 1, int(p * (len(v) - 1) + 0.5))]


def die_with_parent():
    """In a child before exec: killed when the harness ends, however it ends."""
    ctypes.CDLL(None).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


class Child:
    """A background process with its output in a file."""

    def __init__(self, argv, out, env=None):
        self.out = out
        self.proc = subprocess.Popen(argv, stdout=open(out, "w"), stderr=subprocess.STDOUT,
                                     env={**os.environ, **(env or {})}, preexec_fn=die_with_parent)

    def text(self):
        return Path(self.out).read_text(errors="replace")

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


class Tower:
    """The test CA, the tower server over TLS and a listener in the tower."""

    def __init__(self, work):
        self.work = work
        self.ca = work / "ca"
        r = subprocess.run(["bash", "-c", f"source '{ROOT}/scripts/lib/throwaway-ca.sh' && qn_tca_make '{self.ca}'"
                                          f" && qn_tca_bundle '{self.ca}'"])
        check(r.returncode == 0, "the test CA could not be made")
        self.events = work / "events.jsonl"
        self.heard = work / "heard.jsonl"
        self.stored = None
        self.server = self.listener = None
        try:
            self.start_server_and_listener(work)
        except BaseException:
            self.stop()
            raise

    def start_server_and_listener(self, work):
        self.server = Child(["/usr/bin/python3", str(HERE / "tower_server.py"), "--cert", str(self.ca / "server.crt"),
                             "--key", str(self.ca / "server.key"), "--towers", f"{TOWER}:8",
                             "--events", str(self.events)], str(work / "server.out"))
        port = wait_until(lambda: setting(self.server.text(), "PORT"), 20)
        check(port, "the tower server did not start:\n" + self.server.text())
        self.site = f"https://localhost:{port}"
        self.listener = Child(["/usr/bin/python3", str(HERE / "tower_observer.py"), "--url", self.site,
                               "--tower", str(TOWER), "--out", str(self.heard)], str(work / "listener.out"),
                              {"SSL_CERT_FILE": str(self.ca / "trust.pem")})
        check(wait_until(lambda: "READY" in self.listener.text(), 20),
              "the listener did not join:\n" + self.listener.text())

    def trust_in_store(self):
        """For a program that reads only the system's store (WinHTTP under
        Wine): the CA goes in under the name throwaway-ca.sh uses, so a run
        killed before it could take it out is cleaned up by the next."""
        check(os.geteuid() == 0 and shutil.which("update-ca-certificates"),
              "putting the test CA in the system's store needs root and update-ca-certificates")
        store = Path("/usr/local/share/ca-certificates")
        store.mkdir(parents=True, exist_ok=True)
        for old in store.glob("quennick-throwaway-ca-*.crt"):
            if not pid_alive(old.stem.rsplit("-", 1)[1]):
                old.unlink(missing_ok=True)
        self.stored = store / f"quennick-throwaway-ca-{os.getpid()}.crt"
        shutil.copy(self.ca / "ca.crt", self.stored)
        check(subprocess.run(["update-ca-certificates"], capture_output=True).returncode == 0,
              "update-ca-certificates failed")

    def rings(self):
        return [r for r in json_lines(self.heard) if r.get("event") == "s_bell_rung" and r.get("bell") == BELL]

    def events_named(self, name):
        return [e for e in json_lines(self.events) if e.get("event") == name]

    def stop(self):
        for child in (self.listener, self.server):
            if child:
                child.stop()
        if self.stored and self.stored.exists():
            self.stored.unlink()
            subprocess.run(["update-ca-certificates"], capture_output=True)


class LinePort:
    """A socat pty pair and the shim's timeline for its CTS line."""

    def __init__(self, work):
        self.dir = work / "pty"
        self.dir.mkdir()
        self.socat = Child(["socat", "-d", "-d", f"pty,raw,echo=0,link={self.dir}/port",
                            f"pty,raw,echo=0,link={self.dir}/peer"], str(work / "socat.log"))
        check(wait_until(lambda: (self.dir / "port").exists() and (self.dir / "peer").exists(), 5),
              "socat gave no ptys")
        self.device = os.path.realpath(self.dir / "port")
        self.timeline = work / "timeline"
        self.timeline.write_text(f"# CLOCK_MONOTONIC us, TIOCM_ word\n{mono_us()} 0\n")

    def shim_env(self, shim):
        return {"LD_PRELOAD": shim, "QN_SHIM_DEV": self.device, "QN_SHIM_TIMELINE": str(self.timeline)}

    def play(self, pulses):
        """pulses: (start_us, end_us) in CLOCK_MONOTONIC, appended in one write."""
        with open(self.timeline, "a") as f:
            f.write("".join(f"{a} {TIOCM_CTS}\n{b} 0\n" for a, b in pulses))

    def stop(self):
        self.socat.stop()


class LinuxRunner:
    """The Linux program in a terminal (tmux, 80 x 25), its serial port the
    pty itself (the settings file names the path)."""

    trust = "env"

    def __init__(self, program, port):
        self.program = os.path.abspath(program)
        self.comport = str(port.dir / "port")
        self.tmux = ["tmux", "-L", f"qnlink{os.getpid()}"]

    def start(self, workdir, env):
        exports = " ".join(f"{k}='{v}'" for k, v in env.items())
        cmd = f"cd '{workdir}' && env {exports} '{self.program}'; echo exit=$? > '{workdir}/exit'; sleep 600"
        subprocess.run(self.tmux + ["new-session", "-d", "-s", "ring", "-x", "80", "-y", "25", cmd], check=True)
        self.workdir = workdir

    def screen(self):
        return subprocess.run(self.tmux + ["capture-pane", "-p", "-t", "ring"], capture_output=True, text=True).stdout

    def type(self, keys):
        subprocess.run(self.tmux + ["send-keys", "-t", "ring", "-l", keys], check=True)

    def wait_exit(self, timeout):
        f = self.workdir / "exit"
        if not wait_until(f.exists, timeout):
            return None
        return int(f.read_text().strip().split("=")[1])

    def stop(self):
        subprocess.run(self.tmux + ["kill-server"], capture_output=True)


def ring60(runner, port, shim, work, note=print):
    """Rings the strikes and checks them (Failure when one is wrong); says
    the figures through note and returns the delays, ms, strike by strike."""
    tower = Tower(work)
    try:
        fixture = (HERE / "fixtures" / "signals_tower.ini").read_bytes().decode("latin-1")
        settings = fixture.replace("comport=\\\\.\\COM7", f"comport={runner.comport}")
        settings = settings.replace("towersite=https://localhost:8443", f"towersite={tower.site}")
        prog_dir = work / "program"
        prog_dir.mkdir()
        (prog_dir / (VERSION + ".ini")).write_bytes(settings.encode("latin-1"))
        env = port.shim_env(shim)
        if runner.trust == "env":
            env["SSL_CERT_FILE"] = str(tower.ca / "trust.pem")
        else:
            tower.trust_in_store()
        runner.start(prog_dir, env)
        joined = wait_until(lambda: f"Tower {TOWER}: joined" in runner.screen(), 30)
        check(joined, "the program did not join the tower:\n" + runner.screen())
        # No H first: the program starts at backstroke, but the link rings at
        # the tower's stroke, which starts at handstroke.

        half_signal_ms = int(setting(settings, "meansignallength")) / 2
        delay_ms = int(setting(settings, "keydelayhand_1_1"))
        start = mono_us() + 1000000
        pulses, due = [], []
        for i in range(STRIKES):
            t = start + i * INTERVAL_MS * 1000
            pulses += [(t, t + PULSE_MS * 1000), (t + SENSOR_GAP_MS * 1000, t + (SENSOR_GAP_MS + PULSE_MS) * 1000)]
            due.append(t + (SENSOR_GAP_MS + delay_ms + half_signal_ms) * 1000)
        port.play(pulses)
        wait_until(lambda: len(tower.rings()) >= STRIKES, STRIKES * INTERVAL_MS / 1000 + 10)
        time.sleep(1)  # room for rings that should not come
        rings = tower.rings()
        screen = runner.screen()
        runner.type("q")
        code = runner.wait_exit(15)

        check(len(rings) == STRIKES, f"{len(rings)} rings of bell {BELL} arrived, not {STRIKES}:\n{screen}")
        strokes = [r["stroke"] for r in rings]
        check(strokes == [i % 2 == 0 for i in range(STRIKES)], f"strokes not hand and back in turn: {strokes}")
        check(not any(r["disagree"] for r in rings), "the tower disagreed about a stroke")
        delays = [(r["t_us"] - d) / 1000 for r, d in zip(rings, due)]
        early = [(i, round(d, 1)) for i, d in enumerate(delays) if d < -2]
        late = [(i, round(d, 1)) for i, d in enumerate(delays) if d > LATE_LIMIT_MS]
        note(f"ring60: {STRIKES} strikes, due time to arrival at the listener: median "
             f"{statistics.median(delays):.1f} ms, p99 {percentile(delays, 0.99):.1f} ms, "
             f"min {min(delays):.1f} ms, max {max(delays):.1f} ms (load {open('/proc/loadavg').read().split()[0]})")
        sent = [e for e in tower.events_named("c_bell_rung") if e["data"].get("bell") == BELL]
        if len(sent) == STRIKES:
            # Where the time goes: the program to the server, the server to the listener.
            out = [(e["t_us"] - d) / 1000 for e, d in zip(sent, due)]
            back = [(r["t_us"] - e["t_us"]) / 1000 for r, e in zip(rings, sent)]
            note(f"ring60: due time to the server's receipt: median {statistics.median(out):.1f} ms, "
                 f"p99 {percentile(out, 0.99):.1f} ms; server to listener: median {statistics.median(back):.1f} ms, "
                 f"p99 {percentile(back, 0.99):.1f} ms")
        check(not early, f"rings before their due time (strike, ms): {early}")
        check(not late, f"rings more than {LATE_LIMIT_MS} ms after their due time (strike, ms): {late}")
        check(code == 0, f"exit code {code} after Q")
        check(wait_until(lambda: tower.events_named("c_user_left"), 5), "the program did not leave the tower")
        join = tower.events_named("c_join")[-1]["data"]
        check(isinstance(join["tower_id"], int) and join["anonymous_user"] is True, f"join: {join}")
        return delays
    finally:
        runner.stop()
        tower.stop()


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--program", required=True)
    p.add_argument("--shim", default=str(ROOT / "build/linux/tests/libqnmodemshim.so"))
    p.add_argument("--runner", default="linux", help="linux, or module:Class")
    p.add_argument("--keep", action="store_true", help="keep the work folder")
    args = p.parse_args()
    work = Path(tempfile.mkdtemp(prefix="qn-ring60-"))
    failed = 0
    port = None
    try:
        port = LinePort(work)
        if args.runner == "linux":
            runner = LinuxRunner(args.program, port)
        else:
            module, cls = args.runner.split(":")
            runner = getattr(importlib.import_module(module), cls)(args.program, port)
        ring60(runner, port, os.path.abspath(args.shim), work)
    except Failure as e:
        failed = 1
        print(f"FAILED: {e}")
        for name in ("program/logs",):
            d = work / name
            if d.is_dir():
                for f in sorted(d.iterdir()):
                    print(f"--- {f.name}\n" + "\n".join(f.read_text(errors="replace").splitlines()[-40:]))
    finally:
        if port:
            port.stop()
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
    print(f"ring60: {1 - failed} passed, {failed} failed")
    return failed


if __name__ == "__main__":
    sys.exit(main())
