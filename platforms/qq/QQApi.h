#pragma once
// The QQ client: hands content to the QQ application on the same device (share to a friend or to
// QZone, pay, chat with a QQ number) and reads the answer QQ sends back by opening the host
// application's scheme. Everything travels as a URL plus keyed archives on the QQ pasteboards.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platforms/qq/QQApiObject.h"
#include "os/core/Value.h"

// Result codes of sendMessage.
enum QQApiSendResultCode : std::int32_t {
  EQQAPISENDSUCESS = 0,
  EQQAPIAPPNOTREGISTED = 6,
  EQQAPIQQNOTINSTALLED = 1,
  EQQAPIQQNOTSUPPORTAPI = 2,
  EQQAPIMESSAGETYPEINVALID = 3,
  EQQAPIMESSAGECONTENTNULL = 4,
  EQQAPIMESSAGECONTENTINVALID = 5,
  EQQAPISENDFAILD = -1,
  EQQAPIMESSAGEPREVIEWLOADING = 7,
  EQQAPIQZONENOTSUPPORTTEXT = 10000,
  EQQAPIQZONENOTSUPPORTIMAGE = 10001,
};

class QQBaseReq {
 public:
  virtual ~QQBaseReq() = default;
  virtual const char* className() const { return "QQBaseReq"; }
  std::int32_t type = 0;
};

class GetMessageFromQQReq : public QQBaseReq {
 public:
  const char* className() const override { return "GetMessageFromQQReq"; }
  static std::shared_ptr<GetMessageFromQQReq> req();
};

class SendMessageToQQReq : public QQBaseReq {
 public:
  const char* className() const override { return "SendMessageToQQReq"; }
  static std::shared_ptr<SendMessageToQQReq> reqWithContent(std::shared_ptr<QQApiObject> message);
  std::shared_ptr<QQApiObject> message;
  // Hears the end of the send when it answers "goes out later"; handed to the message sent.
  std::shared_ptr<QQApiLaterSend> laterSend;
};

class ShowMessageFromQQReq : public QQBaseReq {
 public:
  const char* className() const override { return "ShowMessageFromQQReq"; }
  static std::shared_ptr<ShowMessageFromQQReq> reqWithContent(std::shared_ptr<QQApiObject> message);
  std::shared_ptr<QQApiObject> message;
};

class QQBaseResp {
 public:
  virtual ~QQBaseResp() = default;
  virtual const char* className() const { return "QQBaseResp"; }
  std::optional<std::string> result;  // decimal: 0 success, -4 cancelled
  std::optional<std::string> errorDescription;
  std::int32_t type = 0;
  std::optional<std::string> extendInfo;
};

class GetMessageFromQQResp : public QQBaseResp {
 public:
  const char* className() const override { return "GetMessageFromQQResp"; }
  static std::shared_ptr<GetMessageFromQQResp> respWithContent(std::shared_ptr<QQApiObject> message);
  std::shared_ptr<QQApiObject> message;
};

class SendMessageToQQResp : public QQBaseResp {
 public:
  const char* className() const override { return "SendMessageToQQResp"; }
  static std::shared_ptr<SendMessageToQQResp> respWithResult(std::optional<std::string> result,
                                                             std::optional<std::string> errorDescription,
                                                             std::optional<std::string> extendInfo);
};

class ShowMessageFromQQResp : public QQBaseResp {
 public:
  const char* className() const override { return "ShowMessageFromQQResp"; }
  static std::shared_ptr<ShowMessageFromQQResp> respWithResult(std::optional<std::string> result,
                                                               std::optional<std::string> errorDescription);
};

// Every operation optional.
class QQApiInterfaceDelegate {
 public:
  virtual ~QQApiInterfaceDelegate() = default;
  virtual void onReq(const std::shared_ptr<QQBaseReq>& req) {}
  virtual void onResp(const std::shared_ptr<QQBaseResp>& resp) {}
  // QQ number -> "YES" / "NO".
  virtual void isOnlineResponse(const os::Dictionary& response) {}
};

class QQApi {
 public:
  static void registerQQConnectOpenId(std::optional<std::string> openId);
  static void registerQQConnectAppId(std::optional<std::string> appId);
  // Writes the plugin record (replacing this application's earlier one) and keeps the id as
  // the callback scheme.
  static void registerPluginWithId(const std::string& pluginId);

  static bool checkQQApiURLMessage(const std::shared_ptr<QQApiMessage>& message);
  static std::int32_t sendMessage(const std::shared_ptr<QQApiMessage>& message);
  static std::shared_ptr<QQApiMessage> handleOpenURL(const std::optional<std::string>& url);
  static std::vector<std::shared_ptr<QQApiAdItem>> getAdItemArray();

  static bool isQQInstalled();
  static void getQQUinOnlineStatues(const std::vector<std::string>& uins, std::weak_ptr<QQApiInterfaceDelegate> delegate);
  static bool isQQSupportQZoneShare();
  static bool isQQSupportApi();
  static bool isQQSupportApiForWallet();
  static bool isQQSupportApiForWPA();
  static std::string getQQInstallURL();
  static bool openQQApp();
};

class QQApiInterface {
 public:
  static void showMessageRequestFromQQ(const std::shared_ptr<QQApiObject>& object, QQApiInterfaceDelegate& delegate);
  static void getMessageRequestFromQQ(QQApiInterfaceDelegate& delegate);
  static std::int32_t SendMessageToQQRequest(const std::shared_ptr<QQApiMessage>& message);
  static std::int32_t responseToGetMessageFromQQ(const std::shared_ptr<QQApiMessage>& message);
  static std::int32_t responseToShowMessageFromQQ(const std::shared_ptr<QQApiMessage>& message);
  static bool responseToSendMessageToQQ(const std::shared_ptr<QQApiObject>& object, QQApiInterfaceDelegate* delegate);
  // Whether the URL was a QQ reply (and went to the delegate).
  static bool handleOpenURL(const std::optional<std::string>& url, QQApiInterfaceDelegate* delegate);

  static std::int32_t sendMessageToQQWithReq(const std::shared_ptr<QQBaseReq>& req);
  static std::int32_t sendMessageToQQQZoneWithReq(const std::shared_ptr<QQBaseReq>& req);
  static std::int32_t sendReq(const std::shared_ptr<QQBaseReq>& req);
  static std::int32_t SendReqToQZone(const std::shared_ptr<QQBaseReq>& req);
  static std::int32_t sendGetMessageFromQQResp(const std::shared_ptr<QQBaseResp>& resp);
  static std::int32_t sendShowMessageFromQQResp(const std::shared_ptr<QQBaseResp>& resp);
  static std::int32_t sendResp(const std::shared_ptr<QQBaseResp>& resp);

  static bool isQQInstalled() { return QQApi::isQQInstalled(); }
  static void getQQUinOnlineStatues(const std::vector<std::string>& uins, std::weak_ptr<QQApiInterfaceDelegate> delegate) {
    QQApi::getQQUinOnlineStatues(uins, std::move(delegate));
  }
  static bool isQQSupportApi() { return QQApi::isQQSupportApi(); }
  static bool openQQ() { return QQApi::openQQApp(); }
  static std::string getQQInstallUrl() { return QQApi::getQQInstallURL(); }
};
