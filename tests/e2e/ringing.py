"""Scenarios of ringing: the first run in data mode and in signals mode, the
second run on its settings file, and the focus lost to another window."""

import os
import shutil
import threading
import time

from e2elib import SETTINGS, Box, LineBell, Skipped, check, raw_us, sleep_until_raw, wait_until
from steps import (BACK_MS, BELL, BESPOKE_JK, GROSS_KEY_MS, GROSS_STAMP_MS, HAND_MS, PULSE_MS, SENSOR_GAP_MS, VK_J,
                   VK_K, calibrate_data_mode, calibrate_signals_mode, delivery_errors, describe, fixture, judge_timing,
                   processed_rows, ring_data, setting, stroke_pulses)


def first_run_data_mode(suite, run):
    """No settings file: calibration on the interface box, Ringing Room in
    the browser in front, the settings file written; 60 rows rung, each key
    once, on its stroke, at its delay; the touch in the run log."""
    ff = run.standin("firefox")
    # The ringer's own keys: another key at backstroke and short delays.
    run.write("bespoke.ini", BESPOKE_JK)
    box = Box(suite)
    try:
        prog = run.program()
        calibrate_data_mode(prog, box, "1")
        prog.wait_for("[Q] Quit. Target program=Ringing Room - any browser with focus")
        # The bespoke keys are in use.
        prog.wait_for(f"Sensing point=1 handstroke:key=j delay={HAND_MS} backstroke:key=k delay={BACK_MS}")
        ini = run.settings()
        check(ini is not None, f"no {SETTINGS} written")
        for key, want in [("sleepnum", "5"), ("switchbouncedelay", "40"), ("bignumbers", "0"), ("bagleymode", "1"),
                          ("usedatinputchar", BELL), ("comport", "\\\\.\\" + suite.com), ("sensornum", "1"),
                          ("program", "Ringing Room - any browser with focus")]:
            check(setting(ini, key) == want, f"settings file: {key}={setting(ini, key)!r}, expected {want!r}")
        check("bespoke settings read" in run.log(), "bespoke.ini was not read")
        check("Ringing Room" in suite.front(), f"the stand-in was not brought to the front: {suite.front()!r}")

        # The ringer sets handstroke at the console, then gives the browser
        # the focus again, and rings 60 rows.
        prog.answer("[Q] Quit.", "h")
        prog.wait_for("Now Set at handstroke")
        ff.focus()
        t0 = raw_us() + suite.qpc_offset
        sent = ring_data(box, 60, 300, bounce_every=10, other_every=7)
        check(len(sent) == 60, f"the driver played {len(sent)} strikes")
        wait_until(lambda: len(ff.messages(t0, "WM_KEYUP")) >= 60, 3)
        keys = ff.messages(t0, "WM_KEYDOWN")
        chars = [m[2] for m in ff.messages(t0, "WM_CHAR")]
        want = [VK_J if i % 2 == 0 else VK_K for i in range(60)]
        check([k[2] for k in keys] == want,
              f"{len(keys)} keys, not j and k in turn from handstroke:\n" + describe(keys))
        check(chars == [ord("j") if i % 2 == 0 else ord("k") for i in range(60)],
              f"characters typed: {[chr(c) for c in chars]}")
        check(all(k[3] == "posted" for k in keys), "a key did not come as keyboard input:\n" + describe(keys))
        errors = delivery_errors(suite, sent, keys, [HAND_MS if i % 2 == 0 else BACK_MS for i in range(60)])
        suite.note(f"the driver's own writes up to {box.late_ms:.1f} ms late")
        judge_timing(suite, "data mode: key delay (arrival - (written + delay))", range(60), errors, 20, GROSS_KEY_MS)

        s = prog.screen()
        check(s.has("Row count =   60"), "the row counter does not show 60:\n" + s.text())

        # After a pause of more than 6 s the touch goes into the run log.
        rows = wait_until(lambda: processed_rows(run.log()), 12, 0.5)
        check(rows is not None, "no \"Processed sensor data\" in the run log")
        check(len(rows) == 60, f"the event log lists {len(rows)} strikes, not 60")
        # The log's times count from the first strike, as the program stamped it.
        skew = [(r * 1e6 - (t - sent[0])) / 1000 for r, t in zip(rows, sent)]
        judge_timing(suite, "data mode: event log time - strike", range(1, 61), skew, 20, GROSS_STAMP_MS)

        prog.answer("[Q] Quit.", "q")
        code = prog.wait_exit()
        check(code == 0, f"exit code {code} after Q")
        check(run.log().rstrip().endswith("Interface terminated by User - closing..."), "no closing line in the log")
    finally:
        box.close()


