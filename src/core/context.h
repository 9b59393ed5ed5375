// The whole program state: one plain struct per subsystem, all reached from
// one Context, so a test can build a fresh program on fake platform services.
// Field names are the program's own global names; arrays keep their numbering.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "console/screen.h"
#include "core/arr.h"
#include "core/epiktimer.h"
#include "core/strike_records.h"
#include "platform/platform.h"
#include "strokes/runlog.h"

namespace qn {

namespace link {
class TowerLink;
}
class StrikePath;
class MonitorRegion;
class BigCounter;
class StrikeNotices;
class StrikeLog;

using platform::PortHandle;
using platform::WindowHandle;

// ---- constants ------------------------------------------------------------

inline constexpr const char* PROGRAM_VERSION = "Quennick_v0.8.2d3_(04_Jan_2021)_";
inline constexpr int MAXSERIALPORTS = 25;
inline constexpr int COMBUFFERLEN = 512;
inline constexpr int MAXSENSORS = 16;
inline constexpr int MAXCALIBRATIONEVENTS = 256;
inline constexpr int MAXROWSALLOWED = 6000;
inline constexpr int MAXTARGETPROGS = 9;
inline constexpr int SLEEPNUMDEFAULT = 5;
inline constexpr int SWITCHBOUNCEDELAYDEFAULT = 40;
inline constexpr int TRANSIENTSIGNALSDELAYDEFAULT = 2;
inline constexpr int DEFAULTSINGLESENSORDELAY = 380;
inline constexpr int DEFAULTDOUBLESENSORDELAY = 80;
inline constexpr int DOUBLESTRIKEDELAYDEFAULT = 350;
inline constexpr bool USEDOUBSENDDEFAULT = true;
inline constexpr const char* INITIALTARGETPROGRAM = "Ringing Room";
inline constexpr std::int64_t THISEVENTTIMEOFF = -1;
inline constexpr int FIRSTLINEOFSCRATCHSCREEN = 9;
inline constexpr int LASTLINEOFSCRATCHSCREEN = 20;
inline constexpr int LASTLINEBIGNUMBER = 18;
inline constexpr int PNLISTLENGTH = 20;
inline constexpr int MAXTHEMOD = 100;
inline constexpr int ROUNDSATSTART = 6;
inline constexpr int ROUNDSATEND = 4;
inline constexpr int MAXAUTOBELLS = 12;
inline constexpr int AUTOKEYBELLSDEFAULT = 6;
inline constexpr int AUTOSPEEDDEFAULT = 180;
inline constexpr int MAXPROCLIST = 100;
inline constexpr const char* DEFAULTTOWERSITE = "https://ringingroom.com";

// ---- program core ----------------------------------------------------------

struct CoreState {
    bool EASYMODE = true;
    std::string FNAMEFI;
    bool GOTCONFIGFILE = false;
    bool GOTTHESERIALPORT = false;
    bool TIMERON = false;
    bool TERMINATEPROGRAM = false;
    bool AUTOBELLSETUPFLAG = false;
    bool wait_failure_logged = false;  // the service loop's wait failed and said so
};

// The stopwatch lives as long as the process: the serial thread may read it
// up to the moment the process ends.
struct TimingState {
    std::unique_ptr<TEpikTimer> owner;  // never freed before the process ends
    TEpikTimer* ET = nullptr;
    std::atomic<bool> TIMERISON{false};
    TEpikTimer* SERIALET = nullptr;
    std::atomic<bool> SERIALTIMERISON{false};
};

// ---- settings (the settings file's values) ---------------------------------

struct DataResultRec {
    double SIGNALTIME = 0;
    double SIGNALGAP = 0;
    double SENSORGAP = 0;
};

struct Settings {
    std::string COMPORTNAME;
    bool SIGNALSMODE = false;
    bool BAGLEYMODE = false;
    bool USECTS = false, USEDSR = false, USECD = false, USERI = false;
    char USEDATINPUTCHAR = '\0';
    std::int32_t SIGNALNUM = 0;
    Arr<DataResultRec, 1, MAXCALIBRATIONEVENTS> DATARESULT;
    std::int32_t SLEEPNUM = SLEEPNUMDEFAULT;
    bool BIGNUMBERS = false;
    bool MONITOROUTPUT = false;
    std::int32_t SWITCHBOUNCEDELAY = SWITCHBOUNCEDELAYDEFAULT;
    std::atomic<std::int32_t> TRANSIENTSIGNALSDELAY{0};  // read by the serial thread
    bool SIGNALSTARTSOFF = true;
    std::int32_t SENSORNUM = 0;
    std::int32_t MEANSIGNALLENGTH = 0;
    bool USINGHANDBELLS = false;
    bool OFFANDONARESIGNALS = false;
    double SPACERATIOLOWERBOUND = 0.6;
    double SPACERATIOUPPERBOUND = 1.7;
    std::string TARGETPROGRAM = INITIALTARGETPROGRAM;
    bool DOBESPOKE = false;

