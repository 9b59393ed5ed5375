#include "serial/ports.h"

#include "console/console_ui.h"
#include "core/text.h"
#include "serial/serial_thread.h"

namespace qn {

using platform::LineControl;
using platform::LineSettings;
using platform::Timeouts;

std::string serial_port_names(Context& c) {
    auto names = c.plat.serial->list_port_names();
    if (!names.ok()) {
        c.run_log.write_line("Serial port list not available: " + names.error());
        return {};
    }
    std::string text;
    bool first = true;
    for (const std::string& n : names.value()) {
        if (!first) text += ',';
        first = false;
        if (n.find_first_of(",\" ") != std::string::npos) {
            std::string q = "\"";
            for (char ch : n) q += ch == '"' ? std::string("\"\"") : std::string(1, ch);
            text += q + "\"";
        } else {
            text += n;
        }
    }
    return text;
}

// Splits the comma list. A quoted name keeps its commas and blanks and loses
// its quotes, so every listed port can be opened by the name shown.
static std::vector<std::string> split_names(const std::string& text) {
    std::vector<std::string> parts;
    std::string cur;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char ch = text[i];
        if (quoted) {
            if (ch == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                cur += '"';
                ++i;
            } else if (ch == '"') {
                quoted = false;
            } else {
                cur += ch;
            }
        } else if (ch == '"') {
            quoted = true;
        } else if (ch == ',') {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += ch;
        }
    }
    parts.push_back(cur);
    return parts;
}

void list_serial_ports(Context& c, std::int32_t& total, Arr<std::string, 1, kMaxSerialPorts>& names) {
    std::vector<std::string> parts = split_names(serial_port_names(c));
    if (parts.size() > static_cast<std::size_t>(kMaxSerialPorts)) {
        std::string dropped;
        for (std::size_t i = kMaxSerialPorts; i < parts.size(); ++i) dropped += " " + parts[i];
        c.run_log.write_line("Only " + str(kMaxSerialPorts) + " serial ports can be used; not listed:" + dropped);
        parts.resize(kMaxSerialPorts);
    }
    total = static_cast<std::int32_t>(parts.size());
    for (std::int32_t i = 1; i <= kMaxSerialPorts; ++i)
        names[i] = i <= total ? parts[static_cast<std::size_t>(i - 1)] : std::string();
}

static LineSettings line_settings(std::uint32_t baud, LineSettings s) {
    s.baud = baud;
    s.data_bits = 8;
    s.parity = platform::Parity::None;
    s.stop_bits = platform::StopBits::One;
    s.binary = true;
    s.outx_cts_flow = false;
    s.outx_dsr_flow = false;
    s.dtr_control = LineControl::Disable;
    s.rts_control = LineControl::Disable;
    s.outx = false;
    s.inx = false;
    s.xon_char = 0x11;
    s.xoff_char = 0x13;
    s.xon_lim = 512;
    s.xoff_lim = 1;
    return s;
}

static bool apply(Context& c, PortHandle h, const LineSettings& s, const std::string& what) {
    auto r = c.plat.serial->set_state(h, s);
    if (!r.ok()) c.run_log.write_line(what + ": " + r.error());
    return r.ok();
}

static bool set_port(Context& c, PortHandle h, std::uint32_t baud, const std::string& device) {
    auto cur = c.plat.serial->get_state(h);
    if (!cur.ok()) {
        c.run_log.write_line("Port " + device + ": " + cur.error());
        return false;
    }
    if (!apply(c, h, line_settings(baud, cur.value()), "Port " + device)) return false;
    Timeouts t;
    t.read_interval = platform::kTimeoutMax;
    t.read_total_multiplier = 0;
    t.read_total_constant = 0;
    t.write_total_multiplier = 0;
    t.write_total_constant = 30000;
    auto r = c.plat.serial->set_timeouts(h, t);
    if (!r.ok()) {
        c.run_log.write_line("Port " + device + ": " + r.error());
        return false;
    }
    return true;
}

PortHandle open_serial_port(Context& c, const std::string& device) {
    auto h = c.plat.serial->open(device);
    if (!h.ok()) {
        c.run_log.write_line("Open " + device + ": " + h.error());
        return 0;
    }
    if (!set_port(c, h.value(), 9600, device)) {
        c.plat.serial->close(h.value());
        return 0;
    }
    return h.value();
}

