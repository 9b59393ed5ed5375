#include "runlog/striking_files.h"

#include "core/text.h"
#include "strokes/runlog.h"
#include "ui/striking_summary.h"

namespace qn {

void StrikingFiles::touch_striking(const TouchStriking& t) {
    log_.write_line("Striking report of touch " + str(t.touch));
    for (const std::string& line : striking_summary_lines(t)) log_.write_line(line);
    log_.flush();
}

}  // namespace qn
