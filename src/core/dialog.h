// How the program talks with the ringer outside the service screen's
// regions: calibration, the menus, the questions at start-up. The domain
// writes its lines and asks its questions here; the console implements it.
#pragma once

#include <cstdint>
#include <string>

#include "core/colour.h"
#include "core/text_sink.h"

namespace qn {

// The console's areas, each a window of whole lines.
enum class Area {
    Full,          // the whole screen
    Header,        // above the scratch lines
    Scratch,       // the middle lines, where questions are asked
    LongScratch,   // the scratch lines down to the foot of the screen
    Monitor,       // below the scratch area's first line to the foot
    BigNumber,     // the big counter's lines
    LowScratch,    // between the big counter and the monitor rows
};

class Dialog : public TextSink {
public:
    // Selects an area for what follows; the cursor goes to its top left.
    virtual void select(Area area) = 0;
    // Selects an area and blanks it.
    virtual void clear(Area area) = 0;
    virtual void colour(Colour c) = 0;
    virtual Colour text_colour() const = 0;
    // The screen line an area starts at, from 1.
    virtual int first_line(Area area) const = 0;
    // Moves the cursor within the selected area, columns and lines from 1.
    virtual void move_to(int col, int line) = 0;
    // Shows what has been written so far.
    virtual void show() = 0;

    // Waits for a key to go on (Q still quits); false, at once, when the
    // keyboard has closed.
    virtual bool key_to_go_on() = 0;
    // A key if one is waiting, else '\0'.
    virtual char key_if_any() = 0;
    // Waits for a key. A keyboard that has closed ends the run.
    virtual char wait_key() = 0;
    // Shows the screen and waits up to ms for a key (it stays unread).
    virtual void wait_key_ms(std::int32_t ms) = 0;
    virtual void flush_keys() = 0;
    // Ends the run when ch is Ctrl-C, Esc or Q (either case).
    virtual void quit_on_key(char ch) = 0;
    // One line typed and echoed at the cursor, without its Enter. With ended
    // given, a keyboard that closes ends the line and sets *ended; without,
    // it ends the run.
    virtual std::string read_line(bool* ended = nullptr) = 0;
    virtual std::int32_t read_int() = 0;
    // One line typed, each character shown as "*", without its Enter. Every
    // key but Ctrl-C (which ends the run) is part of it: Q does not quit.
    virtual std::string read_secret() = 0;
    // Shows the screen and sleeps.
    virtual void pause_ms(std::int32_t ms) = 0;

    // The run cannot go on: the message, then the end with code.
    [[noreturn]] virtual void halt(std::int32_t code, const std::string& message) = 0;
    [[noreturn]] virtual void end_for_closed_keyboard() = 0;
    [[noreturn]] virtual void end_process(int code) = 0;
};

}  // namespace qn
