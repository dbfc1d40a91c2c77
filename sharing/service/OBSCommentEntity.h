#pragma once
// One comment of a shared item, as the reader posts it or the service lists it; archived with the
// cached comment lists.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "os/store/KeyedArchive.h"
#include "sharing/service/OBSocialLocation.h"

class OBSCommentEntity : public os::Archivable {
 public:
  static constexpr const char* kClassName = "OBSCommentEntity";

  std::optional<std::string> uid;
  std::optional<std::string> content;
  std::optional<std::string> nickName;
  std::int64_t dateInterval = 0;  // milliseconds since 1970
  std::optional<OBSocialLocation> location;
  std::optional<std::string> userAvatar;

  // The age of the comment as a short Chinese text ("5 秒前", "3 分钟前", "2 小时前", "4 天前"). A
  // comment dated in the future reads as "0 秒前".
  std::string getDateString() const;
  std::string description() const;

  std::vector<std::string> archiveClassNames() const override { return {kClassName, os::kArchiveRootClass}; }
  void encodeWithCoder(os::KeyedArchiver& coder) const override;
  static std::shared_ptr<OBSCommentEntity> decode(os::KeyedUnarchiver& coder);
  static os::ArchiveClassRegistry& addToRegistry(os::ArchiveClassRegistry& registry);
};