def first_run_signals_mode(suite, run):
    """No settings file: a bell with two sensors on CTS is found to have two;
    in service the key comes from the second sensor, at its delay."""
    ff = run.standin("firefox")
    run.write("bespoke.ini", BESPOKE_JK)
    bell = LineBell(run)
    prog = run.program()
    calibrate_signals_mode(prog, bell, "1")
    # The one sensing point of the target is triggered by the second sensor.
    prog.wait_for(f"Sensing point=2 handstroke:key=j delay={HAND_MS} backstroke:key=k delay={BACK_MS}")
    ini = run.settings()
    check(ini is not None, f"no {SETTINGS} written")
    for key, want in [("sensornum", "2"), ("signalsmode", "1"), ("usects", "1"), ("usedsr", "0"),
                      ("bagleymode", "0"), ("signalstartsOFF", "1"), ("whichsensor_1_1", "2")]:
        check(setting(ini, key) == want, f"settings file: {key}={setting(ini, key)!r}, expected {want!r}")
    half_signal_ms = int(setting(ini, "meansignallength")) / 2
    # The program times the pulses itself, as Wine reports the line changes:
    # within half a pulse, which tells the pulse from the gap between the
    # sensors (150 ms), the stroke (1 s) or a wrong unit; precisely, 15 ms.
    judge_timing(suite, "signals mode: meansignallength - pulse", ["meansignallength"],
                 [half_signal_ms * 2 - PULSE_MS], 15, PULSE_MS - 1)

    prog.answer("[Q] Quit.", "h")
    prog.wait_for("Now Set at handstroke")
    ff.focus()
    t0 = raw_us() + suite.qpc_offset
    strokes, interval = 12, 600
    pulses = [p for i in range(strokes) for p in stroke_pulses(i * interval)]
    start = bell.play(pulses)
    wait_until(lambda: len(ff.messages(t0, "WM_KEYUP")) >= strokes, 3)
    keys = ff.messages(t0, "WM_KEYDOWN")
    want = [VK_J if i % 2 == 0 else VK_K for i in range(strokes)]
    check([k[2] for k in keys] == want, f"{len(keys)} keys, not j and k in turn:\n" + describe(keys))
    # The target's one sensing point is the bell's second sensor: its key
    # is due a delay (and half a signal) after the second pulse starts.
    second = [start + (i * interval + SENSOR_GAP_MS) * 1000 for i in range(strokes)]
    errors = delivery_errors(suite, second, keys,
                             [(HAND_MS if i % 2 == 0 else BACK_MS) + half_signal_ms for i in range(strokes)])
    judge_timing(suite, "signals mode: key delay from the second sensor", range(strokes), errors, 20, GROSS_KEY_MS)
    # Each timing thread says what scheduling it was given.
    sched = [line for line in run.log().splitlines() if line.startswith(("Comm thread scheduling: ", "Main loop scheduling: "))]
    check(len(sched) == 2, f"the run log's scheduling lines: {sched}")
    for line in sched:
        suite.note(line)
    prog.answer("[Q] Quit.", "q")
    check(prog.wait_exit() == 0, "exit code after Q")


