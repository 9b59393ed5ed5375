// The tower link in the program: which bell a key rings, the link's start
// and end with the service, rings and calls at their due time, the target
// menu's questions for it, and its news for the screen and the run log.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qn {

struct Settings;
class RunClock;
class Dialog;
class TextSink;
class StrikeReport;
class DeliveryReport;
namespace platform {
struct Platform;
}
namespace link {
class TowerLink;
}

// The bell a key rings, as Ringing Room's own keys do: "1"-"9", "0", "-",
// "=" are bells 1-12; "j" and "f" the ringer's two bells. 0: no bell.
int bell_for_key(const Settings& cfg, char key);
// "j=6 f=7": the ringer's bells, as the log and the screen give them.
std::string tower_bells_text(const Settings& cfg);

// The one session with a tower, made again when its settings change.
class TowerService {
public:
    // target_rings_tower: whether the target program now chosen is a
    // Ringing Room one. heard: the other ringers' bells, for the striking
    // report; delivery: what became of each ring. The platform's network is
    // looked up at each start (none: this build cannot link).
    TowerService(Settings& cfg, RunClock& clock, Dialog& dialog, TextSink& log, platform::Platform& plat,
                 StrikeReport& heard, DeliveryReport& delivery, std::function<bool()> target_rings_tower);
    ~TowerService();
    TowerService(const TowerService&) = delete;
    TowerService& operator=(const TowerService&) = delete;

    // A Ringing Room target with a tower ID: rings go to the tower, not to
    // a browser, and nothing waits for a window's focus.
    bool in_use() const;

    // The service begins: starts the link when one is set (asking the
    // password of an account first).
    void start();
    // The target or the link's settings changed: once the service has
    // begun, the link is started again to match (or stopped).
    void restart();
    // Leaves the tower and ends the link; safe to call when none runs.
    void stop();

    // The key of a sensing point at its due time: its bell, at the stroke
    // the tower holds it at, to the tower (handstroke: the program's stroke,
    // shown when the monitor output is on). A ring the link cannot send now
    // is lost.
    void ring_key(char key, bool handstroke);
    // The same key, handed over as soon as its strike is taken, with its due
    // time: the link may send it ahead so that it reaches the tower when it
    // is due; ring_key at the due time then only says what became of it.
    void ring_ahead(char key, std::int64_t due_us);
    // A band on one interface box: its bells (1-based), taken at the next
    // start, which joins once for them all and assigns them to the account
    // where the tower lets it. Empty: the ringer's own bells, as by keys.
    void set_band(std::vector<int> bells) { band_ = std::move(bells); }
    const std::vector<int>& band() const { return band_; }
    // "j=6 f=7", or a band's "band 1 2 3 4 5 6".
    std::string bells_text() const;
    // A bell of the band at its due time, as itself at the stroke the tower
    // holds it (handstroke: the program's stroke, shown when the monitor
    // output is on). A ring the tower refuses or the link cannot send now
    // is lost.
    void ring_bell(int bell, bool handstroke);
    // A bell of the band handed over as soon as its strike is taken, as
    // ring_ahead does for a key; ring_bell at the due time says what became
    // of it.
    void ring_bell_ahead(int bell, std::int64_t due_us);
    // A key of automatic ringing (bell symbol or call key). True when the
    // link took it; false when keys are typed as before.
    bool export_key(char key);

    // Once per pass of the service loop: the link's news into the run log
    // and the bells heard to the striking report; false when no link is in
    // use.
    bool take_news();

    // The target menu's questions for a Ringing Room target: the tower ID
    // (empty: keys into the browser), the ringer's bells and an optional
    // log-in.
    void ask_settings();

    // Null while no link runs.
    const link::TowerLink* session() const { return session_.get(); }
    // Moves on at each start and stop: a line drawn before is out of date.
    unsigned generation() const { return generation_; }
    // The password typed at the target menu, for the next start only.
    const std::string& password() const { return password_; }

    // quennick-sim's figures: every ring of a sensing point's key, sent or
    // not (a band's ring: key 0).
    void on_ring(std::function<void(char key, int bell, bool handstroke, bool sent)> f) { on_ring_ = std::move(f); }

private:
    // The password of the stored account, asked at each start (shown as
    // "*"): it is kept nowhere, and the token it buys lives only as long as
    // the link.
    std::string ask_password();
    void drain_log();
    void tell_rings_heard();
    void say_why_not(const std::string& why);

    Settings& cfg_;
    RunClock& clock_;
    Dialog& dialog_;
    TextSink& log_;
    platform::Platform& plat_;
    StrikeReport& heard_;
    DeliveryReport& delivery_;
    std::function<bool()> target_rings_tower_;

    std::unique_ptr<link::TowerLink> session_;
    bool service_started_ = false;  // from now on a changed target restarts the link
    std::string password_;
    bool no_bell_logged_ = false;
    unsigned generation_ = 0;
    // The ring of each bell handed over ahead and not yet due (0: none).
    std::array<std::uint64_t, 17> ahead_{};  // bells 1-16
    std::function<void(char key, int bell, bool handstroke, bool sent)> on_ring_;
    std::vector<int> band_;
};

}  // namespace qn
