#include "ui/widgets/PRRefreshTableHeaderView.h"

#include <algorithm>
#include <cmath>

#include "foundation/formats/DateUtilities.h"
#include "os/graphics/Image.h"
#include "os/store/Bundle.h"
#include "os/store/UserDefaults.h"
#include "os/views/Screen.h"
#include "os/views/ScrollView.h"

namespace {

constexpr const char* kPullingText = "松开开始刷新";
constexpr const char* kNormalText = "下拉刷新";
constexpr const char* kLoadingText = "加载中...";

// The status texts go through the strings table so a translation can replace them; without an
// entry the key itself shows.
std::string localized(const char* key) {
  auto bundle = os::Bundle::mainBundle();
  return bundle ? bundle->localizedStringForKey(key, "", "") : std::string(key);
}

std::shared_ptr<os::Label> makeLineLabel(const os::Rect& frame, const os::Font& font, const os::Color& textColor) {
  auto label = os::makeView<os::Label>(frame);
  label->setAutoresizingMask(os::kViewAutoresizingFlexibleWidth);
  label->setFont(font);
  label->setTextColor(textColor);
  label->setShadowColor(os::Color::withWhite(0.9, 1.0));
  label->setShadowOffset(os::Size{0, 1});
  label->setBackgroundColor(os::Color::clear());
  label->setTextAlignment(os::TextAlignment::Center);
  return label;
}

}  // namespace

PRRefreshTableHeaderView::PRRefreshTableHeaderView(const os::Rect& frame, const std::string& arrowImageName,
                                                   const os::Color& textColor)
    : os::View(frame) {
  const double h = frame.size.height;
  const double w = this->frame().size.width;
  setAutoresizingMask(os::kViewAutoresizingFlexibleWidth);
  setBackgroundColor(os::Color::rgba(245.0 / 255, 245.0 / 255, 245.0 / 255, 1.0));

  lastUpdatedLabel_ = makeLineLabel(os::Rect{0, h - 30, w, 20}, os::Font::systemFont(12), textColor);
  addSubview(lastUpdatedLabel_);
  statusLabel_ = makeLineLabel(os::Rect{0, h - 48, w, 20}, os::Font::boldSystemFont(13), textColor);
  addSubview(statusLabel_);

  arrowImage_ = std::make_shared<os::Layer>();
  arrowImage_->setFrame(os::Rect{25, h - 65, 30, 55});
  arrowImage_->setContentsGravity(os::kLayerGravityResizeAspect);
  const double scale = os::Screen::main().scale();
  if (auto bundle = os::Bundle::mainBundle()) arrowImage_->setContents(os::imageNamed(bundle->bundlePath(), arrowImageName, scale));
  arrowImage_->setContentsScale(scale);
  layer().addSublayer(arrowImage_);

  activityView_ = std::make_shared<os::ActivityIndicatorView>(os::ActivityIndicatorViewStyle::Gray);
  activityView_->setFrame(os::Rect{25, h - 38, 20, 20});
  addSubview(activityView_);

  setState(PRRefreshNormal);
}

PRRefreshTableHeaderView::PRRefreshTableHeaderView(const os::Rect& frame)
    : PRRefreshTableHeaderView(frame, "blueArrow.png", os::Color::rgba(87.0 / 255, 108.0 / 255, 137.0 / 255, 1.0)) {}

void PRRefreshTableHeaderView::refreshLastUpdatedDate() {
  std::optional<os::Date> date;
  if (auto d = delegate()) date = d->prRefreshTableHeaderDataSourceLastUpdated(*this);
  if (!date) {
    lastUpdatedLabel_->setText("");
    return;
  }
  std::string text = "上次刷新: " + stringWithDateStyle(*date, DateFormatterStyle::Short, DateFormatterStyle::Short);
  lastUpdatedLabel_->setText(text);
  auto defaults = os::UserDefaults::standardUserDefaults();
  defaults->setObject(os::Value(text), kPRRefreshLastRefreshKey);
  defaults->synchronize();
}

