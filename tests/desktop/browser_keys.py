#!/usr/bin/env python3
"""Keys into a real browser: the whole Linux program on an X11 desktop.

Xvfb with openbox, Debian's chromium showing a page of ours titled as a
Ringing Room tower (keys_page.html, which logs every keydown with its time
to the console), and quennick in a terminal (tmux) on a pty pair whose
modem lines the shim plays: a bell with two sensors on CTS rings 60
strokes; the stored settings send "j" to "Ringing Room - Chrome or Edge".
Every key must reach the page once, in order, and its delay from its due
time (the second sensor's pulse, plus the key delay and half a pulse, as
the shim's timeline has the edges) is printed: median and p99. Only gross
bounds are judged. Q ends the touch: its striking summary must show on the
terminal, its page and CSV lie beside the run log, and the page, opened in
chromium (report_page.html looks into it), draws the histogram's bars and
fetches nothing. Exit 77 (skipped) where a needed program is missing.

    browser_keys.py --quennick build/linux/src/quennick --shim build/linux/tests/libqnmodemshim.so
"""

import argparse
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
FIXTURE = HERE.parent / "e2e" / "fixtures" / "signals_mode.ini"
SETTINGS = "Quennick_v0.8.2d3_(04_Jan_2021)_.ini"
TARGET = "Ringing Room - Chrome or Edge"
STROKES = 60
INTERVAL_MS = 500
PULSE_MS = 50
SENSOR_GAP_MS = 150
KEY_DELAY_MS = 80
TIOCM_CTS = 0x020
SKIP = 77


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def mono_us():
    return time.clock_gettime_ns(time.CLOCK_MONOTONIC) // 1000


