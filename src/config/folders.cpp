#include "config/folders.h"

namespace qn {

namespace {

constexpr const char* kLibrary = "composition_library";

// The touch library a package installs: <prefix>/share/quennick beside
// <prefix>/bin. A program run from its build folder has none.
void add_installed_library(Folders& f, const std::string& program_dir) {
    const std::string bin = "/bin";
    if (program_dir.size() <= bin.size() || program_dir.compare(program_dir.size() - bin.size(), bin.size(), bin) != 0)
        return;
    f.libraries.push_back(program_dir.substr(0, program_dir.size() - bin.size()) + "/share/quennick/" + kLibrary);
}

// An XDG base folder: the variable when it is an absolute path, else the
// default under the home folder; "" when neither can be had.
std::string base_folder(const std::string& variable, const std::string& home, const char* under_home) {
    if (!variable.empty() && variable[0] == '/') return variable;
    if (home.empty() || home[0] != '/') return {};
    return (home == "/" ? std::string() : home) + under_home;
}

}  // namespace

Folders choose_folders(const platform::UserDirs& dirs, const std::string& folder, bool settings_here) {
    Folders f;
    if (!folder.empty() && folder != ".") {
        f.settings = folder;
        f.logs = in_folder(folder, "logs");
        f.libraries = {in_folder(folder, kLibrary)};
        f.reason = "the folder given with --folder";
    } else if (!folder.empty() || settings_here || !dirs.xdg) {
        f.reason = !folder.empty()    ? "the folder given with --folder"
                   : settings_here    ? "the settings file is in the current folder"
                                      : "the current folder";
    } else {
        const std::string config = base_folder(dirs.config_home, dirs.home, "/.config");
        const std::string state = base_folder(dirs.state_home, dirs.home, "/.local/state");
        if (config.empty() || state.empty()) {
            f.reason = "no home folder, so the current folder";
        } else {
            f.settings = config + "/quennick";
            f.logs = state + "/quennick/logs";
            f.libraries = {f.settings + "/" + kLibrary};
            f.reason = "the XDG base folders";
        }
    }
    if (dirs.xdg) add_installed_library(f, dirs.program_dir);
    return f;
}

std::string in_folder(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

platform::Result<void> make_folders(platform::Files& fs, const std::string& path) {
    for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
        const std::string part = path.substr(0, at);
        if (!fs.exists(part)) {
            if (auto r = fs.make_dir(part); !r.ok()) return r;
        }
    }
    return path.empty() ? platform::Result<void>{} : fs.make_dir(path);
}

}  // namespace qn
