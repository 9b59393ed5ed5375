// The port survey at the start of a calibration, and the choice of the one
// port the bell was found on.
#include "calibration/ports_check.h"

#include <algorithm>
#include <string>

#include "calibration/detection.h"
#include "console/crt.h"
#include "core/context.h"
#include "core/text.h"
#include "serial/ports.h"
#include "strokes/outputs.h"

namespace qn {

namespace {

char* charbuff(Context& c) { return &c.calib.CHARBUFF[1]; }

void clear_charbuff(Context& c) { c.calib.CHARBUFF.fill('\0'); }

// A port the survey cannot use is closed again and left out; the others
// are surveyed as usual.
void leave_out(Context& c, std::int32_t i, const std::string& why) {
    SerialState& s = c.serial;
    close_serial_port(c, s.SERIALHANDLEARR[i]);
    s.SERIALHANDLEARR[i] = 0;
    c.screen.writeln(str(i) + " " + c.cfg.COMPORTNAME + " not useable - " + why);
    c.FOOERROR.writeln(str(i) + " " + c.cfg.COMPORTNAME + " not useable - " + why);
    c.FOOERROR.flush();
}

// Opens port i, sets it up for the sensors and notes its line states.
// Returns false when the port is not usable.
bool survey_port(Context& c, std::int32_t i) {
    SerialState& s = c.serial;
    CalibrationState& k = c.calib;
    c.cfg.COMPORTNAME = c.plat.serial->device_name(s.PORTNAME[i]);
    s.SERIALHANDLEARR[i] = open_serial_port(c, c.cfg.COMPORTNAME);
    const PortHandle h = s.SERIALHANDLEARR[i];
    if (h == 0) return false;

    c.FOOERROR.writeln(str(i) + " " + c.cfg.COMPORTNAME + " found and serviceable");
    c.FOOERROR.flush();
    (void)set_service_settings(c, h);  // reports its own failures to the log

    // Some virtual and Bluetooth ports open but refuse the modem status: no
    // bell can be found on their lines, and the bell may be on another port.
    auto word = c.plat.serial->modem_status(h);
    if (!word.ok()) {
        c.FOOERROR.writeln(word.error());
        leave_out(c, i, "its modem status cannot be read");
        return false;
    }
    k.CTSBOLDARR[i] = (word.value() & platform::MS_CTS_ON) != 0;
    k.DSRBOLDARR[i] = (word.value() & platform::MS_DSR_ON) != 0;
    k.CDBOLDARR[i] = (word.value() & platform::MS_RLSD_ON) != 0;
    k.RIBOLDARR[i] = (word.value() & platform::MS_RING_ON) != 0;
    const bool all_off = !k.CTSBOLDARR[i] && !k.DSRBOLDARR[i] && !k.CDBOLDARR[i] && !k.RIBOLDARR[i];
    c.screen.write(str(i) + " " + c.cfg.COMPORTNAME + " serviceable");
    c.screen.writeln(std::string(" CTS=") + CHB(k.CTSBOLDARR[i]) + " DSR=" + CHB(k.DSRBOLDARR[i]) +
                     " CD=" + CHB(k.CDBOLDARR[i]) + " RI=" + CHB(k.RIBOLDARR[i]) +
                     " All=F =>OK to use=" + CHB(all_off));

    // A device that keeps sending (a GPS, another interface) owns the port.
    ZEROBAGLEYDATSINGLE(c, i);
    c.FOOERROR.writeln("check if data already streaming on this port");
    SLEEP(c, 300);
    if (read_serial_char(c, h, charbuff(c), c.calib.SERIALREADTIMEOUTTIME) > 0) {
        ZEROBAGLEYDATSINGLE(c, i);
        leave_out(c, i, "data already streaming on it");
        return false;
    }
    return true;
}

}  // namespace

void CHECKWHICHSERIALPORTSAVAILABLE(Context& c) {
    std::int32_t usable = 0;
    const std::int32_t total = std::min<std::int32_t>(c.serial.PORTSTOTAL, MAXSERIALPORTS);
    for (std::int32_t i = 1; i <= total; ++i)
        if (survey_port(c, i)) ++usable;

    if (usable == 0) {
        c.screen.writeln("No useable ports found - ");
        c.screen.writeln("Recheck COM ports and that other programs are not using the port");
        c.screen.writeln("Press Q to Quit");
        (void)WAITFORKEYSTROKEANDRETURNNORMALKEY(c);
        QTERMINATE(c, 'Q');
    }
    c.screen.textcolor(YELLOW);
    c.screen.writeln("Make sure sensor is not active (ON) when you start the calibration tests");
    c.screen.textcolor(WHITE);
}

void ZEROBAGLEYDATSINGLE(Context& c, std::int32_t CURRENTPORT) {
    const PortHandle h = c.serial.SERIALHANDLEARR[CURRENTPORT];
    std::int32_t got = 0;
    do {
        clear_charbuff(c);
        got = h != 0 ? read_serial_char(c, h, charbuff(c), c.calib.SERIALREADTIMEOUTTIME) : 0;
        c.calib.DATBOLDARR[CURRENTPORT] = 0;
    } while (got > 0);
    clear_charbuff(c);
}

void SETUPSERIALPORTS(Context& c) {
    SerialState& s = c.serial;
    CalibrationState& k = c.calib;
    c.screen.writeln("Checking possible serial ports...");
    CHECKWHICHSERIALPORTSAVAILABLE(c);
    DOSENSORCALIBRATION(c, k.CURRENTPORTIDX);

    const std::int32_t p = k.CURRENTPORTIDX;
    s.SERIALHANDLE = s.SERIALHANDLEARR[p];
    const std::int32_t total = std::min<std::int32_t>(s.PORTSTOTAL, MAXSERIALPORTS);
    for (std::int32_t i = 1; i <= total; ++i) {
        if (i == p || s.SERIALHANDLEARR[i] == 0) continue;
        close_serial_port(c, s.SERIALHANDLEARR[i]);
        s.SERIALHANDLEARR[i] = 0;
    }
    c.cfg.COMPORTNAME = c.plat.serial->device_name(s.PORTNAME[p]);
    c.cfg.USECTS = k.USECTSARR[p];
    c.cfg.USEDSR = k.USEDSRARR[p];
    c.cfg.USECD = k.USECDARR[p];
    c.cfg.USERI = k.USERIARR[p];
    if (c.cfg.BAGLEYMODE) c.cfg.BAGLEYMODE = k.USEDATARR[p];
}

}  // namespace qn
