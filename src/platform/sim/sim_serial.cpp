#include "platform/sim/sim_serial.h"

#include <algorithm>

namespace qn::platform::sim {

namespace {

const std::string kDevicePrefix = "\\\\.\\";
// What Windows says of a USB adapter that has been pulled out.
const std::string kGone = "The device does not recognize the command";

struct LineEvent {
    std::uint32_t status;
    std::uint32_t ev;
};
constexpr LineEvent kLines[] = {
    {kLineCts, kEventCts}, {kLineDsr, kEventDsr}, {kLineCd, kEventCd}, {kLineRi, kEventRi}};

std::uint32_t events_of(std::uint32_t changed_bits) {
    std::uint32_t ev = 0;
    for (const LineEvent& l : kLines)
        if (changed_bits & l.status) ev |= l.ev;
    return ev;
}

// A bell that sends characters wakes a waiting reader now and then, so a
// byte made after the reader went to sleep is not slept through.
constexpr std::int64_t kReadRecheckUs = 1000000;

}  // namespace

SimSerial::SimSerial(SimTime& time, std::vector<SimPortEntry> ports) : time_(time) {
    for (auto& entry : ports) {
        Port p;
        p.entry = std::move(entry);
        ports_.push_back(std::move(p));
    }
}

SimSerial::Port* SimSerial::by_handle(PortHandle h) {
    if (h == 0) return nullptr;
    for (Port& p : ports_)
        if (p.handle == h) return &p;
    return nullptr;
}

Result<std::vector<std::string>> SimSerial::list_port_names() {
    std::vector<std::string> names;
    for (const Port& p : ports_)
        if (!p.gone) names.push_back(p.entry.name);
    return names;
}

const std::vector<DataByte>& SimSerial::bytes_until(Port& p, std::int64_t t) {
    if (p.entry.band.empty()) return p.entry.bell->bytes_until(t);
    std::size_t known = p.entry.bell->bytes_until(t).size();
    for (SimBell* b : p.entry.band) known += b->bytes_until(t).size();
    if (known == p.merged_from) return p.merged;
    p.merged = p.entry.bell->bytes_until(t);
    for (SimBell* b : p.entry.band) {
        const std::vector<DataByte>& more = b->bytes_until(t);
        p.merged.insert(p.merged.end(), more.begin(), more.end());
    }
    std::stable_sort(p.merged.begin(), p.merged.end(),
                     [](const DataByte& a, const DataByte& b) { return a.arrival_us < b.arrival_us; });
    p.merged_from = known;
    return p.merged;
}

std::size_t SimSerial::skip_bytes_until(Port& p, std::int64_t t) {
    if (!p.entry.bell) return 0;
    const std::vector<DataByte>& bytes = bytes_until(p, t);
    std::size_t i = p.next_byte;
    while (i < bytes.size() && bytes[i].arrival_us <= t) ++i;
    return i;
}

Result<PortHandle> SimSerial::open(const std::string& device) {
    std::lock_guard<std::mutex> g(time_.mutex());
    std::string name = device.rfind(kDevicePrefix, 0) == 0 ? device.substr(kDevicePrefix.size()) : device;
    for (Port& p : ports_) {
        if (p.entry.name != name || p.gone) continue;
        if (p.handle != 0) return fail("CreateFile " + device + ": Access is denied");
        const std::int64_t now = time_.now_us();
        p.handle = next_handle_++;
        p.settings = LineSettings{};
        p.timeouts = Timeouts{};
        p.mask = 0;
        p.reported_until = now;
        p.next_byte = 0;  // what arrived before the open is not in the buffer
        p.next_byte = skip_bytes_until(p, now);
        return p.handle;
    }
    return fail("CreateFile " + device + ": The system cannot find the file specified");
}

void SimSerial::close(PortHandle h) {
    std::lock_guard<std::mutex> g(time_.mutex());
    if (Port* p = by_handle(h)) {
        p->handle = 0;
        time_.changed();  // a pending wait on it fails
    }
}

Result<LineSettings> SimSerial::get_state(PortHandle h) {
    std::lock_guard<std::mutex> g(time_.mutex());
    Port* p = by_handle(h);
    if (!p) return fail("GetCommState: The handle is invalid");
    if (p->gone) return fail("GetCommState: " + kGone);
    return p->settings;
}

Result<void> SimSerial::set_state(PortHandle h, const LineSettings& s) {
    std::lock_guard<std::mutex> g(time_.mutex());
    Port* p = by_handle(h);
    if (!p) return fail("SetCommState: The handle is invalid");
    if (p->gone) return fail("SetCommState: " + kGone);
    if (s.data_bits < 5 || s.data_bits > 8) return fail("SetCommState: The parameter is incorrect");
    p->settings = s;
    return {};
}

Result<Timeouts> SimSerial::get_timeouts(PortHandle h) {
    std::lock_guard<std::mutex> g(time_.mutex());
    Port* p = by_handle(h);
    if (!p) return fail("GetCommTimeouts: The handle is invalid");
    if (p->gone) return fail("GetCommTimeouts: " + kGone);
    return p->timeouts;
}

Result<void> SimSerial::set_timeouts(PortHandle h, const Timeouts& t) {
    std::lock_guard<std::mutex> g(time_.mutex());
    Port* p = by_handle(h);
    if (!p) return fail("SetCommTimeouts: The handle is invalid");
    if (p->gone) return fail("SetCommTimeouts: " + kGone);
    p->timeouts = t;
    return {};
}

// ---- modem lines -------------------------------------------------------------------

Result<void> SimSerial::set_mask(PortHandle h, std::uint32_t ev_mask) {
    std::lock_guard<std::mutex> g(time_.mutex());
    Port* p = by_handle(h);
    if (!p) return fail("SetCommMask: The handle is invalid");
    if (p->gone) return fail("SetCommMask: " + kGone);
    p->mask = ev_mask;
    p->reported_until = time_.now_us();  // setting the mask forgets earlier changes
    time_.changed();
    return {};
}

// The masked line events of the changes in (from, to]; *first is the time
// of the first of them.
std::uint32_t SimSerial::events_between(Port& p, std::int64_t from, std::int64_t to, std::int64_t* first) {
    *first = kNever;
    if (!p.entry.bell || to <= from) return 0;
    SimBell& bell = *p.entry.bell;
    std::uint32_t ev = 0;
    std::uint32_t before = bell.word_at(from);
    for (std::int64_t t = bell.next_change_after(from); t <= to; t = bell.next_change_after(t)) {
        const std::uint32_t now = bell.word_at(t);
        const std::uint32_t bits = events_of(before ^ now) & p.mask;
        before = now;
        if (bits == 0) continue;
        if (*first == kNever) *first = t;
        ev |= bits;
    }
    return ev;
}

Result<std::uint32_t> SimSerial::wait_event(PortHandle h) {
    std::unique_lock<std::mutex> lk(time_.mutex());
    Port* p = by_handle(h);
    if (!p) return fail("WaitCommEvent: The handle is invalid");
    if (p->gone) return fail("WaitCommEvent: " + kGone);
    if (p->mask == 0) return fail("WaitCommEvent: The parameter is incorrect");
    std::int64_t first = kNever;
    // Changes since the last wait are the driver's event history: reported
    // at once, all together.
    const std::int64_t now = time_.now_us();
    if (std::uint32_t pending = events_between(*p, p->reported_until, now, &first)) {
        p->reported_until = now;
        return pending;
    }
    for (;;) {
        if (time_.stopped()) return fail("WaitCommEvent: the simulation has ended");
        if (p->handle != h) return fail("WaitCommEvent: The handle is invalid");
        if (p->gone) return fail("WaitCommEvent: " + kGone);
        const std::int64_t t = time_.now_us();
        if (events_between(*p, p->reported_until, t, &first) != 0) {
            // The wait ended with the first change; later ones (the other
            // edge of a short pulse, say) stay for the next wait.
            std::int64_t unused = kNever;
            const std::uint32_t ev = events_between(*p, p->reported_until, first, &unused);
            p->reported_until = first;
            return ev;
        }
        std::int64_t next = kNever;
        if (p->entry.bell && (events_of(p->entry.bell->config().line) & p->mask))
            next = p->entry.bell->next_change_after(t);
        time_.wait(lk, next, true);
    }
}

Result<std::uint32_t> SimSerial::modem_status(PortHandle h) {
    std::lock_guard<std::mutex> g(time_.mutex());
    Port* p = by_handle(h);
    if (!p) return fail("GetCommModemStatus: The handle is invalid");
    if (p->gone) return fail("GetCommModemStatus: " + kGone);
    return p->entry.bell ? p->entry.bell->word_at(time_.now_us()) : 0u;
}

// ---- data ----------------------------------------------------------------------------

// COMMTIMEOUTS as ReadFile applies them: interval MAXDWORD with no total
// returns at once; interval and multiplier MAXDWORD with a constant waits that
// long for the first byte only; otherwise the total (multiplier x bytes +
// constant, none if both are 0) bounds the whole read and the interval bounds
// the gap between two bytes.
Result<std::uint32_t> SimSerial::read(PortHandle h, char* buf, std::uint32_t max) {
    std::unique_lock<std::mutex> lk(time_.mutex());
    Port* p = by_handle(h);
    if (!p) return fail("ReadFile: The handle is invalid");
    if (p->gone) return fail("ReadFile: " + kGone);
    if (max == 0) return 0u;
    const Timeouts t = p->timeouts;
    const std::uint32_t kMax = kTimeoutMax;
    const bool at_once = t.read_interval == kMax && t.read_total_multiplier == 0 && t.read_total_constant == 0;
    const bool first_byte = t.read_interval == kMax && t.read_total_multiplier == kMax && t.read_total_constant > 0 &&
                            t.read_total_constant < kMax;
    const std::int64_t total_ms =
        first_byte ? t.read_total_constant : std::int64_t{t.read_total_multiplier} * max + t.read_total_constant;
    const bool has_total = at_once || first_byte || total_ms > 0;
    const std::int64_t start = time_.now_us();
    const std::int64_t deadline = has_total ? start + total_ms * 1000 : kNever;
    const bool interval = t.read_interval != 0 && t.read_interval != kMax;

    std::uint32_t got = 0;
    std::int64_t last_arrival = start;
    for (;;) {
        const std::int64_t now = time_.now_us();
        std::int64_t next_arrival = kNever;
        if (p->entry.bell) {
            const std::vector<DataByte>& bytes = bytes_until(*p, now);
            while (got < max && p->next_byte < bytes.size() && bytes[p->next_byte].arrival_us <= now) {
                buf[got++] = bytes[p->next_byte].ch;
                last_arrival = bytes[p->next_byte].arrival_us;
                ++p->next_byte;
            }
            if (p->next_byte < bytes.size()) next_arrival = bytes[p->next_byte].arrival_us;
        }
        if (got == max || (got > 0 && first_byte)) break;
        std::int64_t until = deadline;
        if (got > 0 && interval) until = std::min(until, last_arrival + std::int64_t{t.read_interval} * 1000);
        if (now >= until) break;
        time_.wait(lk, std::min({until, next_arrival, now + kReadRecheckUs}), true);
        if (time_.stopped()) break;
        if (p->handle != h) return fail("ReadFile: The handle is invalid");
        if (p->gone) return fail("ReadFile: " + kGone);
    }
    return got;
}

void SimSerial::set_plugged_in(const std::string& name, bool in) {
    std::lock_guard<std::mutex> g(time_.mutex());
    for (Port& p : ports_)
        if (p.entry.name == name) p.gone = !in;
    time_.changed();  // a pending wait on it fails
}

std::int64_t SimSerial::next_byte_at(PortHandle h) {
    Port* p = by_handle(h);
    if (!p || !p->entry.bell) return kNever;
    const std::vector<DataByte>& bytes = bytes_until(*p, time_.now_us());
    return p->next_byte < bytes.size() ? bytes[p->next_byte].arrival_us : kNever;
}

Result<void> SimSerial::purge(PortHandle h, std::uint32_t flags) {
    std::lock_guard<std::mutex> g(time_.mutex());
    Port* p = by_handle(h);
    if (!p) return fail("PurgeComm: The handle is invalid");
    if (p->gone) return fail("PurgeComm: " + kGone);
    if (flags & (kPurgeRxAbort | kPurgeRxClear)) p->next_byte = skip_bytes_until(*p, time_.now_us());
    return {};
}

Result<void> SimSerial::flush(PortHandle h) {
    std::lock_guard<std::mutex> g(time_.mutex());
    Port* p = by_handle(h);
    if (!p) return fail("FlushFileBuffers: The handle is invalid");
    if (p->gone) return fail("FlushFileBuffers: " + kGone);
    return {};
}

}  // namespace qn::platform::sim
