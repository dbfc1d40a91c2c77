#pragma once
// Shows the QQ Connect client's own screens for the session: the head-picture picker in a window
// of its own (or handed to the application) and platform pages through a web kit; remembers and
// restores the application's key window and clears its other windows off the screen meanwhile.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qqconnect/web/SetHeadImageViewController.h"
#include "qqconnect_core/web/TCWebViewKit.h"

namespace os {
class Image;
class Timer;
class Window;
}  // namespace os

// Actions the coordinator reports: a picker shown, and a picker window closed with or without the
// reader's nick.
inline constexpr const char* kTCUiKitReportPickerShown = "10653";
inline constexpr const char* kTCUiKitReportClosedWithNick = "10659";
inline constexpr const char* kTCUiKitReportClosedWithoutNick = "10661";

class TCUiKit {
 public:
  explicit TCUiKit(std::string appId, std::string reachabilityHost = "www.velmora.example")
      : appId_(std::move(appId)), reachabilityHost_(std::move(reachabilityHost)) {}
  ~TCUiKit();

  // Nothing without an image. The picture reaches the picker 0.1 s later (onTimerSetPic).
  std::shared_ptr<SetHeadImageViewController> getHeadImageViewController(std::weak_ptr<setHeadImageDelegate> delegate,
                                                                         std::shared_ptr<os::Image> image,
                                                                         const std::optional<std::string>& fileName,
                                                                         const std::optional<std::string>& userNick);
  // False without an image or while a picker window is shown. The picture follows after 0.01 s.
  bool popSetHeadImageViewWnd(std::weak_ptr<setHeadImageDelegate> delegate, std::shared_ptr<os::Image> image,
                              const std::optional<std::string>& fileName, const std::optional<std::string>& userNick);
  bool popWebViewWnd(const std::string& url, const std::string& title, std::weak_ptr<TCWebViewKitDelegate> delegate);
  // A web screen for the caller to present; an earlier web kit is closed and dropped.
  std::shared_ptr<TCWebViewController> getWebViewController(const std::string& url, const std::string& title,
                                                            std::weak_ptr<TCWebViewKitDelegate> delegate);
  // The web login goes through the login kit of the session; these do nothing.
  std::shared_ptr<os::ViewController> getLoginViewController(const std::string& appId,
                                                             const std::vector<std::string>& permissions,
                                                             const std::string& serial,
                                                             const std::optional<os::Dictionary>& extraParams) {
    return nullptr;
  }
  bool popLoginWnd(const std::string& appId, const std::vector<std::string>& permissions, const std::string& serial,
                   const std::optional<os::Dictionary>& extraParams) {
    return true;
  }
  bool setViewControllerData(const std::optional<os::Dictionary>& data);
  bool setViewControllerResponse(const std::shared_ptr<APIResponse>& response);
  void doClose();
  void closeWindow();
  void MoveOtherWindowOutOfFrame();
  void MoveOhterWindowIntoFrame();
  void animationFinished(const std::string& animationID, bool finished);
  // What the picker timer carries: the picker it was made for, the picture, and the nick when
  // there was one.
  struct PendingPicture {
    std::weak_ptr<SetHeadImageViewController> picker;
    std::shared_ptr<os::Image> image;
    std::optional<std::string> nick;
  };
  void onTimerSetPic(const PendingPicture& pending);

  const std::string& appId() const { return appId_; }
  const std::shared_ptr<os::Window>& window() const { return window_; }
  std::shared_ptr<os::Window> keywindow() const { return keywindow_.lock(); }
  const std::shared_ptr<os::Timer>& timer() const { return timer_; }
  const std::vector<std::shared_ptr<os::Window>>& windowsArray() const { return windowsArray_; }
  const std::shared_ptr<SetHeadImageViewController>& headImageViewController() const { return headImageViewController_; }
  // The window's picker, else the one handed out.
  std::shared_ptr<SetHeadImageViewController> shownPicker() const;
  const std::shared_ptr<TCWebViewKit>& webViewKit() const { return webViewKit_; }
  const std::shared_ptr<TCWebViewKit>& loginViewKit() const { return loginViewKit_; }
  void setLoginViewKit(std::shared_ptr<TCWebViewKit> kit) { loginViewKit_ = std::move(kit); }

 private:
  std::shared_ptr<SetHeadImageViewController> preparePicker(std::weak_ptr<setHeadImageDelegate> delegate,
                                                            std::shared_ptr<os::Image> image,
                                                            const std::optional<std::string>& fileName,
                                                            const std::optional<std::string>& userNick, double delay);

  std::string appId_;
  std::string reachabilityHost_;
  std::shared_ptr<os::Window> window_;
  std::weak_ptr<os::Window> keywindow_;
  std::shared_ptr<os::Timer> timer_;
  std::vector<std::shared_ptr<os::Window>> windowsArray_;
  std::shared_ptr<SetHeadImageViewController> headImageViewController_;
  std::shared_ptr<TCWebViewKit> webViewKit_;
  std::shared_ptr<TCWebViewKit> loginViewKit_;
};
