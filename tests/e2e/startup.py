"""Scenarios of starting up: the settings file's port missing, a bad line in
it, and quitting a calibration half way."""

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
    """A bad line in the settings file stops the program with its message
    and exit code, and the file stays as it was."""
    cases = [
        ("a line without =", {"bignumbers": "0\r\nbignumbers 1"}, 96,
         ["string Read:@@@bignumbers 1@@@", "Bad configuration file entry - recalibrate press [ENTER] to quit"]),
        ("a real that is no number", {"sensorgap_2": "abc"}, 60,
         ["Read:abc found:sensorgap", "Bad configuration file entry - recalibrate press [ENTER] to quit"]),
    ]
    for what, change, code, messages in cases:
        text = fixture("data_mode.ini", **change)
        run.write(SETTINGS, text)
        before = run.path(SETTINGS).read_bytes()
        prog = run.program()
        s = prog.wait_for(messages[-1])
        for m in messages:
            check(s.has(m), f"{what}: no {m!r} on the screen:\n" + s.text())
        # A fatal message is yellow on the blue screen.
        at = s.find(messages[-1])
        check(s.colour(*at) == (1, 14), f"{what}: the message is in colours {s.colour(*at)}, not yellow on blue")
        prog.focus()
        prog.key("Return")
        got = prog.wait_exit()
        check(got == code, f"{what}: exit code {got}, expected {code}")
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
