#include "qqconnect/apptoapp/VelmoraApiObject.h"

#include "os/core/Error.h"
#include "os/core/String.h"
#include "os/graphics/ImageCodec.h"

namespace {

std::size_t chars(const std::optional<std::string>& s) { return s ? os::utf16Length(*s) : 0; }
std::size_t bytes(const std::optional<os::Data>& d) { return d ? d->size() : 0; }
bool decodesAsImage(const std::optional<os::Data>& d) { return d && !d->empty() && os::decodeImage(*d) != nullptr; }

void encodeString(os::KeyedArchiver& coder, const std::optional<std::string>& s, const char* key) {
  if (s) coder.encodeObject(os::Value(*s), key);
}
void encodeData(os::KeyedArchiver& coder, const std::optional<os::Data>& d, const char* key) {
  if (d) coder.encodeObject(os::Value(*d), key);
}

template <class T>
std::shared_ptr<T> decodeAs(os::KeyedUnarchiver& coder, const char* key) {
  return coder.decodeObject(key).template objectAs<T>();
}

}  // namespace

// ---- base ----

bool VelmoraBaseMessageObj::isVaild() const { return chars(sName_) <= kVelmoraApiFieldMax; }

void VelmoraBaseMessageObj::encodeWithCoder(os::KeyedArchiver& coder) const {
  coder.encodeInt(nVersion_, "nVersion");
  encodeString(coder, sName_, "sName");
  if (dictExpandInfo_) coder.encodeObject(os::Value(*dictExpandInfo_), "dictExpandInfo");
}

void VelmoraBaseMessageObj::decodeBase(os::KeyedUnarchiver& coder) {
  nVersion_ = coder.decodeInt("nVersion");
  sName_ = coder.decodeString("sName");
  auto info = coder.decodeValue("dictExpandInfo");
  if (info && info->dictionary()) dictExpandInfo_ = *info->dictionary();
}

std::shared_ptr<VelmoraBaseMessageObj> VelmoraBaseMessageObj::initWithCoder(os::KeyedUnarchiver& coder) {
  auto o = std::make_shared<VelmoraBaseMessageObj>();
  o->decodeBase(coder);
  return o;
}

// ---- text ----

bool VelmoraTextMessageObjV1::isVaild() const {
  return VelmoraBaseMessageObj::isVaild() && chars(sText_) <= kVelmoraApiFieldMax;
}

void VelmoraTextMessageObjV1::encodeWithCoder(os::KeyedArchiver& coder) const {
  VelmoraBaseMessageObj::encodeWithCoder(coder);
  encodeString(coder, sText_, "sText");
}

std::shared_ptr<VelmoraTextMessageObjV1> VelmoraTextMessageObjV1::initWithCoder(os::KeyedUnarchiver& coder) {
  auto o = std::make_shared<VelmoraTextMessageObjV1>();
  o->decodeBase(coder);
  o->sText_ = coder.decodeString("sText");
  return o;
}

// ---- image ----

std::shared_ptr<VelmoraImageMessageObjV1> VelmoraImageMessageObjV1::initWithImageData(std::optional<os::Data> data) {
  auto o = std::make_shared<VelmoraImageMessageObjV1>(0);
  o->dataImage_ = std::move(data);
  return o;
}

std::shared_ptr<VelmoraImageMessageObjV1> VelmoraImageMessageObjV1::initWithImageUrl(std::optional<std::string> url) {
  auto o = std::make_shared<VelmoraImageMessageObjV1>(0);
  o->sUrl_ = std::move(url);
  return o;
}

bool VelmoraImageMessageObjV1::isVaild() const {
  if (!VelmoraBaseMessageObj::isVaild()) return false;
  if (bytes(dataImage_) > kVelmoraApiImageMax) return false;
  if (chars(sUrl_) > kVelmoraApiFieldMax || bytes(dataThumbImage_) > kVelmoraApiFieldMax ||
      chars(sDescription_) > kVelmoraApiFieldMax)
    return false;
  if (nType_ == 1 && chars(sUrl_) == 0) return false;
  if (nType_ == 2 && !decodesAsImage(dataImage_)) return false;
  return true;
}

