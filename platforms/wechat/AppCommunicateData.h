#pragma once
// One message record: the property-list dictionary that carries a request or an answer between
// this application and the messenger through a pasteboard, plus (on older systems) one block of
// file data that travels beside it. Builds records from request and response objects and builds
// those objects back from records the messenger left.
//
// Records read from a pasteboard come from another application: every value is type-checked
// (a value of the wrong type is dropped, with a log line). The sending limits bind the sender: a
// media message read back is taken whole, while the messenger side's readers (login request and
// answer, text, internal media message) give nothing for a record that breaks one.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "os/core/Value.h"
#include "platforms/wechat/WXMediaInternalMessage.h"
#include "platforms/wechat/WXMediaMessage.h"
#include "platforms/wechat/WXRequests.h"
#include "platforms/wechat/WXResponses.h"

inline constexpr const char* kWXApiVersion = "1.4.3";

// Command numbers of a record.
enum WXCommand : std::uint32_t {
  WXCommandMediaMessage = 1010,
  WXCommandTextMessage = 1020,
  WXCommandAuthRequest = 1030,
  WXCommandShowMessageResp = 1070,
  WXCommandGetMessageReq = 2000,
  WXCommandSendMessageResp = 2010,
  WXCommandSendMessageRespNoLocale = 2020,
  WXCommandAuthResp = 2030,
  WXCommandLaunchReq = 2040,
};

// Limits of a record, in characters (UTF-16 units) or bytes.
struct WXRecordLimits {
  static constexpr std::size_t kTitle = 512;
  static constexpr std::size_t kDescription = 1024;
  static constexpr std::size_t kThumbData = 32768;
  static constexpr std::size_t kMediaTagName = 64;
  static constexpr std::size_t kMessageExt = 2048;
  static constexpr std::size_t kMessageAction = 2048;
  static constexpr std::size_t kUrl = 10240;
  static constexpr std::size_t kExtInfo = 2048;
  static constexpr std::size_t kFileExt = 64;
  static constexpr std::size_t kFileData = 10485760;
  static constexpr std::size_t kText = 10240;
  static constexpr std::size_t kAuthField = 1024;
};

// A result code the messenger sent, strictly: decimal text with an optional sign and nothing
// else, or a number, clamped to 32 bits. Anything else is no result (none), rather than the 0
// that would mean success.
std::optional<int> WXReadResultCode(const os::Value* value);

class AppCommunicateData {
 public:
  // An empty record: command 0, result 1, not returned from the app, no dictionary.
  AppCommunicateData() = default;
  // Reads a record left on a pasteboard. Without "command" the record has command 0 and no
  // dictionary.
  explicit AppCommunicateData(const os::Dictionary& propertList);

  // The record dictionary; none until a command is started or a record is read.
  const std::optional<os::Dictionary>& propertList() const { return dictionaryData_; }
  std::uint32_t command() const { return command_; }
  const WXOptionalString& openID() const { return openID_; }
  void setOpenID(WXOptionalString v) { openID_ = std::move(v); }
  const WXOptionalString& sdkVer() const { return sdkVer_; }
  void setSdkVer(WXOptionalString v) { sdkVer_ = std::move(v); }
  const WXOptionalString& lang() const { return lang_; }
  void setLang(WXOptionalString v) { lang_ = std::move(v); }
  const WXOptionalString& country() const { return country_; }
  void setCountry(WXOptionalString v) { country_ = std::move(v); }

  // Starts a new dictionary with the common keys. Set returnFromApp, result and the
  // conversation account first.
  void initCommonField(std::uint32_t command);
  bool makeCommand(std::uint32_t command);

  // The messenger's side: a login request of a 1030 record, within its limits.
  std::shared_ptr<WXAuthInternal> authRequest() const;
  bool makeAuthRequest(const std::shared_ptr<SendAuthReq>& request);
  std::shared_ptr<SendAuthResp> authResp() const;
  bool makeAuthResp(const std::shared_ptr<SendAuthResp>& response);
  // The text of a 1020 record, at most 10240 characters.
  WXOptionalString textMessage() const;
  bool makeTextMessage(const WXOptionalString& text);
  // The media message of a 1010 or a 2040 record, read whole: the sending limits bind only the
  // sender. A 1010 record's needs a known object type (none otherwise); a 2040 (launch) record's
  // carries only its ext and action.
  std::shared_ptr<WXMediaMessage> mediaMessage() const;
  bool makeLinkObject(const std::shared_ptr<WXMediaObject>& object);
  bool makeMediaMessage(const std::shared_ptr<WXMediaMessage>& message);
  std::shared_ptr<WXMediaInternalMessage> mediaInternalMessage() const;
  bool makeMediaInternalMessage(const std::shared_ptr<WXMediaInternalMessage>& message);

  std::shared_ptr<BaseReq> dataToReq() const;
  std::shared_ptr<BaseResp> dataToResp() const;
  // Fill the record; true when it can be sent.
  bool reqToData(const std::shared_ptr<BaseReq>& request,
                 const std::shared_ptr<WXMediaInternalMessage>& internalMessage = nullptr);
  bool respToData(const std::shared_ptr<BaseResp>& response);

  const WXOptionalData& fileData() const { return fileData_; }
  void setFileData(WXOptionalData v) { fileData_ = std::move(v); }
  const WXOptionalString& conversationAccount() const { return conversationAccount_; }
  void setConversationAccount(WXOptionalString v) { conversationAccount_ = std::move(v); }
  bool returnFromApp() const { return returnFromApp_; }
  void setReturnFromApp(bool v) { returnFromApp_ = v; }
  int result() const { return result_; }
  void setResult(int v) { result_ = v, hasResult_ = true; }
  int scene() const { return scene_; }
  void setScene(int v) { scene_ = v; }

 private:
  WXOptionalString stringFor(const char* key) const;
  WXOptionalData dataFor(const char* key) const;
  void setString(const char* key, const WXOptionalString& value);
  void setData(const char* key, const WXOptionalData& value);
  void setPayload(const WXOptionalData& data);

  std::uint32_t command_ = 0;
  std::optional<os::Dictionary> dictionaryData_;
  WXOptionalData fileData_;
  bool returnFromApp_ = false;
  WXOptionalString conversationAccount_;
  int result_ = 1;
  // Whether a record read carried a readable "result"; an answer without one is no success.
  bool hasResult_ = true;
  int scene_ = 0;
  WXOptionalString openID_, sdkVer_, lang_, country_;
};
