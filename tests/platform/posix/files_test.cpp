// Files through the real calls, in a folder of their own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "platform/ansi.h"
#include "platform/posix/posix_services.h"
#include "posix_test_util.h"

namespace {

using namespace qn::platform;
using qn::posixtest::ChildOptions;
using qn::posixtest::ChildRoutine;
using qn::posixtest::run_child;
using qn::posixtest::TempDir;

class PosixFilesTest : public ::testing::Test {
protected:
    posix::PosixFiles files;
    TempDir dir;
};

TEST_F(PosixFilesTest, WrittenTextReadsBackAndFoldersMayExistAlready) {
    std::string logs = dir.file("logs");
    ASSERT_TRUE(files.make_dir(logs).ok());
    ASSERT_TRUE(files.make_dir(logs).ok());
    EXPECT_TRUE(files.exists(logs));

    std::string path = logs + "/run.log";
    auto f = files.create(path);
    ASSERT_TRUE(f.ok()) << f.error();
    std::string text = "first line\r\n";
    text += std::string("\x97\x00\xff", 3);  // bytes, not characters
    ASSERT_TRUE(f.value()->write(text).ok());
    ASSERT_TRUE(f.value()->flush().ok());
    ASSERT_TRUE(f.value()->sync().ok());
    // Written text is with the OS at once, before any close.
    EXPECT_EQ(files.read_all(path).value_or(""), text);
    ASSERT_TRUE(f.value()->close().ok());
    EXPECT_TRUE(f.value()->close().ok());
    EXPECT_FALSE(f.value()->write("late").ok());

    auto again = files.create(path);  // truncates
    ASSERT_TRUE(again.ok());
    ASSERT_TRUE(again.value()->close().ok());
    EXPECT_EQ(files.read_all(path).value_or("x"), "");

    ASSERT_TRUE(files.remove(path).ok());
    EXPECT_FALSE(files.exists(path));
}

// A text file for people (the run log) is UTF-8 on Linux: a window title's
// em dash, a pound sign and the line ends as they should be.
TEST_F(PosixFilesTest, TextFilesAreWrittenInUtf8) {
    const std::string path = dir.file("run.log");
    auto f = files.create_text(path);
    ASSERT_TRUE(f.ok()) << f.error();
    ASSERT_TRUE(f.value()->write("Ringing Room \x97 Chrome\t\xa3 1\x81\r\n").ok());
    ASSERT_TRUE(f.value()->close().ok());
    EXPECT_EQ(files.read_all(path).value_or(""), "Ringing Room \u2014 Chrome\t\u00a3 1?\r\n");
}

TEST_F(PosixFilesTest, FailuresNameTheCallAndThePath) {
    std::string missing = dir.file("nope/file.ini");
    auto c = files.create(missing);
    ASSERT_FALSE(c.ok());
    EXPECT_EQ(c.error(), "open(" + missing + "): No such file or directory");
    auto r = files.read_all(dir.file("absent.ini"));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().rfind("open(", 0), 0u);
    auto rm = files.remove(dir.file("absent.ini"));
    ASSERT_FALSE(rm.ok());
    EXPECT_EQ(rm.error().rfind("unlink(", 0), 0u);

    // A file where the folder should be.
    std::string plain = dir.file("plain");
    ASSERT_TRUE(files.create(plain).ok());
    auto m = files.make_dir(plain);
    ASSERT_FALSE(m.ok());
    EXPECT_EQ(m.error(), "mkdir(" + plain + "): File exists");
}

// A reader never finds the file missing or half written while it is being
// replaced again and again.
TEST_F(PosixFilesTest, ReplaceIsAtomicForReaders) {
    std::string target = dir.file("settings.ini"), temp = dir.file("settings.tmp");
    std::string small = "a=1\n", large(20000, 'b');
    {
        auto f = files.create(target);
        ASSERT_TRUE(f.ok());
        ASSERT_TRUE(f.value()->write(small).ok());
    }
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        posix::PosixFiles own;
        while (!done) {
            auto r = own.read_all(target);
            if (!r.ok() || (r.value() != small && r.value() != large)) ++torn;
        }
    });
    for (int i = 0; i < 200; ++i) {
        auto f = files.create(temp);
        ASSERT_TRUE(f.ok());
        ASSERT_TRUE(f.value()->write(i % 2 ? small : large).ok());
        ASSERT_TRUE(f.value()->close().ok());
        auto rep = files.replace(temp, target);
        ASSERT_TRUE(rep.ok()) << rep.error();
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_FALSE(files.exists(temp));
    EXPECT_EQ(files.read_all(target).value_or(""), small);
}

TEST_F(PosixFilesTest, LinesFromTwoThreadsStayWhole) {
    std::string path = dir.file("shared.log");
    auto f = files.create(path);
    ASSERT_TRUE(f.ok());
    OutFile* out = f.value().get();
    std::string a(300, 'a'), b(300, 'b');
    std::thread other([&] {
        for (int i = 0; i < 500; ++i) (void)out->write(a + "\n");
    });
    for (int i = 0; i < 500; ++i) (void)out->write(b + "\n");
    other.join();
    std::string all = files.read_all(path).value_or("");
    ASSERT_EQ(all.size(), 1000u * 301u);
    for (std::size_t at = 0; at < all.size(); at += 301) {
        std::string line = all.substr(at, 301);
        ASSERT_TRUE(line == a + "\n" || line == b + "\n") << "torn at byte " << at;
    }
}

