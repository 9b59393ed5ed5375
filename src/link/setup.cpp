// The tower link's questions to the ringer.
#include <string>

#include "config/settings.h"
#include "core/dialog.h"
#include "core/text.h"
#include "link/protocol.h"
#include "link/tower.h"

namespace qn {

namespace {

void question(Dialog& d, const std::string& text) {
    d.colour(kYellow);
    d.write(text);
    d.colour(kWhite);
}

// A number in lo..hi; an empty answer gives 0 when 0 is allowed. Others are
// asked again.
std::int32_t number_in(Dialog& d, std::int32_t lo, std::int32_t hi) {
    for (;;) {
        const std::int32_t n = d.read_int();
        if (n >= lo && n <= hi) return n;
        question(d, "Give a number from " + str(lo) + " to " + str(hi) + ": ");
    }
}

// Printable, no blanks: what an e-mail address can hold.
bool plausible_email(const std::string& s) {
    if (s.find('@') == std::string::npos) return false;
    for (char ch : s)
        if (static_cast<unsigned char>(ch) <= ' ' || ch == ':') return false;
    return true;
}

}  // namespace

void TowerService::ask_settings() {
    Settings& cfg = cfg_;
    Dialog& d = dialog_;
    d.write_line("Ringing Room can take the rings straight from this program, with no browser");
    d.write_line("in front (the tower ID is the number in the tower's address).");
    question(d, "Tower ID to ring in, or [ENTER] to send keys to the browser: ");
    cfg.tower_id = number_in(d, 0, 2147483647);
    if (cfg.tower_id == 0) {
        d.write_line("Keys go to the browser");
        password_.clear();
        return;
    }
    question(d, "Your bell for the key \"j\" (1-" + str(link::kMaxTowerBells) + "): ");
    cfg.tower_bell_j = number_in(d, 1, link::kMaxTowerBells);
    question(d, "Your bell for the key \"f\" (1-" + str(link::kMaxTowerBells) + ", [ENTER] for none): ");
    cfg.tower_bell_f = number_in(d, 0, link::kMaxTowerBells);
    for (;;) {
        question(d, "Ringing Room account e-mail to log in, or [ENTER] to ring anonymously: ");
        const std::string email = d.read_line();
        if (email.empty() || plausible_email(email)) {
            cfg.tower_email = email;
            break;
        }
        d.write_line("That is not an e-mail address");
    }
    password_ = cfg.tower_email.empty() ? std::string() : ask_password();
    log_.write_line("Tower link set: tower " + str(cfg.tower_id) + ", j=" + str(cfg.tower_bell_j) +
                       ", f=" + str(cfg.tower_bell_f) + ", " +
                       (cfg.tower_email.empty() ? std::string("anonymous") : "account " + cfg.tower_email));
    d.write_line("Rings go to tower " + str(cfg.tower_id));
}

std::string TowerService::ask_password() {
    question(dialog_, "Ringing Room password for " + cfg_.tower_email + " ([ENTER]: ring anonymously): ");
    return dialog_.read_secret();
}

}  // namespace qn
