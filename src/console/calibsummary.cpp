// The calibration summary, written to the console or to a file.
#include "console/bignumber.h"
#include "console/crt.h"
#include "core/context.h"
#include "core/text.h"

namespace qn {

// The screen model is itself a text sink: output goes to the current window.
TextSink& console_sink(Context& c) { return c.screen; }

void WRITECURRENTCALIBRATIONTOSCREEN(Context& c, TextSink& out) {
    const Settings& cfg = c.cfg;
    const KeyoutState& k = c.keyout;
    out.writeln("Current calibration: Bell Sensor parameters - Total sensing points=" + str(cfg.SENSORNUM));
    out.write("Using port " + cfg.COMPORTNAME + " using ");
    if (cfg.BAGLEYMODE) {
        out.write("(Bagley) DATA, using input character " + std::string(1, cfg.USEDATINPUTCHAR));
    } else {
        if (cfg.USECTS) out.write("CTS ");
        if (cfg.USEDSR) out.write("DSR ");
        if (cfg.USECD) out.write("CD ");
        if (cfg.USERI) out.write("RI ");
        if (!c.core.EASYMODE)
            out.writeln("switch bounce delay (ms)=" + str(cfg.SWITCHBOUNCEDELAY) + " sleep value=" + str(cfg.SLEEPNUM));
    }
    out.writeln(" Total signals=" + str(cfg.SIGNALNUM) + " for hand/backstroke pair");
    std::int32_t n = cfg.SIGNALNUM < MAXCALIBRATIONEVENTS ? cfg.SIGNALNUM : MAXCALIBRATIONEVENTS;
    for (std::int32_t i = 1; i <= n; ++i) {
        const DataResultRec& r = cfg.DATARESULT[i];
        std::string line = "Signal time=" + fixed(r.SIGNALTIME, 7, 4) + " signalgap=" + fixed(r.SIGNALGAP, 7, 4);
        if (r.SENSORGAP == 0 && i > 1)
            line += " SIGNAL_IGNORED";
        else
            line += " sensorgap=" + fixed(r.SENSORGAP, 7, 4);
        if (i % 2 == 0 && r.SENSORGAP > 0 && r.SENSORGAP < 0.04) line += " WARNING<40ms may FAIL";
        out.writeln(line);
    }
    if (cfg.TARGETPROGRAM == "Open")
        out.writeln("Currently Open - Send keys to any foreground window: Active sensing points=" + str(k.SENSORSACTIVE));
    else
        out.writeln("Currently send keys to " + cfg.TARGETPROGRAM + " window: Active sensing points=" +
                    str(k.SENSORSACTIVE));
    for (std::int32_t i = 1; i <= k.SENSORSACTIVE && i <= MAXSENSORS; ++i) {
        const SensingPoint& p = k.WHICHSENSORARR2[i];
        out.writeln("Sensing point=" + str(p.WSNUM) + " handstroke:key=" + std::string(1, p.WKEYHAND) +
                    " delay=" + str(p.WDELAYHAND) + " backstroke:key=" + std::string(1, p.WKEYBACK) +
                    " delay=" + str(p.WDELAYBACK));
    }
}

}  // namespace qn