def second_run(suite, run):
    """A settings file from an earlier run: straight into service; the
    switch-bounce delay changed in the menus is saved at once; Abel chosen
    with P gets each key in its view window as a WM_CHAR."""
    abel = run.standin("abel")
    run.write(SETTINGS, fixture("signals_mode.ini", program="Open"))
    bell = LineBell(run)
    prog = run.program()
    prog.wait_for("[Q] Quit. WARNING \"Open\" setting sends keys to **ANY foreground window!**")
    check("Doing  complete basic calibration" not in run.log(), "the second run calibrated again")
    before = run.settings()

    # C, then B: a new switch-bounce delay, saved at once.
    prog.answer("[Q] Quit.", "c")
    prog.wait_for("[B] Set Switch bounce delay ms, current value=40")
    prog.type("b")
    prog.wait_for("change value? (y/N)")
    prog.type("y")
    prog.wait_for("Enter new value integer>=0")
    prog.type("25\n")
    prog.wait_for("[B] Set Switch bounce delay ms, current value=25")
    after = run.settings()
    check(setting(after, "switchbouncedelay") == "25", f"file: switchbouncedelay={setting(after, 'switchbouncedelay')}")
    changed = [(a, b) for a, b in zip(before.split("\r\n"), after.split("\r\n")) if a != b]
    check(changed == [("switchbouncedelay=40", "switchbouncedelay=25")] and before.count("\r\n") == after.count("\r\n"),
          f"the file changed elsewhere too: {changed[:5]}")
    prog.type("x")
    # The service screen's "[Q] Quit." line stays above the menu: wait for
    # the menu itself to go.
    prog.wait_gone("Configuration Modification Options")

    # P: Abel, whose window gets each key as a WM_CHAR.
    prog.answer("[Q] Quit.", "p")
    prog.wait_for("Which program window to send the key to?")
    prog.type("8\n")
    prog.wait_for("Program Abel selected")
    half_signal_ms = int(setting(after, "meansignallength")) / 2
    t0 = raw_us() + suite.qpc_offset
    strokes, interval = 6, 600
    start = bell.play([p for i in range(strokes) for p in stroke_pulses(i * interval)])
    wait_until(lambda: len(abel.messages(t0, "WM_CHAR")) >= strokes, 3)
    got = abel.messages(t0)
    chars = [m for m in got if m[1] == "WM_CHAR"]
    check([(m[2], m[3]) for m in chars] == [(ord("J"), "sent")] * strokes,
          f"not {strokes} WM_CHAR 'J' sent to Abel:\n" + describe(got))
    views = {r[2] for r in abel.records() if r[3] == "WM_CHAR" and r[0] >= t0}
    check(views == {"view1"}, f"keys went to {views}, not the view window")
    check(not [m for m in got if m[1] in ("WM_KEYDOWN", "WM_IME_KEYDOWN")], "Abel also got keyboard input")
    # Abel's sensing point is the bell's first sensor: each key comes after
    # its due time from the first pulse and before the second pulse's would
    # be (150 ms later: the gross bound of a key, too). Every key to Abel
    # costs a process snapshot and a window search first (several ms each
    # under Wine), so a precision run does not judge these figures.
    first = [start + i * interval * 1000 for i in range(strokes)]
    errors = delivery_errors(suite, first, chars, [80 + half_signal_ms] * strokes)
    suite.figure("Abel: key delay from the first sensor", errors, None, SENSOR_GAP_MS)
    wrong = [(i, round(e, 1)) for i, e in enumerate(errors) if not 0 <= e < SENSOR_GAP_MS]
    check(not wrong, f"keys not timed from the first sensor (strike, ms after its due time): {wrong}")
    prog.answer("[Q] Quit.", "q")
    check(prog.wait_exit() == 0, "exit code after Q")