    // The tower link of the Ringing Room targets: rings go straight to the
    // tower's server. TOWERID 0: keys go to the browser as before.
    std::int32_t TOWERID = 0;
    std::int32_t TOWERBELLJ = 1;  // the ringer's bells for the keys "j" and "f" (0: none)
    std::int32_t TOWERBELLF = 0;
    std::string TOWERSITE = DEFAULTTOWERSITE;
    std::string TOWEREMAIL;       // a Ringing Room account to log in with; empty: anonymous
};

// ---- sensor input ----------------------------------------------------------

struct SerialState {
    // Port list and handles.
    Arr<std::string, 1, MAXSERIALPORTS> PORTNAME;
    std::int32_t PORTSTOTAL = 0;
    PortHandle SERIALHANDLE = 0;
    Arr<PortHandle, 1, MAXSERIALPORTS> SERIALHANDLEARR;

    // Event ring: slot 0 is the start status, slots 1..512 the ring.
    Arr<std::uint32_t, 0, COMBUFFERLEN> COMMBUFFER;
    Arr<std::int64_t, 0, COMBUFFERLEN> COMMTIME;
    Arr<std::uint8_t, 0, COMBUFFERLEN> SHSIG;
    std::atomic<std::int32_t> IHIGHBUFFERPLUSONE{0};
    std::int32_t LASTILOWBUFFER = 0;
    std::int32_t ILOWBUFFER = 0;
    std::int64_t LOSTEVENTS = 0;  // events overwritten before the main thread took them

    // Omitted events, for the event log.
    Arr<std::uint32_t, 1, COMBUFFERLEN> OMITCOMMBUFFER;
    Arr<std::int64_t, 1, COMBUFFERLEN> OMITCOMMTIME;
    Arr<std::uint8_t, 1, COMBUFFERLEN> OMITSHSIG;
    std::atomic<std::int32_t> OMITBUFFER{0};

    // Thread control.
    PortHandle SERHANDLE = 0;
    std::atomic<bool> SERIALTHREADON{false};
    std::atomic<bool> SERIALSTATUSEVEENTSTERMINATED{false};
    platform::ThreadHandle COMM_THREADHANDLE = 0;
    std::uint32_t COMM_THREADID = 0;
    bool CTSLIVE = false, DSRLIVE = false, CDLIVE = false, RILIVE = false;

