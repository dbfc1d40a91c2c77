#include "os/console/ScreenDump.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <vector>

#include "os/core/String.h"
#include "os/graphics/RecordingContext.h"
#include "os/views/Button.h"
#include "os/views/Control.h"
#include "os/views/ImageView.h"
#include "os/views/Label.h"
#include "os/views/ScrollView.h"
#include "os/views/TableView.h"
#include "os/views/TableViewCell.h"
#include "os/views/TextView.h"
#include "os/views/View.h"
#include "os/views/Window.h"

namespace os {

namespace {
std::string number(double v) {
  if (std::fabs(v - std::round(v)) < 1e-9) return format("%lld", static_cast<long long>(std::llround(v)));
  return format("%.1f", v);
}

bool shows(const View& view) { return !view.isHidden() && view.alpha() >= 0.01; }

bool inWindow(const View& view) {
  const View* root = &view;
  while (root->superviewPtr()) root = root->superviewPtr();
  return dynamic_cast<const Window*>(root) != nullptr;
}

// Whether any part of the view or of what it holds reaches the screen.
bool reachesScreen(const View& view) {
  if (!shows(view)) return false;
  if (visibleRectOf(view)) return true;
  for (auto& sub : view.subviews()) {
    if (view.dumpsSubview(*sub) && reachesScreen(*sub)) return true;
  }
  return false;
}

// Whether the view or what it holds has any size: an empty placeholder is nothing to scroll to.
bool hasArea(const View& view) {
  if (!shows(view)) return false;
  if (!view.bounds().isEmpty()) return true;
  for (auto& sub : view.subviews()) {
    if (view.dumpsSubview(*sub) && hasArea(*sub)) return true;
  }
  return false;
}

// A list's cells sit in its subviews in the order they were made, which a scroll turns upside
// down: a reader reads them top to bottom. Other subviews keep their place (and their overlap).
std::vector<std::shared_ptr<View>> subviewsInReadingOrder(const View& view) {
  std::vector<std::shared_ptr<View>> subs = view.subviews();
  if (!dynamic_cast<const TableView*>(&view)) return subs;
  std::vector<std::size_t> slots;
  std::vector<std::shared_ptr<View>> cells;
  for (std::size_t i = 0; i < subs.size(); ++i) {
    if (dynamic_cast<const TableViewCell*>(subs[i].get())) {
      slots.push_back(i);
      cells.push_back(subs[i]);
    }
  }
  std::stable_sort(cells.begin(), cells.end(), [](const auto& a, const auto& b) { return a->frame().origin.y < b->frame().origin.y; });
  for (std::size_t k = 0; k < slots.size(); ++k) subs[slots[k]] = cells[k];
  return subs;
}

// What a view's dump line says of it after its frame: what it shows, its label, its tag.
std::vector<std::string> dumpParts(const View& view) {
  std::vector<std::string> parts;
  view.describeForDump(parts);
  // An empty text view that draws a hint of its own ("期待您的意见反馈") prints it as its
  // placeholder: it is what tells a reader which field it is, and what `tap` can name it by.
  if (auto* textView = dynamic_cast<const TextView*>(&view); textView && textView->text().empty() && view.lastDrawing()) {
    for (auto& drawn : view.lastDrawing()->drawnTexts()) {
      if (drawn.empty()) continue;
      parts.insert(parts.begin(), "placeholder=" + dumpQuoted(drawn));
      break;
    }
  }
  if (!view.accessibilityLabel().empty()) parts.push_back("label=" + dumpQuoted(view.accessibilityLabel()));
  if (view.tag() != 0) parts.push_back(format("tag=%d", view.tag()));
  return parts;
}

// What a reader could tap in a subtree: its buttons' titles, else their labels, else their
// pictures' names.
void buttonNames(const View& view, std::vector<std::string>& out) {
  if (!shows(view)) return;
  if (auto* button = dynamic_cast<const Button*>(&view)) {
    if (auto t = button->currentTitle(); t && !t->empty()) out.push_back(dumpQuoted(*t));
    else if (!view.accessibilityLabel().empty()) out.push_back(dumpQuoted(view.accessibilityLabel()));
    else if (auto img = button->currentImage()) out.push_back(imageDumpName(*img));
  }
  for (auto& sub : view.subviews()) {
    if (view.dumpsSubview(*sub)) buttonNames(*sub, out);
  }
}

// One line for the views scrolled or moved out of sight: how many of each kind, and the buttons
// among them, so a reader knows what scrolling would bring.
std::string offScreenLine(const std::vector<std::shared_ptr<View>>& views) {
  std::vector<std::pair<std::string, int>> kinds;
  std::vector<std::string> names;
  for (auto& v : views) {
    auto it = std::find_if(kinds.begin(), kinds.end(), [&](const auto& k) { return k.first == v->className(); });
    if (it == kinds.end()) kinds.emplace_back(v->className(), 1);
    else ++it->second;
    buttonNames(*v, names);
  }
  std::string line = "off screen:";
  for (std::size_t i = 0; i < kinds.size(); ++i) line += (i ? ", " : " ") + format("%d ", kinds[i].second) + kinds[i].first;
  for (std::size_t i = 0; i < names.size(); ++i) line += (i ? " " : " — ") + names[i];
  return line;
}

// The inverse of dumpQuoted.
std::string unquote(const std::string& quoted) {
  std::string out;
  const std::size_t end = quoted.size() - 1;  // the closing quote
  for (std::size_t i = 1; i < end; ++i) {
    char c = quoted[i];
    if (c != '\\' || i + 1 >= end) {
      out += c;
      continue;
    }
    char n = quoted[++i];
    const std::size_t digits = n == 'x' ? 2 : n == 'u' ? 4 : 0;
    unsigned code = 0;
    bool hex = digits > 0 && i + digits < end;
    for (std::size_t k = 1; hex && k <= digits; ++k) {
      char d = quoted[i + k];
      hex = std::isxdigit(static_cast<unsigned char>(d)) != 0;
      code = code * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(d)) ? d - '0' : (d | 0x20) - 'a' + 10);
    }
    if (hex) {
      i += digits;
      if (n == 'x') out += static_cast<char>(code);
      else appendUTF8(out, code);
      continue;
    }
    out += n == 'n' ? '\n' : n == 'r' ? '\r' : n == 't' ? '\t' : n;
  }
  return out;
}

