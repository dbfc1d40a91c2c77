#pragma once
// Answers exchanged with the messenger: the ones it gives to this application's requests and the
// ones this application gives to the messenger's.
#include <memory>

#include "platforms/wechat/WXMediaMessage.h"

// errCode values the client itself gives; every other value is the messenger's own.
enum WXErrCode : int {
  WXSuccess = 0,
  WXErrCodeCommon = -1,    // a login answer without a code, or an answer without a result
  WXErrCodeAuthDeny = -4,  // a login answer whose code is "authdeny"
};

class BaseResp {
 public:
  virtual ~BaseResp() = default;
  int errCode() const { return errCode_; }
  void setErrCode(int v) { errCode_ = v; }
  const WXOptionalString& errStr() const { return errStr_; }
  void setErrStr(WXOptionalString v) { errStr_ = std::move(v); }
  // Neither set nor read by the client.
  int type() const { return type_; }
  void setType(int v) { type_ = v; }

 private:
  int errCode_ = 0;
  WXOptionalString errStr_;
  int type_ = 0;
};

class SendMessageToWXResp : public BaseResp {
 public:
  const WXOptionalString& lang() const { return lang_; }
  void setLang(WXOptionalString v) { lang_ = std::move(v); }
  const WXOptionalString& country() const { return country_; }
  void setCountry(WXOptionalString v) { country_ = std::move(v); }

 private:
  WXOptionalString lang_, country_;
};

class SendAuthResp : public BaseResp {
 public:
  // The authorisation code to exchange.
  const WXOptionalString& code() const { return code_; }
  void setCode(WXOptionalString v) { code_ = std::move(v); }
  const WXOptionalString& state() const { return state_; }
  void setState(WXOptionalString v) { state_ = std::move(v); }
  const WXOptionalString& lang() const { return lang_; }
  void setLang(WXOptionalString v) { lang_ = std::move(v); }
  const WXOptionalString& country() const { return country_; }
  void setCountry(WXOptionalString v) { country_ = std::move(v); }

 private:
  WXOptionalString code_, state_, lang_, country_;
};

class PayResp : public BaseResp {
 public:
  const WXOptionalString& returnKey() const { return returnKey_; }
  void setReturnKey(WXOptionalString v) { returnKey_ = std::move(v); }

 private:
  WXOptionalString returnKey_;
};

class GetMessageFromWXResp : public BaseResp {
 public:
  const WXOptionalString& text() const { return text_; }
  void setText(WXOptionalString v) { text_ = std::move(v); }
  const std::shared_ptr<WXMediaMessage>& message() const { return message_; }
  void setMessage(std::shared_ptr<WXMediaMessage> v) { message_ = std::move(v); }
  bool bText() const { return bText_; }
  void setBText(bool v) { bText_ = v; }

 private:
  WXOptionalString text_;
  std::shared_ptr<WXMediaMessage> message_;
  bool bText_ = false;
};

class ShowMessageFromWXResp : public BaseResp {};
