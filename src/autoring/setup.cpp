#include "autoring/setup.h"

#include <string>

#include "autoring/methodfile.h"
#include "console/console_ui.h"
#include "core/context.h"
#include "core/text.h"
#include "keyout/targets.h"

namespace qn {

namespace {

constexpr const char* kLibraryFolder = "composition_library";
constexpr std::int32_t kMinAutoBells = 4;
constexpr std::int32_t kMinPealMinutes = 60;
constexpr std::int32_t kMaxPealMinutes = 300;

void prompt(Context& c, const std::string& text, bool line_end) {
    c.screen.text_colour(kYellow);
    if (line_end) c.screen.write_line(text);
    else c.screen.write(text);
    c.screen.text_colour(kWhite);
}

// Asks until the answer is in range; other values are dropped silently.
std::int32_t read_in_range(Context& c, std::int32_t lo, std::int32_t hi) {
    for (;;) {
        const std::int32_t v = read_int(c);
        if (v >= lo && v <= hi) return v;
    }
}

void ask_number_of_bells(Context& c) {
    prompt(c, "Give number of bells being rung", false);
    c.autoring.bells = read_in_range(c, kMinAutoBells, kMaxAutoBells);
    c.screen.write_line("Ringing " + str(c.autoring.bells) + " bells");
}

bool target_is_ringing_room(Context& c) {
    const std::uint8_t idx = target_index_of(c, c.cfg.target_program);
    return c.keyout.targets[idx].window_name.rfind("Ringing Room", 0) == 0;
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

void ask_bells_to_ring(Context& c) {
    AutoringState& a = c.autoring;
    if (!target_is_ringing_room(c)) {
        a.keys.assign(static_cast<std::size_t>(a.bells), ' ');
        a.keys.front() = 'j';
        return;
    }
    c.screen.write_line("NB Automated ringing is controlled solely from this interface, NOT ringing room");
    prompt(c, "Give numbers of bells to ring e.g 1456ET & press [ENTER]:", false);
    a.keys = bells_mask_from_answer(read_line(c));
    std::string chosen;
    for (char ch : a.keys)
        if (ch != ' ') chosen.push_back(ch);
    c.screen.write_line("Bells to ring are=" + chosen);
}

void report_load(Context& c, const std::string& line) {
    c.screen.write_line(line);
    c.run_log.write_line(line);
}

// Until a file loads; false when the user gives up with "T".
bool choose_and_load_file(Context& c) {
    for (;;) {
        prompt(c, "Give the name of the method/touch file (null entry means do rounds)", true);
        const std::string answer = read_line(c);
        // Without the folder the look-up below simply fails there.
        (void)c.plat.files->make_dir(kLibraryFolder);
        const std::string name = answer.empty() ? "rounds" + str(c.autoring.bells) : answer;
        auto text = c.plat.files->read_all(name);
        if (!text.ok()) text = c.plat.files->read_all(std::string(kLibraryFolder) + "/" + name);
        if (!text.ok()) {
            c.screen.write_line("file=.\\" + std::string(kLibraryFolder) + "\\" + name +
                             " not found, try again [or T to quit configuration]");
            if (!answer.empty() && upper(answer[0]) == 'T') {
                c.screen.write_line("terminating setting up automatic ringing");
                return false;
            }
            continue;
        }
        c.autoring.method_text = std::move(text.value());
        if (load_method_file(c)) {
            report_load(c, "method file loaded");
            return true;
        }
        report_load(c, "method did not load");
    }
}

void ask_peal_speed(Context& c) {
    prompt(c, "Give peal speed in *Minutes*", false);
    c.autoring.peal_minutes = read_in_range(c, kMinPealMinutes, kMaxPealMinutes);
    c.screen.write_line(" Peal speed (minutes)" + str(c.autoring.peal_minutes));
}

}  // namespace

bool set_up_autoring(Context& c) {
    AutoringState& a = c.autoring;
    clear_scratch_window(c);
    c.screen.text_colour(kWhite);
    ask_number_of_bells(c);
    ask_bells_to_ring(c);
    if (!choose_and_load_file(c)) return false;
    ask_peal_speed(c);
    clear_scratch_window(c);
    full_window(c);
    // A 5040-row peal is 2520 whole pulls of 2N+1 beats each.
    a.interval_ms = static_cast<std::int64_t>(a.peal_minutes) * 1000 / (42 * (2 * a.bells + 1));
    a.key_count = 0;
    return true;
}

}  // namespace qn
