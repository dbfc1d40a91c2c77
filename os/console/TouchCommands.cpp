#include "os/console/TouchCommands.h"

#include <sstream>
#include <vector>

#include "os/console/ScreenDump.h"
#include "os/console/TouchDriver.h"
#include "os/core/String.h"
#include "os/views/ScrollView.h"
#include "os/views/TableView.h"
#include "os/views/TextField.h"
#include "os/views/TextView.h"

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
}  // namespace

std::string coveredBy(const View& view) {
  std::string cover = coverOf(view);
  return cover.empty() ? "covered" : "covered by " + cover;
}

std::string runTouchCommand(const std::string& raw) {
  std::string line = trimWhitespace(raw);
  if (line.empty()) return "";
  std::istringstream in(line);
  std::string verb;
  in >> verb;
  verb = lowercaseASCII(verb);
  std::vector<double> n;
  if (verb == "tap") {
    std::string rest = trimWhitespace(line.substr(verb.size()));
    std::istringstream xy(rest);
    double x, y;
    std::string extra;
    if (xy >> x >> y && !(xy >> extra)) return TouchDriver::tap(Point{x, y}) ? "" : "error: nothing at that point";
    std::istringstream row(rest);
    std::string word;
    long index;
    if (row >> word >> index && lowercaseASCII(word) == "row" && !(row >> extra)) {
      auto table = mainTableView();
      if (!table) return "error: no list on screen";
      if (!isReachable(*table)) return "error: the list is " + coveredBy(*table);
      return TouchDriver::tapRow(*table, index) ? "" : format("error: no row %ld", index);
    }
    if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') rest = rest.substr(1, rest.size() - 2);
    if (rest.empty()) return "error: tap needs X Y, row N or a text";
    auto view = findVisibleText(rest);
    if (!view) {
      // A reader scrolls to what is scrolled away (a tab past the edge of its strip) first.
      view = findScrolledAwayText(rest);
      if (!view) return "error: nothing on screen reads \"" + rest + "\"";
      if (!TouchDriver::scrollIntoView(*view)) return "error: \"" + rest + "\" could not be scrolled into view";
    }
    if (!isReachable(*view)) return "error: \"" + rest + "\" is " + coveredBy(*view);
    TouchDriver::tap(*view);
    return "";
  }
  if (verb == "pull") {
    auto scroll = mainScrollView();
    if (!scroll) return "error: nothing on screen to pull";
    if (!isReachable(*scroll)) return "error: the list is " + coveredBy(*scroll);
    return TouchDriver::pull(*scroll) ? "" : "error: the list did not give way";
  }
  if (verb == "scroll") {
    std::string where;
    if (!(in >> where) || lowercaseASCII(where) != "end") return "error: scroll needs \"end\"";
    auto scroll = mainScrollView();
    if (!scroll) return "error: nothing on screen to scroll";
    if (!isReachable(*scroll)) return "error: the list is " + coveredBy(*scroll);
    return TouchDriver::scrollToEnd(*scroll) ? "" : "error: the list did not reach its end";
  }
  if (verb == "doubletap") {
    if (!numbers(in, n, 2)) return "error: " + verb + " needs X Y";
    return TouchDriver::doubleTap(Point{n[0], n[1]}) ? "" : "error: nothing at that point";
  }
  if (verb == "drag" || verb == "flick") {
    if (!numbers(in, n, 4)) return "error: " + verb + " needs X1 Y1 X2 Y2";
    // A drag holds the finger still before it lifts, so what it moves moves by the distance
    // dragged; a flick lifts it moving, and a list runs on.
    PanOptions options;
    if (verb == "drag") options.releaseVelocity = Point{};
    TouchDriver::pan(Point{n[0], n[1]}, Point{n[2], n[3]}, options);
    return "";
  }
  if (verb == "alert") {
    std::string rest = trimWhitespace(line.substr(verb.size()));
    bool ok;
    if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') {
      ok = TouchDriver::pressAlertButton(rest.substr(1, rest.size() - 2));
    } else {
      std::istringstream num(rest);
      long index;
      if (!(num >> index)) return "error: alert needs an index or a quoted title";
      ok = TouchDriver::pressAlertButton(index);
    }
    return ok ? "" : "error: no such alert button";
  }
  if (verb == "type") {
    std::string text = line.size() > 5 ? line.substr(5) : "";
    Responder* r = Responder::currentFirstResponder();
    if (auto* field = dynamic_cast<TextField*>(r)) return TouchDriver::typeText(*field, text) ? "" : "error: text refused";
    if (auto* view = dynamic_cast<TextView*>(r)) return TouchDriver::typeText(*view, text) ? "" : "error: text refused";
    return "error: no text input is editing";
  }
  if (verb == "return") return TouchDriver::pressReturn() ? "" : "error: nothing took the return key";
  if (verb == "wait") {
    if (!numbers(in, n, 1) || !(n[0] >= 0 && n[0] <= kLongestWait))
      return format("error: wait needs SECONDS from 0 to %g", kLongestWait);
    TouchDriver::advance(n[0]);
    return "";
  }
  if (verb == "dump") return dumpScreen();
  return "error: unknown command \"" + verb + "\"";
}

}  // namespace os
