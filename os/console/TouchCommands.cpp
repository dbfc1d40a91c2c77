#include "os/console/TouchCommands.h"

#include <algorithm>
#include <sstream>
#include <vector>

#include "os/console/ScreenDump.h"
#include "os/console/ScreenSettle.h"
#include "os/console/TouchDriver.h"
#include "os/core/String.h"
#include "os/views/AlertView.h"
#include "os/views/Label.h"
#include "os/views/ScrollView.h"
#include "os/views/TableView.h"
#include "os/views/TextField.h"
#include "os/views/TextView.h"
#include "os/views/WebView.h"

namespace os {

namespace {
bool numbers(std::istringstream& in, std::vector<double>& out, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    double v;
    if (!(in >> v)) return false;
    out.push_back(v);
  }
  return true;
}

// Nothing is left on the line: a word more is a slip the reader should hear of, not be ignored.
bool ended(std::istringstream& in) {
  std::string extra;
  return !(in >> extra);
}

std::string tooMany(const std::string& verb, const std::string& takes) {
  return "error: " + verb + (takes.empty() ? " takes nothing more" : " takes " + takes + " and nothing more");
}

// The text between the quotes of "TEXT", or the rest as it is.
std::string unquoted(const std::string& rest) {
  if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') return rest.substr(1, rest.size() - 2);
  return rest;
}

// The reader's words quoted in an answer: a long text by its start and length, as the screen
// prints it.
std::string quotedWords(const std::string& text) {
  std::string start;
  std::size_t characters = 0;
  if (!cutForScreen(text, &start, &characters)) return dumpQuoted(text);
  return dumpQuoted(start + "…") + format(" (%zu characters)", characters);
}

// The innermost scroll view holding the view that can scroll.
const ScrollView* scrollingAncestor(const View& view) {
  for (const View* v = view.superviewPtr(); v; v = v->superviewPtr()) {
    if (auto* scroll = dynamic_cast<const ScrollView*>(v); scroll && (scroll->canScrollHorizontally() || scroll->canScrollVertically()))
      return scroll;
  }
  return nullptr;
}

// The answer when a view lies over the target: said, and the view kept for the caller.
std::string covered(TouchAnswer& answer, const std::string& target, const View& view) {
  Cover cover = coverFor(view);
  answer.cover = std::move(cover.view);
  answer.target = target;
  return "error: " + target + " is " + cover.words;
}

std::string tapText(const std::string& text, TouchAnswer& answer) {
  if (text.empty()) return "error: tap needs X Y, row N or a text";
  if (!isValidUTF8(text)) return "error: " + quotedWords(text) + " is not whole characters (UTF-8)";
  TextMatch match = matchText(text);
  if (!match.candidates.empty()) {
    std::string texts;
    for (auto& c : match.candidates) texts += (texts.empty() ? "" : ", ") + quotedWords(c);
    return "error: " + quotedWords(text) + format(" is part of %zu texts: ", match.candidates.size()) + texts +
           "; tap one of them whole";
  }
  auto view = match.view;
  if (!view) return "error: nothing on screen reads " + quotedWords(text);
  // A reader scrolls to what is scrolled away (a tab past the edge of its strip) first, unless what
  // would scroll it is under something else (a menu slid over the screen).
  if (match.scrolledAway) {
    if (auto scroll = scrollingAncestor(*view); scroll && !isReachable(*scroll)) return covered(answer, quotedWords(text), *scroll);
    if (!TouchDriver::scrollIntoView(*view)) return "error: " + quotedWords(text) + " could not be scrolled into view";
  }
  if (!isReachable(*view) && !controlActingFor(*view)) return covered(answer, quotedWords(text), *view);
  // A page's paragraph takes no tap: said, rather than a tap that silently does nothing (the words
  // may be part of a page's text when the button the reader meant is under the page).
  if (dynamic_cast<const Label*>(view.get()) && !controlActingFor(*view)) {
    for (const View* v = view->superviewPtr(); v; v = v->superviewPtr()) {
      if (dynamic_cast<const WebView*>(v))
        return "error: " + quotedWords(text) + " is text of the web page on screen, which takes no tap: tap a field or button of it";
    }
  }
  TouchDriver::tap(*view);
  return "";
}

std::string pressAlert(const std::string& rest) {
  auto alert = TouchDriver::frontAlert();
  if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') {
    std::string title = unquoted(rest);
    if (!alert) return "error: no alert on screen";
    return TouchDriver::pressAlertButton(title) ? "" : "error: the alert has no button " + dumpQuoted(title);
  }
  std::istringstream in(rest);
  long number;
  if (!(in >> number)) return "error: alert needs a button's number or its quoted title";
  if (!ended(in)) return tooMany("alert", "N or \"TITLE\"");
  if (!alert) return "error: no alert on screen";
  // The buttons are counted as the screen prints them: tag=1 is the first.
  const long count = alert->numberOfButtons();
  if (number < 1 || number > count) return format("error: the alert's buttons are 1 to %ld (their tags)", count);
  return TouchDriver::pressAlertButton(number - 1) ? "" : "error: the alert's button did not take the tap";
}
}  // namespace

