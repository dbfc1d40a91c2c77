#include "platforms/qq/QQApiURL.h"

#include "platforms/qq/QQApiDatastore.h"
#include "platforms/qq/QQApiLog.h"
#include "platforms/qq/QQOpenApiUtility.h"
#include "platforms/qq/QQWebViewKit.h"
#include "os/core/String.h"
#include "os/core/URL.h"
#include "os/store/Bundle.h"

namespace {

#define CONVERTER_LOG(...) QQApiLog("QQApiMessageAndUrlConverter", __LINE__, __VA_ARGS__)

std::size_t length(const std::optional<std::string>& s) { return s ? os::utf16Length(*s) : 0; }
bool empty(const std::optional<std::string>& s) { return !s || s->empty(); }
bool empty(const std::optional<os::Data>& d) { return !d || d->empty(); }

void setBase64(os::Dictionary& q, const char* key, const std::optional<std::string>& value) {
  if (auto b = QQOpenApiUtility::base64EncodedStringWithUTF8String(value)) q.set(key, *b);
}

void setTitleDescription(os::Dictionary& q, const QQApiObject& o, bool withAppName) {
  setBase64(q, "title", o.title);
  setBase64(q, "description", o.description);
  if (withAppName) setBase64(q, "thirdAppDisplayName", QQApiDatastore::instance().appName);
}

os::Dictionary shareBase(const char* fileType) {
  os::Dictionary q{{"src_type", "app"}, {"file_type", fileType}, {"version", "1"}, {"callback_type", "scheme"}};
  return q;
}

void setCallbackName(os::Dictionary& q) {
  if (const auto& scheme = QQApiDatastore::instance().scheme) q.set("callback_name", *scheme);
}

void setLargeData(const std::optional<os::Data>& preview, const std::optional<os::Data>& file) {
  os::Dictionary record;
  if (preview) record.set("previewimagedata", *preview);
  if (file) record.set("file_data", *file);
  QQApiDatastore::instance().setApiLargeData(record);
}

// Values that travel as they are, not in Base64. The query is escaped once as a whole, leaving
// "&" alone and "#" too, so such a value holding either would cut the query short or smuggle in
// pairs of its own: it is refused rather than altered.
bool plainValuesFit(const os::Dictionary& q) {
  for (const char* key : {"callback_name", "openId", "order_no", "app_info", "uin"}) {
    const std::string* value = q[key].string();
    if (value && value->find_first_of("&#") != std::string::npos) {
      return CONVERTER_LOG("param error: %s is invalid", key), false;
    }
  }
  return true;
}

std::optional<std::string> urlOf(const char* scheme, const char* host, const char* path, const os::Dictionary& q) {
  if (!plainValuesFit(q)) return std::nullopt;
  return QQApiURLEncoder::urlWithScheme(scheme, host, path, q);
}

std::optional<std::string> shareURL(os::Dictionary q, std::uint32_t type, const QQApiObject* sending) {
  if (type == 5 || type == 7) q.set("shareType", type == 7 ? "1" : "0");
  if (type == 4) q.set("messagetype", "responsefromapp");
  if (const auto& openId = QQApiDatastore::instance().openId) q.set("openId", *openId);
  if (QQOpenApiUtility::canOpenURL("mqqopensdkapiV2://")) q.set("generalpastboard", "1");
  if (sending) q.set("cflag", std::to_string(sending->cflag));
  return urlOf("mqqapi", "share", "/to_fri", q);
}

std::optional<std::string> textURL(const QQApiTextObject& o, std::uint32_t type, const QQApiObject* sending) {
  if (empty(o.text)) return CONVERTER_LOG("param error: text is nil"), std::nullopt;
  if (length(o.text) > kQQApiTextMax) return CONVERTER_LOG("param error: text is too long"), std::nullopt;
  os::Dictionary q = shareBase("text");
  setBase64(q, "file_data", o.text);
  setCallbackName(q);
  setTitleDescription(q, o, true);
  return shareURL(std::move(q), type, sending);
}

std::optional<std::string> extendURL(const QQApiExtendObject& o, std::uint32_t type, const QQApiObject* sending,
                                     bool image) {
  if (empty(o.data)) return CONVERTER_LOG(image ? "param error: image data is nil" : "param error: data is nil"), std::nullopt;
  if (o.data->size() > kQQApiDataMax) {
    return CONVERTER_LOG(image ? "param error: image data is too big" : "param error: data is too big"), std::nullopt;
  }
  if (o.previewImageData && o.previewImageData->size() > kQQApiPreviewImageMax) {
    return CONVERTER_LOG("param error: preview image data is too big"), std::nullopt;
  }
  os::Dictionary q = shareBase(image ? "img" : "file");
  q.set("objectlocation", "pasteboard");
  setCallbackName(q);
  setTitleDescription(q, o, true);
  setLargeData(o.previewImageData, o.data);
  return shareURL(std::move(q), type, sending);
}

std::optional<std::string> linkURL(const QQApiURLObject& o, std::uint32_t type, const QQApiObject* sending) {
  if (o.previewImageData && o.previewImageData->size() > kQQApiPreviewImageMax) {
    return CONVERTER_LOG("param error: preview image data is too big"), std::nullopt;
  }
  if (empty(o.title)) return CONVERTER_LOG("param error: title is nil"), std::nullopt;
  if (empty(o.url)) return CONVERTER_LOG("param error: url is nil"), std::nullopt;
  if (length(o.url) > kQQApiURLMax) return CONVERTER_LOG("param error: url is too long"), std::nullopt;
  static const char* const kTypes[] = {"url", "audio", "video", "news"};
  const char* fileType = o.targetContentType >= 0 && o.targetContentType <= 3 ? kTypes[o.targetContentType] : "unknown";
  os::Dictionary q = shareBase(fileType);
  q.set("objectlocation", "pasteboard");
  setBase64(q, "url", o.url);
  setCallbackName(q);
  setTitleDescription(q, o, true);
  setLargeData(o.previewImageData, std::nullopt);
  if (!empty(o.previewImageURL)) setBase64(q, "previewimageUrl", o.previewImageURL);
  if (const auto* flash = o.flashURLField(); flash && !empty(*flash)) setBase64(q, "flashurl", *flash);
  return shareURL(std::move(q), type, sending);
}

std::optional<std::string> commonURL(const QQApiCommonContentObject& o, std::uint32_t type, const QQApiObject* sending) {
  if (empty(o.previewImageData) || (o.textArray.empty() && o.pictureDataArray.empty())) {
    return CONVERTER_LOG("param error: image data is nil"), std::nullopt;
  }
  if (o.previewImageData->size() > kQQApiPreviewImageMax) {
    return CONVERTER_LOG("param error: preview image data is too big"), std::nullopt;
  }
  if (length(o.title) > kQQApiTitleMax || o.textArray.size() > 1 || o.pictureDataArray.size() > 1) return std::nullopt;
  for (const auto& t : o.textArray) {
    if (os::utf16Length(t) > kQQApiTextMax) return std::nullopt;
  }
  for (const auto& p : o.pictureDataArray) {
    if (p.size() > kQQApiDataMax) return std::nullopt;
  }
  os::Dictionary q{{"src_type", "app"}, {"version", "1"}, {"file_type", "common"}, {"callback_type", "scheme"},
                   {"objectlocation", "pasteboard"}};
  setCallbackName(q);
  setTitleDescription(q, o, true);
  setLargeData(std::nullopt, os::KeyedArchiver::archivedData(os::Value(o.toDictionary())));
  return shareURL(std::move(q), type, sending);
}

std::optional<std::string> payURL(const QQApiPayObject& o, std::uint32_t type) {
  if (empty(o.OrderNo)) return CONVERTER_LOG("param error: PayID is nil"), std::nullopt;
  if (empty(o.AppInfo)) return CONVERTER_LOG("param error: PayAppInfo is nil"), std::nullopt;
  os::Dictionary q{{"src_type", "app"}, {"version", "1"}, {"callback_type", "scheme"}, {"order_no", *o.OrderNo},
                   {"app_info", *o.AppInfo}};
  setCallbackName(q);
  setTitleDescription(q, o, true);
  if (type == 4) q.set("messagetype", "responsefromapp");
  return urlOf("mqqapiwallet", "wallet", "/pay", q);
}

std::optional<std::string> wpaURL(const QQApiWPAObject& o) {
  if (empty(o.uin)) return CONVERTER_LOG("param error: uin is nil"), std::nullopt;
  os::Dictionary q{{"chat_type", "wpa"}, {"src_type", "app"}, {"version", "1"}, {"uin", *o.uin}};
  if (QQApiDatastore::instance().scheme) {
    q.set("callback_type", "scheme");
    setCallbackName(q);
  }
  auto bundle = os::Bundle::mainBundle();
  os::Value name = bundle ? bundle->localizedInfoDictionary()["CFBundleDisplayName"] : os::Value();
  if (!name.string() && bundle) name = bundle->infoDictionary()["CFBundleDisplayName"];
  setBase64(q, "thirdAppDisplayName", name.string() ? *name.string() : std::string("返回"));
  setTitleDescription(q, o, false);
  return urlOf("mqqwpa", "im", "/chat", q);
}

// A reply value as it stands in the query: QQ does not escape what it writes.
std::optional<std::string> replyValue(const os::Dictionary& q, const char* key) {
  const std::string* raw = q[key].string();
  if (!raw) return std::nullopt;
  return *raw;
}

std::optional<std::string> replyBase64(const os::Dictionary& q, const char* key) {
  auto v = replyValue(q, key);
  return v ? QQOpenApiUtility::UTF8StringWithBase64String(*v) : std::nullopt;
}

}  // namespace

