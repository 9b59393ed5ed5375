#include "config/folders.h"

#include <algorithm>

namespace qn {

namespace {

constexpr const char* kLibrary = "composition_library";
constexpr const char* kSeparators = "/\\";

bool is_separator(char ch) { return ch == '/' || ch == '\\'; }

// The touch library a package installs: <prefix>/share/quennick beside
// <prefix>/bin. A program run from its build folder has none.
void add_installed_library(Folders& f, const std::string& program_dir) {
    const std::string bin = "/bin";
    if (program_dir.size() <= bin.size() || program_dir.compare(program_dir.size() - bin.size(), bin.size(), bin) != 0)
        return;
    f.libraries.push_back(program_dir.substr(0, program_dir.size() - bin.size()) + "/share/quennick/" + kLibrary);
}

// The setup program puts the touch library beside the program.
void add_library_beside_program(Folders& f, const std::string& program_dir) {
    if (program_dir.empty()) return;
    const std::string library = in_folder(program_dir, kLibrary);
    if (f.libraries.front() != library) f.libraries.push_back(library);
}

// An XDG base folder: the variable when it is an absolute path, else the
// default under the home folder; "" when neither can be had.
std::string base_folder(const std::string& variable, const std::string& home, const char* under_home) {
    if (!variable.empty() && variable[0] == '/') return variable;
    if (home.empty() || home[0] != '/') return {};
    return (home == "/" ? std::string() : home) + under_home;
}

void choose_xdg_folders(Folders& f, const platform::UserDirs& dirs) {
    const std::string config = base_folder(dirs.config_home, dirs.home, "/.config");
    const std::string state = base_folder(dirs.state_home, dirs.home, "/.local/state");
    if (config.empty() || state.empty()) {
        f.reason = "no home folder, so the current folder";
        return;
    }
    f.settings = config + "/quennick";
    f.logs = state + "/quennick/logs";
    f.libraries = {f.settings + "/" + kLibrary};
    f.reason = "the XDG base folders";
}

// A program whose settings file is beside it keeps everything there, as
// the zip's program always has, wherever it is started from.
void choose_windows_folders(Folders& f, const platform::UserDirs& dirs, bool settings_beside_program) {
    if (settings_beside_program && !dirs.program_dir.empty()) {
        f.settings = dirs.program_dir;
        f.logs = in_folder(dirs.program_dir, "logs");
        f.libraries = {in_folder(dirs.program_dir, kLibrary)};
        f.reason = "the settings file is beside the program";
    } else if (dirs.app_data.empty() || dirs.documents.empty()) {
        f.reason = "no Windows user folders (" + dirs.problem + "), so the current folder";
    } else {
        f.settings = in_folder(dirs.app_data, "Quennick");
        f.logs = in_folder(in_folder(dirs.documents, "Quennick"), "logs");
        f.libraries = {in_folder(f.settings, kLibrary)};
        f.reason = "the Windows user folders";
    }
}

// The part of a path that is never made: "/", a drive ("C:\"), a network
// share ("\\server\share\").
std::size_t root_length(const std::string& path) {
    if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
        std::size_t at = path.find_first_of(kSeparators, 2);
        if (at != std::string::npos) at = path.find_first_of(kSeparators, at + 1);
        return at == std::string::npos ? path.size() : at + 1;
    }
    if (path.size() >= 2 && path[1] == ':') return path.size() > 2 && is_separator(path[2]) ? 3 : 2;
    return !path.empty() && is_separator(path[0]) ? 1 : 0;
}

}  // namespace

Folders choose_folders(const platform::UserDirs& dirs, const std::string& folder, SettingsFound found) {
    Folders f;
    if (!folder.empty() && folder != ".") {
        f.settings = folder;
        f.logs = in_folder(folder, "logs");
        f.libraries = {in_folder(folder, kLibrary)};
        f.reason = "the folder given with --folder";
    } else if (!folder.empty() || found.here || (!dirs.xdg && !dirs.windows)) {
        f.reason = !folder.empty() ? "the folder given with --folder"
                   : found.here    ? "the settings file is in the current folder"
                                   : "the current folder";
    } else if (dirs.windows) {
        choose_windows_folders(f, dirs, found.beside_program);
    } else {
        choose_xdg_folders(f, dirs);
    }
    if (dirs.xdg) add_installed_library(f, dirs.program_dir);
    if (dirs.windows) add_library_beside_program(f, dirs.program_dir);
    return f;
}

std::string in_folder(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (is_separator(folder.back())) return folder + name;
    const bool backslashes = folder.find('\\') != std::string::npos && folder.find('/') == std::string::npos;
    return folder + (backslashes ? '\\' : '/') + name;
}

platform::Result<void> make_folders(platform::Files& fs, const std::string& path) {
    for (std::size_t at = path.find_first_of(kSeparators, std::max<std::size_t>(root_length(path), 1));
         at != std::string::npos; at = path.find_first_of(kSeparators, at + 1)) {
        const std::string part = path.substr(0, at);
        if (!fs.exists(part)) {
            if (auto r = fs.make_dir(part); !r.ok()) return r;
        }
    }
    return path.empty() ? platform::Result<void>{} : fs.make_dir(path);
}

}  // namespace qn
