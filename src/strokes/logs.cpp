#include "strokes/logs.h"

#include "console/crt.h"
#include "core/context.h"
#include "core/text.h"
#include "serial/serialthread_shorts_xz.h"

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
    if (!c.strokes.LOGSTOPPEDREASON.empty())
        text = "Run log stopped, ringing goes on: " + short_reason(c.strokes.LOGSTOPPEDREASON);
    else if (!c.strokes.NOLOGREASON.empty())
        text = "No run log this time: " + short_reason(c.strokes.NOLOGREASON);
    if (text.size() > Screen::COLS - 1) text.resize(Screen::COLS - 1);  // one line, no scroll
    return text;
}

// Told at once on the notice line (the menu keeps it there), whatever
// window the caller is drawing in; what was selected is put back.
static void show_log_stopped(Context& c, const std::string& error) {
    c.strokes.LOGSTOPPEDREASON = error;
    Screen& s = c.screen;
    const int x1 = s.win_left(), y1 = s.win_top(), x2 = s.win_right(), y2 = s.win_bottom();
    const int cx = s.wherex(), cy = s.wherey();
    const std::uint8_t fg = s.textcolor();
    s.window(1, LOGNOTICELINE, Screen::COLS, LOGNOTICELINE);
    s.clrscr();
    s.textcolor(YELLOW);
    s.write(log_notice(c));
    s.window(x1, y1, x2, y2);
    s.gotoxy(cx, cy);
    s.textcolor(fg);
}

void STARTERRORLOG(Context& c) {
    platform::Files& fs = *c.plat.files;
    (void)make_folders(fs, c.core.folders.logs);
    std::string stamp = date_time_text(c);
    std::string base = in_folder(c.core.folders.logs, PROGRAM_VERSION + file_stamp(stamp));

    // Two runs in the same second would share a name; the first run's log
    // is kept and the second gets "_2" (then "_3", ...).
    std::string chosen = base;
    for (int n = 2; fs.exists(chosen + ".log") && n < 1000; ++n) chosen = base + "_" + str(n);
    c.strokes.ERRORFILENAMESTR = chosen;

    auto file = fs.create_text(chosen + ".log");
    if (!file.ok()) {
        c.strokes.NOLOGREASON = file.error();
        c.screen.textcolor(YELLOW);
        c.screen.writeln("No run log this time: " + file.error());
        c.FOOERROR.adopt(nullptr);
        return;
    }
    c.FOOERROR.adopt(std::move(file.value()));
    c.FOOERROR.on_stop([&c](const std::string& error) { show_log_stopped(c, error); });
    auto redirected = fs.redirect_stderr(chosen + ".log");
    c.FOOERROR.writeln(std::string(PROGRAM_VERSION) + " Error log run date and time = " + stamp);
    if (!redirected.ok()) c.FOOERROR.writeln("Standard error not sent to this log: " + redirected.error());
}

void MYFLUSH(Context& c) { c.FOOERROR.flush(); }

// D: milliseconds since the last accepted event; T: the event time in ms.
static void timing_figures(Context& c, std::int64_t& T, std::int64_t& D, std::string& ok) {
    D = (c.strokes.THISEVENTTIMEMICRO - c.strokes.LASTEVENTTIMEMICRO) / 1000;
    T = c.strokes.THISEVENTTIMEMICRO / 1000;
    ok = bool_text(c.cfg.SWITCHBOUNCEDELAY < D);
}

void WRITELOG(Context& c, bool off) {
    std::int64_t T = 0, D = 0;
    std::string ok;
    timing_figures(c, T, D, ok);
    if (off) {
        c.FOOERROR.writeln("Sig_OFF, dataok=" + ok +
                           " thiseventtime(ms)/ signalpulselength(ms)/pulselength lengthsafe?" + str(T) +
                           "\t" + str(D) + "\t" + bool_text(D >= 40));
    } else {
        c.FOOERROR.writeln("Sig_ON , dataok=" + ok + " thiseventtime(ms)/ interval(ms)" + str(T) + "\t" + str(D));
    }
}

