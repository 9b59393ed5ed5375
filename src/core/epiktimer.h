// The program's one stopwatch. It counts in ticks of the platform's
// high-resolution counter and reads out microseconds; both threads read it.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/clock.h"
#include "platform/threads.h"

namespace qn {

inline constexpr std::int64_t DEFAULTSYSTEMTICKSPERSECOND = 1000000;
inline constexpr std::int64_t SYSTEMTICKSNORMALRANGELIMIT = 100000;

enum class TimeBaseSource { SYSTEMTIMEBASE, HARDWARETIMEBASE };
enum class CorrelationMode { MANUAL, ONTIMEBASESELECT, ONGETELAPSED };

struct TIMEBASECALIBRATIONPARAMETERS {
    bool FREQCALIBRATED = false;
    bool OVERHEADCALIBRATED = false;
    std::int32_t TICKSITERATIONS = 0;
    std::int32_t SLEEPITERATIONS = 0;
    std::int32_t FREQITERATIONS = 0;
    std::int32_t FREQUENCYGATETIMEMS = 0;
};

struct TIMEBASEDATA {
    TIMEBASECALIBRATIONPARAMETERS CALIBRATION;
    std::int64_t TICKSFREQUENCY = 1;
    std::int64_t TICKSOVERHEAD = 0;
    std::int64_t SLEEPOVERHEAD = 0;
    std::int64_t MEASUREDFREQUENCY = 0;  // the timed-sleep measurement, for the log
    bool AVAILABLE = false;
    bool HARDWARE = false;  // TICKS reads the time-stamp counter
};

struct TIMERDATA {
    std::atomic<bool> RUNNING{false};
    TIMEBASEDATA* TIMEBASEUSED = nullptr;
    std::atomic<std::int64_t> STARTTIME{0};
    std::atomic<std::int64_t> TOTALTICKS{0};
};

class TEpikTimer {
public:
    TEpikTimer(platform::Clock& clock, platform::Threads& threads);
    virtual ~TEpikTimer() = default;

    void CLEAR();
    void START();
    void STOP();
    std::int64_t ELAPSEDDHMSASMICROSECS() const;
    std::int64_t ELAPSEDDHMSASMILLISECS() const;
    // The counter value at which the running stopwatch will read `us`
    // microseconds: what a deadline is handed to the platform's waits as.
    std::int64_t counter_at(std::int64_t us) const;
    // What the running stopwatch read (or will read) at that counter value.
    std::int64_t micros_at(std::int64_t counter) const;

    virtual std::int32_t SYSTEMSLEEP(std::int32_t ms);
    virtual std::int32_t CALIBRATECALLOVERHEADS(TIMEBASEDATA& tb);
    virtual std::int32_t CALIBRATETICKFREQUENCY(TIMEBASEDATA& tb);

    std::int64_t TICKS(const TIMEBASEDATA& tb) const;

    TIMEBASEDATA FSYSTEMTICKS;
    TIMEBASEDATA FHWTICKS;
    TIMERDATA BUILTINTIMER;
    bool FWANTDAYS = true;
    bool FWANTMS = true;
    std::int32_t FSPRECISION = 6;
    TimeBaseSource FSELECTEDTIMEBASE = TimeBaseSource::SYSTEMTIMEBASE;
    CorrelationMode FCORRELATIONMODE = CorrelationMode::ONTIMEBASESELECT;
    bool FMICROSECONDSYSTEMCLOCKAVAILABLE = false;
    std::int32_t OVERHEADRESULT = 0;  // what CALIBRATECALLOVERHEADS returned

private:
    std::int64_t elapsed_ticks() const;
    platform::Clock& clock_;
    platform::Threads& threads_;
    // Start and stop happen on one thread at a time; readers on any thread
    // retry while a change is under way.
    std::atomic<std::uint32_t> seq_{0};
};

}  // namespace qn