bool set_service_settings(Context& c, PortHandle h) {
    if (!set_port(c, h, 2400, c.cfg.port_name)) return false;
    auto cur = c.plat.serial->get_state(h);
    if (!cur.ok()) return false;
    LineSettings s = cur.value();
    s.rts_control = LineControl::Enable;
    if (!apply(c, h, s, "RTS on")) return false;
    s.dtr_control = LineControl::Enable;
    return apply(c, h, s, "DTR on");
}

void start_serial_port(Context& c) {
    c.serial.port = open_serial_port(c, c.cfg.port_name);
    if (c.serial.port == 0)
        halt(c, 95, "Open " + c.cfg.port_name + " failed - check COM port connection");
    (void)set_service_settings(c, c.serial.port);
}

static bool line_bit(Context& c, PortHandle h, std::uint32_t bit, std::int32_t locn) {
    auto w = c.plat.serial->modem_status(h);
    if (!w.ok()) {
        c.run_log.write_line(w.error());
        stop_on_bad_port(c, locn);
    }
    return (w.value() & bit) != 0;
}

bool cts_is_on(Context& c, PortHandle h) { return line_bit(c, h, platform::kLineCts, 3); }
bool dsr_is_on(Context& c, PortHandle h) { return line_bit(c, h, platform::kLineDsr, 4); }
bool cd_is_on(Context& c, PortHandle h) { return line_bit(c, h, platform::kLineCd, 5); }
bool ri_is_on(Context& c, PortHandle h) { return line_bit(c, h, platform::kLineRi, 6); }

platform::Result<std::int32_t> read_serial_byte(Context& c, PortHandle h, char* buf, std::int32_t millisecs) {
    platform::SerialPorts& serial = *c.plat.serial;
    auto t = serial.get_timeouts(h);
    if (!t.ok()) return platform::fail(t.error());
    Timeouts want = t.value();
    if (millisecs > 0) {
        want.read_interval = 0;
        want.read_total_constant = static_cast<std::uint32_t>(millisecs);
    } else {
        // No time-out at all: a read returns at once with what is there.
        // (All zeros would mean the opposite: wait for ever.)
        want.read_interval = platform::kTimeoutMax;
        want.read_total_multiplier = 0;
        want.read_total_constant = 0;
    }
    if (!(want.read_interval == t.value().read_interval && want.read_total_constant == t.value().read_total_constant &&
          want.read_total_multiplier == t.value().read_total_multiplier)) {
        if (auto set = serial.set_timeouts(h, want); !set.ok()) return platform::fail(set.error());
    }
    auto n = serial.read(h, buf, 1);
    if (!n.ok()) return platform::fail(n.error());
    return static_cast<std::int32_t>(n.value());
}

std::int32_t read_serial_char(Context& c, PortHandle h, char* buf, std::int32_t millisecs) {
    return read_serial_byte(c, h, buf, millisecs).value_or(0);
}

void report_port_latency(Context& c) {
    if (c.serial.port == 0) return;
    const platform::PortLatency l = c.plat.serial->tune_latency(c.serial.port);
    std::string line = "Port latency: ";
    line += l.note.empty() ? (l.low_latency ? "low latency on" : "no low-latency request here") : l.note;
    if (l.timer_ms >= 0)
        line += "; adapter latency timer " + str(l.timer_ms) + " ms (" + l.where + ")";
    else
        line += "; no adapter latency timer found";
    c.run_log.write_line(line);
    // Line changes are sent on at once; only the box's characters wait.
    if (!c.cfg.rest_on_mode || l.timer_ms <= 2 || l.low_latency) return;
    const std::string warning = "The USB serial adapter holds characters back up to " + str(l.timer_ms) +
                                " ms (its latency timer): keys can be that late.";
    const std::string how = "To change it: " + l.advice;
    c.run_log.write_line(warning);
    c.run_log.write_line(how);
    full_window(c);
    c.screen.text_colour(kYellow);
    c.screen.move_to(1, kScratchFirstLine);
    c.screen.write_line(warning);
    c.screen.write_line(how);
    c.screen.text_colour(kWhite);
}

void close_serial_port(Context& c, PortHandle h) {
    if (h == 0) return;
    (void)c.plat.serial->flush(h);
    (void)c.plat.serial->purge(h, platform::kPurgeTxAbort | platform::kPurgeTxClear);
    c.plat.serial->close(h);
}

}  // namespace qn
