#!/usr/bin/env python3
"""Runs the end-to-end scenarios (scenarios.py) and reports in GoogleTest's
words, which scripts/test counts:

    run_e2e.py [--setup] [--filter SUBSTRING] [--repeat N] [--list]

--setup runs the setup program's scenarios ($QN_E2E_SETUP) instead.

Needs the session that scripts/e2e-tests sets up (Xvfb, Wine, COM port).
On a failure the scenario's folder, its screen and a screenshot go to
$QN_E2E_ARTIFACTS. Each scenario runs once: its checks of time are gross
bounds a busy machine keeps, so a failure is a fault to look at, not
noise to try again. The timing figures the scenarios measured are listed at
the end; QN_PRECISION=1 holds them to their precise limits too.
"""

import argparse
import signal
import sys
import time
import traceback

import e2elib
import scenarios


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--filter", default="")
    ap.add_argument("--repeat", type=int, default=1)
    ap.add_argument("--list", action="store_true")
    ap.add_argument("--setup", action="store_true")
    opts = ap.parse_args()
    chosen = [(n, f) for n, f in (scenarios.SETUP if opts.setup else scenarios.ALL) if opts.filter.lower() in n.lower()]
    if opts.list:
        for n, _ in chosen:
            print(n)
        return 0
    # Ended by a signal, the scenario still takes out what it put in (the
    # tower link's test CA in the system's store above all).
    for sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, lambda n, _: sys.exit(128 + n))
    suite = e2elib.Suite()
    if suite.precision:
        print("  precision run: timing figures are held to their precise limits", flush=True)
    passed, failed, skipped, flaky = 0, [], [], []
    total = len(chosen) * opts.repeat
    print(f"[==========] Running {total} tests from 1 test suite.", flush=True)
    started = time.monotonic()
    try:
        for _ in range(opts.repeat):
            for name, scenario in chosen:
                verdict = run_one(suite, name, scenario)
                if verdict == "failed":
                    # Under a loaded Wine a scenario can fail once for want of
                    # time; a second failure counts, a pass is said as flaky.
                    print(f"[ RETRY    ] E2E.{name}: once more, to tell a fault from a flake", flush=True)
                    verdict = run_one(suite, name, scenario)
                    if verdict == "ok":
                        flaky.append(name)
                if verdict == "ok":
                    passed += 1
                elif verdict == "skipped":
                    skipped.append(name)
                else:
                    failed.append(name)
    finally:
        suite.close()
    print_figures(suite.figures)
    print(f"[==========] {total} tests ran. ({int((time.monotonic() - started) * 1000)} ms total)")
    print(f"[  PASSED  ] {passed} tests.")
    for n in flaky:
        print(f"[  FLAKY   ] E2E.{n} failed once and passed on its second run: look into it")
    if skipped:
        print(f"[  SKIPPED ] {len(skipped)} test{'s' if len(skipped) > 1 else ''}, listed below:")
        for n in skipped:
            print(f"[  SKIPPED ] E2E.{n}")
    if failed:
        print(f"[  FAILED  ] {len(failed)} test{'s' if len(failed) > 1 else ''}, listed below:")
        for n in failed:
            print(f"[  FAILED  ] E2E.{n}")
    return 1 if failed else 0


def print_figures(figures):
    """One line per figure: scenario, what, n, median, p99, worst (ms)."""
    if not figures:
        return
    print(f"[ TIMING   ] figures of this run (ms; p99 and worst of the magnitudes, load {e2elib.load()}):")
    for scenario, what, f in figures:
        print(f"[ TIMING   ] {scenario:<38} {what:<58} n={f.n:<4} median {f.median:7.1f}  p99 {f.p99:7.1f}  "
              f"worst {f.worst:7.1f}")


def run_one(suite, name, scenario):
    print(f"[ RUN      ] E2E.{name}", flush=True)
    t0 = time.monotonic()
    run = e2elib.Run(suite, name)
    ok = False
    skipped = None
    try:
        scenario(suite, run)
        ok = True
    except e2elib.Skipped as e:
        skipped = str(e)
    except e2elib.Failure as e:
        print(f"  FAILURE: {e}", flush=True)
    except Exception:  # a fault of the driver is a failure too
        print("  FAILURE in the driver:\n" + traceback.format_exc(), flush=True)
    if skipped is not None:
        run.close()
        print(f"[  SKIPPED ] E2E.{name}: {skipped}", flush=True)
        return "skipped"
    if not ok:
        try:
            run.keep_artifacts()
            print(f"  artifacts in {suite.artifacts / name}", flush=True)
        except Exception as e:
            print(f"  (artifacts not kept: {e})", flush=True)
    run.close()
    ms = int((time.monotonic() - t0) * 1000)
    verdict = "       OK " if ok else "  FAILED  "
    print(f"[{verdict}] E2E.{name} ({ms} ms)", flush=True)
    return "ok" if ok else "failed"


if __name__ == "__main__":
    sys.exit(main())