Cover coverFor(const View& view) {
  Cover cover;
  cover.view = coverViewOf(view);
  cover.words = cover.view ? "covered by " + coverName(*cover.view) : "covered";
  return cover;
}

std::string coveredBy(const View& view) { return coverFor(view).words; }

bool isTouchVerb(const std::string& verb) {
  static const std::vector<std::string> touches{"tap", "pull", "scroll", "doubletap", "drag", "flick", "alert", "type", "return"};
  return std::find(touches.begin(), touches.end(), verb) != touches.end();
}

namespace {
std::string runCommand(const std::string& raw, TouchAnswer& answer) {
  std::string line = trimWhitespace(raw);
  if (line.empty()) return "";
  std::istringstream in(line);
  std::string word;
  in >> word;
  const std::string verb = lowercaseASCII(word);
  const std::string rest = trimWhitespace(line.substr(word.size()));
  std::vector<double> n;
  // A touch waits for the screen to stand still: a menu still sliding shut covers what it showed.
  if (isTouchVerb(verb)) waitForAnimations();
  if (verb == "tap") {
    std::istringstream xy(rest);
    double x, y;
    if (xy >> x >> y && ended(xy)) return TouchDriver::tap(Point{x, y}) ? "" : "error: nothing at that point";
    std::istringstream row(rest);
    std::string word;
    long index;
    if (row >> word >> index && lowercaseASCII(word) == "row" && ended(row)) {
      auto table = mainTableView();
      if (!table) return "error: no list on screen";
      if (!isReachable(*table)) return covered(answer, "the list", *table);
      return TouchDriver::tapRow(*table, index) ? "" : format("error: no row %ld", index);
    }
    return tapText(unquoted(rest), answer);
  }
  if (verb == "pull") {
    if (!ended(in)) return tooMany(verb, "");
    auto scroll = mainScrollView();
    if (!scroll) return "error: nothing on screen to pull";
    if (!isReachable(*scroll)) return covered(answer, "the list", *scroll);
    return TouchDriver::pull(*scroll) ? "" : "error: the list did not give way";
  }
  if (verb == "scroll") {
    std::string where;
    if (!(in >> where) || lowercaseASCII(where) != "end") return "error: scroll needs \"end\"";
    if (!ended(in)) return tooMany(verb, "\"end\"");
    auto scroll = mainScrollView();
    if (!scroll) return "error: nothing on screen to scroll";
    if (!isReachable(*scroll)) return covered(answer, "the list", *scroll);
    return TouchDriver::scrollToEnd(*scroll) ? "" : "error: the list did not reach its end";
  }
  if (verb == "doubletap") {
    if (!numbers(in, n, 2)) return "error: " + verb + " needs X Y";
    if (!ended(in)) return tooMany(verb, "X Y");
    return TouchDriver::doubleTap(Point{n[0], n[1]}) ? "" : "error: nothing at that point";
  }
  if (verb == "drag" || verb == "flick") {
    if (!numbers(in, n, 4)) return "error: " + verb + " needs X1 Y1 X2 Y2";
    if (!ended(in)) return tooMany(verb, "X1 Y1 X2 Y2");
    // A drag holds the finger still before it lifts, so what it moves moves by the distance
    // dragged; a flick lifts it moving, and a list runs on.
    PanOptions options;
    if (verb == "drag") options.releaseVelocity = Point{};
    TouchDriver::pan(Point{n[0], n[1]}, Point{n[2], n[3]}, options);
    return "";
  }
  if (verb == "alert") return pressAlert(rest);
  if (verb == "type") {
    // Everything after "type " is the text, spaces and all.
    std::string text = line.size() > 5 ? line.substr(5) : "";
    if (text.size() > kLongestTypedText)
      return format("error: type takes at most %zu bytes of text, not %zu: no field holds more", kLongestTypedText, text.size());
    Responder* r = Responder::currentFirstResponder();
    if (auto* field = dynamic_cast<TextField*>(r)) return TouchDriver::typeText(*field, text) ? "" : "error: text refused";
    if (auto* view = dynamic_cast<TextView*>(r)) return TouchDriver::typeText(*view, text) ? "" : "error: text refused";
    return "error: no text input is editing: tap the field or text first";
  }
  if (verb == "return") {
    if (!ended(in)) return tooMany(verb, "");
    return TouchDriver::pressReturn() ? "" : "error: nothing took the return key";
  }
  if (verb == "wait") {
    if (!numbers(in, n, 1) || !(n[0] >= 0 && n[0] <= kLongestWait))
      return format("error: wait needs SECONDS from 0 to %g", kLongestWait);
    if (!ended(in)) return tooMany(verb, "SECONDS");
    TouchDriver::advance(n[0]);
    return "";
  }
  if (verb == "dump") {
    if (!ended(in)) return tooMany(verb, "");
    return dumpScreen();
  }
  return "error: unknown command " + quotedWords(word);
}
}  // namespace

TouchAnswer answerTouchCommand(const std::string& line) {
  TouchAnswer answer;
  answer.text = runCommand(line, answer);
  return answer;
}

std::string runTouchCommand(const std::string& line) { return answerTouchCommand(line).text; }

}  // namespace os