void WRITELOGDATA(Context& c, std::int32_t count) {
    std::int64_t T = 0, D = 0;
    std::string ok;
    timing_figures(c, T, D, ok);
    c.FOOERROR.writeln("Signal=" + str(count) + " dataok=" + ok + " thiseventtime(ms)/ interval(ms)" + str(T) +
                       "\t" + str(D));
}

// ---- the event log of a touch ----------------------------------------------

static void write_ring_events(Context& c) {
    SerialState& s = c.serial;
    RunLog& log = c.FOOERROR;
    log.writeln("COM port thread data");
    log.writeln("row\ttime\ttimediff\tsignal\tcomment");
    std::int32_t high = s.IHIGHBUFFERPLUSONE.load(std::memory_order_acquire);
    std::int32_t first = c.strokes.COMMMARKER;
    // Events more than a ring's length back have been overwritten: their
    // slots hold later events, so they are not printed as if they were theirs
    // (the oldest slot may be taking the next event as this runs).
    std::int32_t oldest = high - (COMBUFFERLEN - 2);
    if (first < oldest) {
        log.writeln("NB " + str(oldest - first) + " earlier events were overwritten before this log");
        first = oldest;
    }
    for (std::int32_t i = first < 0 ? 0 : first; i <= high; ++i) {
        std::int32_t slot = i == 0 ? 0 : INDEXWRAP(i);
        std::string line = str(i) + "\t" + str(s.COMMTIME[slot]) + "\t";
        if (i == 0) {
            line += "\t";
        } else {
            std::int32_t prev = i - 1 == 0 ? 0 : INDEXWRAP(i - 1);
            line += str(s.COMMTIME[slot] - s.COMMTIME[prev]) + "\t";
        }
        line += str_u(s.COMMBUFFER[slot]) + "\t" + WR(s.SHSIG[slot]);
        log.writeln(line);
    }
    c.strokes.COMMMARKER = high + 1;
}

static void write_omitted_events(Context& c) {
    SerialState& s = c.serial;
    std::int32_t n = s.OMITBUFFER.load();
    if (n <= 0) return;
    RunLog& log = c.FOOERROR;
    log.writeln("COM port thread data rejections");
    log.writeln("row\ttime\tBLANK\tsignal\tcomment");
    for (std::int32_t i = 1; i <= n; ++i)
        log.writeln(str(i) + "\t" + str(s.OMITCOMMTIME[i]) + "\t\t" + str_u(s.OMITCOMMBUFFER[i]) + "\t" +
                    WR(s.OMITSHSIG[i]));
    if (n == COMBUFFERLEN) log.writeln("NBBuffer got full, might have been more");
}

static void write_output_records(Context& c) {
    StrokesState& st = c.strokes;
    RunLog& log = c.FOOERROR;
    bool several = c.keyout.SENSORSACTIVE > 1;
    log.writeln("Processed sensor data");
    log.writeln(std::string("row\t") + (several ? "which_sensor\t" : "") + "COM_event_time_secs\t" +
                "\tDoubled_key_sent?");
    std::int32_t n = st.NOUTPUTTIME < MAXROWSALLOWED ? st.NOUTPUTTIME : MAXROWSALLOWED;
    for (std::int32_t i = 1; i <= n; ++i) {
        const OutputRec& r = st.OUTPUTTIMESLIST[i];
        std::string line = str(i) + "\t";
        if (several) line += str(r.SENSOR) + "\t";
        line += fixed(static_cast<double>(r.EVENTTIME - st.OUTPUTTIMESLIST[1].EVENTTIME) / 1000000.0, 10, 4);
        if (r.DOUBLED) line += "\t*doubled_key_sent*";
        log.writeln(line);
    }
}

void write_event_log(Context& c) {
    if (!c.cfg.BAGLEYMODE) write_ring_events(c);
    write_omitted_events(c);
    write_output_records(c);
    c.FOOERROR.flush();
}

}  // namespace qn
