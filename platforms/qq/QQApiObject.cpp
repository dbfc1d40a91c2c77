#include "platforms/qq/QQApiObject.h"

#include "os/core/String.h"

namespace {

void encodeString(os::KeyedArchiver& coder, const std::optional<std::string>& s, const char* key) {
  if (s) coder.encodeObject(os::Value(*s), key);
}

// A text of another application that is no UTF-8 is no text at all.
std::optional<std::string> decodeText(os::KeyedUnarchiver& coder, const char* key) {
  auto s = coder.decodeString(key);
  if (s && !os::isValidUTF8(*s)) return std::nullopt;
  return s;
}

void encodeData(os::KeyedArchiver& coder, const std::optional<os::Data>& d, const char* key) {
  if (d) coder.encodeObject(os::Value(*d), key);
}

}  // namespace

std::shared_ptr<QQApiTextObject> QQApiTextObject::objectWithText(std::optional<std::string> text) {
  auto o = std::make_shared<QQApiTextObject>();
  o->text = std::move(text);
  return o;
}

namespace {
template <class T>
std::shared_ptr<T> extendObject(std::optional<os::Data> data, std::optional<os::Data> preview, std::optional<std::string> title,
                                std::optional<std::string> description) {
  auto o = std::make_shared<T>();
  o->data = std::move(data);
  o->previewImageData = std::move(preview);
  o->title = std::move(title);
  o->description = std::move(description);
  return o;
}
}  // namespace

std::shared_ptr<QQApiExtendObject> QQApiExtendObject::objectWithData(std::optional<os::Data> data,
                                                                     std::optional<os::Data> previewImageData,
                                                                     std::optional<std::string> title,
                                                                     std::optional<std::string> description) {
  return extendObject<QQApiExtendObject>(std::move(data), std::move(previewImageData), std::move(title), std::move(description));
}

std::shared_ptr<QQApiImageObject> QQApiImageObject::objectWithData(std::optional<os::Data> data,
                                                                   std::optional<os::Data> previewImageData,
                                                                   std::optional<std::string> title,
                                                                   std::optional<std::string> description) {
  return extendObject<QQApiImageObject>(std::move(data), std::move(previewImageData), std::move(title), std::move(description));
}

std::shared_ptr<QQApiURLObject> QQApiURLObject::objectWithURL(std::optional<std::string> url) {
  return make<QQApiURLObject>(std::move(url), std::nullopt, std::nullopt, 0);
}

std::shared_ptr<QQApiURLObject> QQApiURLObject::objectWithURL(std::optional<std::string> url, std::optional<std::string> title,
                                                              std::optional<std::string> description,
                                                              std::optional<os::Data> previewImageData,
                                                              std::int32_t targetContentType) {
  auto o = make<QQApiURLObject>(std::move(url), std::move(title), std::move(description), targetContentType);
  o->previewImageData = std::move(previewImageData);
  return o;
}

std::shared_ptr<QQApiURLObject> QQApiURLObject::objectWithURLAndPreviewImageURL(
    std::optional<std::string> url, std::optional<std::string> title, std::optional<std::string> description,
    std::optional<std::string> previewImageURL, std::int32_t targetContentType) {
  auto o = make<QQApiURLObject>(std::move(url), std::move(title), std::move(description), targetContentType);
  o->previewImageURL = std::move(previewImageURL);
  return o;
}

std::shared_ptr<QQApiAudioObject> QQApiAudioObject::objectWithURL(std::optional<std::string> url,
                                                                  std::optional<std::string> title,
                                                                  std::optional<std::string> description,
                                                                  std::optional<os::Data> previewImageData) {
  auto o = make<QQApiAudioObject>(std::move(url), std::move(title), std::move(description), 1);
  o->previewImageData = std::move(previewImageData);
  return o;
}

std::shared_ptr<QQApiVideoObject> QQApiVideoObject::objectWithURL(std::optional<std::string> url,
                                                                  std::optional<std::string> title,
                                                                  std::optional<std::string> description,
                                                                  std::optional<os::Data> previewImageData) {
  auto o = make<QQApiVideoObject>(std::move(url), std::move(title), std::move(description), 2);
  o->previewImageData = std::move(previewImageData);
  return o;
}

std::shared_ptr<QQApiNewsObject> QQApiNewsObject::objectWithURL(std::optional<std::string> url,
                                                                std::optional<std::string> title,
                                                                std::optional<std::string> description,
                                                                std::optional<os::Data> previewImageData) {
  auto o = make<QQApiNewsObject>(std::move(url), std::move(title), std::move(description), 3);
  o->previewImageData = std::move(previewImageData);
  return o;
}

