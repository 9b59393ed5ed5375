// Where the settings, run logs and touch files go, from what the system offers.
#include <gtest/gtest.h>

#include "config/folders.h"
#include "fakes/fake_platform.h"

namespace qn {
namespace {

TEST(Folders, ChosenFromTheOptionTheCurrentFolderAndTheXdgVariables) {
    platform::UserDirs linux_dirs;
    linux_dirs.xdg = true;
    linux_dirs.home = "/home/ann";
    linux_dirs.program_dir = "/usr/bin";
    struct Row {
        const char* what;
        std::string config_home, state_home, home, folder;
        bool xdg, settings_here;
        std::string settings, logs, first_library;
    };
    const std::vector<Row> rows = {
        {"defaults", "", "", "/home/ann", "", true, false, "/home/ann/.config/quennick",
         "/home/ann/.local/state/quennick/logs", "/home/ann/.config/quennick/composition_library"},
        {"variables", "/cfg", "/st", "/home/ann", "", true, false, "/cfg/quennick", "/st/quennick/logs",
         "/cfg/quennick/composition_library"},
        {"relative variables are ignored", "cfg", "st", "/home/ann", "", true, false, "/home/ann/.config/quennick",
         "/home/ann/.local/state/quennick/logs", "/home/ann/.config/quennick/composition_library"},
        {"settings in the current folder", "/cfg", "/st", "/home/ann", "", true, true, "", "logs",
         "composition_library"},
        {"--folder", "/cfg", "/st", "/home/ann", "/srv/bell", true, true, "/srv/bell", "/srv/bell/logs",
         "/srv/bell/composition_library"},
        {"--folder=.", "/cfg", "/st", "/home/ann", ".", true, false, "", "logs", "composition_library"},
        {"no home", "", "", "", "", true, false, "", "logs", "composition_library"},
        {"root's home", "", "", "/", "", true, false, "/.config/quennick", "/.local/state/quennick/logs",
         "/.config/quennick/composition_library"},
        {"windows", "", "", "", "", false, false, "", "logs", "composition_library"},
    };
    for (const Row& r : rows) {
        platform::UserDirs d = linux_dirs;
        d.xdg = r.xdg;
        d.config_home = r.config_home;
        d.state_home = r.state_home;
        d.home = r.home;
        const Folders f = choose_folders(d, r.folder, r.settings_here);
        EXPECT_EQ(f.settings, r.settings) << r.what;
        EXPECT_EQ(f.logs, r.logs) << r.what;
        ASSERT_FALSE(f.libraries.empty()) << r.what;
        EXPECT_EQ(f.libraries.front(), r.first_library) << r.what;
        // The package's touch library comes last, on Linux only.
        EXPECT_EQ(f.libraries.back() == "/usr/share/quennick/composition_library", r.xdg) << r.what;
        EXPECT_FALSE(f.reason.empty()) << r.what;
    }
    linux_dirs.program_dir = "/work/build/linux/src";  // a build folder has no library beside it
    EXPECT_EQ(choose_folders(linux_dirs, "", false).libraries.size(), 1u);
}

TEST(Folders, MadeWithTheirParents) {
    test::FakeFiles fs;
    ASSERT_TRUE(make_folders(fs, "/home/ann/.local/state/quennick/logs").ok());
    EXPECT_TRUE(fs.dirs.count("/home/ann/.local/state") && fs.dirs.count("/home/ann/.local/state/quennick/logs"));
    ASSERT_TRUE(make_folders(fs, "logs").ok());
    EXPECT_TRUE(fs.dirs.count("logs"));
}

}  // namespace
}  // namespace qn
