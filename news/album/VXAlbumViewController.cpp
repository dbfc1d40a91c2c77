#include "news/album/VXAlbumViewController.h"

#include <chrono>
#include <mutex>
#include <string>

#include "news/api/VXFavoriteRequest.h"
#include "news/api/VXGlobalHelper.h"
#include "news/api/VXNewsDetailRequest.h"
#include "news/api/VXNewsInfoRequest.h"
#include "news/article/VXDetailXMLParseHelper.h"
#include "news/article/VXNewsDetailBaseCell.h"
#include "news/article/VXOfflineArticleStore.h"
#include "news/article/VXShareHelper.h"
#include "news/shell/ButtonEnlargeArea.h"
#include "os/core/URL.h"
#include "os/runtime/NotificationCenter.h"
#include "os/views/Application.h"
#include "os/views/Device.h"
#include "os/views/NamedImage.h"
#include "os/views/NavigationController.h"
#include "os/views/PhotoAlbum.h"
#include "ui/images/BNWebImageManager.h"

namespace {


bool hasText(const os::Value& value) {
  const std::string* text = value.string();
  return text && !text->empty();
}

constexpr const char* kNetworkErrorText = "网络异常";

}  // namespace

std::shared_ptr<VXAlbumViewController> VXAlbumViewController::initWithDict(const os::Dictionary& dict,
                                                                          std::shared_ptr<VXReaderContext> context) {
  auto controller = std::make_shared<VXAlbumViewController>(std::move(context));
  controller->infoDict_ = dict;
  return controller;
}

void VXAlbumViewController::showHud(const std::string& text, bool autoHide) {
  if (auto context = context_.lock()) VXGlobalHelper::share(*context).showHud(text, view(), autoHide);
}

VXAlbumViewController::~VXAlbumViewController() {
  if (pageFlowView_) {
    pageFlowView_->setDataSource(std::weak_ptr<PageFlowViewDataSource>{});
    pageFlowView_->setDelegate(std::weak_ptr<PageFlowViewDelegate>{});
  }
}

std::shared_ptr<VXAlbumViewController> VXAlbumViewController::self() {
  return std::static_pointer_cast<VXAlbumViewController>(std::static_pointer_cast<os::ViewController>(shared_from_this()));
}

os::Value VXAlbumViewController::infoValue(std::string_view key) const {
  const os::Value* value = infoDict_.find(key);
  return value ? *value : os::Value();
}

std::shared_ptr<os::Label> VXAlbumViewController::captionLabel() const {
  return summaryView_ ? std::dynamic_pointer_cast<os::Label>(summaryView_->viewWithTag(kCaptionLabelTag)) : nullptr;
}

std::shared_ptr<os::Button> VXAlbumViewController::toolButton(int tag) const {
  if (!toolView_) return nullptr;
  for (const auto& sub : toolView_->subviews()) {
    if (sub->tag() == tag) return std::dynamic_pointer_cast<os::Button>(sub);
  }
  return nullptr;
}

// ---- opening ----

void VXAlbumViewController::viewDidLoad() {
  NQBaseViewController::viewDidLoad();
  view()->setBackgroundColor(os::Color::black());
  initViews();
  if (!loadOfflineData()) loadRequest();
}

