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
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

// What a reader's words name on the screen. Their view is, in this order: one that reads them
// whole (its text, title, placeholder or label), one showing a picture of that name, one whose
// text or picture name contains them; among the views the dump shows, then among those scrolled
// out of sight inside a scroll view (a tab past the edge of its strip). Views a touch reaches come
// before covered ones, and of views that read the same, the front-most. Words that are part of
// several different texts (or are not whole UTF-8 characters) name no view: the texts they are
// part of are the candidates.
struct TextMatch {
  std::shared_ptr<View> view;
  // The view must be scrolled into view before it can be touched.
  bool scrolledAway = false;
  std::vector<std::string> candidates;
};
TextMatch matchText(const std::string& text);
// The view `text` names among those that show (as matchText), or null.
std::shared_ptr<View> findVisibleText(const std::string& text);
// The control a touch at the middle of the view reaches instead of it, when that control is the
// one that acts for it: a control of the same screen laid over it (a clear button over a "tap to
// retry" label). Null when the touch reaches the view, or something else is over it.
std::shared_ptr<View> controlActingFor(const View& view);
// What lies over the view where a reader would touch it: the outermost view that takes the touch
// instead (the HUD, not its label). Null when the touch reaches the view, or nothing there takes it.
std::shared_ptr<View> coverViewOf(const View& view);
// A cover named by its class and the first text it shows (KHProgressHUD "网络异常").
std::string coverName(const View& cover);
// coverViewOf named so; "" when there is none.
std::string coverOf(const View& view);

// A text as the screen prints it: one longer than kLongestShownText characters prints as its
// first kShownStart characters (cut between characters, never inside one), "…" and its length,
// so a long text typed or pasted costs a line, not its size, each time the screen prints.
inline constexpr std::size_t kLongestShownText = 400;
inline constexpr std::size_t kShownStart = 100;
// Whether the text is too long to print whole; then *start is the part that prints and
// *characters the whole text's length in characters.
bool cutForScreen(const std::string& text, std::string* start, std::size_t* characters);
// The text, or its start, "…" and " (N characters)".
std::string shownText(const std::string& text);

// The texts a view and what it holds show (texts, titles, placeholders), joined by spaces.
std::string textsOf(const View& view);

// How a walk over the views goes on after one: into what it holds, past it (what it holds left
// out), or no further.
enum class WalkOn { Into, Past, Stop };
using ViewVisit = std::function<WalkOn(const std::shared_ptr<View>&)>;
// Visits the view and what it holds depth first, each view before its subviews and those back to
// front, going on as each visit says. False when a visit stopped the walk.
bool walkViews(const std::shared_ptr<View>& root, const ViewVisit& visit);
// The same through every visible window, back to front (as the dump prints them).
bool walkWindows(const ViewVisit& visit);
// The first view on that walk through the windows that `test` accepts, hidden views and what they
// hold left out; null when none.
std::shared_ptr<View> firstView(const std::function<bool(const View&)>& test);

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
