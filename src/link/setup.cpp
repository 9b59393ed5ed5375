// The tower link's questions at the console.
#include <string>

#include "console/console_ui.h"
#include "core/context.h"
#include "core/text.h"
#include "link/protocol.h"
#include "link/tower.h"

namespace qn {

namespace {

// A number in lo..hi; an empty answer gives 0 when 0 is allowed. Others are
// asked again.
std::int32_t number_in(Context& c, std::int32_t lo, std::int32_t hi) {
    for (;;) {
        const std::int32_t n = read_int(c);
        if (n >= lo && n <= hi) return n;
        c.screen.text_colour(kYellow);
        c.screen.write("Give a number from " + str(lo) + " to " + str(hi) + ": ");
        c.screen.text_colour(kWhite);
    }
}

void question(Context& c, const std::string& text) {
    c.screen.text_colour(kYellow);
    c.screen.write(text);
    c.screen.text_colour(kWhite);
}

// Printable, no blanks: what an e-mail address can hold.
bool plausible_email(const std::string& s) {
    if (s.find('@') == std::string::npos) return false;
    for (char ch : s)
        if (static_cast<unsigned char>(ch) <= ' ' || ch == ':') return false;
    return true;
}

}  // namespace

void ask_tower_link(Context& c) {
    Settings& cfg = c.cfg;
    c.screen.write_line("Ringing Room can take the rings straight from this program, with no browser");
    c.screen.write_line("in front (the tower ID is the number in the tower's address).");
    question(c, "Tower ID to ring in, or [ENTER] to send keys to the browser: ");
    cfg.tower_id = number_in(c, 0, 2147483647);
    if (cfg.tower_id == 0) {
        c.screen.write_line("Keys go to the browser");
        c.link.password.clear();
        return;
    }
    question(c, "Your bell for the key \"j\" (1-" + str(link::kMaxTowerBells) + "): ");
    cfg.tower_bell_j = number_in(c, 1, link::kMaxTowerBells);
    question(c, "Your bell for the key \"f\" (1-" + str(link::kMaxTowerBells) + ", [ENTER] for none): ");
    cfg.tower_bell_f = number_in(c, 0, link::kMaxTowerBells);
    for (;;) {
        question(c, "Ringing Room account e-mail to log in, or [ENTER] to ring anonymously: ");
        const std::string email = read_line(c);
        if (email.empty() || plausible_email(email)) {
            cfg.tower_email = email;
            break;
        }
        c.screen.write_line("That is not an e-mail address");
    }
    c.link.password = cfg.tower_email.empty() ? std::string() : ask_tower_password(c);
    c.run_log.write_line("Tower link set: tower " + str(cfg.tower_id) + ", j=" + str(cfg.tower_bell_j) +
                       ", f=" + str(cfg.tower_bell_f) + ", " +
                       (cfg.tower_email.empty() ? std::string("anonymous") : "account " + cfg.tower_email));
    c.screen.write_line("Rings go to tower " + str(cfg.tower_id));
}

std::string ask_tower_password(Context& c) {
    Screen& s = c.screen;
    question(c, "Ringing Room password for " + c.cfg.tower_email + " ([ENTER]: ring anonymously): ");
    std::string password;
    s.cursor_visible(true);
    for (;;) {
        s.present();
        while (!c.plat.console->key_waiting()) pause_ms(c, 1);
        const int k = c.plat.console->read_key();
        if (k == 0) {
            (void)c.plat.console->read_key();  // the second code of an extended key
            continue;
        }
        if (k == '\r' || k == '\n') break;
        if (k == 3) quit_on_key(c, 3);
        if (k == 8 || k == 127) {
            if (!password.empty()) {
                password.pop_back();
                s.write("\b \b");
            }
        } else if (k >= 32 && k < 256 && password.size() < 255) {
            password.push_back(static_cast<char>(k));
            s.write("*");
        }
    }
    s.cursor_visible(false);
    s.newline();
    return password;
}

}  // namespace qn
