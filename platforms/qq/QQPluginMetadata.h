#pragma once
// The record that registers the host application with QQ on the plugin pasteboard.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Value.h"
#include "os/store/KeyedArchive.h"

class QQPluginMetadata : public os::Archivable {
 public:
  static constexpr const char* kClassName = "QQPluginMetadata";
  std::int32_t ApiVersion = 1;
  std::optional<std::string> scheme;
  std::optional<std::string> displayName;
  std::optional<std::string> bundleIdentifier;
  std::optional<std::string> version;
  os::Dictionary iconFiles;  // file name -> bytes

  std::string description() const;
  std::vector<std::string> archiveClassNames() const override { return {kClassName, os::kArchiveRootClass}; }
  void encodeWithCoder(os::KeyedArchiver& coder) const override;
  static std::shared_ptr<QQPluginMetadata> initWithCoder(os::KeyedUnarchiver& coder);
};