// A part such as text="…" with a text too long to print whole, cut (see cutForScreen).
std::string printedPart(const std::string& part) {
  if (part.size() <= kLongestShownText) return part;
  const std::size_t eq = part.find('=');
  if (eq == std::string::npos || part.size() < eq + 3 || part[eq + 1] != '"' || part.back() != '"') return part;
  std::string start;
  std::size_t characters = 0;
  if (!cutForScreen(unquote(part.substr(eq + 1)), &start, &characters)) return part;
  return part.substr(0, eq + 1) + dumpQuoted(start + "…") + format(" (%zu characters)", characters);
}

void dumpInto(std::string& out, const View& view, int indent, bool onScreen) {
  if (!shows(view)) return;
  Rect f = view.frame();
  out.append(static_cast<std::size_t>(indent) * 2, ' ');
  out += view.className();
  out += " (" + number(f.origin.x) + ", " + number(f.origin.y) + ", " + number(f.size.width) + ", " + number(f.size.height) + ")";
  for (auto& p : dumpParts(view)) out += " " + printedPart(p);
  out += "\n";
  std::vector<std::shared_ptr<View>> away;
  for (auto& sub : subviewsInReadingOrder(view)) {
    if (!view.dumpsSubview(*sub) || !shows(*sub)) continue;
    // On screen, what is out of sight is named, not printed; views of no size are nothing to see.
    if (onScreen && !reachesScreen(*sub)) {
      if (hasArea(*sub)) away.push_back(sub);
      continue;
    }
    dumpInto(out, *sub, indent + 1, onScreen);
  }
  if (!away.empty()) {
    out.append(static_cast<std::size_t>(indent + 1) * 2, ' ');
    out += offScreenLine(away) + "\n";
  }
}

