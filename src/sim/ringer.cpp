#include "sim/ringer.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "service/program.h"
#include "core/text.h"

namespace qn::sim {

using platform::sim::kNever;

namespace {

constexpr std::int64_t kSecond = 1000000;
// After the last blow of a run of set length: long enough for the pause
// that ends the touch, so its event log is written, then Q.
constexpr std::int64_t kQuitAfterLastBlowUs = 8 * kSecond;
// A touch whose automatic bells have not brought the ringer in by then is
// not going to ring.
constexpr std::int64_t kSilentTouchUs = 30 * kSecond;

std::string trimmed(const std::string& s) {
    std::size_t end = s.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

bool has(const std::string& s, const char* part) { return s.find(part) != std::string::npos; }

// The nearest line with text at or above line `from`; 0 when none.
int nearest_text(const Screen& screen, int from, std::string* text) {
    for (int line = std::min(from, Screen::kRows); line >= 1; --line) {
        std::string t = trimmed(screen.line_text(line));
        if (!t.empty()) {
            *text = t;
            return line;
        }
    }
    text->clear();
    return 0;
}

// The service screen: the calibration summary under the menu (its last
// lines, as a long one scrolls), or the row counter once ringing has begun.
bool service_screen(const Screen& screen) {
    if (screen.line_text(22).rfind("Row count = ", 0) == 0) return true;
    for (int line = kScratchFirstLine; line <= Screen::kRows; ++line) {
        const std::string t = screen.line_text(line);
        if (t.rfind("Currently send keys to ", 0) == 0 || t.rfind("Currently Open - Send keys", 0) == 0) return true;
    }
    return false;
}

}  // namespace

SimRinger::SimRinger(platform::sim::SimTime& time, platform::sim::SimBell& bell, const Screen& screen,
                     RingerConfig cfg)
    : time_(time), bell_(bell), screen_(screen), cfg_(cfg) {}

// A person reads the last thing written, where the cursor is.
SimRinger::Prompt SimRinger::recognise(const Screen& screen, int* line) {
    std::string last, before;
    const int at = nearest_text(screen, screen.cursor_line(), &last);
    if (at == 0) return Prompt::None;
    nearest_text(screen, at - 1, &before);
    *line = at;
    if (has(last, "then press any key [or Q to exit]") ||
        has(last, "Press any key to go on with these settings"))
        return Prompt::PressAnyKey;
    if (has(last, "NOW ring the bell *Hand* and *Back*")) return Prompt::RingStage1;
    if (has(last, "Then press any key, for the results") && has(before, "NOW ring bell HAND and BACK  **ONCE** only"))
        return Prompt::RingOnce;
    if (has(last, "Is this a handbell (ON/OFF sensing)?")) return Prompt::Handbell;
    if (has(last, "NB If bell does not sound")) return Prompt::TargetMenu;
    if (has(last, "Tower ID to ring in")) return Prompt::TowerId;
    if (has(last, "Your bell for the key \"j\"")) return Prompt::TowerBell;
    if (has(last, "Your bell for the key \"f\"") || has(last, "account e-mail to log in") ||
        has(last, "Ringing Room password for"))
        return Prompt::TowerOther;
    if (has(last, "Retry (R) or do completely new configuration (c)")) return Prompt::PortRetry;
    if (has(last, "Press Q to Quit.  Then restart program")) return Prompt::Interchanged;
    if (has(lower(last), "[enter] to quit")) return Prompt::PressEnter;
    if (has(last, "press P to change target program")) return Prompt::TargetNotFound;
    if (has(last, "Press Q to Quit")) return Prompt::QuitOnly;
    return Prompt::None;
}

std::uint64_t SimRinger::screen_hash() const {
    std::uint64_t h = 1469598103934665603ull;
    for (int line = 1; line <= Screen::kRows; ++line)
        for (char ch : screen_.line_text(line)) h = (h ^ static_cast<unsigned char>(ch)) * 1099511628211ull;
    return h;
}

void SimRinger::press(std::int64_t at, int key, bool cancel_on_change) {
    Planned p{at, key, cancel_on_change, cancel_on_change ? screen_hash() : 0};
    auto it = std::upper_bound(keys_.begin(), keys_.end(), at,
                               [](std::int64_t t, const Planned& k) { return t < k.due_us; });
    keys_.insert(it, p);
}

void SimRinger::type_number(std::int64_t at, int n) {
    const std::string digits = std::to_string(n);
    for (char d : digits) {
        press(at, d, false);
        at += 150000;
    }
    press(at, '\r', false);
}

void SimRinger::ring_then_press(std::int64_t now) {
    std::int64_t end = 0;
    {
        std::lock_guard<std::mutex> g(time_.mutex());
        end = bell_.ring_pull(now + static_cast<std::int64_t>(cfg_.reaction_s * kSecond), cfg_.plan.rhythm);
    }
    if (cfg_.autonomous) press(end + kSecond, cfg_.any_key, true);
}

void SimRinger::start_service(std::int64_t now) {
    in_service_ = true;
    service_from_us_ = now + static_cast<std::int64_t>(cfg_.service_delay_s * kSecond);
    std::lock_guard<std::mutex> g(time_.mutex());
    bell_.start_service(service_from_us_, cfg_.plan);
    if (cfg_.on_service) cfg_.on_service(service_from_us_);
}

void SimRinger::act(Prompt p, int, std::int64_t now) {
    const std::int64_t soon = now + static_cast<std::int64_t>(cfg_.reaction_s * kSecond);
    if (p == Prompt::RingStage1 || p == Prompt::RingOnce) {
        ++pulls_asked_;
        if (cfg_.autonomous && pulls_asked_ > 2 + cfg_.max_repeats) {
            press(soon, 'Q', false);  // calibration is not going to work: give up
            return;
        }
        ring_then_press(now);
        return;
    }
    if (!cfg_.autonomous) return;
    switch (p) {
    case Prompt::PressAnyKey: press(soon, cfg_.any_key, true); break;
    case Prompt::Handbell: press(soon, cfg_.handbell, true); break;
    case Prompt::TargetMenu:
        type_number(soon, ++target_menus_ > 3 ? 0 : cfg_.target);
        break;
    case Prompt::TowerId:
        if (cfg_.tower > 0)
            type_number(soon, static_cast<int>(cfg_.tower));
        else
            press(soon, '\r', true);
        break;
    case Prompt::TowerBell: type_number(soon, cfg_.place); break;
    case Prompt::TowerOther: press(soon, '\r', true); break;
    case Prompt::PortRetry: press(soon, 'c', true); break;
    case Prompt::PressEnter: press(soon, '\r', true); break;
    case Prompt::TargetNotFound: press(soon, not_found_++ == 0 ? 'P' : 'Q', true); break;
    case Prompt::Interchanged:
    case Prompt::QuitOnly: press(soon, 'Q', true); break;
    default: break;
    }
}

void SimRinger::poll() {
    const std::int64_t now = time_.now_locked();
    if (started_us_ < 0) started_us_ = now;
    if (cfg_.quit_after_s > 0 && !gave_up_ && now - started_us_ > static_cast<std::int64_t>(cfg_.quit_after_s * kSecond)) {
        gave_up_ = true;
        press(now, 'Q', false);
    }
    if (!in_service_ && service_screen(screen_)) start_service(now);
    if (in_service_ && !cfg_.touch_file.empty()) {
        if (cfg_.autonomous) ring_with_automatic_bells(now);
        return;
    }
    if (in_service_) {
        // The person has the keyboard in service; the ringer only rings,
        // and ends a run of set length.
        if (!quit_planned_) {
            std::int64_t end = kNever;
            {
                std::lock_guard<std::mutex> g(time_.mutex());
                end = bell_.service_end();
            }
            if (end != kNever) press(end + kQuitAfterLastBlowUs, 'Q', false);
            quit_planned_ = true;
        }
        return;
    }
    // Still busy with the last question: a number being typed changes the
    // screen as it goes, and is not a new question.
    if (!keys_.empty()) return;
    int line = 0;
    const Prompt p = recognise(screen_, &line);
    if (p == Prompt::None) return;
    const std::uint64_t hash = screen_hash();
    if (p == last_prompt_ && line == last_line_ && hash == last_hash_) return;
    last_prompt_ = p;
    last_line_ = line;
    last_hash_ = hash;
    act(p, line, now);
}

// ---- ringing with the automatic bells ------------------------------------------------

// Z once the service has begun, the set-up's questions answered, then a
// touch started with A; after each touch a pause, then the next, until
// the rows asked for are rung.
void SimRinger::ring_with_automatic_bells(std::int64_t now) {
    if (!keys_.empty() || quit_planned_ || now < service_from_us_) return;
    if (!set_up_asked_) {
        set_up_asked_ = true;
        press(now, 'Z', false);
        return;
    }
    if (touches_started_ == 0) {
        answer_set_up(now);
        return;
    }
    std::lock_guard<std::mutex> g(time_.mutex());
    if (bell_.following()) {
        if (bell_.rows_rung() == rows_before_touch_ && now > touch_from_us_ + kSilentTouchUs) {
            const std::string said = screen_line_with("Length of rows does not match");
            give_up(now, "the automatic bells did not ring within " + std::to_string(kSilentTouchUs / kSecond) +
                             " s of A" + (said.empty() ? std::string() : ": the program said \"" + said + "\""));
        }
        return;
    }
    const std::int64_t last = std::max(now, bell_.last_blow_us());
    if (cfg_.plan.rows >= 0 && bell_.rows_rung() >= cfg_.plan.rows) {
        quit_planned_ = true;
        press(last + kQuitAfterLastBlowUs, 'Q', false);
        return;
    }
    const std::int64_t next = last + static_cast<std::int64_t>(cfg_.plan.pause_s * kSecond);
    if (cfg_.take_delay) press(next, 'K', false);
    start_touch(next + (cfg_.take_delay ? kSecond : 0));
}

void SimRinger::answer_set_up(std::int64_t now) {
    int line = 0;
    std::string last;
    if (nearest_text(screen_, screen_.cursor_line(), &last) == 0) return;
    line = screen_.cursor_line();
    const std::uint64_t hash = screen_hash();
    if (line == last_line_ && hash == last_hash_) return;
    last_line_ = line;
    last_hash_ = hash;
    std::int64_t soon = now + static_cast<std::int64_t>(cfg_.reaction_s * kSecond);
    const int bells = cfg_.plan.rhythm.bells;
    if (has(last, "Give number of bells being rung")) {
        type_number(soon, bells);
    } else if (has(last, "Give numbers of bells to ring")) {
        std::string others;
        for (int b = 1; b <= bells; ++b)
            if (b != cfg_.place) others += "1234567890ET"[b - 1];
        for (char ch : others + "\r") press(soon += 100000, ch, false);
    } else if (has(last, "Give the name of the method/touch file")) {
        // Asked again: the program did not find the file, or turned it down.
        if (file_given_) {
            std::string why = screen_text_between("file=", " not found");
            if (!why.empty()) {
                why = "there is no file " + why;
            } else {
                why = screen_line_with("omposition is unsuitable");
                why = "method did not load" + (why.empty() ? std::string() : " (" + why + ")");
            }
            for (char ch : std::string("T\r")) press(soon += 100000, ch, false);
            give_up(soon + kSecond, "the program did not take the touch file " + cfg_.touch_file + ": " + why);
            return;
        }
        file_given_ = true;
        for (char ch : cfg_.touch_file + "\r") press(soon += 50000, ch, false);
    } else if (has(last, "Give peal speed in *Minutes*")) {
        type_number(soon, static_cast<int>(std::lround(std::clamp(cfg_.plan.rhythm.peal_minutes, 60.0, 300.0))));
        std::lock_guard<std::mutex> g(time_.mutex());
        start_touch(soon + 3 * kSecond);
    }
}

// H first, as its first blow is a handstroke (the program starts at
// backstroke); it listens from the moment it presses A: the program's first
// bells come seconds later. Lock held.
void SimRinger::start_touch(std::int64_t at) {
    ++touches_started_;
    touch_from_us_ = at;
    rows_before_touch_ = bell_.rows_rung();
    press(at, 'H', false);
    press(at + kSecond / 2, 'A', false);
    follow_from_us_ = at;
}

// Q, and the reason for the closing report.
void SimRinger::give_up(std::int64_t at, const std::string& why) {
    gave_up_why_ = why;
    quit_planned_ = true;
    press(at, 'Q', false);
}

// The text after `from` up to `to` on the screen, wrapped lines joined.
std::string SimRinger::screen_text_between(const char* from, const char* to) const {
    std::string all;
    for (int line = 1; line <= Screen::kRows; ++line) all += screen_.line_text(line);
    const std::size_t start = all.rfind(from);
    const std::size_t end = start == std::string::npos ? start : all.find(to, start);
    if (end == std::string::npos) return {};
    return all.substr(start + std::string(from).size(), end - start - std::string(from).size());
}

std::string SimRinger::screen_line_with(const char* part) const {
    for (int line = Screen::kRows; line >= 1; --line) {
        const std::string t = trimmed(screen_.line_text(line));
        if (has(t, part)) return t;
    }
    return {};
}

// A key planned for a question is dropped when the program has moved on
// without it (a data-mode window that ended by itself, say).
void SimRinger::drop_stale_keys() {
    const std::int64_t now = time_.now_locked();
    while (!keys_.empty() && keys_.front().cancel_on_change && keys_.front().due_us <= now &&
           keys_.front().screen_hash != screen_hash())
        keys_.pop_front();
}

bool SimRinger::key_ready() {
    drop_stale_keys();
    return !keys_.empty() && keys_.front().due_us <= time_.now_locked();
}

// Interactive, the ringer types only the Q that ends a run of set length
// (planned at the first look at the service screen) or the one of
// quit_after_s.
bool SimRinger::input_ended() {
    return !cfg_.autonomous && cfg_.quit_after_s <= 0 && keys_.empty() && (!in_service_ || quit_planned_);
}

// The touch's rows and bells are read as the program takes the A: the
// first touch's set-up answers have been typed only moments before, and
// read earlier a touch on more than six bells was followed as six.
int SimRinger::take_key() {
    const int k = keys_.front().key;
    keys_.pop_front();
    if (k == 'A' && follow_from_us_ >= 0 && cfg_.touch_rows) {
        const platform::sim::FollowPlan plan = cfg_.touch_rows();
        std::lock_guard<std::mutex> g(time_.mutex());
        bell_.follow(plan, follow_from_us_);
        follow_from_us_ = -1;
    }
    return k;
}

}  // namespace qn::sim