std::optional<std::string> QQApiURLEncoder::urlWithScheme(const std::optional<std::string>& scheme,
                                                          const std::optional<std::string>& host,
                                                          const std::optional<std::string>& path,
                                                          const os::Dictionary& queryItem) {
  if (!scheme) return std::nullopt;
  std::string url = *scheme + "://" + host.value_or("") + path.value_or("");
  if (queryItem.empty()) return url;
  url += "?";
  for (const auto& [key, value] : queryItem) url += key + "=" + value.stringOr(value.description()) + "&";
  // Escaped once as a whole: Base64's "+", "/" and "=" stand bare, as QQ reads them.
  url = os::percentEscape(url, os::kURLLegalCharacters);
  url.pop_back();
  return url;
}

std::optional<QQApiURLDecoder> QQApiURLDecoder::decoderWithUrl(const std::optional<std::string>& url,
                                                               PathForm pathForm) {
  if (!url) return std::nullopt;
  auto parsed = os::URL::parse(*url);
  if (!parsed) return std::nullopt;
  QQApiURLDecoder d;
  d.scheme = parsed->scheme();
  d.host = parsed->host();
  d.path = parsed->path();
  if (pathForm == PathForm::WithoutLeadingCharacter) d.path = d.path.size() >= 2 ? d.path.substr(1) : std::string();
  for (const std::string& piece : os::split(parsed->query().value_or(""), "&")) {
    const std::size_t eq = piece.find('=');
    if (piece.empty() || eq == std::string::npos) continue;
    d.queryItem.set(piece.substr(0, eq), piece.substr(eq + 1));
  }
  return d;
}

