// Stand-in for the settings-file writer until it is linked into the tests:
// it leaves a file where the writer would, so tests can tell whether and
// when the settings were saved. Weak, so the real writer wins once present.
#include <string>

#include "config/configfile.h"
#include "core/context.h"

namespace qn {

__attribute__((weak)) bool WRITECONFIGFILE(Context& c) {
    auto f = c.plat.files->create(c.core.FNAMEFI + ".ini");
    if (!f.ok()) return false;
    (void)f.value()->write("sleepnum=" + std::to_string(c.cfg.SLEEPNUM) + "\r\n");
    (void)f.value()->write("switchbouncedelay=" + std::to_string(c.cfg.SWITCHBOUNCEDELAY) + "\r\n");
    (void)f.value()->close();
    return true;
}

}  // namespace qn
