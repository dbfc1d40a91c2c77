#include "platforms/wechat/AppCommunicateData.h"

#include <charconv>
#include <climits>

#include "os/core/Log.h"
#include "os/core/String.h"
#include "os/graphics/ImageCodec.h"
#include "platforms/wechat/WeChatApiUtil.h"

namespace {

// Keys by the type their value must have; anything else under them is dropped on reading.
const char* const kStringKeys[] = {"returnFromApp",
                                   "account",
                                   "sdkver",
                                   "openID",
                                   "language",
                                   "country",
                                   "scope",
                                   "state",
                                   "title",
                                   "description",
                                   "mediaTagName",
                                   "messageExt",
                                   "messageAction",
                                   "mediaUrl",
                                   "mediaLowBandUrl",
                                   "mediaDataUrl",
                                   "mediaLowBandDataUrl",
                                   "extInfo",
                                   "fileExt"};
// Decimal text; a number is taken as well.
const char* const kNumberKeys[] = {"command", "result", "scene", "objectType"};
const char* const kDataKeys[] = {"thumbData", "fileData"};

bool fits(const WXOptionalString& s, std::size_t limit) { return !s || os::utf16Length(*s) <= limit; }
bool fits(const WXOptionalData& d, std::size_t limit) { return !d || d->size() <= limit; }

std::optional<long long> integerOf(const os::Value* v) {
  if (!v) return std::nullopt;
  if (const std::string* s = v->string()) return os::longLongValue(*s);
  if (v->isNumber()) return v->intValue();
  return std::nullopt;
}

int clampToInt(long long v) { return static_cast<int>(v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : v); }

// The values a media object puts into a record, by the key table of the format.
struct LinkValues {
  std::uint32_t objectType = 0;
  WXOptionalString url, lowBandUrl, dataUrl, lowBandDataUrl, extInfo, fileExt;
  WXOptionalData data;
};

std::optional<LinkValues> linkValuesOf(const WXMediaObject* object) {
  LinkValues v;
  if (auto* o = dynamic_cast<const WXImageObject*>(object)) {
    v.objectType = 2;
    v.url = o->imageUrl();
    v.data = o->imageData();
  } else if (auto* o = dynamic_cast<const WXMusicObject*>(object)) {
    v.objectType = 3;
    v.url = o->musicUrl();
    v.lowBandUrl = o->musicLowBandUrl();
    v.dataUrl = o->musicDataUrl();
    v.lowBandDataUrl = o->musicLowBandDataUrl();
  } else if (auto* o = dynamic_cast<const WXVideoObject*>(object)) {
    v.objectType = 4;
    v.url = o->videoUrl();
    v.lowBandUrl = o->videoLowBandUrl();
  } else if (auto* o = dynamic_cast<const WXWebpageObject*>(object)) {
    v.objectType = 5;
    v.url = o->webpageUrl();
  } else if (auto* o = dynamic_cast<const WXFileObject*>(object)) {
    v.objectType = 6;
    v.fileExt = o->fileExtension();
    v.data = o->fileData();
  } else if (auto* o = dynamic_cast<const WXAppExtendObject*>(object)) {
    v.objectType = 7;
    v.url = o->url();
    v.extInfo = o->extInfo();
    v.data = o->fileData();
  } else if (auto* o = dynamic_cast<const WXEmoticonObject*>(object)) {
    v.objectType = 8;
    v.data = o->emoticonData();
  } else {
    return std::nullopt;
  }
  return v;
}

bool linkFits(const LinkValues& v) {
  if (!v.url && !v.data && !v.extInfo) return false;
  return fits(v.url, WXRecordLimits::kUrl) && fits(v.lowBandUrl, WXRecordLimits::kUrl) &&
         fits(v.dataUrl, WXRecordLimits::kUrl) && fits(v.lowBandDataUrl, WXRecordLimits::kUrl) &&
         fits(v.extInfo, WXRecordLimits::kExtInfo) && fits(v.fileExt, WXRecordLimits::kFileExt) &&
         fits(v.data, WXRecordLimits::kFileData);
}

bool messageFieldsFit(const WXOptionalString& title, const WXOptionalString& description, const WXOptionalData& thumb,
                      const WXOptionalString& tag, const WXOptionalString& ext, const WXOptionalString& action) {
  return fits(title, WXRecordLimits::kTitle) && fits(description, WXRecordLimits::kDescription) &&
         fits(thumb, WXRecordLimits::kThumbData) && fits(tag, WXRecordLimits::kMediaTagName) &&
         fits(ext, WXRecordLimits::kMessageExt) && fits(action, WXRecordLimits::kMessageAction);
}

// The messenger shows the thumbnail: it must be a picture.
bool thumbIsImage(const WXOptionalData& thumb) { return !thumb || os::decodeImage(*thumb) != nullptr; }

std::shared_ptr<WXMediaObject> mediaObjectOf(const LinkValues& v) {
  switch (v.objectType) {
    case 2: {
      auto o = WXImageObject::object();
      o->setImageUrl(v.url);
      o->setImageData(v.data);
      return o;
    }
    case 3: {
      auto o = WXMusicObject::object();
      o->setMusicUrl(v.url);
      o->setMusicLowBandUrl(v.lowBandUrl);
      o->setMusicDataUrl(v.dataUrl);
      o->setMusicLowBandDataUrl(v.lowBandDataUrl);
      return o;
    }
    case 4: {
      auto o = WXVideoObject::object();
      o->setVideoUrl(v.url);
      o->setVideoLowBandUrl(v.lowBandUrl);
      return o;
    }
    case 5: {
      auto o = WXWebpageObject::object();
      o->setWebpageUrl(v.url);
      return o;
    }
    case 6: {
      auto o = WXFileObject::object();
      o->setFileExtension(v.fileExt);
      o->setFileData(v.data);
      return o;
    }
    case 7: {
      auto o = WXAppExtendObject::object();
      o->setUrl(v.url);
      o->setExtInfo(v.extInfo);
      o->setFileData(v.data);
      return o;
    }
    case 8: {
      auto o = WXEmoticonObject::object();
      o->setEmoticonData(v.data);
      return o;
    }
    default:
      return nullptr;
  }
}

}  // namespace