std::optional<std::string> QQApiMessageAndUrlConverter::urlWithMessage(const std::shared_ptr<QQApiMessage>& message,
                                                                       const QQApiObject* sending) {
  if (!message) return std::nullopt;
  const QQApiObject* o = message->object.get();
  if (!o) return CONVERTER_LOG("param error: object is nil"), std::nullopt;
  if (length(o->title) > kQQApiTitleMax) return CONVERTER_LOG("param error: title is too long"), std::nullopt;
  if (length(o->description) > kQQApiDescriptionMax) {
    return CONVERTER_LOG("param error: description is too long"), std::nullopt;
  }
  const std::string kind = o->className();
  const std::uint32_t type = message->type;
  if (kind == "QQApiTextObject") return textURL(static_cast<const QQApiTextObject&>(*o), type, sending);
  if (kind == "QQApiExtendObject") return extendURL(static_cast<const QQApiExtendObject&>(*o), type, sending, false);
  if (kind == "QQApiImageObject") return extendURL(static_cast<const QQApiExtendObject&>(*o), type, sending, true);
  if (auto* link = dynamic_cast<const QQApiURLObject*>(o)) return linkURL(*link, type, sending);
  if (kind == "QQApiCommonContentObject") return commonURL(static_cast<const QQApiCommonContentObject&>(*o), type, sending);
  if (kind == "QQApiPayObject") return payURL(static_cast<const QQApiPayObject&>(*o), type);
  if (kind == "QQApiWPAObject") return wpaURL(static_cast<const QQApiWPAObject&>(*o));
  return std::nullopt;
}