void VelmoraImageMessageObjV1::encodeWithCoder(os::KeyedArchiver& coder) const {
  VelmoraBaseMessageObj::encodeWithCoder(coder);
  encodeData(coder, dataImage_, "dataImage");
  encodeString(coder, sUrl_, "sUrl");
  encodeData(coder, dataThumbImage_, "dataThumbImage");
  encodeString(coder, sDescription_, "description");
  // The archive has one real type; the peer reads these two back as floats.
  coder.encodeDouble(width_, "imageWidth");
  coder.encodeDouble(height_, "imageHeight");
  coder.encodeInt(nType_, "nType");
}

std::shared_ptr<VelmoraImageMessageObjV1> VelmoraImageMessageObjV1::initWithCoder(os::KeyedUnarchiver& coder) {
  auto o = std::make_shared<VelmoraImageMessageObjV1>();
  o->decodeBase(coder);
  o->dataImage_ = coder.decodeData("dataImage");
  o->sUrl_ = coder.decodeString("sUrl");
  o->dataThumbImage_ = coder.decodeData("dataThumbImage");
  o->sDescription_ = coder.decodeString("description");
  o->nType_ = coder.decodeInt("nType");
  o->width_ = static_cast<float>(coder.decodeDouble("imageWidth"));
  o->height_ = static_cast<float>(coder.decodeDouble("imageHeight"));
  return o;
}

// ---- audio ----

bool VelmoraAudioMessageObjV1::isVaild() const {
  return VelmoraBaseMessageObj::isVaild() && chars(sUrl_) <= kVelmoraApiFieldMax &&
         chars(sImagePreviewUrl_) <= kVelmoraApiFieldMax && bytes(dataImagePreview_) <= kVelmoraApiFieldMax &&
         chars(sDescription_) <= kVelmoraApiFieldMax;
}

void VelmoraAudioMessageObjV1::encodeWithCoder(os::KeyedArchiver& coder) const {
  VelmoraBaseMessageObj::encodeWithCoder(coder);
  encodeString(coder, sUrl_, "sUrl");
  encodeString(coder, sImagePreviewUrl_, "sImagePreviewUrl");
  encodeData(coder, dataImagePreview_, "dataImagePreview");
  encodeString(coder, sDescription_, "description");
}

std::shared_ptr<VelmoraAudioMessageObjV1> VelmoraAudioMessageObjV1::initWithCoder(os::KeyedUnarchiver& coder) {
  auto o = std::make_shared<VelmoraAudioMessageObjV1>();
  o->decodeBase(coder);
  o->sUrl_ = coder.decodeString("sUrl");
  o->sImagePreviewUrl_ = coder.decodeString("sImagePreviewUrl");
  o->dataImagePreview_ = coder.decodeData("dataImagePreview");
  o->sDescription_ = coder.decodeString("description");
  return o;
}

// ---- video ----

bool VelmoraVideoMessageV1::isVaild() const {
  return VelmoraBaseMessageObj::isVaild() && chars(sUrl_) <= kVelmoraApiFieldMax &&
         chars(sImagePreviewUrl_) <= kVelmoraApiFieldMax && bytes(dataImagePreview_) <= kVelmoraApiFieldMax &&
         chars(sDescription_) <= kVelmoraApiFieldMax;
}

void VelmoraVideoMessageV1::encodeWithCoder(os::KeyedArchiver& coder) const {
  VelmoraBaseMessageObj::encodeWithCoder(coder);
  encodeString(coder, sUrl_, "sUrl");
  coder.encodeInt(nType_, "nType");
  encodeString(coder, sImagePreviewUrl_, "sImagePreviewUrl");
  encodeData(coder, dataImagePreview_, "dataImagePreview");
  encodeString(coder, sDescription_, "description");
}