void PRRefreshTableHeaderView::setState(int state) {
  switch (state) {
    case PRRefreshPulling:
      statusLabel_->setText(localized(kPullingText));
      os::LayerTransaction::begin();
      os::LayerTransaction::setAnimationDuration(kFlipDuration);
      arrowImage_->setTransform(os::Transform3D::makeRotation(M_PI, 0, 0, 1));
      os::LayerTransaction::commit();
      break;
    case PRRefreshNormal:
      if (state_ == PRRefreshPulling) {
        os::LayerTransaction::begin();
        os::LayerTransaction::setAnimationDuration(kFlipDuration);
        arrowImage_->setTransform(os::Transform3D::identity());
        os::LayerTransaction::commit();
      }
      statusLabel_->setText(localized(kNormalText));
      activityView_->stopAnimating();
      os::LayerTransaction::begin();
      os::LayerTransaction::setDisableActions(true);
      arrowImage_->setHidden(false);
      arrowImage_->setTransform(os::Transform3D::identity());
      os::LayerTransaction::commit();
      refreshLastUpdatedDate();
      break;
    case PRRefreshLoading:
      statusLabel_->setText(localized(kLoadingText));
      activityView_->startAnimating();
      os::LayerTransaction::begin();
      os::LayerTransaction::setDisableActions(true);
      arrowImage_->setHidden(true);
      os::LayerTransaction::commit();
      break;
    default:
      break;
  }
  state_ = state;
}

bool PRRefreshTableHeaderView::delegateIsLoading() {
  auto d = delegate();
  return d && d->prRefreshTableHeaderDataSourceIsLoading(*this);
}

void PRRefreshTableHeaderView::triggerRefresh() {
  if (auto d = delegate()) d->prRefreshTableHeaderDidTriggerRefresh(*this);
}

void PRRefreshTableHeaderView::prRefreshScrollViewDidScroll(os::ScrollView& scrollView) {
  const double y = scrollView.contentOffset().y;
  if (state_ == PRRefreshLoading) {
    double inset = std::min(std::max(-y, 0.0), kLoadingInset);
    scrollView.setContentInset(os::EdgeInsets{inset, 0, 0, 0});
    return;
  }
  if (!scrollView.isDragging()) return;
  const bool loading = delegateIsLoading();
  if (state_ == PRRefreshPulling && y > -kTriggerOffset && y < 0 && !loading) {
    setState(PRRefreshNormal);
  } else if (state_ == PRRefreshNormal && y < -kTriggerOffset && !loading) {
    setState(PRRefreshPulling);
  }
  if (scrollView.contentInset().top != 0) scrollView.setContentInset(os::EdgeInsets::zero());
}

void PRRefreshTableHeaderView::prRefreshScrollViewDidEndDragging(os::ScrollView& scrollView) {
  if (state_ == PRRefreshLoading) return;
  if (scrollView.contentOffset().y > -kTriggerOffset || delegateIsLoading()) return;
  // Loading first, then the delegate: a delegate that finishes at once must find the header
  // loading, or its finish would be undone and the header would stay loading for good.
  auto keep = weak_from_this().lock();  // the delegate may drop the header from its tree
  setState(PRRefreshLoading);
  os::View::animate(kExpandDuration, [&scrollView] { scrollView.setContentInset(os::EdgeInsets{kLoadingInset, 0, 0, 0}); });
  triggerRefresh();
}

void PRRefreshTableHeaderView::prRefreshScrollViewDataSourceDidFinishedLoading(os::ScrollView& scrollView) {
  os::View::animate(kCollapseDuration, [&scrollView] { scrollView.setContentInset(os::EdgeInsets::zero()); });
  setState(PRRefreshNormal);
}

void PRRefreshTableHeaderView::startLoadingAndExpand(os::ScrollView& scrollView) {
  if (state_ == PRRefreshLoading) return;
  auto keep = weak_from_this().lock();
  setState(PRRefreshLoading);
  os::View::animate(kExpandDuration, [&scrollView] { scrollView.setContentOffset(os::Point{0, -kLoadingInset}); });
  triggerRefresh();
}
