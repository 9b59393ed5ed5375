// The serial status thread and the event ring buffer it fills.
#pragma once

#include <cstdint>
#include <string>

#include "platform/serial.h"

namespace qn {

struct Context;

enum : std::uint8_t { kShapeNormal = 0, kShapeStartup = 1, kShapeShort = 2, kShapeDropout = 3, kShapeInterference = 4 };

std::int32_t wrap_index(std::int32_t i);
std::string WR(std::int32_t code);

// The start sequence: log lines, thread creation, time-critical priority.
void start_serial_thread(Context& c, platform::PortHandle h);
// The thread body: the start steps, then the event loop until the process ends.
void run_serial_thread(Context& c);
// Steps of the thread, so tests can drive them on a fake port and clock.
void serial_thread_start(Context& c);
// Waits for one line change and records or omits it. Returns false when the
// thread should end (terminated, or the port is lost).
bool serial_thread_event(Context& c);
void record_omitted_event(Context& c, std::int32_t slot);

void reset_serial_thread(Context& c);
// A data-mode read of the port failed (main thread): logged at most once a
// second, with a nap of a millisecond; after more than a second of failing
// reads the port is given up as lost (location 7), as the thread gives it up
// (location 2).
void note_data_read_failure(Context& c, const std::string& error);
void note_data_read_success(Context& c);
// When the port has been given up as lost, tells the ringer, writes the
// touch's event log and stops the program the way a failed line read does;
// otherwise returns false. Main thread only.
bool take_lost_port(Context& c);
// A reader more than a ring's length behind would read overwritten slots:
// logs how many events were lost and moves the reader to the oldest intact
// event. Returns the number lost.
std::int32_t skip_overwritten_events(Context& c);
void kill_serial_thread(Context& c);
[[noreturn]] void stop_on_bad_port(Context& c, std::int32_t location);

}  // namespace qn
