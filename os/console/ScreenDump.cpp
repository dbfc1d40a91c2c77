#include "os/console/ScreenDump.h"

#include <cmath>
#include <functional>
#include <vector>

#include "os/core/String.h"
#include "os/views/ScrollView.h"
#include "os/views/TableView.h"
#include "os/views/View.h"
#include "os/views/Window.h"

namespace os {

namespace {
std::string number(double v) {
  if (std::fabs(v - std::round(v)) < 1e-9) return format("%lld", static_cast<long long>(std::llround(v)));
  return format("%.1f", v);
}

bool shows(const View& view) { return !view.isHidden() && view.alpha() >= 0.01; }

void dumpInto(std::string& out, const View& view, int indent) {
  if (!shows(view)) return;
  Rect f = view.frame();
  out.append(static_cast<std::size_t>(indent) * 2, ' ');
  out += view.className();
  out += " (" + number(f.origin.x) + ", " + number(f.origin.y) + ", " + number(f.size.width) + ", " + number(f.size.height) + ")";
  std::vector<std::string> parts;
  view.describeForDump(parts);
  if (view.tag() != 0) parts.push_back(format("tag=%d", view.tag()));
  for (auto& p : parts) out += " " + p;
  out += "\n";
  for (auto& sub : view.subviews()) {
    if (view.dumpsSubview(*sub)) dumpInto(out, *sub, indent + 1);
  }
}

// Every view a dump would print, back to front.
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

// The inverse of the dump's quoting.
std::string unquote(const std::string& quoted) {
  std::string out;
  for (std::size_t i = 1; i + 1 < quoted.size(); ++i) {
    char c = quoted[i];
    if (c == '\\' && i + 2 < quoted.size()) {
      char n = quoted[++i];
      out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    } else {
      out += c;
    }
  }
  return out;
}

struct Shown {
  std::vector<std::string> texts, images;
};

// What the view's dump line says it shows.
Shown shownBy(const View& view) {
  std::vector<std::string> parts;
  view.describeForDump(parts);
  Shown s;
  for (auto& p : parts) {
    std::size_t eq = p.find('=');
    if (eq == std::string::npos) continue;
    std::string key = p.substr(0, eq), value = p.substr(eq + 1);
    if ((key == "text" || key == "title" || key == "placeholder") && value.size() >= 2 && value.front() == '"') {
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

std::string dumpView(const View& view, int indent) {
  // Pending layout would show stale frames.
  Window::layoutAllWindows();
  std::string out;
  dumpInto(out, view, indent);
  return out;
}

std::string dumpScreen() {
  Window::layoutAllWindows();
  std::string out;
  for (auto& w : Window::windows()) dumpInto(out, *w, 0);
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

bool isReachable(const View& view) {
  auto r = visibleRectOf(view);
  if (!r) return false;
  Point p{r->midX(), r->midY()};
  auto list = Window::windows();
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    Window* w = it->get();
    if (!w->frame().contains(p) || !w->isUserInteractionEnabled()) continue;
    auto hit = w->hitTest(w->convertPointFromView(p, nullptr), nullptr);
    return hit && (isAncestor(hit.get(), &view) || isAncestor(&view, hit.get()));
  }
  return false;
}

std::shared_ptr<View> findVisibleText(const std::string& text) {
  if (text.empty()) return nullptr;
  auto views = shownViews();
  // Reachable before covered, then exact text, text containing it, image name.
  for (bool reachableOnly : {true, false}) {
    for (int kind = 0; kind < 3; ++kind) {
      for (auto it = views.rbegin(); it != views.rend(); ++it) {
        Shown s = shownBy(**it);
        bool match = false;
        for (auto& t : kind == 2 ? s.images : s.texts) {
          match = match || (kind == 1 ? t.find(text) != std::string::npos : t == text);
        }
        if (match && visibleRectOf(**it) && (!reachableOnly || isReachable(**it))) return *it;
      }
    }
  }
  return nullptr;
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
