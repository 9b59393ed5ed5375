// Finding the target program's window and the per-program key senders.
#pragma once

#include <cstdint>
#include <string>

#include "core/context.h"

namespace qn {

void CHOOSEWINDOWTARGET(Context& c);
char FINDHANDLEFORTARGETWINDOW(Context& c);
bool NEXTWINDOW(Context& c, WindowHandle wnd);
std::int32_t GETALLPIDBYPROCESSNAME(Context& c, const std::string& processName,
                                    Arr<platform::ProcessEntry, 1, MAXPROCLIST>& procList);
void MULTIPLEPROCESSCHECK(Context& c);
bool RUNNINGEX(Context& c, const std::string& nameFragment, const std::string& programClassName,
               WindowHandle& winHandle);

WindowHandle IDENTIFYWRITINGWINDOW_ABEL(Context& c);
WindowHandle IDENTIFYWRITINGWINDOW_BELTOWER(Context& c);
WindowHandle IDENTIFYWRITINGWINDOW_MUSTER(Context& c);
WindowHandle IDENTIFYWRITINGWINDOW_RINGINGROOM(Context& c);
WindowHandle IDENTIFYWRITINGWINDOW_DING(Context& c);

void SENDKEYTOABEL(Context& c, WindowHandle inputHandle, char ch);
void SENDKEYTOBELTOWER(Context& c, WindowHandle inputHandle, char ch);
void SENDKEYTOMUSTER(Context& c, WindowHandle inputHandle, char ch);
void SENDKEYTORINGINGROOM(Context& c, WindowHandle inputHandle, char ch);
void SENDKEYTODING(Context& c, WindowHandle inputHandle, char ch);

}  // namespace qn
