#include "serial/ports.h"

#include "core/text.h"

namespace qn {

using platform::LineControl;
using platform::LineSettings;
using platform::Timeouts;

std::string SensorPorts::names_text() {
    auto names = serial_.list_port_names();
    if (!names.ok()) {
        log_.write_line("Serial port list not available: " + names.error());
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

void SensorPorts::list() {
    std::vector<std::string> parts = split_names(names_text());
    if (parts.size() > static_cast<std::size_t>(kMaxSerialPorts)) {
        std::string dropped;
        for (std::size_t i = kMaxSerialPorts; i < parts.size(); ++i) dropped += " " + parts[i];
        log_.write_line("Only " + str(kMaxSerialPorts) + " serial ports can be used; not listed:" + dropped);
        parts.resize(kMaxSerialPorts);
    }
    names_ = std::move(parts);
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

bool SensorPorts::apply(PortHandle h, const LineSettings& s, const std::string& what) {
    auto r = serial_.set_state(h, s);
    if (!r.ok()) log_.write_line(what + ": " + r.error());
    return r.ok();
}

bool SensorPorts::set_port(PortHandle h, std::uint32_t baud, const std::string& device) {
    auto cur = serial_.get_state(h);
    if (!cur.ok()) {
        log_.write_line("Port " + device + ": " + cur.error());
        return false;
    }
    if (!apply(h, line_settings(baud, cur.value()), "Port " + device)) return false;
    Timeouts t;
    t.read_interval = platform::kTimeoutMax;
    t.read_total_multiplier = 0;
    t.read_total_constant = 0;
    t.write_total_multiplier = 0;
    t.write_total_constant = 30000;
    auto r = serial_.set_timeouts(h, t);
    if (!r.ok()) {
        log_.write_line("Port " + device + ": " + r.error());
        return false;
    }
    return true;
}

PortHandle SensorPorts::open(const std::string& device) {
    auto h = serial_.open(device);
    if (!h.ok()) {
        log_.write_line("Open " + device + ": " + h.error());
        return 0;
    }
    if (!set_port(h.value(), 9600, device)) {
        serial_.close(h.value());
        return 0;
    }
    return h.value();
}

bool SensorPorts::set_service_settings(PortHandle h, const std::string& device) {
    if (!set_port(h, 2400, device)) return false;
    auto cur = serial_.get_state(h);
    if (!cur.ok()) return false;
    LineSettings s = cur.value();
    s.rts_control = LineControl::Enable;
    if (!apply(h, s, "RTS on")) return false;
    s.dtr_control = LineControl::Enable;
    return apply(h, s, "DTR on");
}

platform::Result<std::int32_t> SensorPorts::read_byte(PortHandle h, char* buf, std::int32_t timeout_ms) {
    platform::SerialPorts& serial = serial_;
    auto t = serial.get_timeouts(h);
    if (!t.ok()) return platform::fail(t.error());
    Timeouts want = t.value();
    if (timeout_ms > 0) {
        want.read_interval = 0;
        want.read_total_constant = static_cast<std::uint32_t>(timeout_ms);
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

std::int32_t SensorPorts::read_char(PortHandle h, char* buf, std::int32_t timeout_ms) {
    return read_byte(h, buf, timeout_ms).value_or(0);
}

PortLatencyNote SensorPorts::tune_latency(bool data_mode) {
    PortLatencyNote note;
    if (service_ == 0) return note;
    const platform::PortLatency l = serial_.tune_latency(service_);
    std::string line = "Port latency: ";
    line += l.note.empty() ? (l.low_latency ? "low latency on" : "no low-latency request here") : l.note;
    if (l.timer_ms >= 0)
        line += "; adapter latency timer " + str(l.timer_ms) + " ms (" + l.where + ")";
    else
        line += "; no adapter latency timer found";
    log_.write_line(line);
    // Line changes are sent on at once; only the box's characters wait.
    if (!data_mode || l.timer_ms <= 2 || l.low_latency) return note;
    note.warning = {"The USB serial adapter holds characters back up to " + str(l.timer_ms) +
                        " ms (its latency timer): keys can be that late.",
                    "To change it: " + l.advice};
    for (const std::string& w : note.warning) log_.write_line(w);
    return note;
}

void SensorPorts::close(PortHandle h) {
    if (h == 0) return;
    (void)serial_.flush(h);
    (void)serial_.purge(h, platform::kPurgeTxAbort | platform::kPurgeTxClear);
    serial_.close(h);
}

void SensorPorts::close_handle(std::int32_t i) {
    close(handle(i));
    set_handle(i, 0);
}

void SensorPorts::close_service() {
    close(service_);
    service_ = 0;
}

// The loop's wait watches the port, so the read takes what is there and
// never waits.
std::int32_t DataPortReader::read(char* into) {
    auto got = ports_.read_byte(ports_.service(), into, 0);
    if (!got.ok()) {
        if (failures_.lost_at() == 0) {
            (void)failures_.given_up(7);
            failures_.failed("serial port read failed", got.error());
        }
        return 0;
    }
    failures_.succeeded();
    return got.value();
}

}  // namespace qn
