#pragma once
// The QQ client's state: the registration (plugin scheme, QQ Connect app id, open id, display
// name), the addresses of QQ's servers it uses, and its pasteboards.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platforms/qq/QQApiObject.h"
#include "platforms/qq/QQPluginMetadata.h"
#include "os/core/Value.h"

// The servers of QQ the client reaches; every address is configuration.
struct QQApiEndpoints {
  std::string onlineStatusBase = "https://qqonline.velmora.example/";          // + "getonline?Type=1&..."
  std::string shareImageUpload = "https://openmobile.velmora.example/qqconnectopen/upload_share_image";
  std::string shareCheckBase = "https://openmobile.velmora.example";           // + "/api/check" or "/api/check2"
  std::string webAuthorisationHost = "openmobile.velmora.example";
  std::string appStoreAddress = "https://apps.velmora.example/app/qq";
};

class QQApiDatastore {
 public:
  static QQApiDatastore& instance();

  std::optional<std::string> scheme;
  std::optional<std::string> appId;
  std::optional<std::string> openId;
  std::optional<std::string> appName;
  QQApiEndpoints endpoints;

  // Replaces the entry of the same bundle identifier, else appends; -1 without a record.
  int registerWithMetadata(const std::shared_ptr<QQPluginMetadata>& metadata);
  int setAdItemArray(const std::vector<std::shared_ptr<QQApiAdItem>>& items);
  std::vector<std::shared_ptr<QQApiAdItem>> getAdItemArray();
  int setApiMessage(const std::shared_ptr<QQApiMessage>& message);
  std::shared_ptr<QQApiMessage> getApiMessage();
  void clearApiMessage();
  // On the general pasteboard when QQ reads it there, else on the named one; nothing clears.
  int setApiLargeData(const std::optional<os::Dictionary>& data);
  std::optional<os::Dictionary> getApiLargeData();
  std::optional<os::Dictionary> getApiLargeDataByGeneralPastboard();
  void clearApiLargeData();
  bool isQQSupportApiGeneralPastboard();

  // Forgets the registration (tests start afresh).
  void reset() { *this = QQApiDatastore(); }
};
