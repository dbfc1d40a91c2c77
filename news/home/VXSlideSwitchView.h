#pragma once
// The strip of category tabs above the news pages. Each tab is as wide as its title needs (three
// steps); the strip scrolls sideways when the tabs do not fit and keeps the chosen tab in view.
// Built (again) from its context's category list whenever "fLaunchEnd" is posted. Main thread only.
#include <memory>
#include <string>
#include <vector>

#include "news/home/VXSlideSwitchCell.h"
#include "os/core/Value.h"
#include "os/runtime/NotificationCenter.h"
#include "os/views/Button.h"
#include "os/views/ScrollView.h"
#include "os/views/View.h"

// Broadcast when the launch has ended, and again whenever the category list was reloaded.
inline constexpr const char* kLaunchEndNotification = "fLaunchEnd";
// Key of a tab's right edge in the strip's in-memory tab records.
inline constexpr const char* kSlideWidthKey = "kSLIDEWIDTHKEY";

class VXReaderContext;

class VXSlideSwitchDelegate {
 public:
  virtual ~VXSlideSwitchDelegate() = default;
  virtual void didSlideSwitchClick(int index) {}
};

class VXSlideSwitchView : public os::View {
 public:
  static constexpr double kStripHeight = 34;
  // A tab whose right edge comes this close to the strip's right edge scrolls the strip...
  static constexpr double kEdgeMargin = 60;
  // ...so that the right edge sits this far from the strip's left edge.
  static constexpr double kScrollTarget = 180;

  // `context`: the reader context whose categories it shows.
  static std::shared_ptr<VXSlideSwitchView> create(const os::Rect& frame,
                                                   std::shared_ptr<VXReaderContext> context);
  explicit VXSlideSwitchView(const os::Rect& frame);  // use create()
  ~VXSlideSwitchView() override;
  std::string className() const override { return "VXSlideSwitchView"; }

  // 70 for titles of up to 2 characters, 85 for 3, 100 for 4 or more.
  static double widthOfButton(const std::string& title);

  // Rebuilds the tabs from the context's category list (dropping every earlier tab and record).
  void addItemsToScrollView();
  void buttonClick(os::Button& button);
  // Selects tab i and tells the delegate, as a tap would; nothing for an index out of range.
  void clickButtonAtIndex(int index);
  // Selects tab i alone and scrolls it into view (a swipe of the pages does this).
  void changeButtonStateAtIndex(int index);
  void moveScrollViewWithIndex(int index);

  std::shared_ptr<VXSlideSwitchDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<VXSlideSwitchDelegate> delegate) { delegate_ = std::move(delegate); }

  double totalWidth() const { return totalWidth_; }
  const std::shared_ptr<os::ScrollView>& scrollView() const { return scrollView_; }
  const std::vector<os::Dictionary>& infoItems() const { return infoItems_; }
  const std::vector<std::shared_ptr<os::Button>>& buttonItems() const { return buttonItems_; }
  // The tab now selected, or -1.
  int selectedIndex() const;

 private:
  void observeLaunchEnd();

  // Weak: the context holds the side menu, which holds the home screen and this strip.
  std::weak_ptr<VXReaderContext> context_;
  double totalWidth_ = 0;
  std::shared_ptr<os::ScrollView> scrollView_;
  std::vector<os::Dictionary> infoItems_;
  std::vector<std::shared_ptr<os::Button>> buttonItems_;
  std::vector<std::shared_ptr<VXSlideSwitchCell>> cells_;
  std::weak_ptr<VXSlideSwitchDelegate> delegate_;
  os::NotificationCenter::ObserverToken launchEndToken_ = 0;
};
