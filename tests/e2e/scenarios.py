"""The end-to-end scenarios: Quennick from a person's chair, under Wine.

Each scenario is a function (suite, run) that raises e2elib.Failure when
what a person would see differs from what the program should show. ALL
lists them in the order run_e2e.py runs them; SETUP, the setup program's
(run_e2e.py --setup), one after another on one install.
"""

import faults
import installer
import towerlink
from autoring import automatic_ringing, automatic_ringing_waits_for_the_browser
from ringing import (first_run_data_mode, first_run_signals_mode, focus_lost_and_regained, open_into_notepad,
                     second_run, thirty_two_bit)
from startup import bad_settings_lines, port_missing, quit_during_detection

ALL = [
    ("FirstRunDataModeCalibratesAndRings", first_run_data_mode),
    ("FirstRunSignalsModeFindsTwoSensors", first_run_signals_mode),
    ("SecondRunChangesBounceDelayAndTarget", second_run),
    ("StoredSettingsTypeIntoNotepadWithOpen", open_into_notepad),
    ("ThirtyTwoBitProgramFromStartToQuit", thirty_two_bit),
    ("FocusLostToNotepadAndRegained", focus_lost_and_regained),
    ("AutomaticRingingOfATouch", automatic_ringing),
    ("AutomaticRingingWaitsForTheBrowser", automatic_ringing_waits_for_the_browser),
    ("MissingPortOffersRecalibration", port_missing),
    ("BadSettingsLinesAreNamedAndLeftOut", bad_settings_lines),
    ("QuitDuringDetectionKeepsTheSettings", quit_during_detection),
] + faults.ALL + towerlink.ALL

SETUP = installer.ALL
