"""The tower link of the Windows program, through WinHTTP under Wine: sixty
strikes of a bell on the modem lines ring into the tests' own tower server
over TLS, checked by tests/link/ring60.py, the harness the Linux program's
run (ctest link_ring60) uses too. Here it drives quennick.exe in wineconsole
on the suite's COM port, and the test CA goes into the system's store for
the run: Wine's TLS trusts what is there and nothing else."""

import shutil
import subprocess
import sys
from pathlib import Path

from e2elib import Failure, Program, check

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "link"))
import ring60  # noqa: E402

GROSS_RING_MS = ring60.LATE_LIMIT_MS


class SuitePort(ring60.LinePort):
    """The suite's COM port (a pty pair the suite owns) and the scenario's
    timeline for its modem lines."""

    def __init__(self, suite, run):
        self.device = suite.port_dev
        self.timeline = run.timeline

    def stop(self):
        pass


class WineRunner:
    """quennick.exe in wineconsole, as ring60.ring60 drives a program."""

    trust = "store"

    def __init__(self, run, port):
        self.run = run
        self.suite = run.suite
        check(port.device == self.suite.port_dev, "the Wine program's COM port is the suite's own pty")
        self.comport = "\\\\.\\" + self.suite.com
        self.program = None

    def start(self, workdir, env):
        shutil.copy(self.suite.bin / "quennick.exe", workdir)
        # Wine polls the modem lines: the latch keeps each change until a poll
        # has seen it, as a UART would. Safe here: there is no calibration.
        self.program = Program(self.run, [], folder=workdir, env=dict(env, QN_SHIM_LATCH="1"))

    def screen(self):
        if not self.program or not self.program.running():
            return ""
        try:
            return self.program.screen().text()
        except Failure:
            return ""

    def type(self, keys):
        self.program.focus()
        self.program.type(keys)

    def wait_exit(self, timeout):
        try:
            return self.program.p.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        self.run.close()


ROOTS_IN_REGISTRY = r"HKLM\Software\Microsoft\SystemCertificates\Root\Certificates"


def wine_root_key(ca):
    """Where Wine keeps its copy of a root certificate: every Wine process
    that opens the root store copies the host's store into the registry
    (volatile keys, so for as long as the wineserver runs) and never takes
    out what the host no longer has."""
    out = subprocess.run(["openssl", "x509", "-noout", "-fingerprint", "-sha1", "-in", str(ca)],
                         capture_output=True, text=True).stdout
    thumbprint = out.partition("=")[2].strip().replace(":", "").upper()
    return ROOTS_IN_REGISTRY + "\\" + thumbprint if thumbprint else None


def forget_ca_in_wine(ca):
    """Takes the test CA out of the session's registry too, so that no later
    scenario's program trusts it; True when it is not there (any more)."""
    key = wine_root_key(ca) if ca.exists() else None
    if not key:
        return True
    subprocess.run(["wine", "reg", "delete", key, "/f"], capture_output=True)
    return subprocess.run(["wine", "reg", "query", key], capture_output=True).returncode != 0


def rings_60_strikes(suite, run):
    """Every strike reaches the tower once, in order, at its stroke, within
    the gross bound of its due time; the program leaves the tower at Q."""
    port = SuitePort(suite, run)
    work = run.folder / "ring60"
    work.mkdir()
    try:
        delays = ring60.ring60(WineRunner(run, port), port, suite.shim_lib, work, note=suite.note)
    except ring60.Failure as e:
        raise Failure(str(e)) from None
    finally:
        forgotten = forget_ca_in_wine(work / "ca" / "ca.crt")
    check(forgotten, "the test CA is still among Wine's trusted roots")
    suite.figure("tower link: ring due -> heard by a listener (TLS)", delays, gross=GROSS_RING_MS)


ALL = [
    ("TowerLinkRings60StrikesThroughWinHTTP", rings_60_strikes),
]