void VXAlbumViewController::initViews() {
  auto me = self();
  auto root = view();
  double width = root->bounds().size.width, height = root->bounds().size.height;

  pageFlowView_ = std::make_shared<PageFlowView>(root->bounds());
  pageFlowView_->setBackgroundColor(os::Color::clear());
  pageFlowView_->setDelegate(std::shared_ptr<PageFlowViewDelegate>(me, static_cast<PageFlowViewDelegate*>(this)));
  pageFlowView_->setDataSource(std::shared_ptr<PageFlowViewDataSource>(me, static_cast<PageFlowViewDataSource*>(this)));
  root->addSubview(pageFlowView_);

  std::weak_ptr<VXAlbumViewController> weak = me;
  backButton_ = os::Button::buttonWithType(os::ButtonType::Custom);
  backButton_->setFrame(os::Rect{10, os::Device::current().systemVersionNumber() >= 7 ? 30.0 : 10.0, 30, 21});
  backButton_->setBackgroundColor(os::Color::clear());
  backButton_->setImage(os::imageNamed("navbar-back"), os::kControlStateNormal);
  backButton_->setAccessibilityLabel("返回");
  backButton_->addTarget(
      this,
      [weak](os::Control&) {
        if (auto screen = weak.lock()) screen->clickBackButton();
      },
      os::kControlEventTouchUpInside);
  setEnlargeEdgeWithTop(*backButton_, 10, 10, 10, 10);
  root->addSubview(backButton_);

  titleLabel_ = std::make_shared<os::Label>(os::Rect{0, height - 130, width - 60, 20});
  titleLabel_->setBackgroundColor(os::Color::clear());
  titleLabel_->setTextColor(os::Color::white());
  titleLabel_->setFont(os::Font::systemFont(20));
  root->addSubview(titleLabel_);

  pageLabel_ = std::make_shared<os::Label>(os::Rect{width - 55, height - 130, 55, 20});
  pageLabel_->setBackgroundColor(os::Color::clear());
  pageLabel_->setTextColor(os::Color::white());
  pageLabel_->setFont(os::Font::systemFont(13));
  pageLabel_->setTextAlignment(os::TextAlignment::Right);
  root->addSubview(pageLabel_);

  summaryView_ = std::make_shared<os::ScrollView>(os::Rect{0, height - 110, width, 70});
  summaryView_->setBackgroundColor(os::Color::clear());
  auto caption = std::make_shared<os::Label>(summaryView_->bounds());
  caption->setBackgroundColor(os::Color::clear());
  caption->setTextColor(os::Color::white());
  caption->setFont(os::Font::systemFont(12));
  caption->setTag(kCaptionLabelTag);
  caption->setNumberOfLines(0);
  summaryView_->addSubview(caption);
  root->addSubview(summaryView_);

  toolView_ = std::make_shared<os::View>(os::Rect{0, height - 40, width, 40});
  toolView_->setBackgroundColor(os::Color::withWhite(1, 0.1));
  root->addSubview(toolView_);
  addToolButton(kFavoriteButtonTag, width - 40, "收藏", "detail_toolbar_favorite", "detail_toolbar_favorite_press",
                "detail_toolbar_favorite_selected", &VXAlbumViewController::clickFavoriteButton);
  addToolButton(kShareButtonTag, width - 95, "分享", "detail_toolbar_share", "detail_toolbar_share_press",
                "detail_toolbar_share_selected", &VXAlbumViewController::clickShareButton);
  addToolButton(kDownloadButtonTag, width - 150, "保存", "detail_toolbar_download", nullptr, nullptr,
                &VXAlbumViewController::clickDownloadButton);
}

std::shared_ptr<os::Button> VXAlbumViewController::addToolButton(int tag, double x, const char* label, const char* image,
                                                                 const char* pressed, const char* selected,
                                                                 void (VXAlbumViewController::*action)()) {
  auto button = os::Button::buttonWithType(os::ButtonType::Custom);
  button->setFrame(os::Rect{x, 8, 25, 25});
  button->setTag(tag);
  button->setAccessibilityLabel(label);
  button->setImage(os::imageNamed(image), os::kControlStateNormal);
  if (pressed) button->setImage(os::imageNamed(pressed), os::kControlStateHighlighted);
  if (selected) button->setImage(os::imageNamed(selected), os::kControlStateSelected);
  std::weak_ptr<VXAlbumViewController> weak = self();
  button->addTarget(
      this,
      [weak, action](os::Control&) {
        if (auto screen = weak.lock()) ((*screen).*action)();
      },
      os::kControlEventTouchUpInside);
  toolView_->addSubview(button);
  return button;
}

bool VXAlbumViewController::loadOfflineData() {
  bool parsed = parseWithDict(VXOfflineArticleStore::read(infoValue("category"), infoValue("id")));
  if (parsed) {
    changeControlsByIndex(0);
    pageFlowView_->reloadData();
    // The kept copy is the album, not the reader's mark on it: without the server's word the
    // favourite button would offer to add an album that is already a favourite.
    addOtherInfo();
  }
  return parsed;
}

