#include "news/album/VXImageViewer.h"

#include "news/article/VXNewsDetailBaseCell.h"
#include "os/core/Error.h"
#include "os/core/URL.h"
#include "os/views/NamedImage.h"
#include "ui/images/BNWebImageManager.h"
#include "ui/images/ImageViewWebCache.h"
#include "ui/images/ViewWebCacheOperation.h"

VXImageViewer::VXImageViewer(const os::Rect& frame, double offset) : os::ScrollView(frame), offset_(offset) {
  double w = frame.size.width, h = frame.size.height;
  setDelegate(std::shared_ptr<os::ScrollViewDelegate>(alive_, static_cast<os::ScrollViewDelegate*>(this)));
  setBackgroundColor(os::Color::clear());
  setShowsHorizontalScrollIndicator(true);
  setShowsVerticalScrollIndicator(true);

  imageView_ = std::make_shared<os::ImageView>();
  imageView_->setBackgroundColor(os::Color::clear());
  imageView_->setUserInteractionEnabled(true);
  addSubview(imageView_);
  setMinimumZoomScale(kMinimumZoomScale);
  setMaximumZoomScale(kMaximumZoomScale);

  doubleTap_ = std::make_shared<os::TapGestureRecognizer>();
  doubleTap_->setNumberOfTapsRequired(2);
  std::weak_ptr<int> alive = alive_;
  doubleTap_->addTarget(this, [this, alive](os::GestureRecognizer& recognizer) {
    if (alive.lock()) doubleTap(recognizer);
  });
  imageView_->addGestureRecognizer(doubleTap_);

  logoView_ = std::make_shared<os::ImageView>(os::Rect{(w - 100) / 2, (h - 65) / 2, 100, 25});
  logoView_->setBackgroundColor(os::Color::clear());
  logoView_->setImage(os::imageNamed("logo_placeholder"));
  addSubview(logoView_);

  activityIndicator_ = std::make_shared<os::ActivityIndicatorView>(os::ActivityIndicatorViewStyle::White);
  activityIndicator_->sizeToFit();
  activityIndicator_->setCenter(os::Point{(w - 120) / 2, (h - 42) / 2});
  addSubview(activityIndicator_);
}

VXImageViewer::~VXImageViewer() { setDelegate(std::weak_ptr<os::ScrollViewDelegate>{}); }

void VXImageViewer::setContent(const std::shared_ptr<VXNewsDetailImageDO>& row) {
  dataObject_ = row;
  if (!row) return;
  // The spinner shows until the picture is in; one the cache holds is in at once.
  downImageBegin();
  std::weak_ptr<int> alive = alive_;
  std::weak_ptr<VXNewsDetailImageDO> shown = row;
  bool cached = BNShowCachedImageOrLoad(
      imageView_, row->content(), nullptr, 0, nullptr,
      [this, alive, shown](BNImagePtr, std::optional<os::Error> error, BNCacheSource, std::optional<os::URL>) {
        // After an error the logo and the spinner stay.
        if (!alive.lock() || error) return;
        if (shown.lock() != dataObject_) return;
        downImageEnd();
      });
  if (cached) downImageEnd();
  updateZoomScale(kMinimumZoomScale);

  os::Rect page = frame();
  double shownHeight = row->originalHeight() * kLayoutWidth / row->originalWidth();
  double y = 0;
  if (shownHeight >= page.size.height) {
    y = 0;
  } else if (shownHeight >= kShortPictureHeight) {
    y = (page.size.height - shownHeight) / 2;
  } else {
    y = page.size.height - shownHeight - 2 * offset_ < 0 ? 0 : (page.size.height - shownHeight) / 2 - offset_;
  }
  imageView_->setFrame(os::Rect{0, y, page.size.width, shownHeight});
  setContentSize(imageView_->frame().size);
}

std::shared_ptr<os::View> VXImageViewer::viewForZoomingInScrollView(os::ScrollView&) { return imageView_; }

// Keeps a zoomed-out picture centred and a zoomed-in one scrollable from its edge.
void VXImageViewer::layoutSubviews() {
  os::ScrollView::layoutSubviews();
  os::Size b = bounds().size;
  os::Size i = imageView_->frame().size;
  double x = i.width < b.width ? (b.width - i.width) / 2 : 0;
  double y = 0;
  if (i.height < b.height) {
    y = (b.height - i.height) / 2;
    if (i.height < kShortPictureHeight) y -= offset_;
    if (y < 0) y = 0;
  }
  imageView_->setCenter(os::Point{x + i.width / 2, y + i.height / 2});
  os::Point contentOffset = this->contentOffset();
  if (x != 0) contentOffset.x = 0;
  if (y != 0) contentOffset.y = 0;
  setContentOffset(contentOffset);
  setContentInset(os::EdgeInsets::zero());
}

void VXImageViewer::doubleTap(os::GestureRecognizer& recognizer) {
  double target = zoomScale() != minimumZoomScale() ? minimumZoomScale() : maximumZoomScale();
  updateZoomScaleWithGesture(recognizer, target);
}

void VXImageViewer::updateZoomScale(double scale) {
  os::Rect b = imageView_->bounds();
  updateZoomScale(scale, os::Point{b.midX(), b.midY()});
}

void VXImageViewer::updateZoomScaleWithGesture(os::GestureRecognizer& recognizer, double scale) {
  updateZoomScale(scale, recognizer.locationInView(imageView_.get()));
}

void VXImageViewer::updateZoomScale(double scale, os::Point center) {
  if (zoomScale() == scale) return;
  zoomToRect(zoomRectForScale(scale, center), true);
}

os::Rect VXImageViewer::zoomRectForScale(double scale, os::Point center) const {
  if (!(scale >= minimumZoomScale())) throw os::Exception(os::kInternalInconsistencyException, "scale >= self.minimumZoomScale");
  if (!(scale <= maximumZoomScale())) throw os::Exception(os::kInternalInconsistencyException, "scale <= self.maximumZoomScale");
  os::Size page = frame().size;
  double width = page.width / scale, height = page.height / scale;
  return os::Rect{center.x - width / 2.0, center.y - height / 2.0, width, height};
}

void VXImageViewer::downImageBegin() {
  logoView_->setHidden(false);
  activityIndicator_->startAnimating();
}

void VXImageViewer::downImageEnd() {
  logoView_->setHidden(true);
  activityIndicator_->stopAnimating();
}
