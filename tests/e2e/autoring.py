"""Scenarios of automatic ringing: a touch rung into the Ringing Room
stand-in, and the start that must wait for the browser."""

import statistics
import time

from e2elib import SETTINGS, check, raw_us, wait_until
from steps import GROSS_BEAT_MS, fixture, judge_timing


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
    goes out before the N-th stroke of the pull before. (Bells 1 to 9: the
    symbols E and T, which go to Ringing Room as - and =, are not met.)"""
    n2, out, pull, rown = 2 * bells, [], 0, -6

    def loads(r):  # a pull of the wrong length stops the ringing instead
        return r in rows and r + 1 in rows and len(rows[r] + rows[r + 1]) == n2

    while loads(rown):
        strokes = rows[rown] + rows[rown + 1]
        rown += 2
        base = pull * (n2 + 1)
        for b in range(1, n2 + 1):
            if b == bells and calls.get(rown + 1):
                out.append((base + b, calls[rown + 1]))
            if strokes[b - 1] in ring:
                out.append((base + b, strokes[b - 1]))
        if loads(rown) and calls.get(rown + 2):
            out.append((base + n2 + 1, calls[rown + 2]))
        pull += 1
    return out


def automatic_ringing(suite, run):
    """A touch from the library rung into the Ringing Room stand-in: "l",
    rounds, the touch with its calls, rounds, every key on its beat, and the
    end shown on the screen."""
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
    # The screen is not read while the touch is rung: each read attaches to
    # the program's console, and the console's host then keeps the
    # program's own writes waiting long enough to put keys off their beat.
    time.sleep(8 + duration)
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
    suite.note(f"automatic ringing, {len(keys)} keys on a {interval} ms beat: beat to beat "
               f"{min(gaps):.1f}..{max(gaps):.1f} ms; the beat clock started "
               f"{(base - got[ls - 1][0]) / 1000:.0f} ms after the last l")
    judge_timing(suite, f"automatic ringing: key off its beat ({interval} ms)", [f"{b}:{k}" for b, k in want],
                 residual, 10, GROSS_BEAT_MS)
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
    suite.figure("the first l after the browser was clicked", [late])
    check(s.has("Waiting for the target window to have the focus") and late < 1000,
          "automatic ringing started with the console in front: the start did not wait for the browser, and "
          f"the browser got its first l {late:.0f} ms after the click (the one sent at A went into the console)"
          "\n" + s.text())
    prog.focus()
    prog.type("q")
    check(prog.wait_exit() == 0, "exit code after Q")
