#pragma once
// One zoomable picture page of the full-screen viewers: the picture laid out at the width of the
// page (a short one centred, raised by `offset` where a caption covers the lower part), a logo
// and a spinner while it loads, zoom between 1x and 3x, and a double tap that zooms in around
// the tapped point or back out. A page is reused for another picture through setContent(),
// which always starts it at 1x.
#include <memory>

#include "news/article/VXNewsDetailImageDO.h"
#include "os/views/GestureRecognizer.h"
#include "os/views/ImageView.h"
#include "os/views/ScrollView.h"
#include "os/views/Switch.h"

class VXImageViewer : public os::ScrollView, public os::ScrollViewDelegate {
 public:
  static constexpr double kMinimumZoomScale = 1;
  static constexpr double kMaximumZoomScale = 3;
  // Pictures are laid out as if the page were this wide, whatever its real width.
  static constexpr double kLayoutWidth = 320;
  // Shorter pictures are raised by `offset`.
  static constexpr double kShortPictureHeight = 300;

  explicit VXImageViewer(const os::Rect& frame, double offset = 0);
  ~VXImageViewer() override;
  std::string className() const override { return "VXImageViewer"; }

  double offset() const { return offset_; }
  const std::shared_ptr<os::ImageView>& imageView() const { return imageView_; }
  const std::shared_ptr<os::TapGestureRecognizer>& doubleTap() const { return doubleTap_; }
  const std::shared_ptr<VXNewsDetailImageDO>& dataObject() const { return dataObject_; }
  const std::shared_ptr<os::ImageView>& logoView() const { return logoView_; }
  const std::shared_ptr<os::ActivityIndicatorView>& activityIndicator() const { return activityIndicator_; }

  // Shows the picture: at once from the image cache, else loaded from its address.
  void setContent(const std::shared_ptr<VXNewsDetailImageDO>& row);

  std::shared_ptr<os::View> viewForZoomingInScrollView(os::ScrollView& scrollView) override;
  void layoutSubviews() override;

  void doubleTap(os::GestureRecognizer& recognizer);
  void updateZoomScale(double scale);
  void updateZoomScaleWithGesture(os::GestureRecognizer& recognizer, double scale);
  void updateZoomScale(double scale, os::Point center);
  // The rectangle of the image view to show at `scale` around `center`. Raises
  // os::Exception for a scale outside the zoom limits.
  os::Rect zoomRectForScale(double scale, os::Point center) const;
  void downImageBegin();
  void downImageEnd();

 private:
  double offset_ = 0;
  std::shared_ptr<os::ImageView> logoView_;
  std::shared_ptr<os::ActivityIndicatorView> activityIndicator_;
  std::shared_ptr<os::ImageView> imageView_;
  std::shared_ptr<os::TapGestureRecognizer> doubleTap_;
  std::shared_ptr<VXNewsDetailImageDO> dataObject_;
  // Lives exactly as long as this page: the page is its own scroll delegate through it.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};
