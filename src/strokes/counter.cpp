#include "strokes/counter.h"

#include "console/crt.h"
#include "core/context.h"
#include "core/timing.h"
#include "strokes/logs.h"

namespace qn {

void RESETCOUNTERSTART(Context& c, bool pause) {
    StrokesState& s = c.strokes;
    if (s.MYCOUNTER == 0 || c.autoring.AUTOKEYPRESS) return;
    if (s.NOUTPUTTIME >= MAXROWSALLOWED || pause) {
        c.screen.window(1, LASTLINEOFSCRATCHSCREEN, Screen::COLS, LASTLINEOFSCRATCHSCREEN);
        c.screen.gotoxy(1, 1);
        c.screen.write("Ringing ceased  - writing event log");
        write_event_log(c);
        c.screen.write(" - completed");
        FULLWINDOW(c);
        s.NOUTPUTTIME = 0;
        s.OUTPUTLISTFULLLOGGED = false;
        SLEEP(c, 1);
    }
    if (pause) {
        s.MYCOUNTER = 0;
        s.NSENSORTIME = 0;
        s.MAXSPACERATIO = 1.0;
        s.MINSPACERATIO = 1.0;
        s.NUMMISSED = 0;
        s.NUMROGUE = 0;
        s.DOUBLEDSEND = false;
        s.SNUM = 0;
        s.LASTLOCMICROSECS = MYELAPSEDMICROSECS(c);
        s.LASTEVENTTIMEMICRO = s.LASTLOCMICROSECS;
    }
}

void RESETZEROPARAMETERS(Context& c) {
    StrokesState& s = c.strokes;
    s.MILLISECSNOW = MYELAPSEDMILLISECS(c);
    if (s.MYCOUNTER <= 1) {
        s.MILLISECSFIRST = s.MILLISECSNOW;
        s.NUM2LAST = 0;
        s.NUM3LAST = 0;
        s.NUM4LAST = -1;
    }
}

}  // namespace qn
