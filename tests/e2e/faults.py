"""Scenarios of the faults a ringer meets, on the Windows program's real calls
under Wine: the USB adapter pulled out in the middle of a touch (in signals
mode the modem-line shim fails every call on the port with EIO from a moment
on; in data mode the port's pty pair is ended, see OwnPort), pulled at the
missing-port prompt and plugged back, a port whose modem lines cannot be read
during calibration's survey, a log folder that refuses the log and a disk
that fills under it."""

import os
import subprocess
import time
from pathlib import Path
from types import SimpleNamespace

from e2elib import SETTINGS, Box, LineBell, check, wait_until
from steps import (calibrate_data_mode, calibrate_signals_mode, describe, fixture, processed_rows, ring_data, setting,
                   stroke_pulses)

TARGET = "Ringing Room - any browser with focus"
SERVICE = "[Q] Quit. Target program=" + TARGET
# Each key out before the next strike comes, however late Wine sends it.
SHORT_DELAYS = {"keydelayhand_1_1": 100, "keydelayback_1_1": 100}
# The CPU the program may take in the second after the pull: a loop that
# spins on the failing port would take all of it. (Under Wine a quiet second
# of service costs 0.1 to 0.2 s already: Wine polls the modem lines every
# millisecond, and every read of the port is a call to the wineserver.)
LOST_SECOND_CPU_LIMIT = 0.5
CLK_TCK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    """User and system time of a process, seconds (None when it is gone)."""
    try:
        fields = Path(f"/proc/{pid}/stat").read_text().rsplit(") ", 1)[1].split()
    except OSError:
        return None
    return (int(fields[11]) + int(fields[12])) / CLK_TCK


def program_pid(run):
    """The Wine process of quennick.exe itself (not wineconsole, not start.exe)."""
    for pid in run.own_pids():
        try:
            cmd = Path(f"/proc/{pid}/cmdline").read_bytes().replace(b"\0", b" ").decode("latin-1")
        except OSError:
            continue
        if "quennick.exe" in cmd and "wineconsole" not in cmd and "start.exe" not in cmd:
            return pid
    return None


def wineserver_pid():
    prefix = f"WINEPREFIX={os.environ['WINEPREFIX']}".encode() + b"\0"
    for d in Path("/proc").iterdir():
        if not d.name.isdigit():
            continue
        try:
            if (d / "comm").read_text().startswith("wineserver") and prefix in (d / "environ").read_bytes():
                return int(d.name)
        except OSError:
            pass
    return None


def cpu_over_a_second(pids):
    """CPU seconds each process takes in the next second (None: gone)."""
    before = [cpu_seconds(p) if p else None for p in pids]
    time.sleep(1)
    after = [cpu_seconds(p) if p else None for p in pids]
    return [round(b - a, 2) if a is not None and b is not None else None for a, b in zip(before, after)]


def pull(suite, run, unplug):
    """The adapter comes out (unplug() does it) after a quiet second of
    service. Returns the CPU seconds the program took in the second after;
    both seconds, and the wineserver's, go to the test log."""
    pid, server = program_pid(run), wineserver_pid()
    check(pid is not None, "no quennick.exe process")
    quiet = cpu_over_a_second([pid, server])
    unplug()
    lost = cpu_over_a_second([pid, server])
    suite.note(f"CPU seconds, quennick.exe / wineserver: {quiet[0]} / {quiet[1]} in a quiet second of service, "
               f"{lost[0]} / {lost[1]} in the second after the pull")
    return lost[0]


def shim_gone(run):
    """The shim fails every call on the suite's port from now on."""
    with open(run.timeline, "a") as f:
        f.write("+0 gone\n")


def judge_lost_port(com, suite, run, prog, locn, strikes, cpu):
    """What the ringer sees and what is kept when the port is lost."""
    check(cpu is not None and cpu < LOST_SECOND_CPU_LIMIT, f"the program took {cpu} s of CPU in the second after the pull")
    s = prog.wait_for(f"Serial port not responding locn {locn} - terminating", 10)
    check(s.has(f"The serial port \\\\.\\{com} has stopped responding: is the adapter unplugged?"),
          "the screen does not say which port went:\n" + s.text())
    check(s.has("The touch rung so far is written to the run log."), "no word of the touch:\n" + s.text())
    code = prog.wait_exit(15)
    check(code == 0, f"exit code {code}")
    log = run.log()
    rows = processed_rows(log)
    check(rows is not None and len(rows) == strikes,
          f"the event log lists {None if rows is None else len(rows)} strikes, not {strikes}")
    check(f"Serial port \\\\.\\{com} lost (locn {locn}) - writing the event log of the touch so far" in log,
          "no lost-port line in the log")
    check(log.rstrip().endswith(f"Serial port not responding locn {locn}"),
          "the log does not end with the reason:\n" + log[-400:])