def wall_minus_mono_ms():
    """CLOCK_REALTIME - CLOCK_MONOTONIC, from the tightest of a few readings."""
    best = None
    for _ in range(20):
        a = time.clock_gettime_ns(time.CLOCK_MONOTONIC)
        w = time.time_ns()
        b = time.clock_gettime_ns(time.CLOCK_MONOTONIC)
        if best is None or b - a < best[0]:
            best = (b - a, w - (a + b) // 2)
    return best[1] / 1e6


def wait_until(done, timeout, step=0.05):
    end = time.monotonic() + timeout
    while True:
        value = done()
        if value or time.monotonic() > end:
            return value
        time.sleep(step)


def percentile(values, p):
    s = sorted(values)
    return s[min(len(s) - 1, max(0, round(p / 100 * (len(s) - 1))))]


def settings_text(port):
    text = FIXTURE.read_bytes().decode("latin-1")
    changes = {"comport": port, "program": TARGET, "usedoubledsend_3": "0", "keytosendhand_3_1": "j",
               "keytosendback_3_1": "j", "keydelayhand_3_1": str(KEY_DELAY_MS),
               "keydelayback_3_1": str(KEY_DELAY_MS)}
    lines = text.split("\r\n")
    for key, value in changes.items():
        hits = [i for i, l in enumerate(lines) if l.startswith(key + "=")]
        assert len(hits) == 1, key
        lines[hits[0]] = f"{key}={value}"
    return "\r\n".join(lines).encode("latin-1")


class Desktop:
    """The processes of the run, ended in reverse order."""

    def __init__(self, work):
        self.work = work
        self.procs = []
        self.display = None
        self.tmux = ["tmux", "-L", f"qnbrowser{os.getpid()}"]

    def spawn(self, args, log, env=None):
        p = subprocess.Popen(args, stdout=open(self.work / log, "wb"), stderr=subprocess.STDOUT,
                             stdin=subprocess.DEVNULL, env=env, start_new_session=True)
        self.procs.append(p)
        return p

    def env(self, **extra):
        e = dict(os.environ, DISPLAY=self.display, XDG_SESSION_TYPE="x11")
        e.pop("WAYLAND_DISPLAY", None)
        e.update(extra)
        return e

    def start_x(self):
        r, w = os.pipe()
        p = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-noreset", "-nolisten", "tcp", "-screen", "0",
                              "1280x1024x24"], pass_fds=(w,), stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, start_new_session=True)
        self.procs.append(p)
        os.close(w)
        number = b""
        end = time.monotonic() + 15
        while b"\n" not in number and time.monotonic() < end:
            chunk = os.read(r, 16)
            if not chunk:
                break
            number += chunk
        os.close(r)
        check(b"\n" in number, "Xvfb gave no display number")
        self.display = ":" + number.decode().strip()
        check(wait_until(lambda: subprocess.run(["xdotool", "getdisplaygeometry"], env=self.env(),
                                                capture_output=True).returncode == 0, 10),
              f"Xvfb on {self.display} takes no clients")
        self.spawn(["openbox", "--sm-disable"], "openbox.log", self.env())
        check(wait_until(lambda: b"_NET_SUPPORTING_WM_CHECK(WINDOW)" in subprocess.run(
            ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env(), capture_output=True).stdout, 10),
              "openbox did not take the display")

    def tmux_cmd(self, *args):
        return subprocess.run(self.tmux + list(args), capture_output=True, text=True)

    def screen(self):
        return self.tmux_cmd("capture-pane", "-p").stdout

    def close(self):
        self.tmux_cmd("kill-server")
        for p in reversed(self.procs):
            if p.poll() is None:
                try:
                    os.killpg(p.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    os.killpg(p.pid, signal.SIGKILL)
                    p.wait()


def console_lines(log):
    text = log.read_text(errors="replace") if log.exists() else ""
    return re.findall(r'"(QN[A-Z]+[^"]*)"', text)


def run(args, work):
    d = Desktop(work)
    try:
        d.start_x()
        # The browser, its page in front with the focus in it, as the ringer leaves it.
        profile = work / "profile"
        page = (HERE / "keys_page.html").as_uri()
        d.spawn(["chromium", "--no-sandbox", "--disable-gpu", "--no-first-run", "--no-default-browser-check",
                 "--password-store=basic", f"--user-data-dir={profile}", "--enable-logging=stderr", "--v=0",
                 "--window-position=0,0", "--window-size=1000,700", page], "chromium.log", d.env())
        clog = work / "chromium.log"
        check(wait_until(lambda: any(l.startswith("QNREADY") for l in console_lines(clog)), 60),
              "the page did not load in chromium:\n" + clog.read_text(errors="replace")[-3000:])
        win = wait_until(lambda: subprocess.run(["xdotool", "search", "--name", "Ringing Room"], env=d.env(),
                                                capture_output=True, text=True).stdout.split(), 20)
        check(win, "no chromium window titled Ringing Room")
        subprocess.run(["xdotool", "mousemove", "500", "400", "click", "1"], env=d.env(), capture_output=True)

        # The serial port: a pty pair, its modem lines played by the shim.
        port, peer = work / "port", work / "peer"
        d.spawn(["socat", "-d", "-d", f"pty,raw,echo=0,link={port}", f"pty,raw,echo=0,link={peer}"], "socat.log")
        check(wait_until(lambda: port.exists() and peer.exists(), 5), "socat gave no ptys")
        timeline = work / "timeline"
        timeline.write_text(f"# CLOCK_MONOTONIC us, TIOCM_ word\n{mono_us()} 0\n")
        (work / "run").mkdir()
        (work / "run" / SETTINGS).write_bytes(settings_text(str(port)))
        env = d.env(LD_PRELOAD=args.shim, QN_SHIM_DEV=os.path.realpath(port), QN_SHIM_TIMELINE=str(timeline),
                    TERM="xterm")
        envs = " ".join(f"{k}={v}" for k, v in env.items()
                        if k in ("DISPLAY", "XDG_SESSION_TYPE", "LD_PRELOAD", "QN_SHIM_DEV", "QN_SHIM_TIMELINE",
                                 "TERM"))
        cmd = f"cd {work / 'run'} && env -u WAYLAND_DISPLAY {envs} {args.quennick}; echo $? > {work / 'rc'}"
        r = d.tmux_cmd("new-session", "-d", "-x", "80", "-y", "25", cmd)
        check(r.returncode == 0, "tmux: " + r.stderr)
        check(wait_until(lambda: f"[Q] Quit. Target program={TARGET}" in d.screen(), 30),
              "the program did not reach its service screen:\n" + d.screen())
        runlog = lambda: "\n".join(p.read_text(errors="replace") for p in (work / "run" / "logs").glob("*.log"))
        check("Desktop: Keys by XTest and windows by EWMH" in runlog(), "the run log names no X11 desktop")
        check("Target window" in runlog() and "found" in runlog(), "the target window was not found:\n" + runlog())

        # The bell rings: 60 strokes, each a pulse on each of its two sensors.
        offset_ms = wall_minus_mono_ms()
        start = mono_us() + 1500000
        second = []  # the second sensor's pulses: where the key is timed from
        lines = []
        for i in range(STROKES):
            at = start + i * INTERVAL_MS * 1000
            for on in (at, at + SENSOR_GAP_MS * 1000):
                lines += [f"{on} {TIOCM_CTS}\n", f"{on + PULSE_MS * 1000} 0\n"]
            second.append(at + SENSOR_GAP_MS * 1000)
        with open(timeline, "a") as f:
            f.writelines(lines)
        time.sleep((second[-1] - mono_us()) / 1e6 + 1.0)
        keys = lambda: [l for l in console_lines(clog) if l.startswith("QNKEY")]
        wait_until(lambda: len(keys()) >= STROKES, 5)
        time.sleep(1.0)  # room for keys that should not come
        got = [l.split() for l in keys()]

        check(len(got) == STROKES, f"{len(got)} keys reached the page for {STROKES} strokes:\n" +
              "\n".join(" ".join(g) for g in got[:80]))
        check(all(g[1] == "j" and g[3] == "new" for g in got), "keys other than one j each: " +
              str(sorted({(g[1], g[3]) for g in got})))
        times = [float(g[2]) - offset_ms for g in got]  # CLOCK_MONOTONIC ms
        check(times == sorted(times), "keys out of order")
        half = int(re.search(r"meansignallength=(\d+)", settings_text("x").decode()).group(1)) / 2
        delays = [t - (s / 1000 + KEY_DELAY_MS + half) for t, s in zip(times, second)]
        load = open("/proc/loadavg").read().split()[0]
        print(f"browser keys: {len(got)} of {STROKES}; delay from due time to the page's keydown: "
              f"median {statistics.median(delays):.1f} ms, p99 {percentile(delays, 99):.1f} ms, "
              f"min {min(delays):.1f} ms, max {max(delays):.1f} ms (load {load})")
        wrong = [(i, round(x, 1)) for i, x in enumerate(delays) if not -20 <= x <= 150]
        check(not wrong, f"keys far from their due times (stroke, ms): {wrong}")
        check("not the focus window" not in runlog(), "the program lost the browser's focus:\n" + runlog())

        d.tmux_cmd("send-keys", "q")
        check(wait_until(lambda: "blows timed against" in d.screen(), 3),
              "no striking summary as the touch ended:\n" + d.screen())
        check(wait_until(lambda: (work / "rc").exists(), 10), "the program did not end after Q")
        rc = (work / "rc").read_text().strip()
        check(rc == "0", f"exit code {rc} after Q")
        check_report(d, work, runlog())
    finally:
        d.close()


def check_report(d, work, runlog):
    logs = work / "run" / "logs"
    pages, csvs = sorted(logs.glob("*_touch1.html")), sorted(logs.glob("*_touch1.csv"))
    check(len(pages) == 1 and len(csvs) == 1 and "Striking report written" in runlog,
          "no striking report beside the run log:\n" + runlog[-2000:])
    rows = csvs[0].read_text().splitlines()
    check(len(rows) == STROKES + 1 and rows[0].startswith("blow,stroke,timed"), f"the CSV has {len(rows)} lines")
    check_page = (HERE / "report_page.html").as_uri() + "?file=" + pages[0].as_uri()
    d.spawn(["chromium", "--no-sandbox", "--disable-gpu", "--no-first-run", "--no-default-browser-check",
             "--password-store=basic", f"--user-data-dir={work / 'profile2'}", "--enable-logging=stderr", "--v=0",
             "--allow-file-access-from-files", check_page], "report.log", d.env())
    seen = wait_until(lambda: [l for l in console_lines(work / "report.log") if l.startswith("QNREPORT")], 60)
    check(seen, "the report page did not load:\n" + (work / "report.log").read_text(errors="replace")[-3000:])
    got = dict(f.split("=", 1) for f in seen[0].split()[1:])
    print("report page in chromium: " + seen[0])
    check(got["title"] == "Striking_report,_touch_1", "the page's title: " + got["title"])
    check(got["bars"] == got["drawn"] == "22" and int(got["tall"]) >= 2, "the histogram's bars are not drawn")
    check(int(got["svgs"]) >= 2, "the page has too few charts")
    check(got["fetched"] == "0" and got["naming"] == "0", "the page fetches or names something to fetch")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--quennick", required=True)
    ap.add_argument("--shim", required=True)
    ap.add_argument("--keep", action="store_true", help="keep the work folder")
    args = ap.parse_args()
    args.quennick, args.shim = os.path.abspath(args.quennick), os.path.abspath(args.shim)
    missing = [p for p in ("Xvfb", "openbox", "chromium", "tmux", "socat", "xdotool", "xprop")
               if shutil.which(p) is None]
    if missing:
        print("skipped: missing " + ", ".join(missing))
        return SKIP
    work = Path(tempfile.mkdtemp(prefix="qn_browser_"))
    try:
        run(args, work)
        print("1 passed, 0 failed")
        return 0
    except Failure as f:
        print(f"FAILED: {f}\n(work folder {work})")
        args.keep = True
        return 1
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
