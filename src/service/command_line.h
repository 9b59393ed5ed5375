// The programs' command lines (quennick and quennick-sim), on CLI11: one
// style of help and errors, every range and default stated once, in the
// option itself, for the help text and the error alike.
#pragma once

#include <CLI/CLI.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "service/program.h"

namespace qn {

// What a command line comes to: run, or stop at once with exit_code and
// text (--help and --version: 0, for standard output; a bad option: 2, for
// standard error).
struct CommandLine {
    bool run = true;
    int exit_code = 0;
    std::string text;
};

// A program's parser with its name and purpose, "-h,--help", "--version",
// and help in the programs' own style ("--name=VALUE", the range and
// default at the end of the description).
void setup_app(CLI::App& app, const std::string& footer);
// args come without the program's name. "/A" and "/?" mean what they mean
// on Windows (-A and --help) on every system.
CommandLine parse_command_line(CLI::App& app, const std::vector<std::string>& args);

// quennick's own options; quennick-sim takes them too and passes them on.
void add_program_options(CLI::App& app, ProgramOptions& out);
// files_note: the help's last paragraph, where this system keeps the files.
CommandLine parse_program_command_line(const std::vector<std::string>& args, ProgramOptions& out,
                                       const std::string& files_note = {});
// "Quennick v0.8.2d3 (04 Jan 2021)"
std::string version_text();

// "from 2 to 16" (whole numbers) or "from 0 to 0.05".
template <typename T>
std::string range_text(T lo, T hi) {
    std::ostringstream s;
    s << "from " << lo << " to " << hi;
    return s.str();
}

// Refuses a value that is not a T from lo to hi, saying so with the range.
template <typename T>
CLI::Validator in_range(T lo, T hi) {
    return CLI::Validator(
        [lo, hi](std::string& v) -> std::string {
            T n{};
            if (CLI::detail::lexical_cast(v, n) && !(n < lo) && !(hi < n)) return {};
            std::ostringstream s;
            s << "Value " << v << " not in range " << lo << " to " << hi;
            return s.str();
        },
        "");
}

// An option with a value in [lo, hi]: the range goes into the help and into
// the error for a value outside it; the default is the variable's value now
// ("none" when that is outside the range).
template <typename T>
CLI::Option* add_ranged(CLI::App& app, const std::string& name, T& value, T lo, T hi, const std::string& text,
                        const std::string& value_name = "N") {
    std::ostringstream d;
    d << text << ", " << range_text(lo, hi) << " (";
    if (value < lo || value > hi)
        d << "none)";
    else
        d << value << ")";
    return app.add_option(name, value, d.str())
        ->check(in_range(lo, hi))
        ->type_name(value_name);
}

}  // namespace qn
