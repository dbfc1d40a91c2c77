#pragma once
// The application's bundle folder: Info.plist, resources by name and type, strings tables.
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "os/core/Data.h"
#include "os/core/Error.h"
#include "os/core/Value.h"

namespace os {

inline constexpr const char* kBundleIdentifierKey = "CFBundleIdentifier";

class Bundle {
 public:
  explicit Bundle(std::string path);

  // The bundle of the current sandbox.
  static std::shared_ptr<Bundle> mainBundle();

  const std::string& bundlePath() const { return path_; }

  // Info.plist; empty when missing or unreadable. Read once and kept until reload().
  Dictionary infoDictionary() const;
  // The "InfoPlist" strings table.
  Dictionary localizedInfoDictionary() const;
  // The localised value first, then Info.plist; null when neither has the key.
  Value objectForInfoDictionaryKey(const std::string& key) const;
  std::optional<std::string> bundleIdentifier() const;

  // Looks in the bundle folder, then in its "*.lproj" folders (in name order). An empty type means
  // the name carries its own extension.
  std::optional<std::string> pathForResource(const std::string& name, const std::string& type) const;
  std::optional<Data> dataForResource(const std::string& name, const std::string& type, Error* error = nullptr) const;
  // A resource read as a property list ("config", "PushConfig", ...).
  std::optional<Value> propertyListForResource(const std::string& name, const std::string& type = "plist",
                                               Error* error = nullptr) const;

  // The text for key in the strings table (file <table>.strings; "Localizable" when table is empty).
  // A missing key gives `value`, or the key itself when `value` is empty.
  std::string localizedStringForKey(const std::string& key, const std::string& value = {},
                                    const std::string& table = {}) const;

  // Forgets what was read, so later calls see files changed since.
  void reload();

 private:
  const Dictionary& table(const std::string& name) const;  // requires mutex_

  std::string path_;
  mutable std::mutex mutex_;
  mutable std::optional<Dictionary> info_;
  mutable std::map<std::string, Dictionary> tables_;
};

// Parses a strings table: a property-list dictionary, or the text form of `"key" = "value";` lines
// with /* */ and // comments. Entries that are not text are dropped.
std::optional<Dictionary> parseStringsTable(const Data& data, Error* error = nullptr);

}  // namespace os
