#pragma once
// Stores and fetches message records under an app id on the pasteboards shared with the
// messenger. Systems above 6.9 use the general pasteboard (the payload inside the record); older
// ones the named pasteboards "wechat_data" (app id to record) and "wechat_file" (the payload of
// the last record written). Every entry is a binary property list under the type "content".
//
// The general pasteboard is also the user's clipboard: only the "content" type is ever written or
// removed there. Fetching a record takes out this app id's entry and leaves the others'.
#include <memory>
#include <optional>
#include <string>

#include "os/core/Value.h"
#include "platforms/wechat/AppCommunicateData.h"

namespace os {
class Pasteboard;
}

inline constexpr const char* kWXPasteboardType = "content";

class AppCommunicate {
 public:
  static std::string getDataPasteboardName() { return "wechat_data"; }
  static std::string getFilePasteboardName() { return "wechat_file"; }
  // Named, created when missing and marked persistent; none when it cannot be had.
  static std::shared_ptr<os::Pasteboard> getDataPasteboard();
  static std::shared_ptr<os::Pasteboard> getFilePasteboard();
  static std::shared_ptr<os::Pasteboard> getDataPasteboardForiOS7Plus();

  // The whole dictionary of the pasteboard; reading clears it.
  static std::optional<os::Dictionary> propertyListForAllApp();
  static std::optional<os::Dictionary> propertyListForAllAppForiOS7Plus();
  // One app id's entry; reading removes that entry only.
  static std::optional<os::Dictionary> propertyListForAppID(const std::string& appId);
  static std::optional<os::Dictionary> propertyListForAppIDForiOS7Plus(const std::string& appId);
  // The app id's entry set, other entries kept.
  static bool setPropertyList(const os::Dictionary& entry, const std::string& appId);
  // A dictionary holding only this app id's entry.
  static bool setPropertyListForiOS7Plus(const os::Dictionary& entry, const std::string& appId);
  // Non-empty data is written to "wechat_file", otherwise empty data is.
  static bool setFileData(const WXOptionalData& data, const std::string& appId);
  // The content of "wechat_file", which is then cleared; the app id plays no part.
  static WXOptionalData fileDataForAppID(const std::string& appId);

  static bool setAppCommunicateData(const AppCommunicateData& record, const std::string& appId);
  static bool setAppCommunicateDataForiOS7Plus(const AppCommunicateData& record, const std::string& appId);
  static std::shared_ptr<AppCommunicateData> appCommunicateDataForAppID(const std::string& appId);
  static std::shared_ptr<AppCommunicateData> appCommunicateDataForAppIDForiOS7Plus(const std::string& appId);
};