std::shared_ptr<VelmoraVideoMessageV1> VelmoraVideoMessageV1::initWithCoder(os::KeyedUnarchiver& coder) {
  auto o = std::make_shared<VelmoraVideoMessageV1>();
  o->decodeBase(coder);
  o->sUrl_ = coder.decodeString("sUrl");
  o->nType_ = coder.decodeInt("nType");
  o->sImagePreviewUrl_ = coder.decodeString("sImagePreviewUrl");
  o->dataImagePreview_ = coder.decodeData("dataImagePreview");
  o->sDescription_ = coder.decodeString("description");
  return o;
}

// ---- image or video ----

std::shared_ptr<VelmoraImageAndVideoMessageObjV1> VelmoraImageAndVideoMessageObjV1::initWithMessage(
    std::optional<os::Data> imageData, std::optional<std::string> videoUrl) {
  auto o = std::make_shared<VelmoraImageAndVideoMessageObjV1>();
  o->ensureParts();
  if (decodesAsImage(imageData))
    o->image_->setDataImage(std::move(imageData));
  else
    o->video_->setSUrl(std::move(videoUrl));
  return o;
}

void VelmoraImageAndVideoMessageObjV1::ensureParts() {
  if (!image_) image_ = VelmoraImageMessageObjV1::initWithImageData(std::nullopt);
  if (!video_) video_ = VelmoraVideoMessageV1::initWithVideoUrl(std::nullopt, 0);
}

void VelmoraImageAndVideoMessageObjV1::setObjImageMessage(std::shared_ptr<VelmoraImageMessageObjV1> image) {
  image_ = std::move(image);
  if (image_ && decodesAsImage(image_->dataImage()) && video_) video_->setSUrl(std::nullopt);
}

void VelmoraImageAndVideoMessageObjV1::setObjVideoMessage(std::shared_ptr<VelmoraVideoMessageV1> video) {
  video_ = std::move(video);
  if (video_ && chars(video_->sUrl()) > 0 && image_) image_->setDataImage(std::nullopt);
}

void VelmoraImageAndVideoMessageObjV1::setDataImage(std::optional<os::Data> data) {
  ensureParts();
  const bool image = decodesAsImage(data);
  image_->setDataImage(std::move(data));
  if (image) video_->setSUrl(std::nullopt);
}

void VelmoraImageAndVideoMessageObjV1::setVideoUrl(std::optional<std::string> url) {
  ensureParts();
  const bool some = chars(url) > 0;
  video_->setSUrl(std::move(url));
  if (some) image_->setDataImage(std::nullopt);
}

bool VelmoraImageAndVideoMessageObjV1::isVaild() const {
  return VelmoraBaseMessageObj::isVaild() && (!image_ || image_->isVaild()) && (!video_ || video_->isVaild());
}

void VelmoraImageAndVideoMessageObjV1::encodeWithCoder(os::KeyedArchiver& coder) const {
  VelmoraBaseMessageObj::encodeWithCoder(coder);
  if (image_) coder.encodeObject(image_, "imageMessage");
  if (video_) coder.encodeObject(video_, "videoMessage");
}

std::shared_ptr<VelmoraImageAndVideoMessageObjV1> VelmoraImageAndVideoMessageObjV1::initWithCoder(
    os::KeyedUnarchiver& coder) {
  auto o = std::make_shared<VelmoraImageAndVideoMessageObjV1>();
  o->decodeBase(coder);
  o->image_ = decodeAs<VelmoraImageMessageObjV1>(coder, "imageMessage");
  o->video_ = decodeAs<VelmoraVideoMessageV1>(coder, "videoMessage");
  return o;
}

// ---- request and response ----

void VelmoraApiReq::encodeWithCoder(os::KeyedArchiver& coder) const {
  coder.encodeInt(nMessageType_, "nMessageType");
  coder.encodeInt(nPlatform_, "nPlatform");
  coder.encodeInt(nSdkVersion_, "nSdkVersion");
  coder.encodeInt(nSeq_, "nSeq");
  if (hasArray_ || !arrMessage_.empty()) {
    std::vector<os::ArchiveItem> items;
    for (const auto& m : arrMessage_) items.emplace_back(m);
    coder.encodeObject(os::ArchiveItem::array(std::move(items)), "arrMessage");
  }
  encodeString(coder, sAppID_, "sAppID");
  encodeString(coder, sDescription_, "description");
}