void VXAlbumViewController::loadRequest() {
  auto context = context_.lock();
  if (!context) return;
  VXNewsDetailRequest request(infoValue("id").intValue());
  std::weak_ptr<VXAlbumViewController> weak = self();
  VXGlobalHelper::loadWithRequest(
      *context, request, 0,
      [weak](const std::optional<os::Dictionary>& data) {
        auto me = weak.lock();
        if (!me) return;
        if (!data || !(*data)["result"].isNumber() || (*data)["result"].intValue() != 1) {
          me->showHud(kNetworkErrorText, true);
          return;
        }
        if (!me->parseWithDict(data)) return;
        me->changeControlsByIndex(0);
        me->pageFlowView_->reloadData();
        me->addOtherInfo();
        if (auto context = me->context_.lock())
          VXOfflineArticleStore::saveInBackground(*context, *data, me->infoValue("category"), me->infoValue("id"));
      },
      [weak] {
        if (auto me = weak.lock()) me->showHud(kNetworkErrorText, true);
      });
}

bool VXAlbumViewController::parseWithDict(const std::optional<os::Dictionary>& answer) {
  auto context = context_.lock();
  if (!answer || !context) return false;
  os::Array rows;
  std::optional<std::string> body;
  if (const std::string* text = (*answer)["body"].string()) body = *text;
  // A body that does not parse has no pictures; the article screen reports such bodies.
  if (VXDetailXMLParseHelper::share(*context)->parseXML(body, rows)) rows.clear();
  for (const auto& row : rows) {
    const os::Dictionary* dict = row.dictionary();
    if (dict && (*dict)["type"].intValue() == kNewsDetailImage) imageArray_.push_back(std::make_shared<VXNewsDetailImageDO>(*dict));
  }
  if (imageArray_.empty()) return false;
  os::Value title = (*answer)["title"].isString() ? (*answer)["title"] : os::Value("");
  infoDict_.set("title", title);
  if (titleLabel_) titleLabel_->setText(*title.string());
  if ((*answer)["sourceurl"].isString()) infoDict_.set("sourceurl", (*answer)["sourceurl"]);
  return true;
}

int VXAlbumViewController::pendingOfflineSaves() { return VXOfflineArticleStore::pendingBackgroundSaves(); }

bool VXAlbumViewController::waitForOfflineSaves(double seconds) { return VXOfflineArticleStore::waitForBackgroundSaves(seconds); }

void VXAlbumViewController::addOtherInfo() {
  auto context = context_.lock();
  if (!context) return;
  VXNewsInfoRequest request(infoValue("id").intValue());
  std::weak_ptr<VXAlbumViewController> weak = self();
  VXGlobalHelper::loadWithRequest(*context, request, [weak](const std::optional<os::Dictionary>& data) {
    auto me = weak.lock();
    if (!me || !data || (*data)["result"].intValue() == 2) return;
    // The votes are not shown here: only the favourite mark.
    if ((*data)["favorite"].isNumber() && (*data)["favorite"].intValue() == 1) {
      if (auto button = me->toolButton(kFavoriteButtonTag)) button->setSelected(true);
    }
  });
  // Warms the image cache, where the share action looks for its picture.
  if (hasText(infoValue("icon"))) {
    BNWebImageManager::sharedManager()->downloadWithURL(os::URL::parse(*infoValue("icon").string()), 0, nullptr,
                                                        [](auto&&...) {});
  }
}

void VXAlbumViewController::changeControlsByIndex(long index) {
  if (index < 0 || index >= static_cast<long>(imageArray_.size())) return;
  pageLabel_->setText(std::to_string(index + 1) + "/" + std::to_string(imageArray_.size()));
  auto caption = captionLabel();
  if (!caption) return;
  caption->setText(imageArray_[static_cast<std::size_t>(index)]->altText());
  os::Size size = caption->sizeThatFits(os::Size{view()->bounds().size.width, 10000});
  caption->setFrame(os::Rect{0, 0, size.width, size.height});
  summaryView_->setContentSize(size);
}

// ---- pages ----

