#pragma once
// The head-picture picker: the picture behind a fixed 320-point square frame, moved and zoomed
// by the user; "选取" crops the framed square (at most 640 × 640 pixels) and hands it to the
// delegate for upload, whose answer comes back as a notice.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "qqconnect_core/login/APIResponse.h"
#include "os/graphics/Geometry.h"
#include "os/views/ViewController.h"

#include "os/views/ScrollView.h"

namespace os {
class ActivityIndicatorView;
class Button;
class Image;
class ImageView;
class Label;
struct Notification;
class Toolbar;
}  // namespace os
class UINotifyView;
class SetHeadImageViewController;

inline constexpr const char* kHeadImageDefaultFileName = "qqPic";
inline constexpr const char* kHeadImageSelect = "选取";
inline constexpr const char* kHeadImageRetry = "重试";
inline constexpr const char* kHeadImageNetworkFailure = "网络有问题，检查一下网络再重试:)";
inline constexpr const char* kHeadImageSuccess = "设置成功";
inline constexpr const char* kHeadImageFailure = "设置出错了，请重新登录再尝试下呢:)";
inline constexpr const char* kHeadImageCancel = "取消";
inline constexpr const char* kHeadImageHint = "移动和缩放";

// The picker's action reports.
inline constexpr const char* kHeadImageReportDrag = "10654";
inline constexpr const char* kHeadImageReportChoose = "10655";   // with the seconds since it appeared
inline constexpr const char* kHeadImageReportCancel = "10656";   // likewise
inline constexpr const char* kHeadImageReportRetry = "10657";
inline constexpr const char* kHeadImageReportSuccess = "10658";
inline constexpr const char* kHeadImageReportFailure = "10660";

// The frame over the picture: its bounds outlined in white, 1 point wide.
class DestRectView : public os::View {
 public:
  using os::View::View;
  std::string className() const override { return "DestRectView"; }
  void drawRect(const os::Rect& rect) override;
};

// Every operation optional; held weakly.
class setHeadImageDelegate {
 public:
  virtual ~setHeadImageDelegate() = default;
  // The upload's number, -1 when refused.
  virtual std::int32_t didFinishedSetUserLocalPic(SetHeadImageViewController&, const std::shared_ptr<os::Image>&,
                                                  const std::string& fileName) {
    return -1;
  }
  virtual void didCancelled(std::int32_t seq) {}
};

class SetHeadImageViewController : public os::ViewController, public os::ScrollViewDelegate {
 public:
  // Pictures above this many pixels are reduced before display.
  static constexpr double kMaxDisplayPixels = 2048.0 * 2048.0;
  static constexpr double kFrameSide = 320;
  static constexpr double kMaxUploadSide = 640;

  SetHeadImageViewController(std::string fileName, std::weak_ptr<setHeadImageDelegate> delegate,
                             std::string reachabilityHost, std::string appId = {});
  ~SetHeadImageViewController() override;
  std::string className() const override { return "SetHeadImageViewController"; }
  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;

  // os::ScrollViewDelegate: the picture is what zooms; a drag is reported.
  std::shared_ptr<os::View> viewForZoomingInScrollView(os::ScrollView&) override;
  void scrollViewWillBeginDragging(os::ScrollView&) override;

  void setImage(std::shared_ptr<os::Image> image);
  void setNick(const std::string& nick);
  bool setViewControllerData(const os::Dictionary& data);
  bool setViewControllerResponse(const std::shared_ptr<APIResponse>& response);
  void selectBtnClick();
  void cancelBtnClick();
  void onTimer();
  void showNotify(std::shared_ptr<os::Image> image, const std::string& text);
  void removeNotifyView();
  // Back in the foreground: an upload that was under way is chosen again; a notice still showing
  // is shown once more.
  void onClickApp(const os::Notification&);

  static os::Size ajustDisplaySize(os::Size size);
  static std::shared_ptr<os::Image> imageWithImage(const os::Image& image, os::Size size);
  // The rectangle of the bitmap, clamped to the bitmap; nothing when nothing of it is inside.
  static std::shared_ptr<os::Image> getSubImage(const os::Image& image, os::Rect rect);
  // Characters below 256 cost 1, others 2; past the limit the text is cut one character early
  // and ends in "…". A character is never split.
  static std::string stringByTCOSDKTruncateWithDotAtLimit(std::size_t limit, const std::string& text);

  const std::shared_ptr<os::Image>& image() const { return image_; }
  const std::optional<std::string>& nick() const { return nick_; }
  const std::string& fileName() const { return fileName_; }
  std::int32_t seq() const { return seq_; }
  const std::shared_ptr<os::ScrollView>& scrollView() const { return scrollView_; }
  const std::shared_ptr<os::Button>& selectBtn() const { return selectBtn_; }
  const std::shared_ptr<os::Label>& nickLabel() const { return nickLabel_; }
  const std::shared_ptr<UINotifyView>& notify() const { return notify_; }
  const std::shared_ptr<os::ActivityIndicatorView>& activityView() const { return activityView_; }
  const std::shared_ptr<os::Label>& hintLabel() const { return lable_; }
  const std::shared_ptr<os::ImageView>& qqImage() const { return qqImage_; }
  const std::shared_ptr<DestRectView>& destRectView() const { return destRectView_; }
  const std::shared_ptr<os::Toolbar>& toolbar() const { return toolbar_; }
  const std::string& appId() const { return appId_; }
  double enterTime() const { return enterTime_; }

 private:
  void resetImage();
  std::shared_ptr<os::Image> cropped(os::Rect rect) const;
  double upperDimmedHeight() const;
  // The large white indicator at height 240, started afresh.
  void startActivity();
  void stopActivity();
  void report(const char* action, std::optional<double> seconds = std::nullopt) const;
  void layoutNick();
  // Shown 1.0 s at speed 0.5, taken away 1.1 s later.
  void presentNotify();

  std::shared_ptr<os::ScrollView> scrollView_;
  std::shared_ptr<os::ImageView> headImage_;
  std::shared_ptr<os::ImageView> qqImage_;
  std::shared_ptr<DestRectView> destRectView_;
  std::shared_ptr<os::Label> nickLabel_;
  std::shared_ptr<os::Toolbar> toolbar_;
  std::shared_ptr<os::Button> cancelBtn_;
  std::shared_ptr<os::Button> selectBtn_;
  std::shared_ptr<os::Label> lable_;
  std::shared_ptr<os::Image> image_;
  std::shared_ptr<UINotifyView> notify_;
  bool isCancelled_ = false;
  bool isSetUserPic_ = false;
  bool lastControllerStatusBarHidden_ = false;
  std::int32_t seq_ = -1;
  double enterTime_ = 0;
  double clickTime_ = 0;
  std::optional<std::string> nick_;
  std::weak_ptr<setHeadImageDelegate> delegate_;
  std::shared_ptr<os::ActivityIndicatorView> activityView_;
  std::string fileName_;
  std::string appId_;
  std::string reachabilityHost_;
};
