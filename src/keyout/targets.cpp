#include "keyout/targets.h"

#include <algorithm>
#include <array>

#include "console/textsink.h"
#include "core/context.h"
#include "core/text.h"
#include "keyout/desktop.h"

namespace qn {

namespace {

struct TargetDefault {
    const char* name;
    const char* window;
    bool find;
    bool restricted;
    bool sensor_is_last;  // WSNUM = SENSORNUM, else 1
    char key;
    std::int32_t delay_one;
    std::int32_t delay_more;
};

// Entry 4 has no delay with one sensor and the full delay with more, the
// reverse of entry 5; entries 5 and 6 have none with more than one sensor.
// Stored settings files and users' habits rest on these values.
constexpr std::array<TargetDefault, MAXTARGETPROGS + 1> kDefaults = {{
    {"Open", "Open", false, false, true, 'j', 380, 80},
    {"Ringing Room - any browser with focus", "Ringing Room", true, true, true, 'j', 380, 80},
    {"Ringing Room - Firefox", "Ringing Room * Mozilla Firefox", true, true, true, 'j', 380, 80},
    {"Ringing Room - Chrome or Edge", "Ringing Room ", true, true, true, 'j', 380, 80},
    {"Muster - using moving ropes", "Muster", true, true, false, 'j', 0, 380},
    {"Muster - no delay", "Muster", true, true, false, 'j', 380, 0},
    {"Ding - direct", "Ding", true, true, false, 'h', 380, 0},
    {"Ding - moving ropes", "Ding", true, true, false, 'h', 380, 80},
    {"Abel", "Abel", true, true, false, 'j', 380, 80},
    {"Beltower", "BELTOWER -", true, true, false, 'j', 380, 80},
}};

}  // namespace

TARGETPROGRAMARRTYPE default_target_entry(int index, std::int32_t sensors) {
    TARGETPROGRAMARRTYPE e;
    const TargetDefault& d = kDefaults[static_cast<std::size_t>(index)];
    e.TSENSORSACTIVE = 1;
    e.TTARGETPROGRAM = d.name;
    e.TTARGETPROGRAM2 = d.window;
    e.TFINDINGANDGOINGTOWINDOW = d.find;
    e.TRESTRICTEDVERSION = d.restricted;
    e.TUSEDOUBLEDSEND = USEDOUBSENDDEFAULT;
    e.TDOUBLESTRIKEDELAY = DOUBLESTRIKEDELAYDEFAULT;
    SensingPoint& p = e.TWHICHSENSORARR[1];
    p.WSNUM = d.sensor_is_last ? sensors : 1;
    p.WKEYHAND = d.key;
    p.WKEYBACK = d.key;
    p.WDELAYHAND = sensors == 1 ? d.delay_one : d.delay_more;
    p.WDELAYBACK = p.WDELAYHAND;
    return e;
}

void SETTARGETPROGRAMDEFAULTPARAMETERS(Context& c) {
    KeyoutState& k = c.keyout;
    const std::int32_t sensors = c.cfg.SENSORNUM;
    k.SENSORSACTIVE = 1;
    for (int i = 0; i <= MAXTARGETPROGS; ++i) {
        TARGETPROGRAMARRTYPE& e = k.TARGETPROGRAMARR[i];
        TARGETPROGRAMARRTYPE d = default_target_entry(i, sensors);
        // Sensing points beyond the bell's sensors keep what they held.
        for (std::int32_t j = std::max<std::int32_t>(sensors, 1) + 1; j <= MAXSENSORS; ++j)
            d.TWHICHSENSORARR[j] = e.TWHICHSENSORARR[j];
        e = d;
    }
}

bool is_target_name(const std::string& name) {
    if (name == "Open") return true;
    for (int i = 1; i <= MAXTARGETPROGS; ++i)
        if (name == kDefaults[static_cast<std::size_t>(i)].name) return true;
    return false;
}

std::uint8_t CONVERTPROGRAMNAMETOPROGRAMIDX(Context& c, const std::string& name) {
    for (int i = 1; i <= MAXTARGETPROGS; ++i)
        if (name == kDefaults[static_cast<std::size_t>(i)].name) return static_cast<std::uint8_t>(i);
    c.keyout.FINDINGANDGOINGTOWINDOW = false;
    c.keyout.RESTRICTEDVERSION = false;
    return 0;
}

std::string CONVERTPROGRAMIDXTOPROGRAMNAME(Context& c, std::uint8_t index) {
    if (index >= 1 && index <= MAXTARGETPROGS) return kDefaults[index].name;
    c.keyout.FINDINGANDGOINGTOWINDOW = false;
    c.keyout.RESTRICTEDVERSION = false;
    return "Open";
}

std::int32_t BYTE2INTEGER(std::uint8_t b) { return static_cast<std::int32_t>(b); }

std::int32_t ASSIGNPARAMETERSFORTARGETPROGRAM(Context& c, const std::string& name) {
    KeyoutState& k = c.keyout;
    std::int32_t idx = BYTE2INTEGER(CONVERTPROGRAMNAMETOPROGRAMIDX(c, name));
    const TARGETPROGRAMARRTYPE& e = k.TARGETPROGRAMARR[idx];
    // A settings file may hold any number here; the tables hold 16.
    k.SENSORSACTIVE = e.TSENSORSACTIVE < 0 ? 0 : (e.TSENSORSACTIVE > MAXSENSORS ? MAXSENSORS : e.TSENSORSACTIVE);
    k.RESTRICTEDVERSION = e.TRESTRICTEDVERSION;
    k.FINDINGANDGOINGTOWINDOW = e.TFINDINGANDGOINGTOWINDOW;
    k.USEDOUBLEDSEND = e.TUSEDOUBLEDSEND;
    k.DOUBLESTRIKEDELAY = e.TDOUBLESTRIKEDELAY;
    for (std::int32_t j = 1; j <= k.SENSORSACTIVE; ++j) k.WHICHSENSORARR2[j] = e.TWHICHSENSORARR[j];
    fit_target_to_desktop(c);
    return idx;
}

void WRITEOTHERPROGRAMOPTIONS(Context& c, TextSink& f) {
    const KeyoutState& k = c.keyout;
    f.writeln("Other program options are ");
    for (int i = 0; i <= MAXTARGETPROGS; ++i) {
        const TARGETPROGRAMARRTYPE& e = k.TARGETPROGRAMARR[i];
        if (e.TTARGETPROGRAM == c.cfg.TARGETPROGRAM) {
            f.writeln();
            continue;
        }
        if (e.TTARGETPROGRAM2 == "Open")
            f.writeln("Option" + str(i) + " Open - Sends to any foreground window: # sensing points=" +
                      str(e.TSENSORSACTIVE));
        else
            f.writeln("Option" + str(i) + " Program" + e.TTARGETPROGRAM + " window: # sensing points=" +
                      str(e.TSENSORSACTIVE));
        for (std::int32_t j = 1; j <= e.TSENSORSACTIVE && j <= MAXSENSORS; ++j) {
            const SensingPoint& p = e.TWHICHSENSORARR[j];
            f.writeln("Sensing point=" + str(p.WSNUM) + " handstrokekey =" + std::string(1, p.WKEYHAND) +
                      " delay=" + str(p.WDELAYHAND) + " backstrokekey=" + std::string(1, p.WKEYBACK) +
                      " delay=" + str(p.WDELAYBACK));
        }
        f.writeln();
    }
}

}  // namespace qn
