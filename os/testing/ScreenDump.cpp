#include "os/testing/ScreenDump.h"

#include <cmath>
#include <vector>

#include "os/core/String.h"
#include "os/views/View.h"
#include "os/views/Window.h"

namespace os {

namespace {
std::string number(double v) {
  if (std::fabs(v - std::round(v)) < 1e-9) return format("%lld", static_cast<long long>(std::llround(v)));
  return format("%.1f", v);
}

void dumpInto(std::string& out, const View& view, int indent) {
  if (view.isHidden() || view.alpha() < 0.01) return;
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

}  // namespace os
