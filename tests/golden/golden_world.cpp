#include "golden_world.h"

#include <algorithm>
#include <cstdio>

namespace qn::golden {

namespace {

class MemoryOutFile : public platform::OutFile {
public:
    MemoryOutFile(MemoryFiles& fs, std::string path) : fs_(fs), path_(std::move(path)) {}
    platform::Result<void> write(std::string_view bytes) override {
        if (fs_.full) return platform::fail("WriteFile " + path_ + ": There is not enough space on the disk");
        fs_.files[path_].append(bytes);
        return {};
    }
    platform::Result<void> flush() override { return {}; }
    platform::Result<void> sync() override { return {}; }
    platform::Result<void> close() override { return {}; }

private:
    MemoryFiles& fs_;
    std::string path_;
};

std::string parent(const std::string& p) {
    const std::size_t at = p.rfind('/');
    return at == std::string::npos ? std::string() : p.substr(0, at);
}

constexpr std::int64_t kReactionUs = 800000;  // from seeing a question to typing


}  // namespace

// ---- files --------------------------------------------------------------------------

platform::Result<void> MemoryFiles::make_dir(const std::string& path) {
    dirs.insert(path);
    return {};
}

bool MemoryFiles::exists(const std::string& path) { return files.count(path) || dirs.count(path); }

platform::Result<std::unique_ptr<platform::OutFile>> MemoryFiles::create(const std::string& path) {
    const std::string dir = parent(path);
    if (!dir.empty() && !dirs.count(dir))
        return platform::fail("CreateFile " + path + ": The system cannot find the path specified");
    files[path].clear();
    return std::unique_ptr<platform::OutFile>(new MemoryOutFile(*this, path));
}

platform::Result<std::string> MemoryFiles::read_all(const std::string& path) {
    auto it = files.find(path);
    if (it == files.end()) return platform::fail("CreateFile " + path + ": The system cannot find the file specified");
    return it->second;
}

platform::Result<void> MemoryFiles::replace(const std::string& from, const std::string& to) {
    auto it = files.find(from);
    if (it == files.end()) return platform::fail("MoveFileEx " + from + ": The system cannot find the file specified");
    std::string bytes = std::move(it->second);
    files.erase(it);
    files[to] = std::move(bytes);
    return {};
}

platform::Result<void> MemoryFiles::remove(const std::string& path) {
    files.erase(path);
    return {};
}

// ---- the person ---------------------------------------------------------------------

Person::Person(platform::sim::SimTime& time, sim::SimRinger& ringer, const platform::sim::SimConsole& console,
               std::vector<Answer> answers, const std::vector<TimedKeys>& timed)
    : time_(time), ringer_(ringer), console_(console), answers_(std::move(answers)) {
    for (const TimedKeys& t : timed) {
        std::int64_t at = static_cast<std::int64_t>(t.at_s * 1e6);
        for (char k : t.keys) {
            keys_.emplace_back(at, static_cast<unsigned char>(k));
        }
    }
    std::stable_sort(keys_.begin(), keys_.end(), [](auto& a, auto& b) { return a.first < b.first; });
}

bool Person::screen_shows(const std::string& text) const {
    const auto& cells = console_.shown();
    std::string row;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        row.push_back(static_cast<char>(cells[i].ch));
        if ((i + 1) % static_cast<std::size_t>(console_.cols()) != 0) continue;
        if (row.find(text) != std::string::npos) return true;
        row.clear();
    }
    return false;
}

void Person::poll() {
    ringer_.poll();
    if (next_answer_ >= answers_.size() || !screen_shows(answers_[next_answer_].prompt)) return;
    std::int64_t at = time_.now_locked() + kReactionUs;
    for (char k : answers_[next_answer_].keys) {
        auto it = keys_.begin();
        while (it != keys_.end() && it->first <= at) ++it;
        keys_.insert(it, {at, static_cast<unsigned char>(k)});
    }
    ++next_answer_;
}