std::shared_ptr<VelmoraApiReq> VelmoraApiReq::initWithCoder(os::KeyedUnarchiver& coder) {
  auto o = std::make_shared<VelmoraApiReq>(DecodeTag{});
  o->nMessageType_ = coder.decodeInt("nMessageType");
  o->nPlatform_ = coder.decodeInt("nPlatform");
  o->nSdkVersion_ = coder.decodeInt("nSdkVersion");
  o->nSeq_ = coder.decodeInt("nSeq");
  const os::ArchiveItem array = coder.decodeObject("arrMessage");
  if (const auto* elements = array.elements()) {
    o->hasArray_ = true;
    for (const auto& e : *elements) {
      // Anything but a message object in the array is dropped, not trusted.
      if (auto m = e.objectAs<VelmoraBaseMessageObj>()) o->arrMessage_.push_back(std::move(m));
    }
  }
  o->sAppID_ = coder.decodeString("sAppID");
  o->sDescription_ = coder.decodeString("description");
  return o;
}

std::shared_ptr<VelmoraApiResp> VelmoraApiResp::respFromReq(const std::shared_ptr<os::Archivable>& req) {
  auto request = std::dynamic_pointer_cast<VelmoraApiReq>(req);
  if (!request) throw os::Exception("VelmoraApiResp init error", "req is not VelmoraApiReq class or subClass");
  auto resp = std::make_shared<VelmoraApiResp>();
  resp->objReq_ = std::move(request);
  return resp;
}

void VelmoraApiResp::encodeWithCoder(os::KeyedArchiver& coder) const {
  coder.encodeInt(nRetCode_, "nRetCode");
  encodeString(coder, sRetMsg_, "sRetMsg");
  if (objReq_) coder.encodeObject(objReq_, "objReq");
}

std::shared_ptr<VelmoraApiResp> VelmoraApiResp::initWithCoder(os::KeyedUnarchiver& coder) {
  auto o = std::make_shared<VelmoraApiResp>();
  o->nRetCode_ = coder.decodeInt("nRetCode");
  o->sRetMsg_ = coder.decodeString("sRetMsg");
  o->objReq_ = decodeAs<VelmoraApiReq>(coder, "objReq");
  return o;
}

os::ArchiveClassRegistry VelmoraApiArchiveClasses() {
  os::ArchiveClassRegistry r;
  r.add(VelmoraApiReq::kClassName, [](os::KeyedUnarchiver& c) { return VelmoraApiReq::initWithCoder(c); });
  r.add(VelmoraApiResp::kClassName, [](os::KeyedUnarchiver& c) { return VelmoraApiResp::initWithCoder(c); });
  r.add(VelmoraBaseMessageObj::kClassName, [](os::KeyedUnarchiver& c) { return VelmoraBaseMessageObj::initWithCoder(c); });
  r.add(VelmoraTextMessageObjV1::kClassName, [](os::KeyedUnarchiver& c) { return VelmoraTextMessageObjV1::initWithCoder(c); });
  r.add(VelmoraImageMessageObjV1::kClassName, [](os::KeyedUnarchiver& c) { return VelmoraImageMessageObjV1::initWithCoder(c); });
  r.add(VelmoraAudioMessageObjV1::kClassName, [](os::KeyedUnarchiver& c) { return VelmoraAudioMessageObjV1::initWithCoder(c); });
  r.add(VelmoraVideoMessageV1::kClassName, [](os::KeyedUnarchiver& c) { return VelmoraVideoMessageV1::initWithCoder(c); });
  r.add(VelmoraImageAndVideoMessageObjV1::kClassName,
        [](os::KeyedUnarchiver& c) { return VelmoraImageAndVideoMessageObjV1::initWithCoder(c); });
  return r;
}