std::shared_ptr<QQApiNewsObject> QQApiNewsObject::objectWithURLAndPreviewImageURL(std::optional<std::string> url,
                                                                                 std::optional<std::string> title,
                                                                                 std::optional<std::string> description,
                                                                                 std::optional<std::string> previewImageURL) {
  auto o = make<QQApiNewsObject>(std::move(url), std::move(title), std::move(description), 3);
  o->previewImageURL = std::move(previewImageURL);
  return o;
}

std::shared_ptr<QQApiPayObject> QQApiPayObject::objectWithOrderNo(std::optional<std::string> orderNo,
                                                                  std::optional<std::string> appInfo) {
  auto o = std::make_shared<QQApiPayObject>();
  o->OrderNo = std::move(orderNo);
  o->AppInfo = std::move(appInfo);
  return o;
}

std::shared_ptr<QQApiCommonContentObject> QQApiCommonContentObject::objectWithLayoutType(
    std::uint32_t layoutType, std::vector<std::string> textArray, std::vector<os::Data> pictureArray,
    std::optional<os::Data> previewImageData) {
  auto o = std::make_shared<QQApiCommonContentObject>();
  o->layoutType = layoutType;
  o->textArray = std::move(textArray);
  o->pictureDataArray = std::move(pictureArray);
  o->previewImageData = std::move(previewImageData);
  return o;
}

os::Dictionary QQApiCommonContentObject::toDictionary() const {
  os::Array texts, pictures;
  for (const auto& t : textArray) texts.emplace_back(t);
  for (const auto& p : pictureDataArray) pictures.emplace_back(p);
  os::Dictionary d{{"textArray", texts}, {"pictureArray", pictures}, {"layoutType", os::Value::unsignedNumber('I', layoutType)}};
  if (previewImageData) d.set("previewimageData", *previewImageData);
  return d;
}

std::shared_ptr<QQApiCommonContentObject> QQApiCommonContentObject::objectWithDictionary(const os::Dictionary& d) {
  const os::Array* texts = d["textArray"].array();
  const os::Array* pictures = d["pictureArray"].array();
  if (!texts && !pictures) return nullptr;
  std::vector<std::string> t;
  std::vector<os::Data> p;
  // Entries of the wrong kind are no text or picture of the sender's.
  if (texts) {
    for (const auto& v : *texts) if (v.string() && os::isValidUTF8(*v.string())) t.push_back(*v.string());
  }
  if (pictures) {
    for (const auto& v : *pictures) if (v.data()) p.push_back(*v.data());
  }
  std::optional<os::Data> preview;
  if (const os::Data* pd = d["previewimageData"].data()) preview = *pd;
  return objectWithLayoutType(static_cast<std::uint32_t>(d["layoutType"].intValue()), std::move(t), std::move(p),
                              std::move(preview));
}

std::shared_ptr<QQApiWPAObject> QQApiWPAObject::objectWithUin(std::optional<std::string> uin) {
  auto o = std::make_shared<QQApiWPAObject>();
  o->uin = std::move(uin);
  return o;
}

// ---- message ----

std::shared_ptr<QQApiMessage> QQApiMessage::messageWithObject(std::shared_ptr<QQApiObject> object, std::uint32_t type) {
  auto m = std::make_shared<QQApiMessage>();
  m->object = std::move(object);
  m->type = type;
  return m;
}

void QQApiMessage::encodeWithCoder(os::KeyedArchiver& coder) const {
  coder.encodeInt(1, "ApiVersion");
  coder.encodeInt(static_cast<std::int32_t>(type), "type");
  auto inner = os::KeyedArchiver::archivedData(std::make_shared<QQApiObjectCoderImpl>(object));
  if (inner) coder.encodeObject(os::Value(*inner), "object");
}

std::shared_ptr<QQApiMessage> QQApiMessage::initWithCoder(os::KeyedUnarchiver& coder) {
  auto m = std::make_shared<QQApiMessage>();
  if (coder.decodeInt("ApiVersion") < 1) return m;
  m->type = static_cast<std::uint32_t>(coder.decodeInt("type"));
  if (auto inner = coder.decodeData("object")) {
    auto item = os::KeyedUnarchiver::unarchiveObject(*inner, QQApiArchiveClasses());
    if (item) {
      if (auto impl = item->objectAs<QQApiObjectCoderImpl>()) m->object = impl->obj;
    }
  }
  return m;
}

// ---- content object archive ----