bool Person::key_ready() { return mine_due(time_.now_locked()) || ringer_.key_ready(); }

int Person::take_key() {
    if (mine_due(time_.now_locked())) {
        const int k = keys_.front().second;
        keys_.pop_front();
        return k;
    }
    return ringer_.take_key();
}

std::int64_t Person::next_key_at() {
    const std::int64_t theirs = ringer_.next_key_at();
    return keys_.empty() ? theirs : std::min(theirs, keys_.front().first);
}

// ---- the record ---------------------------------------------------------------------

std::string seconds(std::int64_t us) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%lld.%06lld", static_cast<long long>(us / 1000000),
                  static_cast<long long>(us % 1000000));
    return buf;
}

std::string printable(const std::string& s) {
    std::string out;
    for (unsigned char ch : s) {
        if (ch >= ' ' && ch <= '~') {
            out.push_back(static_cast<char>(ch));
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", ch);
            out += buf;
        }
    }
    return out;
}

std::string file_lines(const std::string& bytes) {
    std::string out, last;
    long repeats = 0;
    auto end_repeats = [&] {
        if (repeats > 0) out += "| ... and the line above " + std::to_string(repeats) + " times more\n";
        repeats = 0;
    };
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        std::string line = bytes.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const char* ending = " [no line end]";
        if (end != std::string::npos) {
            ending = " [LF]";
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
                ending = "";
            }
        }
        line = "| " + printable(line) + ending + "\n";
        if (line == last) {
            ++repeats;
        } else {
            end_repeats();
            out += last = line;
        }
        start = end == std::string::npos ? bytes.size() : end + 1;
    }
    end_repeats();
    return out;
}

// A row as "rNN |text|", trailing blanks left off, then its colours (the
// text attribute as two hex digits, background and foreground, times how
// many cells) when they are not those last recorded for the row. Rows in a
// row that read the same are one line, "rNN-rMM |text|".
void ScreenRecord::at_wait(std::int64_t now_us, const platform::sim::SimConsole& console) {
    const auto& cells = console.shown();
    const int cols = console.cols();
    if (cells == last_) return;
    std::vector<std::pair<int, std::string>> rows;  // (row from 1, what it shows)
    for (int r = 0; r < console.rows(); ++r) {
        const auto row = cells.begin() + r * cols;
        const bool was = static_cast<int>(last_.size()) >= (r + 1) * cols;
        if (was && std::equal(row, row + cols, last_.begin() + r * cols)) continue;
        std::string text;
        for (int c = 0; c < cols; ++c) text.push_back(static_cast<char>(row[c].ch));
        text.erase(text.find_last_not_of(' ') + 1);
        std::string shown = "|" + printable(text) + "|";
        bool colours_same = was;
        for (int c = 0; was && c < cols; ++c) colours_same &= row[c].attr == last_[r * cols + c].attr;
        for (int c = 0; !colours_same && c < cols;) {
            int n = 1;
            while (c + n < cols && row[c + n].attr == row[c].attr) ++n;
            char run[16];
            std::snprintf(run, sizeof run, " %02x*%d", row[c].attr, n);
            shown += run;
            c += n;
        }
        rows.emplace_back(r + 1, shown);
    }
    std::string block;
    for (std::size_t i = 0; i < rows.size();) {
        std::size_t j = i;
        while (j + 1 < rows.size() && rows[j + 1].first == rows[j].first + 1 && rows[j + 1].second == rows[i].second) ++j;
        char head[16];
        if (j == i)
            std::snprintf(head, sizeof head, "r%02d ", rows[i].first);
        else
            std::snprintf(head, sizeof head, "r%02d-r%02d ", rows[i].first, rows[j].first);
        block += head + rows[i].second + "\n";
        i = j + 1;
    }
    last_ = cells;
    text_ += "@ " + seconds(now_us) + "\n" + block;
}

void ScreenRecord::note(std::int64_t now_us, const std::string& what) {
    text_ += "! " + seconds(now_us) + " " + what + "\n";
}

}  // namespace qn::golden
