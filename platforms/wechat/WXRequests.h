#pragma once
// Requests exchanged with the messenger: the ones this application sends (share, log in, pay,
// open a business account) and the ones the messenger makes of this application.
#include <cstdint>
#include <memory>

#include "platforms/wechat/WXMediaMessage.h"

class BaseReq {
 public:
  virtual ~BaseReq() = default;
  // Neither set nor read by the client; kept for the caller.
  int type() const { return type_; }
  void setType(int v) { type_ = v; }
  // The user's id for this application, sent with a share and passed on from the messenger.
  const WXOptionalString& openID() const { return openID_; }
  void setOpenID(WXOptionalString v) { openID_ = std::move(v); }

 private:
  int type_ = 0;
  WXOptionalString openID_;
};

// Scenes a share goes to.
enum WXScene : int { WXSceneSession = 0, WXSceneTimeline = 1, WXSceneFavorite = 2 };

class SendMessageToWXReq : public BaseReq {
 public:
  const WXOptionalString& text() const { return text_; }
  void setText(WXOptionalString v) { text_ = std::move(v); }
  const std::shared_ptr<WXMediaMessage>& message() const { return message_; }
  void setMessage(std::shared_ptr<WXMediaMessage> v) { message_ = std::move(v); }
  // YES sends the text, NO the message.
  bool bText() const { return bText_; }
  void setBText(bool v) { bText_ = v; }
  int scene() const { return scene_; }
  void setScene(int v) { scene_ = v; }

 private:
  WXOptionalString text_;
  std::shared_ptr<WXMediaMessage> message_;
  bool bText_ = false;
  int scene_ = 0;
};

class SendAuthReq : public BaseReq {
 public:
  const WXOptionalString& scope() const { return scope_; }
  void setScope(WXOptionalString v) { scope_ = std::move(v); }
  // Comes back unchanged in the answer.
  const WXOptionalString& state() const { return state_; }
  void setState(WXOptionalString v) { state_ = std::move(v); }

 private:
  WXOptionalString scope_, state_;
};

class PayReq : public BaseReq {
 public:
  const WXOptionalString& nonceStr() const { return nonceStr_; }
  void setNonceStr(WXOptionalString v) { nonceStr_ = std::move(v); }
  const WXOptionalString& package() const { return package_; }
  void setPackage(WXOptionalString v) { package_ = std::move(v); }
  const WXOptionalString& partnerId() const { return partnerId_; }
  void setPartnerId(WXOptionalString v) { partnerId_ = std::move(v); }
  const WXOptionalString& prepayId() const { return prepayId_; }
  void setPrepayId(WXOptionalString v) { prepayId_ = std::move(v); }
  std::uint32_t timeStamp() const { return timeStamp_; }
  void setTimeStamp(std::uint32_t v) { timeStamp_ = v; }
  const WXOptionalString& sign() const { return sign_; }
  void setSign(WXOptionalString v) { sign_ = std::move(v); }

 private:
  WXOptionalString nonceStr_, package_, partnerId_, prepayId_;
  std::uint32_t timeStamp_ = 0;
  WXOptionalString sign_;
};

class GetMessageFromWXReq : public BaseReq {
 public:
  const WXOptionalString& lang() const { return lang_; }
  void setLang(WXOptionalString v) { lang_ = std::move(v); }
  const WXOptionalString& country() const { return country_; }
  void setCountry(WXOptionalString v) { country_ = std::move(v); }

 private:
  WXOptionalString lang_, country_;
};

class ShowMessageFromWXReq : public BaseReq {
 public:
  const std::shared_ptr<WXMediaMessage>& message() const { return message_; }
  void setMessage(std::shared_ptr<WXMediaMessage> v) { message_ = std::move(v); }
  const WXOptionalString& country() const { return country_; }
  void setCountry(WXOptionalString v) { country_ = std::move(v); }
  const WXOptionalString& lang() const { return lang_; }
  void setLang(WXOptionalString v) { lang_ = std::move(v); }

 private:
  std::shared_ptr<WXMediaMessage> message_;
  WXOptionalString country_, lang_;
};

class LaunchFromWXReq : public BaseReq {
 public:
  const WXOptionalString& lang() const { return lang_; }
  void setLang(WXOptionalString v) { lang_ = std::move(v); }
  const WXOptionalString& country() const { return country_; }
  void setCountry(WXOptionalString v) { country_ = std::move(v); }
  // Holds only messageExt and messageAction.
  const std::shared_ptr<WXMediaMessage>& message() const { return message_; }
  void setMessage(std::shared_ptr<WXMediaMessage> v) { message_ = std::move(v); }

 private:
  WXOptionalString lang_, country_;
  std::shared_ptr<WXMediaMessage> message_;
};

class JumpToBizProfile : public BaseReq {
 public:
  const WXOptionalString& username() const { return username_; }
  void setUsername(WXOptionalString v) { username_ = std::move(v); }
  const WXOptionalString& extMsg() const { return extMsg_; }
  void setExtMsg(WXOptionalString v) { extMsg_ = std::move(v); }

 private:
  WXOptionalString username_, extMsg_;
};

class JumpToBizWebview : public BaseReq {
 public:
  // Only 0 is sent.
  int webType() const { return webType_; }
  void setWebType(int v) { webType_ = v; }
  const WXOptionalString& tousrname() const { return tousrname_; }
  void setTousrname(WXOptionalString v) { tousrname_ = std::move(v); }
  const WXOptionalString& extMsg() const { return extMsg_; }
  void setExtMsg(WXOptionalString v) { extMsg_ = std::move(v); }

 private:
  int webType_ = 0;
  WXOptionalString tousrname_, extMsg_;
};