std::optional<int> WXReadResultCode(const os::Value* v) {
  if (!v) return std::nullopt;
  if (v->isNumber()) return clampToInt(v->intValue());
  const std::string* s = v->string();
  if (!s || s->empty()) return std::nullopt;
  const char* begin = s->data() + (s->front() == '+' ? 1 : 0);
  const char* end = s->data() + s->size();
  long long value = 0;
  auto [stop, ec] = std::from_chars(begin, end, value);
  if (stop != end || stop == begin) return std::nullopt;
  if (ec == std::errc::result_out_of_range) return s->front() == '-' ? INT_MIN : INT_MAX;
  if (ec != std::errc()) return std::nullopt;
  return clampToInt(value);
}

AppCommunicateData::AppCommunicateData(const os::Dictionary& propertList) {
  os::Dictionary record = propertList;
  auto drop = [&record](const char* key, const char* expected) {
    os::logf("WXApi: record value \"%s\" is not %s; ignored", key, expected);
    record.remove(key);
  };
  for (const char* key : kStringKeys)
    if (const os::Value* v = record.find(key); v && !v->isString()) drop(key, "a string");
  for (const char* key : kNumberKeys)
    if (const os::Value* v = record.find(key); v && !v->isString() && !v->isNumber()) drop(key, "a number");
  for (const char* key : kDataKeys)
    if (const os::Value* v = record.find(key); v && !v->isData()) drop(key, "data");

  auto command = integerOf(record.find("command"));
  if (!command) return;
  command_ = static_cast<std::uint32_t>(*command);
  dictionaryData_ = std::move(record);
  conversationAccount_ = stringFor("account");
  auto returnFromApp = stringFor("returnFromApp");
  returnFromApp_ = !returnFromApp || *returnFromApp == "1";
  openID_ = stringFor("openID");
  sdkVer_ = stringFor("sdkver");
  lang_ = stringFor("language");
  country_ = stringFor("country");
  const auto result = WXReadResultCode(dictionaryData_->find("result"));
  hasResult_ = result.has_value();
  result_ = result.value_or(0);
  scene_ = clampToInt(integerOf(dictionaryData_->find("scene")).value_or(0));
}

WXOptionalString AppCommunicateData::stringFor(const char* key) const {
  if (!dictionaryData_) return std::nullopt;
  if (const os::Value* v = dictionaryData_->find(key); v && v->string()) return *v->string();
  return std::nullopt;
}

WXOptionalData AppCommunicateData::dataFor(const char* key) const {
  if (!dictionaryData_) return std::nullopt;
  if (const os::Value* v = dictionaryData_->find(key); v && v->data()) return *v->data();
  return std::nullopt;
}

