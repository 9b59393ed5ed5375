// A complete calibration: port, mode and sensors, default settings and key
// assignments, the user's target, and the new settings file.
#include "calibration/calibrate.h"

#include "calibration/ports_check.h"
#include "config/configfile.h"
#include "console/textsink.h"
#include "core/context.h"
#include "keyout/keysending.h"
#include "keyout/targets.h"

namespace qn {

namespace {

void WRITEHEADING(TextSink& f) { f.writeln("Doing  complete basic calibration: details can be adjusted later"); }

}  // namespace

// Every calibration is a complete one; the flag says so at the call.
void CALIBRATE(Context& c, bool /*full*/) {
    WRITEHEADING(c.screen);
    WRITEHEADING(c.FOOERROR);
    c.cfg.BAGLEYMODE = false;
    c.cfg.SIGNALSMODE = false;

    // Every failure in here ends the program, so nothing below is reached
    // and an existing settings file stays as it was.
    SETUPSERIALPORTS(c);

    c.cfg.BIGNUMBERS = false;
    c.cfg.SLEEPNUM = SLEEPNUMDEFAULT;
    c.cfg.SWITCHBOUNCEDELAY = SWITCHBOUNCEDELAYDEFAULT;
    SETTARGETPROGRAMDEFAULTPARAMETERS(c);
    // Handbells ring without delays: the settings file is written with zero
    // delays, and this session must ring the same way as the next one.
    if (c.cfg.USINGHANDBELLS)
        for (int i = 0; i <= MAXTARGETPROGS; ++i)
            for (std::int32_t j = 1; j <= MAXSENSORS; ++j) {
                c.keyout.TARGETPROGRAMARR[i].TWHICHSENSORARR[j].WDELAYHAND = 0;
                c.keyout.TARGETPROGRAMARR[i].TWHICHSENSORARR[j].WDELAYBACK = 0;
            }
    CHOOSEWINDOWTARGET(c);
    (void)WRITECONFIGFILE(c);  // reports its own failure; the settings stay in memory
}

}  // namespace qn
