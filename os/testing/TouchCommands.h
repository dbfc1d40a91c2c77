#pragma once
// The screen commands the running reader takes on standard input, one per line:
//   tap X Y            a tap at a window point
//   doubletap X Y
//   drag X1 Y1 X2 Y2   a finger moved from one point to the other
//   alert N | alert "TITLE"   a button of the front alert or action sheet
//   type TEXT          typed into the first responder
//   return             the keyboard's return key
//   wait SECONDS       lets the clock (and the run loop) run on
//   dump               the visible screen (see ScreenDump.h)
// The answer is what the command prints: the dump, "" when it went well, or "error: …".
#include <string>

namespace os {

std::string runTouchCommand(const std::string& line);

}  // namespace os