def focus_lost_and_regained(suite, run):
    """Ringing into the browser in front while the ringer clicks Notepad and
    back: the key due meanwhile is dropped with a notice, the next waits and
    goes as soon as the browser is in front again; Notepad gets nothing."""
    ff = run.standin("firefox")
    notepad = run.notepad()
    run.write(SETTINGS, fixture("data_mode.ini", program="Ringing Room - any browser with focus",
                                keytosendback_1_1="k", keydelayhand_1_1=100, keydelayback_1_1=100))
    box = Box(suite)
    player = None
    try:
        prog = run.program()
        prog.wait_for("[Q] Quit. Target program=Ringing Room - any browser with focus")
        check("Ringing Room" in suite.front(), f"the stand-in was not brought to the front: {suite.front()!r}")
        t0 = raw_us() + suite.qpc_offset
        # Ten strikes 600 ms apart; Notepad is clicked 200 ms after the
        # fourth strike's key was due (400 ms before the fifth's) and the
        # browser again 200 ms after the seventh's (400 ms before the
        # eighth's): room for a busy machine to be late with a key or a click.
        interval = 600
        played = []
        start = raw_us() + 300000
        player = threading.Thread(target=lambda: played.extend(
            box.play([(i * interval, BELL) for i in range(10)], start=start)))
        player.start()
        sleep_until_raw(start + (3 * interval + 300) * 1000)
        lost_at = raw_us() + suite.qpc_offset
        notepad.focus()
        # Strike 5's key has fallen due meanwhile.
        sleep_until_raw(start + (4 * interval + 350) * 1000)
        shown = prog.screen()
        check(shown.has('" is not the focus window - Key sending suspended') and
              shown.has("Keystrokes will be sent when focus is resumed"), "no focus-loss notice:\n" + shown.text())
        sleep_until_raw(start + (6 * interval + 300) * 1000)
        back_at = raw_us() + suite.qpc_offset
        ff.focus()
        player.join()
        wait_until(lambda: len(ff.messages(t0, "WM_KEYUP")) >= 8, 3)
        time.sleep(0.3)
        keys = ff.messages(t0, "WM_KEYDOWN")
        check(notepad.text() == "", f"keys went into Notepad: {notepad.text()!r}")
        before = [k for k in keys if k[0] < lost_at]
        during = [k for k in keys if lost_at <= k[0] < back_at]
        after = [k for k in keys if k[0] >= back_at]
        check(len(before) == 4 and not during, "keys before and while Notepad had the focus:\n" + describe(keys))
        # The key of strike 5 is dropped; those of strikes 6 and 7 wait as
        # one pending key, sent as soon as the browser has the focus again.
        check(len(after) == 4, f"{len(after)} keys after the browser came back, not 4:\n" + describe(after))
        first_back = after[0][0]
        strike8_due = played[7][1] + suite.qpc_offset + 100000
        check(first_back < strike8_due - 50000,
              f"the waiting key came {(first_back - back_at) / 1000:.0f} ms after the click, not at once")
        suite.figure("focus regained: the waiting key after the click", [(first_back - back_at) / 1000])
        letters = [k[2] for k in keys]
        check(all(a != b for a, b in zip(letters, letters[1:])), "hand and back keys do not alternate:\n" +
              describe(keys))
        log = run.log()
        check('"Ringing Room - any browser with focus" is not the focus window - Key sending suspended, #Key was 1'
              in log, "no focus-loss line in the log")
        check("Recovered from loss of focus" in log, "no \"Recovered from loss of focus\" in the log")
        prog.focus()
        prog.type("q")
        check(prog.wait_exit() == 0, "exit code after Q")
    finally:
        if player:
            player.join()
        box.close()


def open_into_notepad(suite, run, exe="quennick.exe"):
    """A stored settings file for the interface box with "Open": straight to
    service, every strike typed into Notepad in front, the start-up lines
    and the touch's event log in the run log, Q ends it with code 0."""
    if exe != "quennick.exe":
        shutil.copy(suite.bin / exe, run.path("quennick.exe"))
    notepad = run.notepad()
    run.write(SETTINGS, fixture("data_mode.ini", program="Open", keydelayhand_0_1=100, keydelayback_0_1=100))
    box = Box(suite)
    try:
        prog = run.program()
        prog.wait_for('[Q] Quit. WARNING "Open" setting sends keys to **ANY foreground window!**')
        notepad.focus()
        sent = ring_data(box, 6, 300)
        check(len(sent) == 6, f"the driver played {len(sent)} strikes")
        check(wait_until(lambda: notepad.text() == "jjjjjj", 3), f"Notepad holds {notepad.text()!r}, not six j")
        rows = wait_until(lambda: processed_rows(run.log()), 12, 0.5)
        check(rows is not None and len(rows) == 6, "the touch's six strikes are not in the run log")
        log = run.log()
        for line in ["Read configuration file " + SETTINGS, " the following calibration is assumed on entry to main cycle",
                     "Other program options are "]:
            check(line in log, f"no {line!r} in the run log")
        prog.focus()
        prog.type("q")
        check(prog.wait_exit() == 0, "exit code after Q")
    finally:
        box.close()


def thirty_two_bit(suite, run):
    """The 32-bit program does the same from start to quit."""
    if os.environ.get("QN_WINE_32BIT") == "0":
        raise Skipped("this kernel runs no 32-bit programs")
    check((suite.bin / "quennick32.exe").exists(), "no 32-bit program was built")
    open_into_notepad(suite, run, "quennick32.exe")
