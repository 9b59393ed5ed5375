"""The end-to-end driver's hands and eyes: Quennick in wineconsole under Xvfb.

Everything here acts as a person at the PC would, or as the bell would:
keys are typed at the console with xdotool after a click on its window, a
window is brought to the front by clicking it, the bell's interface box
writes characters into the far end of the COM port's pty pair, and a bell
on the modem lines is played through the shim's timeline (LD_PRELOAD
libqnmodemshim.so). What the driver looks at is what a person sees: the
console's screen (read by e2etool), the window in front, the stand-ins'
records of the keys that reached them, Notepad's text, the files the
program wrote, and its exit code.

Clocks: under Wine 8, QueryPerformanceCounter is CLOCK_MONOTONIC_RAW (in
100 ns units), so the stand-ins' microseconds and the driver's
CLOCK_MONOTONIC_RAW microseconds compare directly; the suite measures the
offset at start (Suite.qpc_offset) rather than trusting that. The shim's
timeline is in CLOCK_MONOTONIC, which NTP slews away from the raw clock;
LineBell converts at the moment it writes.

scripts/e2e-tests sets the environment this module reads (QN_E2E_*).
"""

import os
import shutil
import subprocess
import time
from pathlib import Path

VERSION = "Quennick_v0.8.2d3_(04_Jan_2021)_"
SETTINGS = VERSION + ".ini"


class Failure(AssertionError):
    pass


class Skipped(Exception):
    """The scenario cannot run on this machine (said why); it is not a pass."""


def check(condition, what):
    if not condition:
        raise Failure(what)


def mono_us():
    return time.clock_gettime_ns(time.CLOCK_MONOTONIC) // 1000


def raw_us():
    return time.clock_gettime_ns(time.CLOCK_MONOTONIC_RAW) // 1000


def sleep_until_raw(t_us):
    """Sleeps to a CLOCK_MONOTONIC_RAW time: coarse sleep, then a short spin."""
    while True:
        left = t_us - raw_us()
        if left <= 0:
            return
        if left > 2000:
            time.sleep((left - 1500) / 1e6)


def load():
    """The machine's load average over the last minute, for timing notes:
    keys are late when other work takes the two processors."""
    return open("/proc/loadavg").read().split()[0]


def xdotool(*args, timeout=10):
    r = subprocess.run(["xdotool", *args], capture_output=True, text=True, timeout=timeout)
    return r.stdout.strip()


def wait_until(done, timeout, step=0.1):
    end = time.monotonic() + timeout
    while True:
        value = done()
        if value:
            return value
        if time.monotonic() > end:
            return value
        time.sleep(step)


class Screen:
    """The console's 80x25 cells: text and colours (hex bg, fg per cell)."""

    def __init__(self, lines):
        self.rows = [l[2:-1] for l in lines if l.startswith("T|")]
        self.attrs = [l[2:-1] for l in lines if l.startswith("A|")]

    def text(self):
        return "\n".join(r.rstrip() for r in self.rows)

    def has(self, text):
        return any(text in r for r in self.rows)

    def find(self, text):
        """(row, column), 1-based as the program counts, or None."""
        for i, r in enumerate(self.rows):
            c = r.find(text)
            if c >= 0:
                return i + 1, c + 1
        return None

    def colour(self, row, col):
        """(background, text colour) of a cell, 1-based."""
        pair = self.attrs[row - 1][2 * (col - 1):2 * col]
        return int(pair[0], 16), int(pair[1], 16)