// Every view that shows, back to front, in sight or scrolled away.
void collect(const std::shared_ptr<View>& view, std::vector<std::shared_ptr<View>>& out) {
  if (!shows(*view)) return;
  out.push_back(view);
  for (auto& sub : view->subviews()) {
    if (view->dumpsSubview(*sub)) collect(sub, out);
  }
}

std::vector<std::shared_ptr<View>> shownViews() {
  Window::layoutAllWindows();
  std::vector<std::shared_ptr<View>> out;
  for (auto& w : Window::windows()) collect(w, out);
  return out;
}

struct Shown {
  std::vector<std::string> texts, images;
};

// What the view's dump line says it shows.
Shown shownBy(const View& view) {
  Shown s;
  for (auto& p : dumpParts(view)) {
    std::size_t eq = p.find('=');
    if (eq == std::string::npos) continue;
    std::string key = p.substr(0, eq), value = p.substr(eq + 1);
    if ((key == "text" || key == "title" || key == "placeholder" || key == "label") && value.size() >= 2 &&
        value.front() == '"') {
      s.texts.push_back(unquote(value));
    } else if (key == "image" || key == "background") {
      s.images.push_back(value);
    }
  }
  return s;
}

bool isAncestor(const View* ancestor, const View* view) {
  for (const View* v = view; v; v = v->superviewPtr()) {
    if (v == ancestor) return true;
  }
  return false;
}

// The best of the views for which `rank` gives a value (higher is better); later views win ties.
template <typename T>
std::shared_ptr<T> best(const std::vector<std::shared_ptr<View>>& views, const std::function<std::optional<double>(T&)>& rank) {
  std::shared_ptr<T> found;
  double top = 0;
  for (auto& v : views) {
    auto t = std::dynamic_pointer_cast<T>(v);
    if (!t) continue;
    auto r = rank(*t);
    if (!r || (found && *r < top)) continue;
    found = t;
    top = *r;
  }
  return found;
}
}  // namespace

bool cutForScreen(const std::string& text, std::string* start, std::size_t* characters) {
  if (text.size() <= kLongestShownText) return false;  // bytes: never fewer than characters
  std::size_t count = 0, cut = text.size();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // inside a character
    if (count == kShownStart) cut = i;
    ++count;
  }
  if (count <= kLongestShownText) return false;
  if (start) *start = text.substr(0, cut);
  if (characters) *characters = count;
  return true;
}

std::string shownText(const std::string& text) {
  std::string start;
  std::size_t characters = 0;
  if (!cutForScreen(text, &start, &characters)) return text;
  return start + format("… (%zu characters)", characters);
}

std::string dumpView(const View& view, int indent) {
  // Pending layout would show stale frames.
  Window::layoutAllWindows();
  std::string out;
  dumpInto(out, view, indent, inWindow(view));
  return out;
}

std::string dumpScreen() {
  Window::layoutAllWindows();
  std::string out;
  for (auto& w : Window::windows()) dumpInto(out, *w, 0, true);
  return out;
}

std::optional<Rect> visibleRectOf(const View& view) {
  const View* root = &view;
  for (const View* v = &view; v; v = v->superviewPtr()) {
    if (!shows(*v)) return std::nullopt;
    root = v;
  }
  if (!dynamic_cast<const Window*>(root)) return std::nullopt;
  Rect visible = view.convertRectToView(view.bounds(), nullptr);
  for (const View* v = view.superviewPtr(); v; v = v->superviewPtr()) {
    if (v->clipsToBounds() || v == root) visible = visible.intersection(v->convertRectToView(v->bounds(), nullptr));
  }
  if (root == &view) visible = visible.intersection(view.frame());
  if (visible.isEmpty()) return std::nullopt;
  return visible;
}

namespace {
// What a touch at the middle of the view's visible part lands on, in the front-most window that
// takes touches there; nothing when no part of it shows or no window takes the touch.
std::shared_ptr<View> hitAtMiddle(const View& view) {
  auto r = visibleRectOf(view);
  if (!r) return nullptr;
  Point p{r->midX(), r->midY()};
  auto list = Window::windows();
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    Window* w = it->get();
    if (!w->frame().contains(p) || !w->isUserInteractionEnabled()) continue;
    return w->hitTest(w->convertPointFromView(p, nullptr), nullptr);
  }
  return nullptr;
}