void AppCommunicateData::setString(const char* key, const WXOptionalString& value) {
  if (value && dictionaryData_) dictionaryData_->set(key, os::Value(*value));
}

void AppCommunicateData::setData(const char* key, const WXOptionalData& value) {
  if (value && dictionaryData_) dictionaryData_->set(key, os::Value(*value));
}

// The binary payload travels inside the record on newer systems and beside it on older ones.
void AppCommunicateData::setPayload(const WXOptionalData& data) {
  if (WeChatApiUtil::isiOS7plus())
    setData("fileData", data);
  else
    fileData_ = data;
}

void AppCommunicateData::initCommonField(std::uint32_t command) {
  command_ = command;
  dictionaryData_ = os::Dictionary();
  dictionaryData_->set("command", os::Value(std::to_string(command)));
  dictionaryData_->set("returnFromApp", os::Value(returnFromApp_ ? "1" : "0"));
  dictionaryData_->set("result", os::Value(std::to_string(result_)));
  setString("account", conversationAccount_);
  dictionaryData_->set("sdkver", os::Value(kWXApiVersion));
}

bool AppCommunicateData::makeCommand(std::uint32_t command) {
  initCommonField(command);
  return true;
}

std::shared_ptr<WXAuthInternal> AppCommunicateData::authRequest() const {
  if (command_ != WXCommandAuthRequest) return nullptr;
  auto scope = stringFor("scope");
  auto state = stringFor("state");
  if (!scope || !fits(scope, WXRecordLimits::kAuthField) || !fits(state, WXRecordLimits::kAuthField)) return nullptr;
  auto auth = std::make_shared<WXAuthInternal>();
  auth->setScope(scope);
  auth->setState(state);
  return auth;
}

bool AppCommunicateData::makeAuthRequest(const std::shared_ptr<SendAuthReq>& request) {
  if (!request || !request->scope() || !fits(request->scope(), WXRecordLimits::kAuthField) ||
      !fits(request->state(), WXRecordLimits::kAuthField))
    return false;
  setString("scope", request->scope());
  setString("state", request->state());
  return true;
}

std::shared_ptr<SendAuthResp> AppCommunicateData::authResp() const {
  if (command_ != WXCommandAuthRequest) return nullptr;
  auto state = stringFor("state");
  if (!fits(state, WXRecordLimits::kAuthField)) return nullptr;
  auto resp = std::make_shared<SendAuthResp>();
  resp->setState(state);
  return resp;
}

bool AppCommunicateData::makeAuthResp(const std::shared_ptr<SendAuthResp>& response) {
  if (!response || !fits(response->state(), WXRecordLimits::kAuthField)) return false;
  setString("state", response->state());
  return true;
}

WXOptionalString AppCommunicateData::textMessage() const {
  if (command_ != WXCommandTextMessage) return std::nullopt;
  auto text = stringFor("title");
  if (!fits(text, WXRecordLimits::kText)) return std::nullopt;
  return text;
}

bool AppCommunicateData::makeTextMessage(const WXOptionalString& text) {
  if (!text || text->empty() || !fits(text, WXRecordLimits::kText)) return false;
  setString("title", text);
  return true;
}

std::shared_ptr<WXMediaMessage> AppCommunicateData::mediaMessage() const {
  if (command_ == WXCommandLaunchReq) {
    auto message = WXMediaMessage::message();
    message->setMessageExt(stringFor("messageExt"));
    message->setMessageAction(stringFor("messageAction"));
    return message;
  }
  if (command_ != WXCommandMediaMessage || !dictionaryData_) return nullptr;
  auto type = integerOf(dictionaryData_->find("objectType"));
  if (!type) return nullptr;

  LinkValues link;
  link.objectType = static_cast<std::uint32_t>(*type);
  link.url = stringFor("mediaUrl");
  link.lowBandUrl = stringFor("mediaLowBandUrl");
  link.dataUrl = stringFor("mediaDataUrl");
  link.lowBandDataUrl = stringFor("mediaLowBandDataUrl");
  link.extInfo = stringFor("extInfo");
  link.fileExt = stringFor("fileExt");
  link.data = fileData_;
  // The limits bind the sender; what the messenger left is taken as it is, only its type must be known.
  auto object = mediaObjectOf(link);
  if (!object) return nullptr;

  auto message = WXMediaMessage::message();
  message->setTitle(stringFor("title"));
  message->setDescription(stringFor("description"));
  message->setThumbData(dataFor("thumbData"));
  message->setMediaTagName(stringFor("mediaTagName"));
  message->setMessageExt(stringFor("messageExt"));
  message->setMessageAction(stringFor("messageAction"));
  message->setMediaObject(object);
  return message;
}

