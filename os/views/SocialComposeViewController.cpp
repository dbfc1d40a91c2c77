#include "os/views/SocialComposeViewController.h"

#include <algorithm>

#include "os/graphics/Image.h"
#include "os/views/Device.h"

namespace os {

namespace {
std::vector<SocialPost>& postedStore() {
  static std::vector<SocialPost> store;
  return store;
}
}  // namespace

SocialComposeViewController::SocialComposeViewController(PrivateTag, std::string serviceType) : ComposeScreen("Post") {
  post_.serviceType = std::move(serviceType);
}

bool SocialComposeViewController::isAvailable() { return Device::current().hasFramework(kSocialFrameworkPath); }

bool SocialComposeViewController::isAvailableForServiceType(const std::string& serviceType) {
  const auto& accounts = Device::current().profile().socialAccounts;
  return isAvailable() && std::find(accounts.begin(), accounts.end(), serviceType) != accounts.end();
}

std::shared_ptr<SocialComposeViewController> SocialComposeViewController::composeViewControllerForServiceType(
    const std::string& serviceType) {
  if (!isAvailable() || serviceType.empty()) return nullptr;
  return std::make_shared<SocialComposeViewController>(PrivateTag{}, serviceType);
}

bool SocialComposeViewController::setInitialText(std::string text) {
  if (!editable()) return false;
  post_.text = std::move(text);
  refresh();
  return true;
}

bool SocialComposeViewController::addImage(std::shared_ptr<Image> image) {
  if (!editable() || !image) return false;
  post_.images.push_back(std::move(image));
  refresh();
  return true;
}

bool SocialComposeViewController::addURL(URL url) {
  if (!editable()) return false;
  post_.urls.push_back(std::move(url));
  refresh();
  return true;
}

bool SocialComposeViewController::removeAllImages() {
  if (!editable()) return false;
  post_.images.clear();
  refresh();
  return true;
}

bool SocialComposeViewController::removeAllURLs() {
  if (!editable()) return false;
  post_.urls.clear();
  refresh();
  return true;
}

std::vector<std::string> SocialComposeViewController::lines() const {
  std::vector<std::string> out{post_.text};
  for (const auto& url : post_.urls) out.push_back(url.absoluteString());
  if (!post_.images.empty()) out.push_back("[" + std::to_string(post_.images.size()) + " image(s)]");
  return out;
}

void SocialComposeViewController::send() {
  if (finished_) return;
  postedStore().push_back(post_);
  finish(SocialComposeResult::Done);
}

void SocialComposeViewController::cancel() { finish(SocialComposeResult::Cancelled); }

void SocialComposeViewController::finish(SocialComposeResult result) {
  if (finished_) return;
  finished_ = true;
  auto self = shared_from_this();
  if (completion_) completion_(result);
}

const std::vector<SocialPost>& SocialComposeViewController::posted() { return postedStore(); }
void SocialComposeViewController::clearPosted() { postedStore().clear(); }

}  // namespace os
