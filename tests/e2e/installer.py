"""The setup program ($QN_E2E_SETUP) installed silently, its program's first
run, a program with its settings file beside it, and a silent uninstall: in
this order, on one install (run_e2e.py --setup)."""

import os
import shutil
import subprocess
from pathlib import Path

from e2elib import SETTINGS, Box, check, wait_until
from steps import calibrate_data_mode

UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quennick"
MENU = ["Quennick", "Quennick with the fuller screens", "Ringers' guide", "Run logs and striking reports"]


def wine(*args):
    return subprocess.run(["wine", *args], capture_output=True, text=True, errors="replace", timeout=180)


def unix(path):
    return Path(subprocess.run(["winepath", "-u", path], capture_output=True, text=True).stdout.strip())


class Places:
    """The user's folders as Windows names them (_win) and on this disk."""

    def __init__(self):
        self.profile_win, appdata, local = wine("cmd", "/c", "echo %USERPROFILE%^|%APPDATA%^|%LOCALAPPDATA%") \
            .stdout.strip().split("|")
        self.program_win, self.settings_win = local + r"\Programs\Quennick", appdata + r"\Quennick"
        self.logs_win = self.profile_win + r"\Documents\Quennick\logs"
        self.program, self.settings, self.logs = unix(self.program_win), unix(self.settings_win), unix(self.logs_win)
        self.menu = unix(appdata) / "Microsoft/Windows/Start Menu/Programs/Quennick"


def logs_in(folder):
    return list(Path(folder).glob("*.log"))


PLACES = []


def installs_silently(suite, run):
    """/S /CurrentUser: the program, the touch library and the guide in
    %LOCALAPPDATA%\\Programs\\Quennick, the Start menu, Apps & features."""
    PLACES[:] = [Places()]
    p = PLACES[0]
    # Wine links Documents to the home folder (again whenever it is missing):
    # the prefix gets a folder of its own.
    documents = unix(p.profile_win + r"\Documents")
    if documents.is_symlink():
        documents.unlink()
    documents.mkdir(exist_ok=True)
    for leftover in (p.program, p.settings, p.logs.parent, p.menu):
        shutil.rmtree(leftover, ignore_errors=True)
    wine("reg", "delete", UNINSTALL_KEY, "/f")
    check(wine(os.environ["QN_E2E_SETUP"], "/S", "/CurrentUser").returncode == 0, "setup.exe /S failed")
    for name in ["quennick.exe", "Uninstall.exe", "GUIDE.txt", "composition_library/rounds8"]:
        check((p.program / name).exists(), f"{name} is not in {p.program_win}")
    check(all((p.menu / f"{name}.lnk").exists() for name in MENU), f"Start menu: {list(p.menu.glob('*'))}")
    entry = wine("reg", "query", UNINSTALL_KEY).stdout
    check(f'"{p.program_win}\\Uninstall.exe" /S' in entry, "no QuietUninstallString in Apps & features:\n" + entry)
    version = wine(p.program_win + r"\quennick.exe", "--version").stdout
    check(version.startswith("Quennick v"), f"--version: {version!r}")


def first_run_uses_the_user_folders(suite, run):
    """The installed program, started from another folder, calibrates and
    keeps its settings in %APPDATA%\\Quennick and its run log in
    Documents\\Quennick\\logs; the screen and the log say so."""
    p = PLACES[0]
    box = Box(suite)
    try:
        prog = run.program(exe=p.program_win + r"\quennick.exe")
        s = prog.wait_for("then press any key [or Q to exit]")
        check(s.has("Settings are kept in " + p.settings_win), "the screen does not say where:\n" + s.text())
        calibrate_data_mode(prog, box, "0")
        prog.answer('[Q] Quit. WARNING "Open" setting sends keys to **ANY foreground window!**', "q")
        check(prog.wait_exit() == 0, "exit code after Q")
    finally:
        box.close()
    check((p.settings / SETTINGS).exists(), f"no {SETTINGS} in {p.settings_win}")
    logs = logs_in(p.logs)
    line = f"Settings folder: {p.settings_win}; run logs: {p.logs_win} (the Windows user folders)"
    check(len(logs) == 1 and line in logs[0].read_bytes().decode("latin-1"), f"no {line!r} in {logs}")
    check([f.name for f in run.folder.iterdir()] == ["quennick.exe"], "files written in the current folder")


def settings_beside_the_program_keep_that_folder(suite, run):
    """A program with its settings file beside it, started from elsewhere."""
    p = PLACES[0]
    shutil.copy(p.settings / SETTINGS, run.folder)
    elsewhere = run.folder / "elsewhere"
    elsewhere.mkdir()
    exe = subprocess.run(["winepath", "-w", str(run.folder / "quennick.exe")], capture_output=True, text=True)
    prog = run.program(exe=exe.stdout.strip(), folder=elsewhere)
    prog.answer("[Q] Quit.", "q")
    check(prog.wait_exit() == 0, "exit code after Q")
    check("(the settings file is beside the program)" in run.log(), "no run log beside the program")
    check(not any(elsewhere.iterdir()) and len(logs_in(p.logs)) == 1, "a file went elsewhere")


def uninstalls_silently_keeping_the_ringers_files(suite, run):
    """Uninstall.exe /S takes the program, the Start menu entries and the
    registry entry away, and leaves the settings and the run log."""
    p = PLACES[0]
    check(wine(p.program_win + r"\Uninstall.exe", "/S", "/CurrentUser").returncode == 0, "Uninstall.exe /S failed")
    # It runs on from a copy of itself in the temporary folder.
    check(wait_until(lambda: not p.program.exists(), 60), f"{p.program_win} is still there")
    check(not p.menu.exists() and wine("reg", "query", UNINSTALL_KEY).returncode != 0, "the entries are still there")
    check((p.settings / SETTINGS).exists() and len(logs_in(p.logs)) == 1, "the ringer's files were removed")


ALL = [
    ("SetupInstallsSilentlyForTheRinger", installs_silently),
    ("InstalledFirstRunUsesTheUserFolders", first_run_uses_the_user_folders),
    ("SettingsBesideTheProgramKeepThatFolder", settings_beside_the_program_keep_that_folder),
    ("UninstallKeepsTheRingersFiles", uninstalls_silently_keeping_the_ringers_files),
]