    // The serial thread's own state, kept here so the per-event step can be
    // driven by tests.
    std::uint32_t DWEVENTMASK = 0;
    std::uint32_t DFLAG = 0;
    std::uint32_t LASTTRUESTATUS = 0;
    std::uint32_t THISTRUESTATUS = 0;
    // Failed waits and status reads, so a pulled adapter is noticed.
    std::int64_t FAILSINCEMICRO = -1;     // first failure of the current run of them
    std::int64_t FAILLOGGEDMICRO = -1;    // last time the failure was logged
    std::int32_t FAILSUPPRESSED = 0;      // failures not logged since then
    std::atomic<std::int32_t> PORTLOSTLOCN{0};  // set by the thread when the port is gone
};

// ---- key output ------------------------------------------------------------

struct SensingPoint {
    std::int32_t WSNUM = 0;
    char WKEYHAND = '\0';
    std::int32_t WDELAYHAND = 0;
    char WKEYBACK = '\0';
    std::int32_t WDELAYBACK = 0;
};

struct TARGETPROGRAMARRTYPE {
    std::string TTARGETPROGRAM;
    std::string TTARGETPROGRAM2;
    std::int32_t TSENSORSACTIVE = 0;
    bool TFINDINGANDGOINGTOWINDOW = false;
    bool TRESTRICTEDVERSION = false;
    Arr<SensingPoint, 1, MAXSENSORS> TWHICHSENSORARR;
    bool TUSEDOUBLEDSEND = false;
    std::int32_t TDOUBLESTRIKEDELAY = 0;
};

struct KeyoutState {
    Arr<TARGETPROGRAMARRTYPE, 0, MAXTARGETPROGS> TARGETPROGRAMARR;
    std::int32_t TARGETPROGRAMINDEX = 0;
    std::int32_t SENSORSACTIVE = 0;
    bool RESTRICTEDVERSION = false;
    bool FINDINGANDGOINGTOWINDOW = false;
    bool USEDOUBLEDSEND = false;
    std::int32_t DOUBLESTRIKEDELAY = 0;
    Arr<SensingPoint, 1, MAXSENSORS> WHICHSENSORARR2;

    // Window discovery.
    std::string SEARCHSTRING;
    bool WINDOWFOUND = false;
    std::string WINDOWTITLE;
    std::string TITLE;
    WindowHandle SAVEWND = 0;
    Arr<platform::ProcessEntry, 1, MAXPROCLIST> PROCLIST;
    std::int32_t NUMPROCESSES = 0;
    std::string CHILDWINDOW, GRANDCHILDWINDOW;
    WindowHandle WINHANDLE = 0;
    bool FIREFOX = false, CHROME = false;

    // Key dispatch.
    bool WINDOWFOCUS = true;
    std::string TITLE2;
    std::int64_t LASTKEYSENDMICROSEC = 0;
    bool SENDINPUTFAILLOGGED = false;

    // Configuration menus.
    bool DIAGNOSTICS = false;
};

// ---- calibration -----------------------------------------------------------

using PortLineStates = Arr<char, 0, MAXCALIBRATIONEVENTS>;

struct CalibrationState {
    Arr<bool, 1, MAXSERIALPORTS> CTSBOLDARR, DSRBOLDARR, CDBOLDARR, RIBOLDARR;
    Arr<bool, 1, MAXSERIALPORTS> USECTSARR, USEDSRARR, USECDARR, USERIARR, USEDATARR;
    Arr<Arr<char, 1, 255>, 1, MAXSERIALPORTS> CHARBUFFER;
    Arr<std::int32_t, 1, MAXSERIALPORTS> DATBOLDARR;
    std::int32_t CURRENTPORTIDX = 0;

    Arr<std::uint32_t, 1, MAXSERIALPORTS> INITIALSTATUSARR, NOWSTATUSARR;
    Arr<bool, 1, MAXSERIALPORTS> CTSBARR, DSRBARR, CDBARR, RIBARR;
    Arr<std::int32_t, 1, MAXSERIALPORTS> SIGNALNUMARR;
    Arr<Arr<std::int64_t, 1, MAXCALIBRATIONEVENTS>, 1, MAXSERIALPORTS> MICROSECSARR;
    Arr<PortLineStates, 1, MAXSERIALPORTS> CTSBARR2, DSRBARR2, CDBARR2, RIBARR2;
    Arr<bool, 1, MAXSERIALPORTS> CHANGESTATEARR;

    std::int32_t GOODSIGS = 0;
    std::int64_t STARTTIMEMILLISECS = 0;
    bool FIRSTRUN = false;
    bool FIRSTSENSING = false;
    bool SENSORDATAFOUND = false;
    double MAXMICROINTERVAL = 0;

    // Locals of the detection shared with its steps.
    std::int32_t DSC_PORTIDX = 0;
    std::int32_t NPORTSIGNAL = 0, NPORTDATA = 0;
    Arr<bool, 1, MAXSERIALPORTS> SIGNALSMODEARR;
    std::int32_t TIMETHROUGH = 0;
    bool SENSORDETECTIONOK = false;
    char CH = '\0';

