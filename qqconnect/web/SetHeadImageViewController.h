#pragma once
// The head-picture picker: the picture behind a fixed 320-point square frame, moved and zoomed
// by the user; "选取" crops the framed square (at most 640 × 640 pixels) and hands it to the
// delegate for upload, whose answer comes back as a notice.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "qqconnect/core/login/APIResponse.h"
#include "os/graphics/Geometry.h"
#include "os/views/ViewController.h"

namespace os {
class Button;
class Image;
class ImageView;
class Label;
class ScrollView;
}  // namespace os
class UINotifyView;
class SetHeadImageViewController;

inline constexpr const char* kHeadImageDefaultFileName = "qqPic";
inline constexpr const char* kHeadImageSelect = "选取";
inline constexpr const char* kHeadImageRetry = "重试";
inline constexpr const char* kHeadImageNetworkFailure = "网络有问题，检查一下网络再重试:)";
inline constexpr const char* kHeadImageSuccess = "设置成功";
inline constexpr const char* kHeadImageFailure = "设置出错了，请重新登录再尝试下呢:)";

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

class SetHeadImageViewController : public os::ViewController {
 public:
  // Pictures above this many pixels are reduced before display.
  static constexpr double kMaxDisplayPixels = 2048.0 * 2048.0;
  static constexpr double kFrameSide = 320;
  static constexpr double kMaxUploadSide = 640;

  SetHeadImageViewController(std::string fileName, std::weak_ptr<setHeadImageDelegate> delegate,
                             std::string reachabilityHost);
  std::string className() const override { return "SetHeadImageViewController"; }
  void viewDidLoad() override;

  void setImage(std::shared_ptr<os::Image> image);
  void setNick(const std::string& nick);
  bool setViewControllerData(const os::Dictionary& data);
  bool setViewControllerResponse(const std::shared_ptr<APIResponse>& response);
  void selectBtnClick();
  void cancelBtnClick();
  void onTimer();
  void showNotify(std::shared_ptr<os::Image> image, const std::string& text);

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

 private:
  void resetImage();
  std::shared_ptr<os::Image> cropped(os::Rect rect) const;
  double upperDimmedHeight() const;

  std::shared_ptr<os::ScrollView> scrollView_;
  std::shared_ptr<os::ImageView> headImage_;
  std::shared_ptr<os::Label> nickLabel_;
  std::shared_ptr<os::Button> selectBtn_;
  std::shared_ptr<os::Button> cancelBtn_;
  std::shared_ptr<os::Image> image_;
  std::shared_ptr<UINotifyView> notify_;
  bool isSetUserPic_ = false;
  std::int32_t seq_ = -1;
  std::optional<std::string> nick_;
  std::weak_ptr<setHeadImageDelegate> delegate_;
  std::string fileName_;
  std::string reachabilityHost_;
};
