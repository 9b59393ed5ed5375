// The console the program sees in a simulated run: the screen goes to the
// person's terminal (when there is one), and the keys are the simulated
// ringer's merged with the person's, so every command key still works. A
// status line can be shown under the program's 25 lines.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/sim/sim_time.h"

namespace qn::platform::sim {

// Keys that come from the simulation. Called on the program's main thread,
// the time's lock not held.
class KeySource {
public:
    virtual ~KeySource() = default;
    // A look at the keyboard: the source may read the screen and act.
    virtual void poll() = 0;
    virtual bool key_ready() = 0;
    virtual int take_key() = 0;  // only after key_ready()
    // When the next key the source has planned is due (kNever: none).
    virtual std::int64_t next_key_at() { return kNever; }
    // It will type nothing more (the person answers, and has no key planned).
    virtual bool input_ended() { return false; }
};

class SimConsole : public Console {
public:
    // terminal may be null: nobody watches and only the source types.
    SimConsole(SimTime& time, Console* terminal, KeySource* source);

    Result<void> open(int rows, int cols) override;
    void close() override;
    void write_cells(int row, int col, const ConsoleCell* cells, int count) override;
    void set_cursor(int row, int col, bool visible) override;
    void present() override;
    bool key_waiting() override;
    int read_key() override;
    // Both keyboards have ended: the person's (or there is no terminal) and
    // the simulation's.
    bool input_ended() override;
    // The terminal's, with the status line under the program's screen.
    ConsoleSize size() override;

    // The line under the program's screen; empty shows nothing.
    void set_status(const std::string& text);
    void set_source(KeySource* source) { source_ = source; }
    // When the simulation's next key is due; main thread, lock not held.
    std::int64_t next_key_at() { return source_ ? source_->next_key_at() : kNever; }
    bool has_terminal() const { return terminal_ != nullptr; }
    // What the program's screen shows, row by row (rows() x cols() cells),
    // as a terminal would show it: kept whether or not there is one.
    const std::vector<ConsoleCell>& shown() const { return shown_; }
    int rows() const { return rows_; }
    int cols() const { return cols_; }

private:
    void draw_status();

    SimTime& time_;
    Console* terminal_;
    KeySource* source_;
    int rows_ = 25;
    int cols_ = 80;
    bool open_ = false;
    bool drawn_ = false;  // the terminal shows the screen (it is not a file or a pipe)
    ConsoleSize size_;
    std::mutex status_mu_;
    std::string status_;
    bool status_dirty_ = false;
    std::vector<ConsoleCell> shown_;
};

}  // namespace qn::platform::sim
