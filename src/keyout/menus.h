// The configuration menus.
#pragma once

#include <cstdint>

namespace qn {

struct Context;

void modify_configuration(Context& c);
void set_switch_bounce(Context& c);
void change_target_parameters(Context& c, std::int32_t target);
// Bell number of a bell symbol; 0 for a character that is not one.
std::int32_t bell_number(char ch);

}  // namespace qn