// Linux names are UTF-8, the program's text code page 1252: a folder's name
// is shown and logged as it reads, what 1252 lacks as '?', and a byte that
// is no UTF-8 as it is. An error names the path the same way.
TEST_F(PosixFilesTest, NamesAreShownAsTheProgramsText) {
    const struct {
        const char* name;
        const char* shown;
    } rows[] = {{"Gl\xC3\xB6" "ckner \xE2\x80\x93 \xC3\x9F\xC3\xA9", "Gl\xF6" "ckner \x96 \xDF\xE9"},
                {"logs/run_2026-12-08", "logs/run_2026-12-08"},
                {"\xE2\x82\xAC \xE6\x97\xA5\xF0\x9F\x94\x94", "\x80 ??"},
                {"caf\xE9 \xC3", "caf\xE9 \xC3"}};
    for (const auto& r : rows) {
        EXPECT_EQ(files.shown_path(r.name), r.shown) << r.name;
        if (std::string(r.shown).find('?') == std::string::npos && std::string(r.name).find("caf") != 0)
            EXPECT_EQ(ansi::cp1252_to_utf8(r.shown), r.name);
    }
    const std::string missing = dir.file(rows[0].name) + "/none.ini";
    EXPECT_NE(files.read_all(missing).error().find(rows[0].shown), std::string::npos) << files.read_all(missing).error();
}

// One form in every locale: year first, so that names made of it sort.
TEST_F(PosixFilesTest, LocalTimeIsYearFirstWhateverTheLocale) {
    ::setenv("LC_ALL", "en_US.UTF-8", 1);
    LocalDateTime now = files.now();
    ::unsetenv("LC_ALL");
    const time_t t = ::time(nullptr);
    tm local{};
    localtime_r(&t, &local);
    EXPECT_EQ(now.date.size(), 10u) << now.date;
    EXPECT_EQ(now.date.substr(0, 5), std::to_string(1900 + local.tm_year) + "-") << now.date;
    EXPECT_EQ(now.time_of_day.size(), 8u) << now.time_of_day;
    EXPECT_EQ(now.time_of_day[2], ':') << now.time_of_day;
}

// ---- in child processes: changing stderr, and an unprivileged user ----------

int redirect_stderr_child() {
    posix::PosixFiles files;
    const char* path = std::getenv("QN_TEST_LOG");
    auto r = files.redirect_stderr(path);
    if (!r.ok()) {
        std::printf("error=%s\n", r.error().c_str());
        return 1;
    }
    std::fprintf(stderr, "to the log\n");
    ::write(2, "raw\n", 4);
    return 0;
}
const ChildRoutine redirect_child("redirect_stderr", redirect_stderr_child);

TEST_F(PosixFilesTest, RedirectedStandardErrorAppendsToTheFile) {
    std::string log = dir.file("err.log");
    {
        auto f = files.create(log);
        ASSERT_TRUE(f.ok());
        ASSERT_TRUE(f.value()->write("before\n").ok());
    }
    ChildOptions o;
    o.env = {"QN_TEST_LOG=" + log};
    auto child = run_child("redirect_stderr", o);
    ASSERT_TRUE(WIFEXITED(child.status) && WEXITSTATUS(child.status) == 0) << child.out;
    EXPECT_EQ(files.read_all(log).value_or(""), "before\nto the log\nraw\n");
}

// Root writes into read-only folders, so the child gives up root first.
int read_only_child() {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 2;
    posix::PosixFiles files;
    std::string ro = std::getenv("QN_TEST_DIR");
    auto c = files.create(ro + "/new.ini");
    auto m = files.make_dir(ro + "/logs");
    auto rep = files.replace(ro + "/a.ini", ro + "/b.ini");
    std::printf("create=%s\nmkdir=%s\nreplace=%s\n", c.ok() ? "ok" : c.error().c_str(),
                m.ok() ? "ok" : m.error().c_str(), rep.ok() ? "ok" : rep.error().c_str());
    return 0;
}
const ChildRoutine read_only("read_only_dir", read_only_child);

TEST_F(PosixFilesTest, ReadOnlyFolderFailuresNameTheCall) {
    std::string ro = dir.file("ro");
    ASSERT_TRUE(files.make_dir(ro).ok());
    ASSERT_TRUE(files.create(ro + "/a.ini").ok());
    ASSERT_EQ(::chmod(ro.c_str(), 0555), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    ChildOptions o;
    o.env = {"QN_TEST_DIR=" + ro};
    auto child = run_child("read_only_dir", o);
    ::chmod(ro.c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(child.status) && WEXITSTATUS(child.status) == 0) << child.out;
    EXPECT_EQ(child.values["create"], "open(" + ro + "/new.ini): Permission denied");
    EXPECT_EQ(child.values["mkdir"], "mkdir(" + ro + "/logs): Permission denied");
    EXPECT_EQ(child.values["replace"],
              "rename(" + ro + "/a.ini, " + ro + "/b.ini): Permission denied");
}

}  // namespace
