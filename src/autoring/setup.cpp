#include "autoring/setup.h"

#include <string>
#include <vector>

#include "autoring/driver.h"
#include "autoring/methodfile.h"
#include "config/folders.h"
#include "core/dialog.h"
#include "core/text.h"
#include "platform/files.h"

namespace qn {

namespace {

constexpr const char* kLibraryFolder = "composition_library";
constexpr std::int32_t kMinAutoBells = 4;
constexpr std::int32_t kMinPealMinutes = 60;
constexpr std::int32_t kMaxPealMinutes = 300;

// The answers so far.
struct Answers {
    std::int32_t bells = 0;
    std::string keys;
    std::int32_t peal_minutes = 0;
};

void prompt(Dialog& d, const std::string& text, bool line_end) {
    d.colour(kYellow);
    if (line_end) d.write_line(text);
    else d.write(text);
    d.colour(kWhite);
}

// Asks until the answer is in range; other values are dropped silently.
std::int32_t read_in_range(Dialog& d, std::int32_t lo, std::int32_t hi) {
    for (;;) {
        const std::int32_t v = d.read_int();
        if (v >= lo && v <= hi) return v;
    }
}

void ask_number_of_bells(Dialog& d, Answers& a) {
    prompt(d, "Give number of bells being rung", false);
    a.bells = read_in_range(d, kMinAutoBells, kMaxAutoBells);
    d.write_line("Ringing " + str(a.bells) + " bells");
}

// Position b of the mask holds bell b's symbol. The symbols of bells 13-16
// (A-D) have no position among the twelve that can be rung: ignored.
std::string bells_mask_from_answer(const std::string& answer) {
    std::string mask(kMaxAutoBells, ' ');
    for (char ch : answer) {
        if (ch >= '1' && ch <= '9') mask[static_cast<std::size_t>(ch - '1')] = ch;
        else if (ch == '0') mask[9] = '0';
        else if (ch == 'E' || ch == 'e') mask[10] = 'E';
        else if (ch == 'T' || ch == 't') mask[11] = 'T';
    }
    return mask;
}

void ask_bells_to_ring(const AutoringSetUp& s, Answers& a) {
    Dialog& d = s.dialog;
    if (!s.ringing_room) {
        a.keys.assign(static_cast<std::size_t>(a.bells), ' ');
        a.keys.front() = 'j';
        return;
    }
    d.write_line("NB Automated ringing is controlled solely from this interface, NOT ringing room");
    prompt(d, "Give numbers of bells to ring e.g 1456ET & press [ENTER]:", false);
    a.keys = bells_mask_from_answer(d.read_line());
    std::string chosen;
    for (char ch : a.keys)
        if (ch != ' ') chosen.push_back(ch);
    d.write_line("Bells to ring are=" + chosen);
}

void report_load(const AutoringSetUp& s, const std::string& line) {
    s.dialog.write_line(line);
    s.log.write_line(line);
}

// Until a file loads; false when the user gives up with "T".
bool choose_and_load_file(const AutoringSetUp& s, Answers& a) {
    Dialog& d = s.dialog;
    for (;;) {
        prompt(d, "Give the name of the method/touch file (null entry means do rounds)", true);
        const std::string answer = d.read_line();
        // Without the folder the look-up below simply fails there.
        const std::vector<std::string>& libraries = s.libraries;
        (void)make_folders(s.files, libraries.front());
        const std::string name = answer.empty() ? "rounds" + str(a.bells) : answer;
        auto text = s.files.read_all(name);
        for (const std::string& library : libraries)
            if (!text.ok()) text = s.files.read_all(in_folder(library, name));
        if (!text.ok()) {
            const std::string where = libraries.front() == kLibraryFolder
                                          ? ".\\" + std::string(kLibraryFolder) + "\\" + name
                                          : in_folder(libraries.front(), name);
            d.write_line("file=" + where + " not found, try again [or T to quit configuration]");
            if (!answer.empty() && upper(answer[0]) == 'T') {
                d.write_line("terminating setting up automatic ringing");
                return false;
            }
            continue;
        }
        TouchReader reader(s.touch, s.log, d, a.bells);
        const bool loaded = reader.load_method_file(text.value());
        a.bells = reader.bells();
        if (loaded) {
            report_load(s, "method file loaded");
            return true;
        }
        report_load(s, "method did not load");
    }
}

void ask_peal_speed(Dialog& d, Answers& a) {
    prompt(d, "Give peal speed in *Minutes*", false);
    a.peal_minutes = read_in_range(d, kMinPealMinutes, kMaxPealMinutes);
    d.write_line(" Peal speed (minutes)" + str(a.peal_minutes));
}

}  // namespace

bool set_up_autoring(const AutoringSetUp& s) {
    Dialog& d = s.dialog;
    Answers a;
    d.clear(Area::Scratch);
    d.colour(kWhite);
    ask_number_of_bells(d, a);
    ask_bells_to_ring(s, a);
    if (!choose_and_load_file(s, a)) return false;
    ask_peal_speed(d, a);
    d.clear(Area::Scratch);
    d.select(Area::Full);
    s.ringer.set_up(a.bells, std::move(a.keys), a.peal_minutes);
    return true;
}

}  // namespace qn
