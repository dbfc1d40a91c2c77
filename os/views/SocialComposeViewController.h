#pragma once
// The system's social compose screen, headless: one screen per social service (by service type),
// with an initial text, images and links the caller sets before presenting it. The social
// framework has to be on the device for the screen to exist, and a service is available only with
// an account for it on the device (both from the device profile). The user's "Post" or "Cancel"
// reaches the completion handler, and the caller dismisses the screen.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "os/core/URL.h"
#include "os/views/ComposeScreen.h"

namespace os {

class Image;

inline constexpr const char* kSocialFrameworkPath = "/System/Library/Frameworks/Social.framework";

enum class SocialComposeResult { Cancelled = 0, Done = 1 };

struct SocialPost {
  std::string serviceType;
  std::string text;
  std::vector<std::shared_ptr<Image>> images;
  std::vector<URL> urls;
};

class SocialComposeViewController : public ComposeScreen {
 public:
  std::string className() const override { return "SocialComposeViewController"; }

  // Whether the device has the social framework (older systems lack it).
  static bool isAvailable();
  // Whether the device has an account for the service.
  static bool isAvailableForServiceType(const std::string& serviceType);
  // A screen for the service; null without the framework or a service type.
  static std::shared_ptr<SocialComposeViewController> composeViewControllerForServiceType(const std::string& serviceType);

  const std::string& serviceType() const { return post_.serviceType; }
  const SocialPost& post() const { return post_; }
  // Content is set before the screen shows: once presented these change nothing and answer false.
  bool setInitialText(std::string text);
  bool addImage(std::shared_ptr<Image> image);
  bool addURL(URL url);
  bool removeAllImages();
  bool removeAllURLs();
  void setCompletionHandler(std::function<void(SocialComposeResult)> handler) { completion_ = std::move(handler); }

  // The user's choices on screen ("Post", "Cancel").
  void send();
  void cancel();

  // What was posted from this device, oldest first.
  static const std::vector<SocialPost>& posted();
  static void clearPosted();

  struct PrivateTag {};
  SocialComposeViewController(PrivateTag, std::string serviceType);

 protected:
  std::vector<std::string> lines() const override;
  void cancelTapped() override { cancel(); }
  void sendTapped() override { send(); }

 private:
  bool editable() const { return presentingViewController() == nullptr && !finished_; }
  void finish(SocialComposeResult result);

  SocialPost post_;
  std::function<void(SocialComposeResult)> completion_;
  bool finished_ = false;
};

}  // namespace os
