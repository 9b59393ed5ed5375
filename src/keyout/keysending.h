// Finding the target program's window and the per-program key senders.
#pragma once

#include <cstdint>
#include <string>

#include "core/context.h"

namespace qn {

void choose_target(Context& c);
char find_target_handle(Context& c);
bool match_window(Context& c, WindowHandle wnd);
std::int32_t find_processes_by_name(Context& c, const std::string& process_name,
                                    Arr<platform::ProcessEntry, 1, kMaxProcesses>& process_list);
void check_single_process(Context& c);
bool find_window_by_title(Context& c, const std::string& title_part, const std::string& window_class,
               WindowHandle& found_window);

WindowHandle find_abel_window(Context& c);
WindowHandle find_beltower_window(Context& c);
WindowHandle find_muster_window(Context& c);
WindowHandle find_ringing_room_window(Context& c);
WindowHandle find_ding_window(Context& c);

void send_key_to_abel(Context& c, WindowHandle input_window, char ch);
void send_key_to_beltower(Context& c, WindowHandle input_window, char ch);
void send_key_to_muster(Context& c, WindowHandle input_window, char ch);
void send_key_to_ringing_room(Context& c, WindowHandle input_window, char ch);
void send_key_to_ding(Context& c, WindowHandle input_window, char ch);

}  // namespace qn
