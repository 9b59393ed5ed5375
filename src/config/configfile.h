// The settings file: its owner (where it is, whether the program has one,
// what its last read found), the reader, the writer and value conversions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "config/settings.h"

namespace qn {

class Dialog;
class TextSink;

namespace platform {
struct Platform;
}  // namespace platform

class SettingsFile {
public:
    // The file service and the serial service's form of a port name are
    // taken from the platform at each use (tests swap them). Lines the
    // reader names go to the dialog's current area and to the log.
    SettingsFile(platform::Platform& platform, TextSink& log, Dialog& dialog);

    // Where the file is kept (empty: the current folder) and its name
    // without ".ini".
    void set_folder(std::string folder) { folder_ = std::move(folder); }
    void set_base_name(std::string name) { base_name_ = std::move(name); }
    const std::string& base_name() const { return base_name_; }
    std::string path() const;
    // The override file beside it.
    std::string bespoke_path() const;

    // Reads a settings file into settings and the target table; true when
    // it was read and can be used. No line stops the program: a line that
    // cannot be used is named (file, line, what to do) on the screen and in
    // the log and left out, and a value beyond its range is left out or cut
    // to it (config/bounds.h). The main file must hold the calibration's
    // findings, or calibration follows; other keys it lacks get their
    // defaults. problems() counts what was named.
    bool read(const std::string& path, Settings& settings, TargetTable& targets);
    // Writes path() through a temporary file; false when it could not be
    // written (the old file is then untouched).
    bool write(const Settings& settings, const TargetTable& targets);

    // Whether the program has a usable main file (the ringer may still
    // choose to calibrate afresh).
    bool have_file() const { return have_file_; }
    void set_have_file(bool have) { have_file_ = have; }
    // Lines the last read named as unusable.
    std::int32_t problems() const { return problems_; }
    // No usable program line: the target program is still to be asked.
    bool target_unknown() const { return target_unknown_; }
    void target_asked() { target_unknown_ = false; }

private:
    friend struct ReadState;
    // A message about the file, on the screen in yellow and in the log.
    void tell(const std::string& text);
    void show_in_yellow(const std::string& text);
    void report_not_saved(const std::string& path, const std::string& error);
    std::string replace_through_temp(const std::string& path, const std::string& temp, const std::string& bytes);

    platform::Platform& platform_;
    TextSink& log_;
    Dialog& dialog_;
    std::string folder_;
    std::string base_name_;
    bool have_file_ = false;
    std::int32_t problems_ = 0;
    bool target_unknown_ = false;
};

// The settings text as the file holds it.
void write_settings_to(const Settings& settings, const TargetTable& targets, TextSink& f);

std::string upper_text(std::string_view s);
char to_char(const std::string& text);

}  // namespace qn
