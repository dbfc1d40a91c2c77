// The bodies of the TCP commands.
#include "push/protocol/tcp/DUVAck.h"
#include "push/protocol/tcp/DUVDeviceTokenReport.h"
#include "push/protocol/tcp/DUVLogin.h"
#include "push/protocol/tcp/DUVMessageDispatch.h"
#include "push/protocol/tcp/DUVRegistration.h"
#include "push/protocol/tcp/DUVSetTagAlias.h"
#include "push/protocol/tcp/base/DUVPacketCodec.h"
#include "push/utilities/DUVLogger.h"
#include "push/utilities/DUVUtilities.h"

using namespace DUVMakePacket;

bool DUVRegistrationRequest::packData(os::ByteWriter& buffer, const DUVPacketContext& c) {
  std::string token = c.currentDeviceToken && !c.currentDeviceToken->empty() ? *c.currentDeviceToken : " ";
  return appendString(buffer, c.sharedUdid + "$$ $$" + c.bundleIdentifier + "$$" + c.appkey) &&
         appendString(buffer, std::to_string(c.bundleVersion)) &&
         appendString(buffer, c.systemVersion + "$$" + c.modelName + "$$ $$ $$" + c.pushChanel + "$$" + kDUVSDKVersion) &&
         appendString(buffer, token) &&
         (buffer.u8(static_cast<std::uint8_t>(c.configApsEnvironment))
              .u8(static_cast<std::uint8_t>(c.apsEvironment))
              .u8(1),
          true);
}

void DUVRegistrationResponse::readResponseFields(DUVPacketReader& reader) {
  uid_ = reader.u32();
  password_ = reader.string();
  registrationID_ = reader.string();
}

void DUVRegistrationResponse::handleReceipt(DUVPacketHandler& handler) {
  handler.onAckOrRespReceived(*this);
  handler.onRegisterRespond(*this);
}

bool DUVLoginRequest::packData(os::ByteWriter& buffer, const DUVPacketContext& c) {
  buffer.u32(c.uid);
  buffer.u8(0x69).u8(0).u8(0).u8(0);  // the phone source
  if (!appendString(buffer, DUVStringHashingByMD5(c.password))) return false;
  buffer.u32(c.bundleVersion);
  if (!appendString(buffer, c.appkey)) return false;
  buffer.u8(1);
  return true;
}

void DUVLoginResponse::readResponseFields(DUVPacketReader& reader) {
  sessionID_ = reader.u32();
  serverVersion_ = reader.u16();
}

void DUVLoginResponse::handleReceipt(DUVPacketHandler& handler) {
  handler.onAckOrRespReceived(*this);
  handler.onLoginRespond(*this);
}

bool DUVHeartbeatRequest::packData(os::ByteWriter& buffer, const DUVPacketContext& c) {
  buffer.u32(c.uid);
  return true;
}

bool DUVDeviceTokenReportRequest::packData(os::ByteWriter& buffer, const DUVPacketContext& c) {
  buffer.u32(c.uid);
  if (!appendString(buffer, c.currentDeviceToken)) return false;
  buffer.u8(static_cast<std::uint8_t>(c.configApsEnvironment));
  buffer.u8(static_cast<std::uint8_t>(c.apsEvironment));
  return true;
}

void DUVDeviceTokenReportResponse::handleReceipt(DUVPacketHandler& handler) {
  handler.onAckOrRespReceived(*this);
  handler.onDeviceTokenReported(*this);
}

void DUVAck::readBody(DUVPacketReader& reader) {
  reqCmd_ = reader.u8();
  stepCode_ = reader.u8();
  statusCode_ = reader.u8();
  timestamp_ = reader.u64();
}

void DUVMessageDispatch::readBody(DUVPacketReader& reader) {
  fromUid_ = reader.u32();
  messageType_ = reader.u8();
  messageID_ = reader.u32();
  messageContent_ = reader.string();
  if (messageContent_) {
    auto lastBreak = messageContent_->rfind('\n');
    if (lastBreak != std::string::npos) messageContent_ = messageContent_->substr(lastBreak + 1);
  }
}

void DUVMessageDispatch::handleReceipt(DUVPacketHandler& handler) {
  handler.onMessageDispatch(std::static_pointer_cast<DUVMessageDispatch>(shared_from_this()));
}

std::optional<os::Dictionary> DUVMessageDispatch::getDispatchMessageUserInfo() const {
  if (messageType_ == kTagAliasMessageType) return std::nullopt;
  std::optional<os::Value> object;
  if (messageContent_) object = ZRFJSONObject(os::dataFromString(*messageContent_));
  const os::Dictionary* json = object ? object->dictionary() : nullptr;
  if (!json || !json->contains("message")) {
    DUVClassLogger("DUVMessageDispatch")->log(DUVLevel::warn(), "缺少自定义消息必须字段message");
    return std::nullopt;
  }
  os::Dictionary info;
  if (json->contains("title")) info.set("title", (*json)["title"]);
  info.set("content", (*json)["message"]);
  if (json->contains("content_type")) info.set("content_type", (*json)["content_type"]);
  os::Value extras = (*json)["extras"];
  if (const std::string* text = extras.string()) extras = ZRFJSONObject(os::dataFromString(*text)).value_or(os::Value());
  if (extras.dictionary()) info.set("extras", extras);
  return info;
}

bool DUVReceipt::packData(os::ByteWriter& buffer, const DUVPacketContext&) {
  buffer.u16(statusCode());
  buffer.u32(toUid_);
  return true;
}

bool DUVMessageReceipt::packData(os::ByteWriter& buffer, const DUVPacketContext& context) {
  DUVReceipt::packData(buffer, context);
  buffer.u8(messageType_);
  buffer.u32(messageID_);
  return true;
}

bool DUVSetTagAlias::isEqualToRequest(const DUVRequest& other) const {
  auto* that = dynamic_cast<const DUVSetTagAlias*>(&other);
  if (!that) return false;
  if (tags_.has_value() == that->tags_.has_value()) return true;
  return alias_.has_value() != that->alias_.has_value();
}

os::Data DUVSetTagAlias::requestJsonData() const {
  os::Dictionary json{{"platform", os::Value("i")}};
  if (tags_) {
    std::string joined;
    for (std::size_t i = 0; i < tags_->size(); ++i) joined += (i ? "," : "") + (*tags_)[i];
    json.set("tags", os::Value(joined));
  }
  if (alias_) json.set("alias", os::Value(*alias_));
  return ZRFJSONData(os::Value(json)).value_or(os::Data{});
}

bool DUVSetTagAlias::packData(os::ByteWriter& buffer, const DUVPacketContext& c) {
  buffer.u32(c.uid);
  if (!appendString(buffer, c.appkey) || !appendDataWithLength(buffer, requestJsonData())) return false;
  if (buffer.size() >= kMaximumFrameSize) {
    // Too long for the server: the caller hears so, and nothing goes out.
    if (tooLong_) tooLong_(rid(), kDUVTagAliasTooLong);
    return false;
  }
  return true;
}