class Suite:
    """One wineserver session, one COM port, one e2etool for all scenarios."""

    def __init__(self):
        env = os.environ
        self.bin = Path(env["QN_E2E_BIN"])
        self.work = Path(env["QN_E2E_WORK"])
        self.artifacts = Path(env["QN_E2E_ARTIFACTS"])
        self.com = env["QN_E2E_COM"]
        self.peer = env["QN_E2E_PEER"]  # the box's end of the pair
        self.port_dev = env["QN_E2E_PORT_DEV"]  # the program's end (/dev/pts/N)
        self.shim_lib = env["QN_SHIM_LIB"]
        self.source = Path(env["QN_E2E_SOURCE"])
        self.shm = Path(env.get("QN_E2E_SHM") or self.work)
        self.realtime = env.get("QN_E2E_REALTIME") == "1"
        # A precision run holds the timing figures to their precise limits
        # too (steps.judge_timing); strict allows no key beyond them.
        self.precision = env.get("QN_PRECISION", "0") not in ("", "0")
        self.strict = env.get("QN_E2E_STRICT") == "1"
        self.scenario = ""
        self.figures = []  # (scenario, what, Figures), for the summary
        self.tool = subprocess.Popen(["wine", str(self.bin / "e2etool.exe"), "serve"], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, bufsize=1,
                                     errors="replace")
        self.qpc_offset = self.measure_qpc_offset()

    def close(self):
        if self.tool.poll() is None:
            self.tool.stdin.close()
            try:
                self.tool.wait(5)
            except subprocess.TimeoutExpired:
                self.tool.kill()

    def ask(self, request):
        self.tool.stdin.write(request + "\n")
        self.tool.stdin.flush()
        lines = []
        while True:
            line = self.tool.stdout.readline()
            if line == "":
                raise Failure("e2etool ended")
            line = line.rstrip("\n")
            if line == ".":
                return lines
            lines.append(line)

    def measure_qpc_offset(self):
        """QPC minus CLOCK_MONOTONIC_RAW, us, from the closest of 30 exchanges."""
        best = None
        for _ in range(30):
            a = raw_us()
            q = int(self.ask("qpc")[0])
            b = raw_us()
            if best is None or b - a < best[0]:
                best = (b - a, q - (a + b) // 2)
        rtt, offset = best
        self.note(f"Wine's QPC = CLOCK_MONOTONIC_RAW {offset:+d} us (exchange {rtt} us); "
                  f"CLOCK_MONOTONIC differs from it by {mono_us() - raw_us():+d} us; "
                  f"{'real-time' if self.realtime else 'normal'} scheduling")
        return offset

    def front(self):
        lines = self.ask("front")
        return lines[0] if lines else ""

    def note(self, text):
        """A measurement for the test log."""
        print("  " + text, flush=True)

    def figure(self, what, values_ms, limit=None, gross=None):
        """Prints a timing figure (median, p99, worst of values in ms) and
        keeps it for the summary at the end of the run."""
        f = Figures(values_ms)
        bounds = ", ".join(b for b in (f"precise limit {limit} ms" if limit is not None else "",
                                       f"gross {gross} ms" if gross is not None else "") if b)
        self.note(f"timing: {what}: {f}" + (f" ({bounds})" if bounds else "") + f" (load {load()})")
        self.figures.append((self.scenario, what, f))


class Figures:
    """Median (signed), p99 and worst (of the magnitudes; worst keeps its
    sign) of timing errors in ms."""

    def __init__(self, values):
        v = sorted(values)
        mags = sorted(abs(x) for x in v)
        self.n = len(v)
        self.median = v[len(v) // 2] if v else 0.0
        # Nearest rank: with fewer than a hundred values p99 is the largest.
        self.p99 = mags[max(1, -(-99 * len(mags) // 100)) - 1] if v else 0.0
        self.worst = (v[0] if abs(v[0]) > abs(v[-1]) else v[-1]) if v else 0.0

    def __str__(self):
        return f"n={self.n} median {self.median:.1f} ms, p99 {self.p99:.1f} ms, worst {self.worst:.1f} ms"


class Run:
    """One scenario: a fresh folder beside a copy of the program, and every
    process it starts, ended again by close()."""

    def __init__(self, suite, name):
        self.suite = suite
        self.name = name
        suite.scenario = name
        self.folder = suite.work / name
        shutil.rmtree(self.folder, ignore_errors=True)
        self.folder.mkdir(parents=True)
        shutil.copy(suite.bin / "quennick.exe", self.folder)
        self.procs = []
        self.timeline = suite.shm / f"{name}.tl"
        self.timeline.write_text(f"# CLOCK_MONOTONIC us, TIOCM_ word\n{mono_us()} 0\n")
        self.program_ = None

    # Files, as a person would look at them in the folder.
    def path(self, name):
        return self.folder / name

    def write(self, name, text):
        self.path(name).write_bytes(text.replace("\r\n", "\n").replace("\n", "\r\n").encode("latin-1"))

    def read(self, name):
        return self.path(name).read_bytes().decode("latin-1")

    def settings(self):
        p = self.path(SETTINGS)
        return p.read_bytes().decode("latin-1") if p.exists() else None

    def log(self):
        """The run log of the latest run (logs/, newest file)."""
        logs = sorted((self.folder / "logs").glob("*.log"), key=lambda p: p.stat().st_mtime)
        return logs[-1].read_bytes().decode("latin-1").replace("\r\n", "\n") if logs else ""

    def copy_library(self):
        shutil.copytree(self.suite.source / "composition_library", self.folder / "composition_library")

    def program(self, *args, exe=None, folder=None):
        self.program_ = Program(self, list(args), folder=folder, exe=exe)
        return self.program_

    def standin(self, mode):
        return StandIn(self, mode)

    def notepad(self):
        return Notepad(self)

    def screenshot(self, label):
        self.suite.artifacts.mkdir(parents=True, exist_ok=True)
        out = self.suite.artifacts / f"{self.name}-{label}.png"
        subprocess.run(["import", "-window", "root", str(out)], capture_output=True, timeout=30)
        return out

    def keep_artifacts(self):
        """On failure: the folder (logs, settings, records) and the screen."""
        dest = self.suite.artifacts / self.name
        shutil.rmtree(dest, ignore_errors=True)
        shutil.copytree(self.folder, dest, ignore=shutil.ignore_patterns("*.exe", "composition_library"))
        if self.timeline.exists():
            shutil.copy(self.timeline, dest / "lines.tl")
        if self.program_ and self.program_.running():
            try:
                (dest / "screen.txt").write_text(self.program_.screen().text() + "\n")
            except Failure:
                pass
        self.screenshot("failed")

    def close(self):
        for p in self.procs:
            if p.poll() is None:
                p.kill()
                p.wait(5)
        # Wine starts a Windows program through start.exe, which is what
        # Popen knows; the programs themselves carry QN_E2E_RUN.
        for pid in self.own_pids():
            try:
                os.kill(pid, 9)
            except ProcessLookupError:
                pass
        wait_until(lambda: not self.own_pids(), 5)

    def own_pids(self):
        """Processes of this scenario: all carry QN_E2E_RUN=<folder>."""
        mark = f"QN_E2E_RUN={self.folder}".encode() + b"\0"
        pids = []
        for d in Path("/proc").iterdir():
            if not d.name.isdigit() or int(d.name) == os.getpid():
                continue
            try:
                if mark in (d / "environ").read_bytes() and "Z" not in (d / "stat").read_text().split(") ")[1][:1]:
                    pids.append(int(d.name))
            except OSError:
                pass
        return pids

    def env(self, **extra):
        env = dict(os.environ, QN_E2E_RUN=str(self.folder))
        env.update(extra)
        return env

    def start(self, args, cwd=None, **extra_env):
        p = subprocess.Popen(args, cwd=cwd or self.folder, env=self.env(**extra_env), stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(p)
        return p


CONSOLE_CLICK = (600, 392)  # a spot of the console window no other window covers


def place(xwin, at, size=None):
    """Moves (and sizes) a window and waits until it is there: a window
    still being set up by Wine may be put back where Wine wanted it."""
    def there():
        args = ["windowmove", xwin, str(at[0]), str(at[1])]
        if size:
            args += ["windowsize", xwin, str(size[0]), str(size[1])]
        xdotool(*args)
        time.sleep(0.2)
        geo = xdotool("getwindowgeometry", xwin)
        return f"Position: {at[0]},{at[1]} " in geo and (not size or f"Geometry: {size[0]}x{size[1]}" in geo)
    check(wait_until(there, 5, 0.3), f"window {xwin} did not move to {at}")


def click_until(xwin, spot, in_front, what, suite):
    """Raises the window and clicks it until in_front() holds."""
    for _ in range(5):
        xdotool("windowraise", xwin)
        xdotool("mousemove", "--window", xwin, str(spot[0]), str(spot[1]), "click", "1")
        if wait_until(in_front, 2):
            return
    raise Failure(f"{what} did not come to the front (in front: {suite.front()!r})")


class Program:
    """quennick.exe in wineconsole, with the modem-line shim on the COM port.
    folder: where it starts (a copy of quennick.exe must be there; the run's
    folder by default); env: the shim's variables when not the suite's own.
    It keeps its files in that folder (--folder=.) unless exe names another
    program to start, which chooses its folders itself."""

    def __init__(self, run, args, folder=None, env=None, exe=None):
        self.run = run
        self.suite = run.suite
        # No latch (QN_SHIM_LATCH): the bell's pulses are far longer than
        # Wine's polling gap, and a latch would keep the edges of the pull
        # that calibration's first stage does not look at for the status
        # thread started after it, which a Windows driver forgets when the
        # thread sets its event mask.
        env = env or dict(LD_PRELOAD=self.suite.shim_lib, QN_SHIM_DEV=self.suite.port_dev,
                          QN_SHIM_TIMELINE=str(run.timeline))
        command = [exe, *args] if exe else ["quennick.exe", "--folder=.", *args]
        self.p = run.start(["wineconsole", *command], cwd=folder, **env)
        self.xwin = None

    def running(self):
        return self.p.poll() is None

    def screen(self):
        lines = self.suite.ask("screen quennick.exe")
        if lines and lines[0].startswith("!"):
            raise Failure("cannot read the console: " + lines[0][1:])
        return Screen(lines)

    def wait_for(self, text, timeout=20):
        """Waits until the screen shows text; returns the screen."""
        last = [None]

        def seen():
            if not self.running():
                return None
            try:
                last[0] = self.screen()
            except Failure:
                return None
            return last[0] if last[0].has(text) else None

        s = wait_until(seen, timeout, 0.15)
        if not s:
            shown = last[0].text() if last[0] else "(no screen)"
            state = "running" if self.running() else f"ended with {self.p.returncode}"
            raise Failure(f"the screen did not show {text!r} within {timeout} s (program {state}):\n{shown}")
        return s

    def wait_gone(self, text, timeout=20):
        """Waits until the screen no longer shows text."""
        if not wait_until(lambda: not self.screen().has(text), timeout, 0.15):
            raise Failure(f"the screen still shows {text!r} after {timeout} s:\n{self.screen().text()}")

    def window(self):
        if not self.xwin:
            found = wait_until(lambda: xdotool("search", "--name", r"quennick\.exe$"), 15)
            check(found, "no wineconsole window for quennick.exe")
            self.xwin = found.split()[0]
        return self.xwin

    def focus(self):
        """Clicks into the console until it is the window in front. Always
        clicks: with no window manager the X server gives the keys to the
        window under the pointer, and Wine passes them to the window in
        front only when they reach one of its windows."""
        click_until(self.window(), CONSOLE_CLICK, lambda: self.suite.front().endswith("quennick.exe"),
                    "the console", self.suite)

    def type(self, text):
        """Types at the console; it must be in front (focus())."""
        xdotool("type", "--delay", "40", "--", text)

    def key(self, name):
        xdotool("key", name)

    def answer(self, prompt, text, timeout=20):
        """Waits for a prompt, brings the console to the front, types."""
        s = self.wait_for(prompt, timeout)
        self.focus()
        self.type(text)
        return s

    def wait_exit(self, timeout=20):
        try:
            return self.p.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"the program did not end within {timeout} s:\n{self.screen().text()}")


STANDINS = {
    # mode: executable, a title fragment of its main window
    "firefox": ("firefox.exe", "Ringing Room"),
    "abel": ("Abel3.exe", "Abel3 - stand-in tower"),
}


class StandIn:
    """A stand-in target program; every key message that reaches it is in
    its record with the QPC time it arrived."""

    def __init__(self, run, mode, at=(680, 40)):
        self.run = run
        self.suite = run.suite
        exe, self.title = STANDINS[mode]
        shutil.copy(self.suite.bin / exe, run.folder)
        self.record = run.folder / f"{mode}.rec"
        run.start(["wine", exe, mode, self.record.name])
        check(wait_until(lambda: any(r[3] == "READY" for r in self.records()), 15), f"stand-in {exe} did not start")
        found = wait_until(lambda: xdotool("search", "--name", self.title), 10)
        check(found, f"no window titled {self.title}")
        self.xwin = found.split()[0]
        # Out of the console's way (no window manager moves windows here).
        place(self.xwin, at)

    def records(self):
        out = []
        try:
            text = self.record.read_bytes().decode("utf-8", "replace")
        except FileNotFoundError:
            return out
        for line in text.splitlines():
            f = line.split()
            if len(f) == 6:
                out.append((int(f[0]), f[1], f[2], f[3], int(f[4]), f[5]))
        return out

    def messages(self, since=0, msg=None):
        """(qpc us, message, wParam, how) of key and focus messages."""
        return [(r[0], r[3], r[4], r[5]) for r in self.records()
                if r[0] >= since and r[3] not in ("LAYOUT", "READY") and (msg is None or r[3] == msg)]

    def focus(self):
        """Clicks its window until it is in front."""
        click_until(self.xwin, (150, 120), lambda: self.title in self.suite.front(), self.title, self.suite)


class Notepad:
    def __init__(self, run):
        self.suite = run.suite
        run.start(["wine", "notepad"])
        found = wait_until(lambda: xdotool("search", "--name", "Notepad$"), 15)
        check(found, "Notepad did not open")
        self.xwin = found.split()[0]
        place(self.xwin, (660, 430), (350, 300))

    def text(self):
        lines = self.suite.ask("text Notepad")
        check(not lines or not lines[0].startswith("!"), "cannot read Notepad: " + (lines[0] if lines else ""))
        return lines[0] if lines else ""

    def focus(self):
        click_until(self.xwin, (150, 150), lambda: self.suite.front().endswith("Notepad"), "Notepad", self.suite)


class Box:
    """The bell's interface box: one ASCII character per sensor event, written
    into the far end of the COM port's pty pair at the planned times."""

    def __init__(self, suite):
        self.fd = os.open(suite.peer, os.O_WRONLY | os.O_NOCTTY)

    def close(self):
        os.close(self.fd)

    def play(self, events, lead_ms=200, start=None):
        """events: (ms from start, character). Returns [(character, raw us
        written)] in order; the start is lead_ms from now unless given (raw
        us)."""
        start = start if start is not None else raw_us() + lead_ms * 1000
        done = []
        self.late_ms = 0.0  # how late the driver itself was: the machine's share
        for at_ms, ch in sorted(events, key=lambda e: e[0]):
            planned = start + int(at_ms * 1000)
            sleep_until_raw(planned)
            os.write(self.fd, ch.encode("latin-1"))
            done.append((ch, raw_us()))
            self.late_ms = max(self.late_ms, (done[-1][1] - planned) / 1000)
        return done


class LineBell:
    """A bell on the modem-status lines, played through the shim's timeline
    (CLOCK_MONOTONIC us). Entries go in ahead of their time."""

    def __init__(self, run):
        self.timeline = run.timeline

    def play(self, pulses, lead_ms=300, wait=True):
        """pulses: (on ms, off ms, TIOCM bits) from a start lead_ms from now.
        Returns the start in CLOCK_MONOTONIC_RAW us."""
        mono0, raw0 = mono_us(), raw_us()
        start = mono0 + lead_ms * 1000
        edges = []
        for on, off, bits in pulses:
            edges.append((start + int(on * 1000), bits, True))
            edges.append((start + int(off * 1000), bits, False))
        word = 0
        lines = []
        for t, bits, up in sorted(edges):
            word = word | bits if up else word & ~bits
            lines.append(f"{t} {word}\n")
        with open(self.timeline, "a") as f:
            f.writelines(lines)
        if wait and edges:
            sleep_until_raw(raw0 + (max(e[0] for e in edges) - mono0) + 50000)
        return raw0 + (start - mono0)


TIOCM_CTS = 0x020
