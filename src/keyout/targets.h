// The table of target programs and the selection of one of them.
#pragma once

#include <cstdint>
#include <string>

namespace qn {

struct Context;
class TextSink;

void SETTARGETPROGRAMDEFAULTPARAMETERS(Context& c);
std::uint8_t CONVERTPROGRAMNAMETOPROGRAMIDX(Context& c, const std::string& name);
std::string CONVERTPROGRAMIDXTOPROGRAMNAME(Context& c, std::uint8_t index);
std::int32_t BYTE2INTEGER(std::uint8_t b);
std::int32_t ASSIGNPARAMETERSFORTARGETPROGRAM(Context& c, const std::string& name);
void WRITEOTHERPROGRAMOPTIONS(Context& c, TextSink& f);

}  // namespace qn