void QQApiObjectCoderImpl::encodeWithCoder(os::KeyedArchiver& coder) const {
  if (!obj) return;
  const auto header = [&](const char* name) {
    coder.encodeObject(os::Value(name), "objectType");
    coder.encodeInt(1, "ApiVersion");
    encodeString(coder, obj->title, "title");
    encodeString(coder, obj->description, "description");
  };
  if (auto* text = dynamic_cast<const QQApiTextObject*>(obj.get())) {
    header("QQApiTextObject");
    encodeString(coder, text->text, "text");
  } else if (auto* extend = dynamic_cast<const QQApiExtendObject*>(obj.get())) {
    header(dynamic_cast<const QQApiImageObject*>(extend) ? "QQApiImageObject" : "QQApiExtendObject");
    encodeData(coder, extend->data, "data");
    encodeData(coder, extend->previewImageData, "previewImageData");
  } else if (auto* link = dynamic_cast<const QQApiURLObject*>(obj.get())) {
    const char* name = dynamic_cast<const QQApiAudioObject*>(link)   ? "QQApiAudioObject"
                       : dynamic_cast<const QQApiVideoObject*>(link) ? "QQApiVideoObject"
                       : dynamic_cast<const QQApiNewsObject*>(link)  ? "QQApiNewsObject"
                                                                     : "QQApiURLObject";
    header(name);
    coder.encodeInt(link->targetContentType, "targetContentType");
    if (link->url) coder.encodeObject(os::ArchiveItem::url(*link->url), "url");
    encodeData(coder, link->previewImageData, "previewImageData");
  } else if (auto* result = dynamic_cast<const QQApiResultObject*>(obj.get())) {
    header("QQApiResultObject");
    encodeString(coder, result->error, "error");
    encodeString(coder, result->errorDescription, "errorDescription");
  } else {
    header("QQApiObject");
  }
}

std::shared_ptr<QQApiObjectCoderImpl> QQApiObjectCoderImpl::initWithCoder(os::KeyedUnarchiver& coder) {
  auto impl = std::make_shared<QQApiObjectCoderImpl>();
  const std::string type = decodeText(coder, "objectType").value_or("");
  std::shared_ptr<QQApiObject> o;
  if (type == "QQApiTextObject") o = std::make_shared<QQApiTextObject>();
  else if (type == "QQApiImageObject") o = std::make_shared<QQApiImageObject>();
  else if (type == "QQApiExtendObject") o = std::make_shared<QQApiExtendObject>();
  else if (type == "QQApiAudioObject") o = std::make_shared<QQApiAudioObject>();
  else if (type == "QQApiVideoObject") o = std::make_shared<QQApiVideoObject>();
  else if (type == "QQApiNewsObject") o = std::make_shared<QQApiNewsObject>();
  else if (type == "QQApiURLObject") o = std::make_shared<QQApiURLObject>();
  else if (type == "QQApiResultObject") o = std::make_shared<QQApiResultObject>();
  else if (type == "QQApiObject") o = std::make_shared<QQApiObject>();
  else return impl;
  impl->obj = o;
  if (coder.decodeInt("ApiVersion") < 1) return impl;
  o->title = decodeText(coder, "title");
  o->description = decodeText(coder, "description");
  if (auto* text = dynamic_cast<QQApiTextObject*>(o.get())) {
    text->text = decodeText(coder, "text");
  } else if (auto* extend = dynamic_cast<QQApiExtendObject*>(o.get())) {
    extend->data = coder.decodeData("data");
    extend->previewImageData = coder.decodeData("previewImageData");
  } else if (auto* link = dynamic_cast<QQApiURLObject*>(o.get())) {
    link->targetContentType = coder.decodeInt("targetContentType");
    const os::ArchiveItem url = coder.decodeObject("url");
    if (const std::string* u = url.urlString(); u && os::isValidUTF8(*u)) link->url = *u;
    link->previewImageData = coder.decodeData("previewImageData");
  } else if (auto* result = dynamic_cast<QQApiResultObject*>(o.get())) {
    result->error = decodeText(coder, "error");
    result->errorDescription = decodeText(coder, "errorDescription");
  }
  return impl;
}

// ---- ad items ----

void QQApiAdItem::encodeWithCoder(os::KeyedArchiver& coder) const {
  coder.encodeInt(1, "version");
  encodeString(coder, title, "title");
  encodeString(coder, description, "desc");
  encodeData(coder, imageData, "imgdata");
  if (target) coder.encodeObject(os::ArchiveItem::url(*target), "target");
}

std::shared_ptr<QQApiAdItem> QQApiAdItem::initWithCoder(os::KeyedUnarchiver& coder) {
  auto item = std::make_shared<QQApiAdItem>();
  if (coder.decodeInt("version") != 1) return item;
  item->title = decodeText(coder, "title");
  item->description = decodeText(coder, "desc");
  item->imageData = coder.decodeData("imgdata");
  const os::ArchiveItem target = coder.decodeObject("target");
  if (const std::string* t = target.urlString(); t && os::isValidUTF8(*t)) item->target = *t;
  return item;
}
