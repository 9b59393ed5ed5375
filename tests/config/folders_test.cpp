// Where the settings, run logs and touch files go, from what the system offers.
#include <gtest/gtest.h>

#include "config/folders.h"
#include "fakes/fake_platform.h"

namespace qn {
namespace {

TEST(Folders, ChosenFromTheOptionTheSettingsFileAndTheSystemsUserFolders) {
    platform::UserDirs linux_dirs;
    linux_dirs.xdg = true;
    linux_dirs.home = "/home/ann";
    linux_dirs.program_dir = "/usr/bin";
    platform::UserDirs windows_dirs;
    windows_dirs.windows = true;
    windows_dirs.app_data = R"(C:\Users\ann\AppData\Roaming)";
    windows_dirs.documents = R"(C:\Users\ann\Documents)";
    windows_dirs.program_dir = R"(C:\Users\ann\AppData\Local\Programs\Quennick)";
    const std::string installed_library = R"(C:\Users\ann\AppData\Local\Programs\Quennick\composition_library)";
    struct Row {
        const char* what;
        std::string config_home, state_home, home, folder;
        bool xdg, settings_here;
        std::string settings, logs, first_library;
        bool windows = false, beside_program = false;
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
        {"no user folders", "", "", "", "", false, false, "", "logs", "composition_library"},
        // Windows: the known folders, unless the settings file is here or beside the program.
        {"windows", "", "", "", "", false, false, R"(C:\Users\ann\AppData\Roaming\Quennick)",
         R"(C:\Users\ann\Documents\Quennick\logs)", R"(C:\Users\ann\AppData\Roaming\Quennick\composition_library)",
         true},
        {"windows, settings in the current folder", "", "", "", "", false, true, "", "logs", "composition_library",
         true, true},
        {"windows, settings beside the program", "", "", "", "", false, false,
         R"(C:\Users\ann\AppData\Local\Programs\Quennick)", R"(C:\Users\ann\AppData\Local\Programs\Quennick\logs)",
         installed_library, true, true},
        {"windows --folder", "", "", "", R"(D:\Bell)", false, false, R"(D:\Bell)", R"(D:\Bell\logs)",
         R"(D:\Bell\composition_library)", true, true},
        {"windows --folder with slashes", "", "", "", "D:/Bell", false, false, "D:/Bell", "D:/Bell/logs",
         "D:/Bell/composition_library", true},
        {"windows without its known folders", "", "", "", "", false, false, "", "logs", "composition_library", true},
    };
    for (const Row& r : rows) {
        platform::UserDirs d = r.windows ? windows_dirs : linux_dirs;
        d.xdg = r.xdg;
        d.config_home = r.config_home;
        d.state_home = r.state_home;
        d.home = r.home;
        // The one Windows row choosing the current folder with no settings file there lacks its known folders.
        if (r.windows && r.settings.empty() && !r.settings_here) d.app_data.clear();
        const Folders f = choose_folders(d, r.folder, SettingsFound{r.settings_here, r.beside_program});
        EXPECT_EQ(f.settings, r.settings) << r.what;
        EXPECT_EQ(f.logs, r.logs) << r.what;
        ASSERT_FALSE(f.libraries.empty()) << r.what;
        EXPECT_EQ(f.libraries.front(), r.first_library) << r.what;
        // The package's touch library comes last, and the setup program's beside the program.
        EXPECT_EQ(f.libraries.back() == "/usr/share/quennick/composition_library", r.xdg) << r.what;
        EXPECT_EQ(f.libraries.back() == installed_library, r.windows) << r.what;
        EXPECT_EQ(f.libraries.size(), r.xdg || (r.windows && r.first_library != installed_library) ? 2u : 1u)
            << r.what;
        EXPECT_FALSE(f.reason.empty()) << r.what;
    }
    linux_dirs.program_dir = "/work/build/linux/src";  // a build folder has no library beside it
    EXPECT_EQ(choose_folders(linux_dirs, "", {}).libraries.size(), 1u);
}

TEST(Folders, MadeWithTheirParentsButNeverADriveOrAShare) {
    test::FakeFiles fs;
    ASSERT_TRUE(make_folders(fs, "/home/ann/.local/state/quennick/logs").ok());
    EXPECT_TRUE(fs.dirs.count("/home/ann/.local/state") && fs.dirs.count("/home/ann/.local/state/quennick/logs"));
    ASSERT_TRUE(make_folders(fs, "logs").ok());
    EXPECT_TRUE(fs.dirs.count("logs"));
    fs.calls.clear();
    ASSERT_TRUE(make_folders(fs, R"(C:\Users\ann\Documents\Quennick\logs)").ok());
    ASSERT_TRUE(make_folders(fs, R"(\\school\home\ann\Quennick)").ok());
    EXPECT_EQ(fs.calls.front(), "make_dir C:/Users");
    EXPECT_EQ(fs.calls.back(), "make_dir //school/home/ann/Quennick");
    EXPECT_TRUE(fs.dirs.count("C:/Users/ann/Documents/Quennick/logs") && fs.dirs.count("//school/home/ann"));
    EXPECT_FALSE(fs.dirs.count("C:") || fs.dirs.count("//school") || fs.dirs.count("//school/home"));
    EXPECT_EQ(in_folder(R"(C:\Users\ann)", "x.ini"), R"(C:\Users\ann\x.ini)");
}

}  // namespace
}  // namespace qn
