#pragma once
// The screen commands the running reader takes on standard input, one per line:
//   tap X Y            a tap at a window point
//   tap row N          the Nth row (from 0, through all sections) of the main list
//   tap TEXT | tap "TEXT"   the view the text names (see matchText in ScreenDump.h): what reads it
//                      whole, else the one text it is part of (several: an error names them);
//                      one scrolled out of sight (a tab past the edge of its strip) is scrolled
//                      into view first, and a control of the same screen laid over it takes the tap
//   doubletap X Y
//   drag X1 Y1 X2 Y2   a finger moved from one point to the other, held still before it lifts:
//                      what it drags moves by that distance
//   flick X1 Y1 X2 Y2  the same, lifted while still moving: a list runs on
//   pull               pulls the main list down past its top and lets go (pull to refresh)
//   scroll end         drags the main list to its end and lets it come to rest there
//   alert N | alert "TITLE"   a button of the front alert or action sheet, N counted from 1 as
//                      the dump prints them (tag=N)
//   type TEXT          typed into the first responder, at most kLongestTypedText bytes
//   return             the keyboard's return key
//   wait SECONDS       lets the clock (and the run loop) run on, at most kLongestWait seconds
//   dump               the visible screen (see ScreenDump.h)
// A word more than a command takes is an error, not ignored. The answer is what the command
// prints: the dump, "" when it went well, or "error: …" (the reader's words in it quoted, control
// characters escaped).
#include <cstddef>
#include <memory>
#include <string>

namespace os {

// The longest `wait`: long enough for any timer the reader sets (a heartbeat is 290 s), short
// enough that a typing slip cannot stall the reader for good.
inline constexpr double kLongestWait = 600;

// The most `type` takes at once: more than any of the reader's fields is meant to hold (a share
// text counts to 140), and typing costs in proportion to the text, so this bounds a command's time.
inline constexpr std::size_t kLongestTypedText = std::size_t{4} << 20;

class View;

// What keeps a touch from a view: the view laid over it where a reader would touch it (see
// coverViewOf in ScreenDump.h; null when nothing there takes the touch), and the words an answer
// says it in: "covered by KHProgressHUD "网络异常"", or "covered".
struct Cover {
  std::shared_ptr<View> view;
  std::string words;
};
Cover coverFor(const View& view);
// coverFor(view).words, for error messages.
std::string coveredBy(const View& view);

// A command's answer. When it was refused because a view lies over what it was to touch, that
// view and what the answer calls the target (the quoted text, "the list"), so a caller that knows the
// view (a menu's cover of its own) can say so in its words rather than pick the answer apart.
struct TouchAnswer {
  std::string text;
  std::shared_ptr<View> cover;
  std::string target;
};
TouchAnswer answerTouchCommand(const std::string& line);
// Whether the command's verb (lower case) touches the screen, and so first waits for the
// animations under way to end.
bool isTouchVerb(const std::string& verb);
// answerTouchCommand(line).text
std::string runTouchCommand(const std::string& line);

}  // namespace os
