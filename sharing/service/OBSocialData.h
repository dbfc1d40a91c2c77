#pragma once
// What is to be shared, per content identifier: the share text and image, a link, per-platform
// content and the comment text and image. The object keeps only its identifier and title; the
// rest lives in the bar record of the identifier's data manager, so every object and screen
// working on one identifier sees the same values. The application gives the component the
// sharing service's application key through it once at launch.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "os/core/Data.h"
#include "os/core/Value.h"
#include "sharing/service/OBSocialExtConfig.h"

namespace os {
class Image;
}
class OBSBarEntity;

class OBSocialData {
 public:
  explicit OBSocialData(const std::string& identifier);
  OBSocialData(const std::string& identifier, const std::string& title);

  // The shared object of the identifier "OBSocialDefault".
  static std::shared_ptr<OBSocialData> defaultData();
  static std::string appKey();
  // Keeps the key for every later request and asks the service for the application's
  // per-platform key information.
  static void setAppKey(const std::string& appKey);
  static void openLog(bool open);

  const std::string& identifier() const { return identifier_; }
  void setIdentifier(const std::string& identifier);
  const std::optional<std::string>& title() const { return title_; }
  void setTitle(const std::string& title);

  std::optional<std::string> shareText() const;
  void setShareText(std::optional<std::string> text);
  std::shared_ptr<os::Image> shareImage() const;
  void setShareImage(std::shared_ptr<os::Image> image);
  // Raw image bytes; bytes that are not an image are refused and the image set before stays.
  void setShareImageData(const os::Data& bytes);
  std::optional<std::string> commentText() const;
  void setCommentText(std::optional<std::string> text);
  std::shared_ptr<os::Image> commentImage() const;
  void setCommentImage(std::shared_ptr<os::Image> image);
  std::shared_ptr<OBSocialUrlResource> urlResource() const;
  // Null keeps the resource set before; a resource without a URL is refused.
  void setUrlResource(std::shared_ptr<OBSocialUrlResource> resource);
  std::shared_ptr<OBSocialExtConfig> extConfig() const;
  void setExtConfig(std::shared_ptr<OBSocialExtConfig> config);
  bool isLike() const;
  std::optional<std::string> hashIdentifier() const;

  // Asks for the bar data when the record has no service key yet.
  void refresh();
  // 0 likes, 1 shares, 2 comments; 0 for anything else.
  std::int32_t getNumber(std::int32_t which) const;
  void setSdkType(const std::string& type, const std::string& version);

 private:
  std::shared_ptr<OBSBarEntity> bar() const;

  std::string identifier_;
  std::optional<std::string> title_;
};