    // The bytes of a port read while sensors are detected.
    Arr<char, 1, 255> CHARBUFF;
    std::int32_t SERIALREADTIMEOUTTIME = 1;

    // Analysis working data.
    Arr<double, 1, MAXCALIBRATIONEVENTS> MICROINTERVAL;
    Arr<double, 1, MAXCALIBRATIONEVENTS> ADJMICROINTERVAL;
};

// ---- console ---------------------------------------------------------------

struct ConsoleState {
    Arr<Arr<std::string, 1, 20>, 0, 9> LINE;  // digit glyphs
    Arr<std::string, 0, 9> FASTLINE;
    bool REPAINTBIGNUMBERWINDOW = false;
};

// ---- automatic ringing -----------------------------------------------------

inline constexpr int ROWLO = -ROUNDSATSTART;

struct AutoringState {
    Arr<std::string, ROWLO, MAXROWSALLOWED> ROW;
    Arr<std::string, ROWLO, MAXROWSALLOWED> PN;
    Arr<char, ROWLO, MAXROWSALLOWED> PNCALL;
    Arr<bool, ROWLO, MAXROWSALLOWED> PNMATCH;
    Arr<std::int32_t, ROWLO, MAXROWSALLOWED> SYMMETRY;
    Arr<std::int32_t, ROWLO, MAXROWSALLOWED> SYMMETRYMAX;
    Arr<std::string, 1, PNLISTLENGTH> PNLIST;
    Arr<char, 1, PNLISTLENGTH> PNCALLLIST;
    Arr<std::int32_t, 1, MAXTHEMOD> THEMOD;
    std::int32_t ROWNUM = 0;
    std::int32_t BASELEN = 0;
    std::int32_t NUMWORKBELLS = 0;
    std::int32_t PNLISTNUM = 0;
    std::int32_t MATCHPATTERNS = 0;
    std::int32_t NUMBEROFP = 0;
    std::string FMETHOD;  // text of the open method file

    std::int32_t AUTOKEYBELLS = AUTOKEYBELLSDEFAULT;
    std::string AUTOKEYPRESSDATA;
    std::int32_t AUTOKEYSPEED = AUTOSPEEDDEFAULT;
    std::int64_t AUTOKEYTIMERINTERVAL = 329;
    std::int32_t AUTOKEYCOUNT = 0;
    bool AUTOKEYPRESS = false;
    std::int64_t AUTOKEYTIMER = 0;
    std::int32_t ROWN = -6;
    std::string DBLROWAUTOPRESSDATA;
    bool RINGBELLFIRSTTIME = false;
};

// ---- tower link ------------------------------------------------------------

struct LinkState {
    std::unique_ptr<link::TowerLink> session;  // null while no link runs
    bool service_started = false;  // from now on a changed target restarts the link
    std::string password;          // typed at the target menu, for the next start only
    long rings_without_session = 0;  // due while no link ran (a failed start)
    bool no_bell_logged = false;
    std::string shown;             // the status line as last drawn
    // quennick-sim's figures: every ring of a sensing point's key, sent or not.
    std::function<void(char key, int bell, bool handstroke, bool sent)> on_ring;
    // Run on the link's thread when its state changes (a wake for the main loop).
    std::function<void()> on_change;
};

// ---- the program -----------------------------------------------------------

struct Context {
    explicit Context(platform::Platform& p);
    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    platform::Platform& plat;
    Screen screen;      // the console model
    RunLog FOOERROR;    // the run log

    CoreState core;
    TimingState timing;
    Settings cfg;
    SerialState serial;
    KeyoutState keyout;
    CalibrationState calib;
    ConsoleState con;
    AutoringState autoring;
    LinkState link;

    // The strike path and its observers, made and wired by make_context
    // (service/program.h).
    StrikeReportFanOut strike_report;
    std::unique_ptr<StrikePath> strikes;
    std::unique_ptr<MonitorRegion> monitor;
    std::unique_ptr<BigCounter> big_counter;
    std::unique_ptr<StrikeNotices> strike_notices;
    std::unique_ptr<StrikeLog> strike_log;
};

}  // namespace qn