def pulled_mid_touch_signals(suite, run):
    """Signals mode: six strokes become six keys; the adapter comes out; the
    program says so, writes the touch's event log and ends with code 0,
    without spinning meanwhile."""
    ff = run.standin("firefox")
    run.write(SETTINGS, fixture("signals_mode.ini"))
    bell = LineBell(run)
    prog = run.program()
    prog.wait_for(SERVICE)
    ff.focus()
    bell.play([p for i in range(6) for p in stroke_pulses(i * 600)])
    check(wait_until(lambda: len(ff.messages(0, "WM_KEYDOWN")) >= 6, 3), "six strokes did not give six keys:\n" +
          describe(ff.messages(0, "WM_KEYDOWN")))
    cpu = pull(suite, run, lambda: shim_gone(run))
    judge_lost_port(suite.com, suite, run, prog, 2, 6, cpu)
    check(len(ff.messages(0, "WM_KEYDOWN")) == 6, "keys after the pull:\n" + describe(ff.messages(0, "WM_KEYDOWN")))


def pulled_mid_touch_data(suite, run):
    """Data mode: the same, the failing reads noticed after a second. The
    box is on a port of the scenario's own, whose pty pair is ended."""
    port = OwnPort(8, run.folder)
    box = port.box()
    try:
        ff = run.standin("firefox")
        run.write(SETTINGS, fixture("data_mode.ini", comport=f"\\\\.\\{port.com}", **SHORT_DELAYS))
        prog = run.program()
        prog.wait_for(SERVICE)
        ff.focus()
        ring_data(box, 6, 400)
        check(wait_until(lambda: len(ff.messages(0, "WM_KEYDOWN")) >= 6, 3), "six strikes did not give six keys")
        cpu = pull(suite, run, port.pull)
        judge_lost_port(port.com, suite, run, prog, 7, 6, cpu)
        check(run.log().count("serial port read failed") <= 3, "the failing reads were logged one by one")
    finally:
        box.close()
        port.close()


def pulled_at_prompt(suite, run):
    """The adapter is out when the program starts: R finds it still out and
    asks again; plugged back in, R finds it and service starts."""
    link = Path(os.environ["WINEPREFIX"]) / "dosdevices" / suite.com.lower()
    target = os.readlink(link)
    ff = run.standin("firefox")
    run.write(SETTINGS, fixture("data_mode.ini", **SHORT_DELAYS))
    box = Box(suite)
    link.unlink()
    try:
        prog = run.program()
        prompt = "Retry (R) or do completely new configuration (c) or Quit (Q)? (R/c/q)"
        s = prog.wait_for(prompt)
        check(s.has(f"the specifified port \\\\.\\{suite.com} is NOT available"), "no missing-port notice:\n" + s.text())
        prog.focus()
        prog.type("r")
        time.sleep(1)
        prog.wait_for(prompt)
        os.symlink(target, link)
        prog.type("r")
        prog.wait_for(SERVICE)
        ff.focus()
        ring_data(box, 4, 400)
        check(wait_until(lambda: len(ff.messages(0, "WM_KEYDOWN")) >= 4, 3), "four strikes did not give four keys")
        prog.focus()
        prog.type("q")
        check(prog.wait_exit() == 0, "exit code after Q")
        check(run.log().count(f"Comport \\\\.\\{suite.com} not available") == 2, "the port was not looked for twice")
    finally:
        if not link.is_symlink():
            os.symlink(target, link)
        box.close()


