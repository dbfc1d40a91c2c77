#pragma once
// The visible screen as text: every visible window, then its view tree, one line per view:
//   <indent><class> (x, y, w, h)[ detail…]
// with frames in the superview's coordinates and details such as text="…", title="…",
// image=<name>, offset=…; hidden views (and fully transparent ones) are left out with their
// subtrees. What is out of sight (scrolled away, outside the window) is named, not printed: one
// "off screen:" line under its superview, with how many views of each kind and the buttons among
// them. A list's cells print top to bottom. The running reader prints the same text.
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
// an image of that name, or whose name contains it. Reachable views come first, then the front-most. Null when none shows.
std::shared_ptr<View> findVisibleText(const std::string& text);
// The view a reader means by `text` among those scrolled out of sight inside a scroll view (a
// tab beyond the edge of its strip): what scrolling would bring into view. Null when none.
std::shared_ptr<View> findScrolledAwayText(const std::string& text);
// What lies over the view where a reader would touch it: the outermost view that takes the touch
// instead, named by its class and the first text it shows (KHProgressHUD "网络异常"). "" when the
// touch reaches the view, or nothing there takes it.
std::string coverOf(const View& view);

// The texts a view and what it holds show (texts, titles, placeholders), joined by spaces.
std::string textsOf(const View& view);

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
