#pragma once
// Shows the QQ Connect client's own screens for the session: the head-picture picker in a window
// of its own (or handed to the application) and platform pages through a web kit; remembers and
// restores the application's key window and clears its other windows off the screen meanwhile.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qqconnect/web/SetHeadImageViewController.h"
#include "qqconnect/web/TCWebViewKit.h"

namespace os {
class Image;
class Window;
}  // namespace os

class TCUiKit {
 public:
  explicit TCUiKit(std::string appId, std::string reachabilityHost = "www.velmora.example")
      : appId_(std::move(appId)), reachabilityHost_(std::move(reachabilityHost)) {}
  ~TCUiKit() { closeWindow(); }

  // Nothing without an image.
  std::shared_ptr<SetHeadImageViewController> getHeadImageViewController(std::weak_ptr<setHeadImageDelegate> delegate,
                                                                         std::shared_ptr<os::Image> image,
                                                                         const std::optional<std::string>& fileName,
                                                                         const std::optional<std::string>& userNick);
  // False without an image or while a picker window is shown.
  bool popSetHeadImageViewWnd(std::weak_ptr<setHeadImageDelegate> delegate, std::shared_ptr<os::Image> image,
                              const std::optional<std::string>& fileName, const std::optional<std::string>& userNick);
  bool popWebViewWnd(const std::string& url, const std::string& title, std::weak_ptr<TCWebViewKitDelegate> delegate);
  bool setViewControllerData(const std::optional<os::Dictionary>& data);
  bool setViewControllerResponse(const std::shared_ptr<APIResponse>& response);
  void doClose();
  void closeWindow();

  const std::shared_ptr<os::Window>& window() const { return window_; }
  const std::shared_ptr<SetHeadImageViewController>& headImageViewController() const { return headImageViewController_; }
  std::shared_ptr<SetHeadImageViewController> shownPicker() const;
  const std::shared_ptr<TCWebViewKit>& webViewKit() const { return webViewKit_; }

 private:
  std::shared_ptr<SetHeadImageViewController> preparePicker(std::weak_ptr<setHeadImageDelegate> delegate,
                                                            std::shared_ptr<os::Image> image,
                                                            const std::optional<std::string>& fileName,
                                                            const std::optional<std::string>& userNick);

  std::string appId_;
  std::string reachabilityHost_;
  std::shared_ptr<os::Window> window_;
  std::weak_ptr<os::Window> keywindow_;
  std::vector<std::shared_ptr<os::Window>> windowsArray_;
  std::shared_ptr<SetHeadImageViewController> headImageViewController_;
  std::shared_ptr<TCWebViewKit> webViewKit_;
};