bool holdsOrIsHeldBy(const View& hit, const View& view) { return isAncestor(&hit, &view) || isAncestor(&view, &hit); }
}  // namespace

bool isReachable(const View& view) {
  auto hit = hitAtMiddle(view);
  return hit && holdsOrIsHeldBy(*hit, view);
}

std::shared_ptr<View> controlActingFor(const View& view) {
  auto hit = hitAtMiddle(view);
  if (!hit || holdsOrIsHeldBy(*hit, view)) return nullptr;
  std::shared_ptr<View> control = hit;
  while (control && !dynamic_cast<Control*>(control.get())) control = control->superview();
  if (!control || !static_cast<Control&>(*control).isEnabled() || isAncestor(control.get(), &view)) return nullptr;
  // Laid over the view by the screen that shows it, not by a screen or a menu slid over it.
  if (!control->superviewPtr() || !isAncestor(control->superviewPtr(), &view)) return nullptr;
  if (control->enclosingViewController() != view.enclosingViewController()) return nullptr;
  return control;
}

namespace {
using ViewTest = std::function<bool(const View&)>;

enum class Match { Exact, Part };

// The texts (or picture names) of the view that `text` names by `how`.
std::vector<std::string> namesMatching(const View& view, const std::string& text, bool pictures, Match how) {
  Shown shown = shownBy(view);
  std::vector<std::string> out;
  for (auto& name : pictures ? shown.images : shown.texts) {
    if (how == Match::Exact ? name == text : name.find(text) != std::string::npos) out.push_back(name);
  }
  return out;
}

// Among the shown views `usable` accepts, those `preferred` accepts first, what `text` names by
// `how`: texts before picture names, the front-most of the views that read the same. Words that
// are part of several different texts name none of them; the texts are the candidates.
TextMatch findText(const std::string& text, const ViewTest& usable, const ViewTest& preferred, Match how) {
  TextMatch found;
  if (text.empty() || (how == Match::Part && !isValidUTF8(text))) return found;
  auto views = shownViews();
  for (bool pictures : {false, true}) {
    for (bool preferredOnly : {true, false}) {
      std::shared_ptr<View> front;
      std::vector<std::string> names;
      for (auto& view : views) {
        if (!usable(*view) || (preferredOnly && !preferred(*view))) continue;
        auto matching = namesMatching(*view, text, pictures, how);
        if (matching.empty()) continue;
        front = view;
        for (auto& name : matching) {
          if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
        }
      }
      if (!front) continue;
      if (names.size() == 1) found.view = front;
      else found.candidates = names;
      return found;
    }
  }
  return found;
}

bool isVisible(const View& view) { return visibleRectOf(view).has_value(); }

bool takesATouch(const View& view) { return isReachable(view) || controlActingFor(view) != nullptr; }

bool isScrolledAway(const View& view) {
  if (visibleRectOf(view) || view.bounds().isEmpty() || !inWindow(view)) return false;
  for (const View* v = view.superviewPtr(); v; v = v->superviewPtr()) {
    if (auto* scroll = dynamic_cast<const ScrollView*>(v))
      return visibleRectOf(*scroll) && (scroll->canScrollHorizontally() || scroll->canScrollVertically());
  }
  return false;
}

bool any(const View&) { return true; }

// The first text a view or what it holds shows, quoted.
std::string firstText(const View& view) {
  if (!shows(view)) return "";
  Shown s = shownBy(view);
  if (!s.texts.empty()) return dumpQuoted(s.texts.front());
  for (auto& sub : view.subviews()) {
    if (!view.dumpsSubview(*sub)) continue;
    if (auto t = firstText(*sub); !t.empty()) return t;
  }
  return "";
}
}  // namespace

TextMatch matchText(const std::string& text) {
  // Whole texts before parts of them; what shows before what scrolling would bring.
  for (Match how : {Match::Exact, Match::Part}) {
    TextMatch found = findText(text, isVisible, takesATouch, how);
    if (found.view || !found.candidates.empty()) return found;
    found = findText(text, isScrolledAway, any, how);
    found.scrolledAway = found.view != nullptr;
    if (found.view || !found.candidates.empty()) return found;
  }
  return {};
}