std::optional<os::Size> VXAlbumViewController::sizeForPageInFlowView(PageFlowView& flowView) {
  return flowView.frame().size;
}

std::optional<int> VXAlbumViewController::numberOfPagesInFlowView(PageFlowView&) {
  return static_cast<int>(imageArray_.size());
}

std::shared_ptr<os::View> VXAlbumViewController::cellForPageAtIndex(PageFlowView& flowView, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= imageArray_.size()) return nullptr;
  auto page = std::dynamic_pointer_cast<VXImageViewer>(flowView.dequeueReusableCell());
  if (!page) {
    page = std::make_shared<VXImageViewer>(flowView.bounds(), kPageOffset);
    // A double tap zooms; only a tap that is not the start of one flips the controls.
    flowView.tapGestureRecognizer()->requireGestureRecognizerToFail(page->doubleTap());
  }
  page->setContent(imageArray_[static_cast<std::size_t>(index)]);
  return page;
}

void VXAlbumViewController::didScrollToPageAtIndex(PageFlowView&, int index) { changeControlsByIndex(index); }

void VXAlbumViewController::didTapPageAtIndex(PageFlowView&, int) {
  hideControls_ = !hideControls_;
  if (auto app = os::Application::shared()) app->setStatusBarHidden(hideControls_);
  for (const auto& control : std::initializer_list<std::shared_ptr<os::View>>{backButton_, titleLabel_, pageLabel_,
                                                                               summaryView_, toolView_}) {
    if (control) control->setHidden(hideControls_);
  }
}

// ---- buttons ----

void VXAlbumViewController::clickBackButton() {
  if (auto nav = navigationController()) nav->popViewController(true);
}

void VXAlbumViewController::clickFavoriteButton() {
  auto button = toolButton(kFavoriteButtonTag);
  if (!button) return;
  // The action follows the button as it is now: two quick taps send the same action twice.
  int action = button->isSelected() ? 2 : 1;
  auto context = context_.lock();
  if (!context) return;
  showHud("收藏中...", false);
  VXFavoriteRequest request(os::Dictionary{{"id", infoValue("id")}, {"category", infoValue("category")}, {"action", action}});
  std::weak_ptr<VXAlbumViewController> weak = self();
  VXGlobalHelper::loadWithRequest(
      *context, request, 0,
      [weak, action](const std::optional<os::Dictionary>& data) {
        auto me = weak.lock();
        if (!data || !(*data)["result"].isNumber() || (*data)["result"].intValue() != 1) {
          // The waiting text never hides by itself: any answer but success ends it as a failure.
          if (me) me->showHud(kNetworkErrorText, true);
          return;
        }
        os::NotificationCenter::defaultCenter().post(kFavoritesChangedNotification);
        if (!me) return;
        me->showHud(action == 1 ? "收藏成功" : "取消收藏成功", true);
        if (auto favorite = me->toolButton(kFavoriteButtonTag)) favorite->setSelected(action == 1);
      },
      [weak] {
        if (auto me = weak.lock()) me->showHud(kNetworkErrorText, true);
      });
}

void VXAlbumViewController::clickShareButton() {
  if (auto context = context_.lock())
    VXShareHelper::share(*context)->socialShare(infoValue("sourceurl"), infoValue("title"), infoValue("icon"), self());
}

void VXAlbumViewController::clickDownloadButton() {
  auto page = pageFlowView_ ? std::dynamic_pointer_cast<VXImageViewer>(
                                  pageFlowView_->cellAtIndex(pageFlowView_->currentPageIndex()))
                            : nullptr;
  if (!page) {
    VXGlobalHelper::writeLog("imageviewer is nil");
    return;
  }
  auto image = page->imageView()->image();
  if (!image) {
    showHud("照片尚未下载成功", true);
    return;
  }
  std::weak_ptr<VXAlbumViewController> weak = self();
  os::PhotoAlbum::saveImage(image, [weak](const os::Error* error) {
    if (auto me = weak.lock()) me->imageDidFinishSavingWithError(error);
  });
}

void VXAlbumViewController::imageDidFinishSavingWithError(const os::Error* error) {
  showHud(error ? "保存失败" : "保存成功", true);
}
