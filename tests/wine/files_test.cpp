// Files, folders, standard error and local time against the real Win32 calls.
#include "wine_support.h"

#include <cstdio>

namespace qn::wine_test {
namespace {

class Win32Files : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = "qn-files-" + std::to_string(GetCurrentProcessId()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(files().make_dir(dir_).ok());
    }
    void TearDown() override {
        RemoveAllUnder(dir_);
    }

    static platform::Files& files() { return *plat().files; }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    void write_file(const std::string& p, const std::string& bytes) {
        auto f = files().create(p);
        ASSERT_TRUE(f.ok()) << f.error();
        ASSERT_TRUE(f.value()->write(bytes).ok());
        ASSERT_TRUE(f.value()->close().ok());
    }
    std::string read_file(const std::string& p) {
        auto r = files().read_all(p);
        EXPECT_TRUE(r.ok()) << r.error();
        return r.ok() ? r.value() : std::string();
    }

private:
    // Leaves no litter in the prefix between runs.
    static void RemoveAllUnder(const std::string& d) {
        std::wstring w(d.begin(), d.end());
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((w + L"\\*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = fd.cFileName;
                if (name == L"." || name == L"..") continue;
                std::wstring full = w + L"\\" + name;
                if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    RemoveAllUnder(std::string(full.begin(), full.end()));
                } else {
                    DeleteFileW(full.c_str());
                }
            } while (FindNextFileW(h, &fd));
            FindClose(h);
        }
        RemoveDirectoryW(w.c_str());
    }

    std::string dir_;
};

TEST_F(Win32Files, WhatIsWrittenIsReadBackByteForByte) {
    // No text-mode translation: line ends, NULs and code page 1252 bytes stay.
    const std::string bytes("line\r\nbare\nnul\0dash\x97\xff end", 25);
    write_file(path("a.txt"), bytes);
    EXPECT_TRUE(files().exists(path("a.txt")));
    EXPECT_EQ(read_file(path("a.txt")), bytes);

    // Larger than any internal buffer.
    std::string big(200000, 'x');
    for (std::size_t i = 0; i < big.size(); i += 97) big[i] = static_cast<char>('a' + i % 26);
    write_file(path("big.txt"), big);
    EXPECT_EQ(read_file(path("big.txt")), big);
}

TEST_F(Win32Files, CreateTruncatesAnOldFile) {
    write_file(path("t.ini"), "a much longer old content\r\n");
    write_file(path("t.ini"), "new\r\n");
    EXPECT_EQ(read_file(path("t.ini")), "new\r\n");
}

TEST_F(Win32Files, FlushAndSyncHandTheTextToTheSystem) {
    auto f = files().create(path("log.txt"));
    ASSERT_TRUE(f.ok()) << f.error();
    ASSERT_TRUE(f.value()->write("first\r\n").ok());
    ASSERT_TRUE(f.value()->flush().ok());
    EXPECT_EQ(read_file(path("log.txt")), "first\r\n");  // while still open
    ASSERT_TRUE(f.value()->write("second\r\n").ok());
    ASSERT_TRUE(f.value()->sync().ok());
    EXPECT_EQ(read_file(path("log.txt")), "first\r\nsecond\r\n");
    ASSERT_TRUE(f.value()->write("third\r\n").ok());
    f.value().reset();  // dropping the file writes what is left
    EXPECT_EQ(read_file(path("log.txt")), "first\r\nsecond\r\nthird\r\n");
}

TEST_F(Win32Files, FoldersNestAndMayAlreadyExist) {
    ASSERT_TRUE(files().make_dir(path("logs")).ok());
    EXPECT_TRUE(files().make_dir(path("logs")).ok());
    write_file(path("logs/run.log"), "x");
    EXPECT_TRUE(files().exists(path("logs/run.log")));
    EXPECT_TRUE(files().exists(path("logs")));
    // A file in the way is an error, not an existing folder.
    EXPECT_TRUE(names_call(files().make_dir(path("logs/run.log")).error(), "CreateDirectory"));
    EXPECT_FALSE(files().exists(path("nothing/here")));
}

