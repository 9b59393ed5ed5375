// Modem-line waits under Wine.
//
// The Windows serial driver keeps the line changes made since the last
// WaitCommEvent, and the next wait returns at once with them. Wine (8.0)
// does not: each wait starts from the lines as it finds them and polls for
// a difference every millisecond, so a change made between two waits is
// never reported. The status thread depends on the driver's behaviour (after
// a transient it waits once more to swallow the pulse's return), so under
// Wine the serial service keeps that memory itself, per port.
#pragma once

#include "platform/win32/win32.h"

#include <array>
#include <atomic>

namespace qn::platform::win32 {

// Asked once: ntdll exports wine_get_version under Wine only.
bool running_under_wine();

// The EV_ bits of the lines in ev_mask whose MS_ bits differ between a and b.
DWORD changed_events(DWORD a, DWORD b, DWORD ev_mask);
// The MS_ bits of the lines named by EV_ bits.
DWORD status_bits(DWORD events);

struct RememberedLines {
    std::atomic<DWORD> mask{0};  // EV_ bits, as last set
    // The lines as the last wait reported them (or as they were when the
    // mask was set): the next wait reports at once any watched line that
    // differs from this.
    std::atomic<DWORD> seen{0};
};

// One record per port whose mask was set. No lock: the waiting thread may be
// suspended anywhere and must hold nothing the other thread needs.
class LineMemory {
public:
    // The port's record, made when absent; nullptr when every record is in
    // use (that port then waits as Wine does).
    RememberedLines* claim(HANDLE port);
    RememberedLines* find(HANDLE port);
    void forget(HANDLE port);

private:
    struct Slot {
        std::atomic<HANDLE> port{nullptr};
        RememberedLines lines;
    };
    // Far more than the ports a run opens at once (a handful of trial opens
    // and the port in service).
    std::array<Slot, 64> slots_;
};

}  // namespace qn::platform::win32