std::shared_ptr<QQApiMessage> QQApiMessageAndUrlConverter::messageWithUrl(const std::optional<std::string>& url) {
  if (!url) return nullptr;
  if (QQWebViewKit::canHanleOpenUrlFromSafari(*url)) return QQWebViewKit::messageWithSafariUrl(*url);
  auto d = QQApiURLDecoder::decoderWithUrl(url);
  if (!d || !d->host || d->host->empty() || d->queryItem.empty()) return nullptr;
  if (*d->host == "request_from_qq") {
    if (d->path == "/pick") return QQApiMessage::messageWithObject(nullptr, 3);
    if (d->path == "/view") return QQApiMessage::messageWithObject(getObjectByUrl(*d), 1);
    return nullptr;
  }
  if (*d->host == "response_from_qq") {
    auto result = std::make_shared<QQApiResultObject>();
    // An answer that names no result is no success.
    result->error = replyValue(d->queryItem, "error").value_or("-5");
    result->errorDescription = replyBase64(d->queryItem, "error_description");
    result->extendInfo = replyBase64(d->queryItem, "error_extend_info");
    return QQApiMessage::messageWithObject(result, 6);
  }
  return nullptr;
}

std::shared_ptr<QQApiMessage> QQApiMessageAndUrlConverter::messageWithUrlUsedClipboard(const std::optional<std::string>& url) {
  if (!url) return nullptr;
  if (QQWebViewKit::canHanleOpenUrlFromSafari(*url)) return QQWebViewKit::messageWithSafariUrl(*url);
  auto d = QQApiURLDecoder::decoderWithUrl(url);
  if (!d || replyValue(d->queryItem, "NeedToGetData") != "true") return nullptr;
  return QQApiDatastore::instance().getApiMessage();
}

std::shared_ptr<QQApiObject> QQApiMessageAndUrlConverter::getObjectByUrl(const QQApiURLDecoder& d) {
  const auto title = replyBase64(d.queryItem, "title");
  const auto description = replyBase64(d.queryItem, "description");
  const auto link = replyBase64(d.queryItem, "url");
  const auto fileType = replyValue(d.queryItem, "file_type");
  if (!fileType) return nullptr;
  const auto large = QQApiDatastore::instance().getApiLargeData().value_or(os::Dictionary{});
  std::optional<os::Data> preview;
  if (const os::Data* p = large["previewimagedata"].data()) preview = *p;
  if (*fileType == "text") {
    auto o = QQApiTextObject::objectWithText(replyBase64(d.queryItem, "file_data"));
    o->title = title;
    o->description = description;
    return o;
  }
  if (*fileType == "img" || *fileType == "image" || *fileType == "file") {
    std::optional<os::Data> data;
    if (const os::Data* f = large["file_data"].data()) data = *f;
    if (*fileType == "file") return QQApiExtendObject::objectWithData(data, preview, title, description);
    return QQApiImageObject::objectWithData(data, preview, title, description);
  }
  if (*fileType == "audio") return QQApiAudioObject::objectWithURL(link, title, description, preview);
  if (*fileType == "video") return QQApiVideoObject::objectWithURL(link, title, description, preview);
  if (*fileType == "news") return QQApiNewsObject::objectWithURL(link, title, description, preview);
  if (*fileType == "url") return QQApiURLObject::objectWithURL(link, title, description, preview, 0);
  if (*fileType == "common") return QQApiCommonContentObject::objectWithDictionary(large);
  return nullptr;
}
