"""Scenarios of starting up: the settings file's port missing, lines in it
that cannot be used, and quitting a calibration half way."""

import time

from e2elib import SETTINGS, Box, check
from steps import BELL, calibrate_data_mode, fixture, setting


def port_missing(suite, run):
    """The settings file names a port that is not there: R asks again, c
    calibrates afresh and the new file names the port found."""
    run.write(SETTINGS, fixture("data_mode.ini", comport="\\\\.\\COM9", program="Open"))
    box = Box(suite)
    try:
        prog = run.program()
        prompt = "Retry (R) or do completely new configuration (c) or Quit (Q)? (R/c/q)"
        s = prog.wait_for(prompt)
        check(s.has("Configuration file exists, but the specifified port \\\\.\\COM9 is NOT available"),
              "no missing-port notice:\n" + s.text())
        prog.focus()
        prog.type("r")  # the port is still missing: asked again
        time.sleep(1)
        s = prog.wait_for(prompt)
        check(not s.has("Doing  complete basic calibration"), "R started a calibration:\n" + s.text())
        prog.type("c")
        prog.wait_for("Doing  complete basic calibration: details can be adjusted later")
        calibrate_data_mode(prog, box, "0")
        prog.wait_for('[Q] Quit. WARNING "Open" setting sends keys to **ANY foreground window!**')
        ini = run.settings()
        check(setting(ini, "comport") == "\\\\.\\" + suite.com, f"settings file: comport={setting(ini, 'comport')}")
        check(run.log().count("Comport \\\\.\\COM9 not available") == 2, "the port was not checked twice")
        prog.answer("[Q] Quit.", "q")
        check(prog.wait_exit() == 0, "exit code after Q")
    finally:
        box.close()


def bad_settings_lines(suite, run):
    """A line of the settings file that cannot be used is named with the
    file, its line number and what to do; the program waits for a key, then
    rings without it, and the file stays as it was. What editors add (a
    byte-order mark, blanks round "=") is read as meant."""
    # The message is whole in the log; on the screen it wraps, so a part of it is looked for there.
    cases = [
        ("a line without =", {"bignumbers": "0\r\nbignumbers 1"}, "line 37: \"bignumbers 1\"",
         'line 37: "bignumbers 1" - it is no setting (name=value); the line is left out: mend it or delete it'),
        ("a real that is no number", {"sensorgap_2": "abc"}, 'line 25: "sensorgap_2=abc"',
         'line 25: "sensorgap_2=abc" - "abc" is not a number; the line is left out: mend it or delete it'),
        ("a key delay beyond its range", {"keydelayhand_0_1": "2000000000"}, "1000 is used",
         'line 71: "keydelayhand_0_1=2000000000" - keydelayhand must be in 0..1000; 1000 is used - mend the line to '
         "keep it so"),
        ("what Notepad adds", {"sleepnum": "5 ", "interfaceversion": "Quennick_v0.8.2d3_(04_Jan_2021)_ "}, None, None),
    ]
    for what, change, shown, message in cases:
        text = fixture("data_mode.ini", program="Open", **change)
        if message is None:
            text = "\ufeff".encode("utf-8").decode("latin-1") + text.replace("comport=", "comport = ")
        run.write(SETTINGS, text)
        before = run.path(SETTINGS).read_bytes()
        prog = run.program()
        if message is not None:
            s = prog.wait_for("Press any key to go on with these settings [or Q to quit]")
            check(s.has(shown), f"{what}: no {shown!r} on the screen:\n" + s.text())
            check(SETTINGS + " " + message in run.log(), f"{what}: no {message!r} in the run log")
            prog.focus()
            prog.type("x")
        s = prog.wait_for("[Q] Quit.")
        check(not s.has("Press any key to go on with these settings"), f"{what}: the program paused:\n" + s.text())
        prog.focus()
        prog.type("q")
        got = prog.wait_exit()
        check(got == 0, f"{what}: exit code {got} after Q")
        check(run.path(SETTINGS).read_bytes() == before, f"{what}: the settings file was changed")


def quit_during_detection(suite, run):
    """Q while the bell is being rung for calibration ends the program and
    leaves the settings file of another version alone."""
    # A file from another version of the program: calibration follows, and
    # the file is only replaced when it completes.
    run.write(SETTINGS, fixture("data_mode.ini", interfaceversion="Quennick_v0.8.1_(01_Jan_2020)_"))
    before = run.path(SETTINGS).read_bytes()
    mtime = run.path(SETTINGS).stat().st_mtime_ns
    box = Box(suite)
    try:
        prog = run.program()
        s = prog.answer("then press any key [or Q to exit]", "x")
        check(s.has(".ini is not right for"), "no version notice:\n" + s.text())
        prog.wait_for("NOW ring the bell *Hand* and *Back*")
        box.play([(0, BELL), (1000, BELL)])
        prog.focus()
        prog.type("x")
        prog.wait_for("Then press any key, for the results, Q to terminate")
        box.play([(0, BELL)])
        prog.focus()
        prog.type("q")
        check(prog.wait_exit() == 0, "exit code after Q")
        check(run.log().rstrip().endswith("Interface terminated by User - closing..."), "no closing line in the log")
        check(run.path(SETTINGS).read_bytes() == before and run.path(SETTINGS).stat().st_mtime_ns == mtime,
              "the settings file was touched")
    finally:
        box.close()