bool AppCommunicateData::makeLinkObject(const std::shared_ptr<WXMediaObject>& object) {
  auto link = linkValuesOf(object.get());
  if (!link || !linkFits(*link)) return false;
  dictionaryData_->set("objectType", os::Value(std::to_string(link->objectType)));
  setString("mediaUrl", link->url);
  setString("mediaLowBandUrl", link->lowBandUrl);
  setString("mediaDataUrl", link->dataUrl);
  setString("mediaLowBandDataUrl", link->lowBandDataUrl);
  setString("extInfo", link->extInfo);
  setString("fileExt", link->fileExt);
  setPayload(link->data);
  return true;
}

bool AppCommunicateData::makeMediaMessage(const std::shared_ptr<WXMediaMessage>& message) {
  if (!message ||
      !messageFieldsFit(message->title(), message->description(), message->thumbData(), message->mediaTagName(),
                        message->messageExt(), message->messageAction()) ||
      !thumbIsImage(message->thumbData()))
    return false;
  setString("title", message->title());
  setString("description", message->description());
  setData("thumbData", message->thumbData());
  setString("mediaTagName", message->mediaTagName());
  setString("messageExt", message->messageExt());
  setString("messageAction", message->messageAction());
  return makeLinkObject(message->mediaObject());
}

std::shared_ptr<WXMediaInternalMessage> AppCommunicateData::mediaInternalMessage() const {
  if (command_ != WXCommandMediaMessage || !dictionaryData_) return nullptr;
  auto type = integerOf(dictionaryData_->find("objectType"));
  if (!type) return nullptr;
  auto m = WXMediaInternalMessage::message();
  m->setObjectType(static_cast<std::uint32_t>(*type));
  m->setTitle(stringFor("title"));
  m->setDescription(stringFor("description"));
  m->setThumbData(dataFor("thumbData"));
  m->setMediaTagName(stringFor("mediaTagName"));
  m->setMessageExt(stringFor("messageExt"));
  m->setMessageAction(stringFor("messageAction"));
  m->setMediaUrl(stringFor("mediaUrl"));
  m->setMediaLowBandUrl(stringFor("mediaLowBandUrl"));
  m->setMediaDataUrl(stringFor("mediaDataUrl"));
  m->setMediaLowBandDataUrl(stringFor("mediaLowBandDataUrl"));
  m->setExtInfo(stringFor("extInfo"));
  m->setFileExt(stringFor("fileExt"));
  m->setFileData(fileData_);
  LinkValues link{m->objectType(),          m->mediaUrl(), m->mediaLowBandUrl(), m->mediaDataUrl(),
                  m->mediaLowBandDataUrl(), m->extInfo(),  m->fileExt(),         m->fileData()};
  if (!messageFieldsFit(m->title(), m->description(), m->thumbData(), m->mediaTagName(), m->messageExt(),
                        m->messageAction()) ||
      !linkFits(link))
    return nullptr;
  return m;
}

bool AppCommunicateData::makeMediaInternalMessage(const std::shared_ptr<WXMediaInternalMessage>& m) {
  if (!m) return false;
  if (!dictionaryData_) initCommonField(WXCommandMediaMessage);
  setString("title", m->title());
  setString("description", m->description());
  setData("thumbData", m->thumbData());
  setString("mediaTagName", m->mediaTagName());
  setString("messageExt", m->messageExt());
  setString("messageAction", m->messageAction());
  setString("mediaUrl", m->mediaUrl());
  setString("mediaLowBandUrl", m->mediaLowBandUrl());
  setString("mediaDataUrl", m->mediaDataUrl());
  setString("mediaLowBandDataUrl", m->mediaLowBandDataUrl());
  setString("extInfo", m->extInfo());
  setString("fileExt", m->fileExt());
  dictionaryData_->set("objectType", os::Value(std::to_string(m->objectType())));
  setPayload(m->fileData());
  return true;
}

