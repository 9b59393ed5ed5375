"""The end-to-end scenarios: Quennick from a person's chair, under Wine.

Each scenario is a function (suite, run) that raises e2elib.Failure when
what a person would see differs from what the program should show. ALL
lists them in the order run_e2e.py runs them.
"""

import statistics
import threading
import time
from pathlib import Path

from e2elib import (SETTINGS, TIOCM_CTS, Box, LineBell, check, load, raw_us, sleep_until_raw, wait_until)

BELL = "7"  # the box's character for this bell
OTHER = "2"  # another bell on the same box
VK_J, VK_K = 0x4A, 0x4B

# Delays short enough that a key is out before the next strike.
HAND_MS, BACK_MS = 100, 160
BESPOKE_JK = f"keytosendback_1_1=k\nkeydelayhand_1_1={HAND_MS}\nkeydelayback_1_1={BACK_MS}\n"


def setting(text, key):
    """The value of a settings line key=value (None when missing)."""
    for line in text.replace("\r\n", "\n").split("\n"):
        if line.startswith(key + "="):
            return line[len(key) + 1:]
    return None


def fixture(name, **changes):
    """A settings file as the program wrote it (fixtures/), with some lines
    changed: key=value for each change; every key must be in the file."""
    text = (Path(__file__).parent / "fixtures" / name).read_bytes().decode("latin-1")
    lines = text.split("\r\n")
    for key, value in changes.items():
        hits = [i for i, l in enumerate(lines) if l.startswith(key + "=")]
        check(len(hits) == 1, f"fixture {name} has {len(hits)} lines {key}=")
        lines[hits[0]] = f"{key}={value}"
    return "\r\n".join(lines)


def calibrate_data_mode(prog, box, target):
    """A first-run calibration on the interface box, answered as asked:
    a key, the hand and back pull, a key; then the pull once more, with a
    switch bounce and another bell's character, and the target number."""
    prog.answer("then press any key [or Q to exit]", "x")
    prog.wait_for("NOW ring the bell *Hand* and *Back*")
    box.play([(0, BELL), (1000, BELL)])
    prog.focus()
    prog.type("x")
    s = prog.wait_for("Then press any key, for the results, Q to terminate")
    check(s.has(f"Bagley data detected on port COM7 using character {BELL}"), "no data-mode line:\n" + s.text())
    box.play([(0, BELL), (8, BELL), (450, OTHER), (1000, BELL)])
    prog.focus()
    prog.type("x")
    s = prog.wait_for("Which program window to send the key to?")
    check(s.has("**DATA IGNORED**2"), "the bounce 8 ms after the handstroke was not set aside:\n" + s.text())
    check(s.has("Total pulses 2 implies     1.00 sensors on bell"), "not one sensor:\n" + s.text())
    prog.type(f"{target}\n")


