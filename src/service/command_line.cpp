#include "service/command_line.h"

#include <algorithm>
#include <memory>

#include "service/program.h"
#include "core/text.h"

namespace qn {

namespace {

// "  --bells=N            bells in the ring, from 2 to 16 (8)": the value's
// name after "=", optional values in brackets, flags bare.
class HelpStyle : public CLI::Formatter {
public:
    static constexpr int kNameWidth = 24;
    static constexpr int kTextWidth = 79 - kNameWidth;

    HelpStyle() { column_width(kNameWidth); }
    std::string make_option_opts(const CLI::Option* opt) const override {
        const std::string name = opt->get_type_name();
        if (name.empty()) return "";  // a flag
        return opt->get_expected_min() == 0 ? "[=" + name + "]" : "=" + name;
    }
    // Wrapped to the terminal's 80 columns (CLI11 indents after each line end).
    std::string make_option_desc(const CLI::Option* opt) const override {
        std::string out, line;
        std::istringstream words(opt->get_description());
        for (std::string word; words >> word;) {
            if (!line.empty() && static_cast<int>(line.size() + 1 + word.size()) > kTextWidth) {
                out += line + "\n";
                line.clear();
            }
            line += (line.empty() ? "" : " ") + word;
        }
        return out + line;
    }
    std::string make_option_name(const CLI::Option* opt, bool is_positional) const override {
        return is_positional ? opt->get_name(true, false) : opt->get_name(false, true);
    }
};

}  // namespace

void setup_app(CLI::App& app, const std::string& footer) {
    app.formatter(std::make_shared<HelpStyle>());
    app.set_version_flag("--version", version_text(), "the version, then exit");
    app.set_help_flag("-h,--help", "this help, then exit");
    app.footer(footer);
}

CommandLine parse_command_line(CLI::App& app, const std::vector<std::string>& args) {
    // CLI11 takes the words last first.
    std::vector<std::string> words;
    for (auto it = args.rbegin(); it != args.rend(); ++it)
        words.push_back(*it == "/A" ? "-A" : *it == "/?" ? "--help" : *it);
    try {
        app.parse(words);
    } catch (const CLI::CallForHelp&) {
        return {false, 0, app.help()};
    } catch (const CLI::CallForVersion& e) {
        return {false, 0, std::string(e.what()) + "\n"};
    } catch (const CLI::ParseError& e) {
        return {false, 2, app.get_name() + ": " + e.what() + " (see " + app.get_name() + " --help)\n"};
    }
    return {};
}

void add_program_options(CLI::App& app, ProgramOptions& out) {
    app.add_flag_callback("-A", [&out] { out.easy_mode = false; },
                          "the fuller screens of the calibration and the service screen (also /A)");
    app.add_option("--folder", out.folder,
                   "keep the settings file, bespoke.ini, logs/ and composition_library/ in this folder")
        ->type_name("DIR");
}

CommandLine parse_program_command_line(const std::vector<std::string>& args, ProgramOptions& out,
                                       const std::string& files_note) {
    CLI::App app("Quennick turns the strikes of a practice bell's sensors on a serial port into keys\n"
                 "for a ringing simulator, or rings them into a Ringing Room tower.",
                 "quennick");
    setup_app(app, files_note);
    add_program_options(app, out);
    return parse_command_line(app, args);
}

std::string version_text() {
    std::string v = underscores_to_spaces(kProgramVersion);
    while (!v.empty() && v.back() == ' ') v.pop_back();
    return v;
}

}  // namespace qn
