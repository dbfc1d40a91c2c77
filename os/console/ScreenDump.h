#pragma once
// The visible screen as text: every visible window, then its view tree, one line per view:
//   <indent><class> (x, y, w, h)[ detail…]
// with frames in the superview's coordinates and details such as text="…", title="…",
// image=<name>, offset=…; hidden views (and fully transparent ones) are left out with their
// subtrees. The running reader prints the same text.
//
// Also what a driver asks of the visible screen: where a view shows, what a reader would tap
// for a text, which list a reader would drag, and whether the screen changed since last looked.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "os/graphics/Geometry.h"

namespace os {

class View;
class ScrollView;
class TableView;

std::string dumpScreen();
std::string dumpView(const View& view, int indent = 0);

// The part of the view that shows, in screen coordinates: its bounds cut by every clipping
// ancestor and by its window. Nullopt when nothing of it shows (hidden or transparent itself or
// through an ancestor, outside its clipping ancestors, or not in a visible window).
std::optional<Rect> visibleRectOf(const View& view);
// Whether a touch at the middle of the view's visible part reaches it, a view inside it or the
// view it is part of (a button's title, a cell's label), rather than a view laid over it.
bool isReachable(const View& view);

// The view a reader means by `text`: among the views the dump shows, one whose text, title or
// placeholder reads `text`; failing that, one whose text contains it; failing that, one showing
// an image of that name. Reachable views come first, then the front-most. Null when none shows.
std::shared_ptr<View> findVisibleText(const std::string& text);
// The list a reader would drag up and down: of the visible scroll views that can move
// vertically, the one showing the most area (the front-most of equals). Null when none.
std::shared_ptr<ScrollView> mainScrollView();
// The same among tables.
std::shared_ptr<TableView> mainTableView();

// A fingerprint of a dump: equal texts give equal values.
std::uint64_t screenFingerprint(const std::string& dump);

// Tells whether the screen changed since the last look, comparing fingerprints of dumps.
class ScreenWatcher {
 public:
  // The dump when it differs from the one seen at the last call (the first call always gives it).
  std::optional<std::string> changedDump();

 private:
  std::optional<std::uint64_t> last_;
};

}  // namespace os