def ring_data(box, strikes, interval_ms, bounce_every=0, other_every=0):
    """Plays `strikes` strikes of this bell; every bounce_every-th strike
    bounces (the character again 8 ms later) and every other_every-th gap
    carries another bell's character. Returns the write times of the
    strikes (raw us)."""
    events = []
    for i in range(strikes):
        events.append((i * interval_ms, BELL))
        if bounce_every and i % bounce_every == bounce_every - 1:
            events.append((i * interval_ms + 8, BELL))
        if other_every and i % other_every == other_every - 1 and i < strikes - 1:
            events.append((i * interval_ms + interval_ms // 2, OTHER))
    played = box.play(events)
    # The strikes are the first of each group of the bell's character.
    times, last = [], None
    for ch, t in played:
        if ch == BELL and (last is None or t - last > 20000):
            times.append(t)
        if ch == BELL:
            last = t
    return times


def delivery_errors(suite, sent, keys, delays):
    """Arrival minus due time, ms, for each strike: due = written + delay."""
    return [(k[0] - (t + suite.qpc_offset)) / 1000 - d for t, k, d in zip(sent, keys, delays)]


def describe(msgs, limit=12):
    return "\n".join(f"    {m}" for m in msgs[:limit]) + ("\n    ..." if len(msgs) > limit else "")


def percentile(values, p):
    v = sorted(values)
    return v[min(len(v) - 1, int(round(p / 100 * (len(v) - 1))))]


def processed_rows(log):
    """The rows of the last "Processed sensor data" section of the run log."""
    part = log.rsplit("Processed sensor data\n", 1)
    if len(part) < 2:
        return None
    rows = []
    for line in part[1].split("\n")[1:]:
        f = line.split("\t")
        if len(f) < 2 or not f[0].isdigit():
            break
        fields = [x for x in f[1:] if x.strip() and "*" not in x]
        rows.append(float(fields[-1]))
    return rows


# 1 -------------------------------------------------------------------------
def first_run_data_mode(suite, run):
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
                          ("usedatinputchar", BELL), ("comport", "\\\\.\\COM7"), ("sensornum", "1"),
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
        suite.note(f"key delivery error (arrival - (written + delay)), 60 keys: median {statistics.median(errors):.1f}"
                   f" ms, p99 {percentile(errors, 99):.1f} ms, min {min(errors):.1f} ms, max {max(errors):.1f} ms")
        late = [(i, round(e, 1)) for i, e in enumerate(errors) if abs(e) > 20]
        check(not late, f"keys more than 20 ms from their due time (strike, ms): {late}")

        s = prog.screen()
        check(s.has("Row count =   60"), "the row counter does not show 60:\n" + s.text())

        # After a pause of more than 6 s the touch goes into the run log.
        rows = wait_until(lambda: processed_rows(run.log()), 12, 0.5)
        check(rows is not None, "no \"Processed sensor data\" in the run log")
        check(len(rows) == 60, f"the event log lists {len(rows)} strikes, not 60")
        skew = [abs(r * 1e6 - (t - sent[0])) / 1000 for r, t in zip(rows, sent)]
        check(max(skew) < 10, f"event log times differ from the strikes by up to {max(skew):.1f} ms")

        prog.answer("[Q] Quit.", "q")
        code = prog.wait_exit()
        check(code == 0, f"exit code {code} after Q")
        check(run.log().rstrip().endswith("Interface terminated by User - closing..."), "no closing line in the log")
    finally:
        box.close()


# 2 -------------------------------------------------------------------------
SENSOR_GAP_MS = 150  # from the first sensor's pulse to the second's
PULSE_MS = 50


def stroke_pulses(at_ms):
    """One stroke of a bell with two sensors on CTS: two pulses."""
    return [(at_ms, at_ms + PULSE_MS, TIOCM_CTS),
            (at_ms + SENSOR_GAP_MS, at_ms + SENSOR_GAP_MS + PULSE_MS, TIOCM_CTS)]


def calibrate_signals_mode(prog, bell, target):
    prog.answer("then press any key [or Q to exit]", "x")
    prog.wait_for("NOW ring the bell *Hand* and *Back*")
    bell.play(stroke_pulses(0) + stroke_pulses(1000))
    prog.focus()
    prog.type("x")
    s = prog.wait_for("Then press any key, for the results, Q to terminate")
    check(s.has("Signal data detected on port COM7"), "no signals-mode line:\n" + s.text())
    bell.play(stroke_pulses(0) + stroke_pulses(1000))
    prog.focus()
    prog.type("x")
    s = prog.wait_for("Which program window to send the key to?")
    check(s.has("Total ON pulses:4 implies     2.00 sensors on bell"), "not two sensors:\n" + s.text())
    prog.type(f"{target}\n")


def first_run_signals_mode(suite, run):
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
    # The program times the pulses itself, as Wine reports the line changes.
    check(abs(half_signal_ms * 2 - PULSE_MS) <= 15,
          f"meansignallength={setting(ini, 'meansignallength')} for pulses of {PULSE_MS} ms")

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
    suite.note(f"signals mode, {strokes} keys: delivery error median {statistics.median(errors):.1f} ms, "
               f"min {min(errors):.1f} ms, max {max(errors):.1f} ms (load {load()})")
    late = [(i, round(e, 1)) for i, e in enumerate(errors) if abs(e) > 20]
    check(not late, f"keys more than 20 ms from the second sensor's due time (strike, ms): {late}")
    prog.answer("[Q] Quit.", "q")
    check(prog.wait_exit() == 0, "exit code after Q")


# 3 -------------------------------------------------------------------------
def second_run(suite, run):
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
    # be. Every key to Abel costs a process snapshot and a window search
    # first (several ms each under Wine), so only the figures are reported.
    first = [start + i * interval * 1000 for i in range(strokes)]
    errors = delivery_errors(suite, first, chars, [80 + half_signal_ms] * strokes)
    suite.note(f"Abel, {strokes} keys: arrival after due time median {statistics.median(errors):.1f} ms, "
               f"min {min(errors):.1f} ms, max {max(errors):.1f} ms (load {load()})")
    wrong = [(i, round(e, 1)) for i, e in enumerate(errors) if not 0 <= e < SENSOR_GAP_MS]
    check(not wrong, f"keys not timed from the first sensor (strike, ms after its due time): {wrong}")
    prog.answer("[Q] Quit.", "q")
    check(prog.wait_exit() == 0, "exit code after Q")


# 4 -------------------------------------------------------------------------
def focus_lost_and_regained(suite, run):
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
        # Ten strikes 400 ms apart; Notepad is clicked after the fourth
        # strike's key and the browser again before the eighth strike.
        interval = 400
        played = []
        start = raw_us() + 300000
        player = threading.Thread(target=lambda: played.extend(
            box.play([(i * interval, BELL) for i in range(10)], start=start)))
        player.start()
        sleep_until_raw(start + (3 * interval + 250) * 1000)
        lost_at = raw_us() + suite.qpc_offset
        notepad.focus()
        # Strike 5's key has fallen due meanwhile.
        sleep_until_raw(start + (4 * interval + 300) * 1000)
        shown = prog.screen()
        check(shown.has('" is not the focus window - Key sending suspended') and
              shown.has("Keystrokes will be sent when focus is resumed"), "no focus-loss notice:\n" + shown.text())
        sleep_until_raw(start + (6 * interval + 250) * 1000)
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
        suite.note(f"focus regained: the waiting key came {(first_back - back_at) / 1000:.0f} ms after the click")
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


# 5 -------------------------------------------------------------------------
SYMBOLS = "1234567890ETABCD"


def touch_rows(path):
    """The rows as the program numbers them: rounds at -6..1, the file's
    further rows from 2, its last row four more times."""
    lines = [l.strip() for l in path.read_text().splitlines()]
    if len(lines[0]) < 4 and lines[0].isdigit():
        lines = lines[1:]
    rows = {r: lines[0] for r in range(-6, 2)}
    for k in range(2, len(lines) + 1):
        rows[k] = lines[k - 1]
    for k in range(len(lines) + 1, len(lines) + 5):
        rows[k] = lines[-1]
    return rows, len(lines)


def touch_calls(rows, last_file_row, lead):
    """Where the calls go, from what the method is: a call is a lead whose
    place notation differs from the lead before's at the same row; "14" is a
    bob ("B" on six bells) and "1234" a single ("n"). "g" starts the touch,
    "h" and "t" end it."""
    def notation(r):
        if r <= 1:
            return " "
        same = "".join(SYMBOLS[p] for p in range(len(rows[r])) if rows[r][p] == rows[r - 1][p])
        return same or "x"

    calls = {2: "g", last_file_row + 1: "h", last_file_row + 4: "t"}
    for r in range(lead + 1, last_file_row + 1):
        if notation(r) != notation(r - lead):
            key = {"14": "B", "1234": "n"}.get(notation(r))
            if key:
                calls[r] = key
    return calls


def autoring_keys(rows, calls, bells, ring):
    """[(beat, key)]: beat 1 is the first stroke after the start; a whole
    pull is 2N strokes and a silent beat, on which the next pull is loaded
    and the call of its handstroke row goes out; a backstroke row's call
    goes out before the N-th stroke of the pull before."""
    n2, out, pull, rown = 2 * bells, [], 0, -6
    while rown in rows and rown + 1 in rows and len(rows[rown] + rows[rown + 1]) == n2:
        strokes = rows[rown] + rows[rown + 1]
        rown += 2
        base = pull * (n2 + 1)
        for b in range(1, n2 + 1):
            if b == bells and calls.get(rown + 1):
                out.append((base + b, calls[rown + 1]))
            if strokes[b - 1] in ring:
                out.append((base + b, strokes[b - 1]))
        if rown in rows and calls.get(rown + 2):
            out.append((base + n2 + 1, calls[rown + 2]))
        pull += 1
    return out


def automatic_ringing(suite, run):
    ff = run.standin("firefox")
    run.write(SETTINGS, fixture("data_mode.ini", program="Ringing Room - any browser with focus"))
    run.copy_library()
    prog = run.program()
    prog.wait_for("[Q] Quit. Target program=Ringing Room - any browser with focus")
    bells, ring, speed, touch = 6, "23456", 60, "plain_bob_minor_touch"
    prog.answer("[Q] Quit.", "z")
    prog.answer("Give number of bells being rung", f"{bells}\n")
    prog.answer("Give numbers of bells to ring e.g 1456ET & press [ENTER]:", f"{ring}\n")
    prog.answer("Give the name of the method/touch file", f"{touch}\n")
    s = prog.answer("Give peal speed in *Minutes*", f"{speed}\n")
    check(s.has("method file loaded"), "the touch did not load:\n" + s.text())
    prog.wait_gone("Give peal speed in *Minutes*")
    interval = speed * 1000 // (42 * (2 * bells + 1))

    t0 = raw_us() + suite.qpc_offset
    prog.type("a")
    prog.wait_for("Automated ringing started", 5)
    ff.focus()
    rows, last = touch_rows(run.path("composition_library") / touch)
    want = autoring_keys(rows, touch_calls(rows, last, 12), bells, ring)
    duration = (want[-1][0] + 2 * bells + 1) * interval / 1000
    # The screen is not read while the touch is rung: the reads would take
    # their share of the two processors.
    time.sleep(8 + duration - 3)
    prog.wait_for("Automated ringing ended", 20)
    got = [m for m in ff.messages(t0, "WM_CHAR")]
    text = "".join(chr(m[2]) for m in got)
    check(text.startswith("l"), f"the touch did not begin with l: {text[:40]!r}")
    ls = len(text) - len(text.lstrip("l"))
    keys = got[ls:]
    seq = "".join(chr(m[2]) for m in keys)
    # Keys are typed without Shift: the target sees a call "B" as "b".
    typed = "".join(k.lower() for _, k in want)
    check(seq == typed, f"keys differ from the touch:\n    got  {seq}\n    want {typed}")
    calls = [k for _, k in want if k in "gbnBNht"]
    check(calls == ["g", "B", "n", "B", "n", "h", "t"], f"the touch's calls came out as {calls}")
    # Each key on its beat: a grid of the set interval from the first beat.
    offsets = [m[0] - b * interval * 1000 for m, (b, _) in zip(keys, want)]
    base = statistics.median(offsets)
    residual = [(o - base) / 1000 for o in offsets]
    gaps = [(keys[i + 1][0] - keys[i][0]) / 1000 for i in range(len(keys) - 1)
            if want[i + 1][0] == want[i][0] + 1]
    suite.note(f"automatic ringing, {len(keys)} keys on a {interval} ms beat: off the beat by median "
               f"{statistics.median(map(abs, residual)):.1f} ms, max {max(map(abs, residual)):.1f} ms; "
               f"beat to beat {min(gaps):.1f}..{max(gaps):.1f} ms; the beat clock started "
               f"{(base - got[ls - 1][0]) / 1000:.0f} ms after the last l (load {load()})")
    off = [(want[i][0], want[i][1], round(r, 1)) for i, r in enumerate(residual) if abs(r) > 10]
    check(not off, f"keys more than 10 ms off their beat (beat, key, ms): {off[:10]}")
    prog.focus()
    prog.type("q")
    check(prog.wait_exit() == 0, "exit code after Q")


def automatic_ringing_waits_for_the_browser(suite, run):
    """"A" is typed at the console, so the console is in front: the start
    must wait until the ringer has clicked the browser, and the "l" that
    starts the ringing must go there, not into the console."""
    ff = run.standin("firefox")
    run.write(SETTINGS, fixture("data_mode.ini", program="Ringing Room - any browser with focus"))
    run.copy_library()
    prog = run.program()
    prog.answer("[Q] Quit.", "z")
    prog.answer("Give number of bells being rung", "6\n")
    prog.answer("Give numbers of bells to ring e.g 1456ET & press [ENTER]:", "23456\n")
    prog.answer("Give the name of the method/touch file", "\n")  # rounds
    prog.answer("Give peal speed in *Minutes*", "60\n")
    prog.wait_gone("Give peal speed in *Minutes*")
    t0 = raw_us() + suite.qpc_offset
    prog.type("a")
    prog.wait_for("Automated ringing started", 5)
    time.sleep(1.0)  # the ringer reaches for the mouse
    s = prog.screen()
    check(suite.front().endswith("quennick.exe"), "the console is not in front after typing A")
    clicked = raw_us() + suite.qpc_offset
    ff.focus()
    first_l = wait_until(lambda: [m for m in ff.messages(t0, "WM_CHAR") if m[2] == ord("l")], 6)
    check(first_l, "no l reached the browser")
    late = (first_l[0][0] - clicked) / 1000
    suite.note(f"the first l reached the browser {late:.0f} ms after it was clicked")
    check(s.has("Waiting for the target window to have the focus") and late < 1000,
          "automatic ringing started with the console in front: the start did not wait for the browser, and "
          f"the browser got its first l {late:.0f} ms after the click (the one sent at A went into the console)"
          "\n" + s.text())
    prog.focus()
    prog.type("q")
    check(prog.wait_exit() == 0, "exit code after Q")


# 6 -------------------------------------------------------------------------
def port_missing(suite, run):
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
        check(setting(ini, "comport") == "\\\\.\\COM7", f"settings file: comport={setting(ini, 'comport')}")
        check(run.log().count("Comport \\\\.\\COM9 not available") == 2, "the port was not checked twice")
        prog.answer("[Q] Quit.", "q")
        check(prog.wait_exit() == 0, "exit code after Q")
    finally:
        box.close()


# 7 -------------------------------------------------------------------------
def bad_settings_lines(suite, run):
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
        prog.focus()
        prog.key("Return")
        got = prog.wait_exit()
        check(got == code, f"{what}: exit code {got}, expected {code}")
        check(run.path(SETTINGS).read_bytes() == before, f"{what}: the settings file was changed")


# 8 -------------------------------------------------------------------------
def quit_during_detection(suite, run):
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


ALL = [
    ("FirstRunDataModeCalibratesAndRings", first_run_data_mode),
    ("FirstRunSignalsModeFindsTwoSensors", first_run_signals_mode),
    ("SecondRunChangesBounceDelayAndTarget", second_run),
    ("FocusLostToNotepadAndRegained", focus_lost_and_regained),
    ("AutomaticRingingOfATouch", automatic_ringing),
    ("AutomaticRingingWaitsForTheBrowser", automatic_ringing_waits_for_the_browser),
    ("MissingPortOffersRecalibration", port_missing),
    ("BadSettingsLineStopsWithItsCode", bad_settings_lines),
    ("QuitDuringDetectionKeepsTheSettings", quit_during_detection),
]