std::shared_ptr<BaseReq> AppCommunicateData::dataToReq() const {
  switch (command_) {
    case WXCommandLaunchReq: {
      auto message = mediaMessage();
      if (!message) return nullptr;
      auto req = std::make_shared<LaunchFromWXReq>();
      req->setOpenID(openID_);
      req->setLang(lang_);
      req->setCountry(country_);
      req->setMessage(message);
      return req;
    }
    case WXCommandGetMessageReq: {
      auto req = std::make_shared<GetMessageFromWXReq>();
      req->setOpenID(openID_);
      req->setLang(lang_);
      req->setCountry(country_);
      return req;
    }
    case WXCommandMediaMessage: {
      auto message = mediaMessage();
      if (!message || !std::dynamic_pointer_cast<WXAppExtendObject>(message->mediaObject())) return nullptr;
      auto req = std::make_shared<ShowMessageFromWXReq>();
      req->setOpenID(openID_);
      req->setMessage(message);
      req->setLang(lang_);
      req->setCountry(country_);
      return req;
    }
    default:
      return nullptr;
  }
}

std::shared_ptr<BaseResp> AppCommunicateData::dataToResp() const {
  // An answer that says no result is no success: it reaches the caller as the common failure.
  const int errCode = hasResult_ ? result_ : WXErrCodeCommon;
  switch (command_) {
    case WXCommandSendMessageResp: {
      auto resp = std::make_shared<SendMessageToWXResp>();
      resp->setErrCode(errCode);
      resp->setLang(lang_);
      resp->setCountry(country_);
      return resp;
    }
    case WXCommandSendMessageRespNoLocale: {
      auto resp = std::make_shared<SendMessageToWXResp>();
      resp->setErrCode(errCode);
      return resp;
    }
    case WXCommandAuthResp: {
      auto resp = std::make_shared<SendAuthResp>();
      resp->setErrCode(errCode);
      return resp;
    }
    default:
      return nullptr;
  }
}

bool AppCommunicateData::reqToData(const std::shared_ptr<BaseReq>& request,
                                   const std::shared_ptr<WXMediaInternalMessage>& internalMessage) {
  auto writeLocale = [this](const WXOptionalString& openID, const WXOptionalString& lang,
                            const WXOptionalString& country) {
    setString("openID", openID);
    setString("language", lang);
    setString("country", country);
  };
  if (auto auth = std::dynamic_pointer_cast<SendAuthReq>(request)) {
    initCommonField(WXCommandAuthRequest);
    return makeAuthRequest(auth);
  }
  if (auto send = std::dynamic_pointer_cast<SendMessageToWXReq>(request)) {
    bool made;
    if (send->bText()) {
      initCommonField(WXCommandTextMessage);
      made = makeTextMessage(send->text());
    } else {
      initCommonField(WXCommandMediaMessage);
      made = makeMediaMessage(send->message());
    }
    dictionaryData_->set("scene", os::Value(std::to_string(send->scene())));
    setString("openID", send->openID());
    return made;
  }
  if (auto get = std::dynamic_pointer_cast<GetMessageFromWXReq>(request)) {
    initCommonField(WXCommandGetMessageReq);
    writeLocale(get->openID(), get->lang(), get->country());
    return true;
  }
  if (auto show = std::dynamic_pointer_cast<ShowMessageFromWXReq>(request)) {
    initCommonField(WXCommandMediaMessage);
    makeMediaInternalMessage(internalMessage);
    writeLocale(show->openID(), show->lang(), show->country());
    return true;
  }
  if (auto launch = std::dynamic_pointer_cast<LaunchFromWXReq>(request)) {
    initCommonField(WXCommandLaunchReq);
    makeMediaInternalMessage(internalMessage);
    writeLocale(launch->openID(), launch->lang(), launch->country());
    return true;
  }
  return false;
}

bool AppCommunicateData::respToData(const std::shared_ptr<BaseResp>& response) {
  if (auto auth = std::dynamic_pointer_cast<SendAuthResp>(response)) {
    initCommonField(WXCommandAuthResp);
    return makeAuthResp(auth);
  }
  if (auto get = std::dynamic_pointer_cast<GetMessageFromWXResp>(response)) {
    if (get->bText()) {
      initCommonField(WXCommandTextMessage);
      return makeTextMessage(get->text());
    }
    initCommonField(WXCommandMediaMessage);
    return makeMediaMessage(get->message());
  }
  if (std::dynamic_pointer_cast<ShowMessageFromWXResp>(response)) {
    initCommonField(WXCommandShowMessageResp);
    return true;
  }
  if (auto send = std::dynamic_pointer_cast<SendMessageToWXResp>(response)) {
    initCommonField(WXCommandSendMessageRespNoLocale);
    setString("language", send->lang());
    setString("country", send->country());
    return true;
  }
  return false;
}
