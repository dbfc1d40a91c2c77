#pragma once
// The visible screen as text: every visible window, then its view tree, one line per view:
//   <indent><class> (x, y, w, h)[ detail…]
// with frames in the superview's coordinates and details such as text="…", title="…",
// image=<name>, offset=…; hidden views (and fully transparent ones) are left out with their
// subtrees. The running reader prints the same text.
#include <string>

namespace os {

class View;

std::string dumpScreen();
std::string dumpView(const View& view, int indent = 0);

}  // namespace os