class OwnPort:
    """A COM port of the scenario's own, made of a pty pair without the
    shim: Wine's modem-line requests on it fail, as on some virtual and
    Bluetooth ports. pull() ends the pair, which hangs the program's end up
    as the kernel does when an adapter is unplugged: reads fail with EIO and
    a wait for data ends at once (under Wine the wineserver waits for the
    data, out of the shim's reach)."""

    def __init__(self, n, folder):
        self.com = f"COM{n}"
        self.link = Path(os.environ["WINEPREFIX"]) / "dosdevices" / f"com{n}"
        self.name = f"QnFaultsSerial{n}"
        port, self.peer = folder / f"com{n}-port", folder / f"com{n}-peer"
        self.socat = subprocess.Popen(["socat", f"pty,raw,echo=0,link={port}", f"pty,raw,echo=0,link={self.peer}"],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        check(wait_until(lambda: port.exists() and self.peer.exists(), 5, 0.05), "socat made no pty pair")
        os.symlink(os.path.realpath(port), self.link)
        subprocess.run(["wine", "reg", "add", r"HKLM\HARDWARE\DEVICEMAP\SERIALCOMM", "/v", self.name, "/t", "REG_SZ",
                        "/d", self.com, "/f"], capture_output=True, timeout=60, check=True)

    def box(self):
        """The bell's interface box on the far end."""
        return Box(SimpleNamespace(peer=str(self.peer)))

    def pull(self):
        self.socat.kill()
        self.socat.wait(5)

    def close(self):
        subprocess.run(["wine", "reg", "delete", r"HKLM\HARDWARE\DEVICEMAP\SERIALCOMM", "/v", self.name, "/f"],
                       capture_output=True, timeout=60)
        if self.link.is_symlink():
            self.link.unlink()
        self.pull()


def survey_keeps_port_without_lines(suite, run):
    """A first calibration with a second port whose modem status cannot be
    read: it stays in the survey for data only, and the bell on the lines is
    found on the suite's port."""
    plain = OwnPort(3, run.folder)
    try:
        run.standin("firefox")  # the target chosen in calibration
        bell = LineBell(run)
        prog = run.program()
        s = prog.wait_for("then press any key [or Q to exit]")
        check(s.has("COM3 serviceable for data only - its modem lines cannot be read"), "COM3 not kept:\n" + s.text())
        calibrate_signals_mode(prog, bell, "1")
        prog.wait_for(SERVICE)
        ini = run.settings()
        check(setting(ini, "comport") == f"\\\\.\\{suite.com}", f"settings file: comport={setting(ini, 'comport')}")
        log = run.log()
        check("COM3 serviceable for data only - its modem lines cannot be read" in log, "the log does not report COM3")
        check("Serial port not responding" not in log, "the program gave up on a port")
        prog.answer("[Q] Quit.", "q")
        check(prog.wait_exit() == 0, "exit code after Q")
    finally:
        plain.close()


def box_on_port_without_lines(suite, run):
    """A first calibration on an interface box whose port has no modem lines
    to read (a pty under Wine): the box is found there, and its strikes
    become keys."""
    plain = OwnPort(3, run.folder)
    box = plain.box()
    try:
        notepad = run.notepad()
        prog = run.program()
        s = prog.wait_for("then press any key [or Q to exit]")
        check(s.has("COM3 serviceable for data only - its modem lines cannot be read"), "COM3 not kept:\n" + s.text())
        calibrate_data_mode(prog, box, "0", com="COM3")
        prog.wait_for('[Q] Quit. WARNING "Open" setting sends keys to **ANY foreground window!**')
        check(setting(run.settings(), "comport") == "\\\\.\\COM3", f"comport={setting(run.settings(), 'comport')}")
        notepad.focus()
        ring_data(box, 4, 600)
        check(wait_until(lambda: notepad.text() == "jjjj", 3), f"Notepad holds {notepad.text()!r}, not four j")
        prog.focus()
        prog.type("q")
        check(prog.wait_exit() == 0, "exit code after Q")
    finally:
        box.close()
        plain.close()


class Mounted:
    """A tmpfs on a folder of the run: read-only, or of a size to fill. Root
    passes permission bits, so a read-only folder is a read-only mount where
    the suite may mount (CI runs it as root); elsewhere, the bits. A disk to
    fill needs the mount: mounted is False without it."""

    def __init__(self, path, options):
        self.path = path
        path.mkdir(exist_ok=True)
        r = subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", str(path)], capture_output=True, text=True)
        self.mounted = r.returncode == 0
        self.chmodded = not self.mounted and "ro" in options.split(",") and os.geteuid() != 0
        if self.chmodded:
            path.chmod(0o555)

    def ok(self):
        return self.mounted or self.chmodded

    def close(self):
        if self.mounted:
            subprocess.run(["umount", "-l", str(self.path)], capture_output=True)
        if self.chmodded:
            self.path.chmod(0o755)


def notice(screen):
    """The line under the service menu that tells of a run without its log."""
    return screen.rows[7].rstrip()


def log_folder_read_only(suite, run):
    """The log cannot be made: service goes on, every strike is a key, and
    one line under the menu says there is no log."""
    logs = Mounted(run.path("logs"), "ro,size=64k")
    check(logs.ok(), "no read-only folder could be made")
    box = Box(suite)
    try:
        ff = run.standin("firefox")
        run.write(SETTINGS, fixture("data_mode.ini", **SHORT_DELAYS))
        prog = run.program()
        prog.wait_for(SERVICE)
        # The notice is drawn after the menu: wait for it, then judge where it is.
        s = prog.wait_for("No run log this time: ", timeout=5)
        check(notice(s).startswith("No run log this time: "), "no notice under the menu:\n" + s.text())
        ff.focus()
        ring_data(box, 6, 400)
        check(wait_until(lambda: len(ff.messages(0, "WM_KEYDOWN")) >= 6, 3), "six strikes did not give six keys")
        s = prog.screen()
        check(s.text().count("run log") == 1, "not one notice:\n" + s.text())
        prog.focus()
        prog.type("q")
        check(prog.wait_exit() == 0, "exit code after Q")
    finally:
        box.close()
        logs.close()


def disk_full(suite, run):
    """Another program fills the disk while the log is written: the log
    stops with one notice, and every strike still becomes a key. (tmpfs
    hands out whole pages, so the log still has the rest of its last page:
    with the monitor output on, twenty-odd strikes fill it.)"""
    logs = Mounted(run.path("logs"), "size=64k")
    if not logs.ok():
        suite.note("not tried: a small disk to fill is a tmpfs mount, which needs root (CI runs as root)")
        return
    box = Box(suite)
    try:
        ff = run.standin("firefox")
        run.write(SETTINGS, fixture("data_mode.ini", monitoroutput=1, **SHORT_DELAYS))
        prog = run.program()
        prog.wait_for(SERVICE)
        fd = os.open(run.path("logs") / "filler.bin", os.O_WRONLY | os.O_CREAT)
        try:
            for _ in range(64):
                os.write(fd, b"x" * 4096)
        except OSError:
            pass  # full
        os.close(fd)
        ff.focus()
        ring_data(box, 30, 250)
        check(wait_until(lambda: len(ff.messages(0, "WM_KEYDOWN")) >= 30, 3),
              f"{len(ff.messages(0, 'WM_KEYDOWN'))} keys for 30 strikes")
        s = prog.screen()
        check(notice(s).startswith("Run log stopped, ringing goes on: "), "no notice under the menu:\n" + s.text())
        check(s.text().count("Run log stopped") == 1, "not one notice:\n" + s.text())
        prog.focus()
        prog.type("q")
        check(prog.wait_exit() == 0, "exit code after Q")
        check("Error log run date and time" in run.log(), "what was logged before the disk filled is gone")
    finally:
        box.close()
        logs.close()


def ended_from_outside_mid_touch(suite, run):
    """Four strokes into a touch, Windows tells the program its console is
    closing, the user logging off or the system shutting down: within the
    few seconds Windows allows, the touch's event list and the line saying
    how the run ended are in the log, and the exit code says which."""
    ff = run.standin("firefox")
    run.write(SETTINGS, fixture("signals_mode.ini"))
    bell = LineBell(run)
    ways = [(2, "its console window was closed (CTRL_CLOSE_EVENT)", 129),
            (5, "the user is logging off (CTRL_LOGOFF_EVENT)", 143),
            (6, "the system is shutting down (CTRL_SHUTDOWN_EVENT)", 143)]
    for event, how, code in ways:
        prog = run.program()
        prog.wait_for(SERVICE)
        ff.focus()
        sent = len(ff.messages(0, "WM_KEYDOWN"))
        bell.play([p for i in range(4) for p in stroke_pulses(i * 600)])
        check(wait_until(lambda: len(ff.messages(0, "WM_KEYDOWN")) >= sent + 4, 3), f"{how}: four strokes, not four keys")
        t0 = time.monotonic()
        answer = suite.ask(f"ctrl quennick.exe {event}")
        check(not answer, f"{how}: {answer}")
        got = prog.wait_exit(10)
        took = time.monotonic() - t0
        suite.note(f"{how}: ended {took:.2f} s after the event")
        check(got == code and took < 4.5, f"{how}: exit code {got} after {took:.1f} s")
        log = run.log()
        rows = processed_rows(log)
        check(rows is not None and len(rows) == 4, f"{how}: the event list has {rows and len(rows)} strikes, not 4")
        check(log.rstrip().endswith("Run ended: " + how), f"{how}: the log ends:\n" + log[-300:])


ALL = [
    ("FaultAdapterPulledMidTouchSignalsMode", pulled_mid_touch_signals),
    ("FaultAdapterPulledMidTouchDataMode", pulled_mid_touch_data),
    ("FaultAdapterPulledAtThePromptAndPluggedBack", pulled_at_prompt),
    ("FaultSurveyKeepsAPortWithoutModemStatusForData", survey_keeps_port_without_lines),
    ("FaultBoxOnAPortWithoutModemLines", box_on_port_without_lines),
    ("FaultLogFolderReadOnly", log_folder_read_only),
    ("FaultDiskFullWhileLogging", disk_full),
    ("FaultEndedFromOutsideMidTouch", ended_from_outside_mid_touch),
]
