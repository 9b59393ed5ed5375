#include "strokes/logs.h"

#include "console/console_ui.h"
#include "core/context.h"
#include "core/text.h"
#include "serial/serial_thread.h"

namespace qn {

std::string date_time_text(Context& c) {
    platform::LocalDateTime dt = c.plat.files->now();
    return dt.short_date + " " + dt.long_time;
}

static std::string file_stamp(const std::string& stamp) {
    std::string s = stamp;
    for (char& ch : s)
        if (ch == ' ' || ch == '/' || ch == ':') ch = '_';
    return s;
}

// The OS's reason without the call and path before it: "No space left on
// device" fits a line of the screen, the log file's long name would not.
static std::string short_reason(const std::string& error) {
    const std::size_t colon = error.rfind(": ");
    return colon == std::string::npos ? error : error.substr(colon + 2);
}

std::string log_notice(const Context& c) {
    std::string text;
    if (!c.strokes.log_stopped_reason.empty())
        text = "Run log stopped, ringing goes on: " + short_reason(c.strokes.log_stopped_reason);
    else if (!c.strokes.no_log_reason.empty())
        text = "No run log this time: " + short_reason(c.strokes.no_log_reason);
    if (text.size() > Screen::kCols - 1) text.resize(Screen::kCols - 1);  // one line, no scroll
    return text;
}

// Told at once on the notice line (the menu keeps it there), whatever
// window the caller is drawing in; what was selected is put back.
static void show_log_stopped(Context& c, const std::string& error) {
    c.strokes.log_stopped_reason = error;
    Screen& s = c.screen;
    const int x1 = s.win_left(), y1 = s.win_top(), x2 = s.win_right(), y2 = s.win_bottom();
    const int cx = s.cursor_x(), cy = s.cursor_y();
    const std::uint8_t fg = s.text_colour();
    s.window(1, log_notice_line, Screen::kCols, log_notice_line);
    s.clear_window();
    s.text_colour(kYellow);
    s.write(log_notice(c));
    s.window(x1, y1, x2, y2);
    s.move_to(cx, cy);
    s.text_colour(fg);
}

void start_run_log(Context& c) {
    platform::Files& fs = *c.plat.files;
    (void)fs.make_dir("logs");
    std::string stamp = date_time_text(c);
    std::string base = std::string("logs/") + kProgramVersion + file_stamp(stamp);

    // Two runs in the same second would share a name; the first run's log
    // is kept and the second gets "_2" (then "_3", ...).
    std::string chosen = base;
    for (int n = 2; fs.exists(chosen + ".log") && n < 1000; ++n) chosen = base + "_" + str(n);
    c.strokes.run_log_name = chosen;

    auto file = fs.create(chosen + ".log");
    if (!file.ok()) {
        c.strokes.no_log_reason = file.error();
        c.screen.text_colour(kYellow);
        c.screen.write_line("No run log this time: " + file.error());
        c.run_log.adopt(nullptr);
        return;
    }
    c.run_log.adopt(std::move(file.value()));
    c.run_log.on_stop([&c](const std::string& error) { show_log_stopped(c, error); });
    auto redirected = fs.redirect_stderr(chosen + ".log");
    c.run_log.write_line(std::string(kProgramVersion) + " Error log run date and time = " + stamp);
    if (!redirected.ok()) c.run_log.write_line("Standard error not sent to this log: " + redirected.error());
}

void flush_run_log(Context& c) { c.run_log.flush(); }

// D: milliseconds since the last accepted event; T: the event time in ms.
static void timing_figures(Context& c, std::int64_t& T, std::int64_t& D, std::string& ok) {
    D = (c.strokes.event_us - c.strokes.last_event_us) / 1000;
    T = c.strokes.event_us / 1000;
    ok = bool_text(c.cfg.switch_bounce_ms < D);
}

void log_signal_event(Context& c, bool off) {
    std::int64_t T = 0, D = 0;
    std::string ok;
    timing_figures(c, T, D, ok);
    if (off) {
        c.run_log.write_line("Sig_OFF, dataok=" + ok +
                           " thiseventtime(ms)/ signalpulselength(ms)/pulselength lengthsafe?" + str(T) +
                           "\t" + str(D) + "\t" + bool_text(D >= 40));
    } else {
        c.run_log.write_line("Sig_ON , dataok=" + ok + " thiseventtime(ms)/ interval(ms)" + str(T) + "\t" + str(D));
    }
}

void log_data_event(Context& c, std::int32_t count) {
    std::int64_t T = 0, D = 0;
    std::string ok;
    timing_figures(c, T, D, ok);
    c.run_log.write_line("Signal=" + str(count) + " dataok=" + ok + " thiseventtime(ms)/ interval(ms)" + str(T) +
                       "\t" + str(D));
}

// ---- the event log of a touch ----------------------------------------------

static void write_ring_events(Context& c) {
    SerialState& s = c.serial;
    RunLog& log = c.run_log;
    log.write_line("COM port thread data");
    log.write_line("row\ttime\ttimediff\tsignal\tcomment");
    std::int32_t high = s.ring_head.load(std::memory_order_acquire);
    std::int32_t first = c.strokes.event_log_mark;
    // Events more than a ring's length back have been overwritten: their
    // slots hold later events, so they are not printed as if they were theirs
    // (the oldest slot may be taking the next event as this runs).
    std::int32_t oldest = high - (kEventRingSize - 2);
    if (first < oldest) {
        log.write_line("NB " + str(oldest - first) + " earlier events were overwritten before this log");
        first = oldest;
    }
    for (std::int32_t i = first < 0 ? 0 : first; i <= high; ++i) {
        std::int32_t slot = i == 0 ? 0 : wrap_index(i);
        std::string line = str(i) + "\t" + str(s.event_time_us[slot]) + "\t";
        if (i == 0) {
            line += "\t";
        } else {
            std::int32_t prev = i - 1 == 0 ? 0 : wrap_index(i - 1);
            line += str(s.event_time_us[slot] - s.event_time_us[prev]) + "\t";
        }
        line += str_u(s.event_status[slot]) + "\t" + WR(s.event_shape[slot]);
        log.write_line(line);
    }
    c.strokes.event_log_mark = high + 1;
}

static void write_omitted_events(Context& c) {
    SerialState& s = c.serial;
    std::int32_t n = s.omitted_count.load();
    if (n <= 0) return;
    RunLog& log = c.run_log;
    log.write_line("COM port thread data rejections");
    log.write_line("row\ttime\tBLANK\tsignal\tcomment");
    for (std::int32_t i = 1; i <= n; ++i)
        log.write_line(str(i) + "\t" + str(s.omitted_time_us[i]) + "\t\t" + str_u(s.omitted_status[i]) + "\t" +
                    WR(s.omitted_shape[i]));
    if (n == kEventRingSize) log.write_line("NBBuffer got full, might have been more");
}

static void write_output_records(Context& c) {
    StrokesState& st = c.strokes;
    RunLog& log = c.run_log;
    bool several = c.keyout.sensors_active > 1;
    log.write_line("Processed sensor data");
    log.write_line(std::string("row\t") + (several ? "which_sensor\t" : "") + "COM_event_time_secs\t" +
                "\tDoubled_key_sent?");
    std::int32_t n = st.output_count < kMaxRows ? st.output_count : kMaxRows;
    for (std::int32_t i = 1; i <= n; ++i) {
        const Output& r = st.outputs[i];
        std::string line = str(i) + "\t";
        if (several) line += str(r.sensor) + "\t";
        line += fixed_text(static_cast<double>(r.time_us - st.outputs[1].time_us) / 1000000.0, 10, 4);
        if (r.doubled) line += "\t*doubled_key_sent*";
        log.write_line(line);
    }
}

void write_event_log(Context& c) {
    if (!c.cfg.rest_on_mode) write_ring_events(c);
    write_omitted_events(c);
    write_output_records(c);
    c.run_log.flush();
}

}  // namespace qn
