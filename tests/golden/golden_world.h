// The world around a golden run: files kept in memory (with a fixed date
// and a disk that can fill up), a person who answers questions and presses
// keys as a script says, and a record of everything the run shows and
// leaves, in a text form meant to be read in a diff.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/files.h"
#include "platform/sim/sim_console.h"
#include "sim/ringer.h"

namespace qn::golden {

// Files in memory. The date and time of day are always the same, so run
// logs have the same names and date lines on every machine, in every time
// zone and locale, on any day. full: every write fails, as on a full disk.
class MemoryFiles : public platform::Files {
public:
    platform::Result<void> make_dir(const std::string& path) override;
    bool exists(const std::string& path) override;
    platform::Result<std::unique_ptr<platform::OutFile>> create(const std::string& path) override;
    platform::Result<std::string> read_all(const std::string& path) override;
    platform::Result<void> replace(const std::string& from, const std::string& to) override;
    platform::Result<void> remove(const std::string& path) override;
    platform::Result<void> redirect_stderr(const std::string&) override { return {}; }
    platform::LocalDateTime now() override { return {"2026-12-08", "04:45:00"}; }

    std::map<std::string, std::string> files;
    std::set<std::string> dirs;
    bool full = false;
};

// What the person types: the answer to each question in turn, all at once
// 0.8 s after the screen shows the question, and keys at set times; the
// simulated ringer's own keys (its answers in calibration, Q at the end) go
// on as before.
struct Answer {
    std::string prompt;  // text the screen must show
    std::string keys;    // '\r' for Enter
};
struct TimedKeys {
    double at_s;
    std::string keys;
};

class Person : public platform::sim::KeySource {
public:
    Person(platform::sim::SimTime& time, sim::SimRinger& ringer, const platform::sim::SimConsole& console,
           std::vector<Answer> answers, const std::vector<TimedKeys>& timed);

    void poll() override;
    bool key_ready() override;
    int take_key() override;
    std::int64_t next_key_at() override;

private:
    bool screen_shows(const std::string& text) const;
    bool mine_due(std::int64_t now) const { return !keys_.empty() && keys_.front().first <= now; }

    platform::sim::SimTime& time_;
    sim::SimRinger& ringer_;
    const platform::sim::SimConsole& console_;
    std::vector<Answer> answers_;
    std::size_t next_answer_ = 0;
    std::deque<std::pair<std::int64_t, int>> keys_;  // (due, key) in time order
};

// The screen as the run goes: at each wait of the program, the rows that
// changed since the last wait, with the wait's time, and the happenings of
// the world outside where they came.
class ScreenRecord {
public:
    void at_wait(std::int64_t now_us, const platform::sim::SimConsole& console);
    void note(std::int64_t now_us, const std::string& what);
    const std::string& text() const { return text_; }

private:
    std::vector<platform::ConsoleCell> last_;
    std::string text_;
};

std::string seconds(std::int64_t us);       // "12.345678"
std::string printable(const std::string& s);  // bytes outside ' '..'~' as \xHH
// A file's bytes as lines "| ...": CR LF and LF endings told apart.
std::string file_lines(const std::string& bytes);

}  // namespace qn::golden
