// The table of target programs and the selection of one of them.
#pragma once

#include <cstdint>
#include <string>

namespace qn {

struct Context;
struct TARGETPROGRAMARRTYPE;
class TextSink;

// Entry index of the table as calibration sets it up for a bell of this
// many sensors.
TARGETPROGRAMARRTYPE default_target_entry(int index, std::int32_t sensors);
void SETTARGETPROGRAMDEFAULTPARAMETERS(Context& c);
// A name the table selects: "Open" or one of the programs' own names.
bool is_target_name(const std::string& name);
std::uint8_t CONVERTPROGRAMNAMETOPROGRAMIDX(Context& c, const std::string& name);
std::string CONVERTPROGRAMIDXTOPROGRAMNAME(Context& c, std::uint8_t index);
std::int32_t BYTE2INTEGER(std::uint8_t b);
std::int32_t ASSIGNPARAMETERSFORTARGETPROGRAM(Context& c, const std::string& name);
void WRITEOTHERPROGRAMOPTIONS(Context& c, TextSink& f);

}  // namespace qn