TEST_F(Win32Files, ReplacePutsTheNewFileInPlaceOfTheOld) {
    write_file(path("settings.ini"), "old");
    write_file(path("settings.tmp"), "new");
    ASSERT_TRUE(files().replace(path("settings.tmp"), path("settings.ini")).ok());
    EXPECT_EQ(read_file(path("settings.ini")), "new");
    EXPECT_FALSE(files().exists(path("settings.tmp")));
    // And onto a name that is free.
    write_file(path("a"), "A");
    ASSERT_TRUE(files().replace(path("a"), path("b")).ok());
    EXPECT_EQ(read_file(path("b")), "A");
    EXPECT_TRUE(names_call(files().replace(path("missing"), path("b")).error(), "MoveFileEx"));
}

TEST_F(Win32Files, RemoveAndMissingFilesReportTheCall) {
    write_file(path("gone.txt"), "x");
    ASSERT_TRUE(files().remove(path("gone.txt")).ok());
    EXPECT_FALSE(files().exists(path("gone.txt")));
    EXPECT_TRUE(names_call(files().remove(path("gone.txt")).error(), "DeleteFile"));
    EXPECT_TRUE(names_call(files().read_all(path("gone.txt")).error(), "CreateFile"));
    EXPECT_TRUE(names_call(files().create(path("no-dir/x.txt")).error(), "CreateFile"));
}

TEST(Win32FilesTime, NowGivesTheUsersDateAndTime) {
    SYSTEMTIME st;
    GetLocalTime(&st);
    platform::LocalDateTime t = plat().files->now();
    ASSERT_FALSE(t.short_date.empty());
    ASSERT_FALSE(t.long_time.empty());
    // Every short date format shows at least the last two digits of the year.
    char yy[3];
    std::snprintf(yy, sizeof yy, "%02d", st.wYear % 100);
    EXPECT_NE(t.short_date.find(yy), std::string::npos) << t.short_date;
    EXPECT_NE(t.long_time.find_first_of("0123456789"), std::string::npos) << t.long_time;
}

// The known folders, and this test program's own folder, as paths the
// program can use.
TEST(Win32FilesUserDirs, TheKnownFoldersAndTheProgramsFolderExist) {
    const platform::UserDirs d = plat().files->user_dirs();
    EXPECT_TRUE(d.windows && !d.xdg);
    for (const std::string& folder : {d.app_data, d.documents, d.program_dir}) {
        ASSERT_GT(folder.size(), 3u) << d.problem;
        EXPECT_EQ(folder[1], ':') << folder;
        EXPECT_TRUE(plat().files->exists(folder)) << folder;
    }
    EXPECT_TRUE(plat().files->exists(d.program_dir + "\\qn_win32_tests.exe")) << d.program_dir;
}

// Standard error and the log are one file: neither may overwrite the other.
// The child that writes them is another process: a fixed name.
constexpr const char* kSharedLogName = "qn-stderr-test.log";

TEST(Win32StderrLog, DISABLED_ChildSharesTheLogWithStandardError) {
    auto& files = *plat().files;
    auto log = files.create(kSharedLogName);
    if (!log.ok()) std::exit(2);
    log.value()->write("first\r\n");
    log.value()->flush();
    if (!files.redirect_stderr(kSharedLogName).ok()) std::exit(3);
    std::fputs("second\n", stderr);  // a text stream: \n becomes \r\n
    log.value()->write("third\r\n");
    log.value()->flush();
    DWORD n = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), "fourth\r\n", 8, &n, nullptr);
    log.value()->write("fifth\r\n");
    log.value()->close();
    std::exit(0);
}

TEST(Win32StderrLog, StandardErrorAndTheLogShareOneFile) {
    ChildRun child = run_disabled_test_in_child("Win32StderrLog.DISABLED_ChildSharesTheLogWithStandardError");
    ASSERT_TRUE(child.ended) << "the child did not end in time:\n" << child.output;
    EXPECT_EQ(child.exit_code, 0u) << child.output;
    auto text = plat().files->read_all(kSharedLogName);
    ASSERT_TRUE(text.ok()) << text.error();
    EXPECT_EQ(text.value(), "first\r\nsecond\r\nthird\r\nfourth\r\nfifth\r\n");
    plat().files->remove(kSharedLogName);
}

}  // namespace
}  // namespace qn::wine_test
