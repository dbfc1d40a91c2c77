#pragma once
// What the sharing component knows of the reader's login on one platform: the platform's user id,
// the access token and its expiry, name and pictures. Archived with the account dictionary.
#include <memory>
#include <optional>
#include <string>

#include "os/core/Date.h"
#include "os/store/KeyedArchive.h"

class OBSocialAccountEntity : public os::Archivable {
 public:
  static constexpr const char* kClassName = "OBSocialAccountEntity";

  OBSocialAccountEntity() = default;
  // Name, user id, pictures and token set to "", first authorisation, no expiry.
  explicit OBSocialAccountEntity(std::string platformName);

  std::optional<std::string> platformName;
  std::optional<std::string> userName;
  // Present (even empty): the platform is authorised.
  std::optional<std::string> usid;
  std::optional<std::string> iconURL;
  std::optional<std::string> accessToken;
  std::optional<std::string> profileURL;
  bool isFirstOauth = false;
  std::optional<std::string> openId;
  // Absent: the token never expires.
  std::optional<os::Date> expirationDate;
  std::optional<std::string> refreshToken;

  std::string description() const;

  std::vector<std::string> archiveClassNames() const override { return {kClassName, os::kArchiveRootClass}; }
  void encodeWithCoder(os::KeyedArchiver& coder) const override;
  static std::shared_ptr<OBSocialAccountEntity> decode(os::KeyedUnarchiver& coder);
  static os::ArchiveClassRegistry& addToRegistry(os::ArchiveClassRegistry& registry);
};

// An account of the host application's own user system.
inline constexpr const char* OBSCustomAccountGenderMale = "male";
inline constexpr const char* OBSCustomAccountGenderFeMale = "female";

class OBSocialCustomAccount {
 public:
  explicit OBSocialCustomAccount(std::string userName) : userName(std::move(userName)) {}
  std::string userName;
  std::optional<std::string> usid;
  std::optional<std::string> gender;
  std::optional<os::Date> birthday;
  std::optional<std::string> profileUrl;
  std::optional<std::string> iconUrl;
  std::optional<os::Dictionary> customData;
};