std::shared_ptr<View> findVisibleText(const std::string& text) {
  for (Match how : {Match::Exact, Match::Part}) {
    if (auto view = findText(text, isVisible, takesATouch, how).view) return view;
  }
  return nullptr;
}

namespace {
void textsInto(const View& view, std::vector<std::string>& out) {
  if (!shows(view)) return;
  for (auto& t : shownBy(view).texts) {
    if (!t.empty()) out.push_back(t);
  }
  for (auto& sub : view.subviews()) {
    if (view.dumpsSubview(*sub)) textsInto(*sub, out);
  }
}
}  // namespace

std::string textsOf(const View& view) {
  std::vector<std::string> texts;
  textsInto(view, texts);
  std::string out;
  for (auto& t : texts) out += (out.empty() ? "" : " ") + t;
  return out;
}

std::shared_ptr<View> coverViewOf(const View& view) {
  auto hit = hitAtMiddle(view);
  if (!hit || holdsOrIsHeldBy(*hit, view)) return nullptr;
  // The outermost view over the target that does not also hold it: the HUD, not its label.
  std::shared_ptr<View> cover = hit;
  while (cover->superviewPtr() && !dynamic_cast<const Window*>(cover->superviewPtr()) && !isAncestor(cover->superviewPtr(), &view)) {
    auto up = cover->superview();
    if (!up) break;
    cover = std::move(up);
  }
  return cover;
}

std::string coverName(const View& cover) {
  std::string text = firstText(cover);
  return cover.className() + (text.empty() ? "" : " " + text);
}

std::string coverOf(const View& view) {
  auto cover = coverViewOf(view);
  return cover ? coverName(*cover) : "";
}

bool walkViews(const std::shared_ptr<View>& root, const ViewVisit& visit) {
  if (!root) return true;
  switch (visit(root)) {
    case WalkOn::Stop: return false;
    case WalkOn::Past: return true;
    case WalkOn::Into: break;
  }
  // A copy: a visit may change what the view holds.
  const std::vector<std::shared_ptr<View>> subviews = root->subviews();
  for (const auto& sub : subviews)
    if (!walkViews(sub, visit)) return false;
  return true;
}

bool walkWindows(const ViewVisit& visit) {
  for (const auto& window : Window::windows())
    if (!walkViews(window, visit)) return false;
  return true;
}

std::shared_ptr<View> firstView(const std::function<bool(const View&)>& test) {
  std::shared_ptr<View> found;
  walkWindows([&](const std::shared_ptr<View>& view) {
    if (view->isHidden()) return WalkOn::Past;
    if (!test(*view)) return WalkOn::Into;
    found = view;
    return WalkOn::Stop;
  });
  return found;
}

std::shared_ptr<ScrollView> mainScrollView() {
  return best<ScrollView>(shownViews(), [](ScrollView& s) -> std::optional<double> {
    auto r = visibleRectOf(s);
    if (!r || !s.canScrollVertically()) return std::nullopt;
    // Any reachable one before any covered one.
    return r->width() * r->height() + (isReachable(s) ? 1e12 : 0);
  });
}

std::shared_ptr<TableView> mainTableView() {
  return best<TableView>(shownViews(), [](TableView& t) -> std::optional<double> {
    auto r = visibleRectOf(t);
    if (!r) return std::nullopt;
    return r->width() * r->height() + (isReachable(t) ? 1e12 : 0);
  });
}

std::uint64_t screenFingerprint(const std::string& dump) {
  // FNV-1a: cheap, and a changed screen changes it with overwhelming likelihood.
  std::uint64_t h = 14695981039346656037ull;
  for (unsigned char c : dump) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

std::optional<std::string> ScreenWatcher::changedDump() {
  std::string dump = dumpScreen();
  std::uint64_t now = screenFingerprint(dump);
  if (last_ && *last_ == now) return std::nullopt;
  last_ = now;
  return dump;
}

}  // namespace os
