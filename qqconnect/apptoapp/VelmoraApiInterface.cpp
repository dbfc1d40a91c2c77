#include "qqconnect/apptoapp/VelmoraApiInterface.h"

#include <algorithm>

#include "platforms/qq/QQApiURL.h"
#include "qqconnect_core/login/TcApiTool.h"
#include "qqconnect_core/login/VelmoraDataMgr.h"
#include "os/core/Log.h"
#include "os/core/URL.h"
#include "os/crypto/Digest.h"
#include "os/store/Bundle.h"
#include "os/store/Pasteboard.h"
#include "os/views/Application.h"

namespace {

constexpr const char* kArchiveRootKey = "object";

bool canOpen(const std::string& text) {
  auto app = os::Application::shared();
  auto url = os::URL::parse(text);
  return app && url && app->canOpenURL(*url);
}

bool open(const std::string& text) {
  auto app = os::Application::shared();
  auto url = os::URL::parse(text);
  return app && url && app->openURL(*url);
}

// The decoded URL when it is an app-to-app URL of this application: a declared scheme, the
// request host and one of the two paths.
std::optional<VelmoraUrlDecoder> acceptedURL(const std::optional<std::string>& url) {
  auto d = VelmoraUrlDecoder::decoderWithUrl(url);
  if (!d) return std::nullopt;
  auto schemes = VelmoraApiUtil::scheme(kVelmoraApiSchemeIdenfiter);
  if (!schemes) return std::nullopt;
  // The URL parser lower-cases schemes; declared schemes are compared the same way.
  const bool declared = std::any_of(schemes->begin(), schemes->end(), [&](const std::string& s) {
    std::string lower = s;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    return lower == d->scheme;
  });
  if (!declared || d->host != kVelmoraApiReqFromVelmoraApp) return std::nullopt;
  if (d->path != kVelmoraReqContent && d->path != kVelmoraRespContent) return std::nullopt;
  return d;
}

std::shared_ptr<os::Archivable> readRecord(const VelmoraUrlDecoder& decoder) {
  const os::Value& name = decoder.queryItem[kPastboardName];
  os::logf("%s", name.stringOr("(null)").c_str());
  const std::string* type = decoder.queryItem[kPastboardType].string();
  if (!type || type->empty()) return nullptr;
  auto board = os::Pasteboard::generalPasteboard();
  auto data = board->dataForPasteboardType(*type);
  // Gone before decoding, so a record is read once whatever it holds.
  board->setData(std::nullopt, *type);
  if (!data) return nullptr;
  auto record = VelmoraMessageParse::unarchive(*data);
  if (!record) os::log("exception 序列化对象的时候出错");
  return record;
}

std::vector<std::shared_ptr<VelmoraBaseMessageObj>> messagesOf(const std::shared_ptr<os::Archivable>& record) {
  if (auto req = std::dynamic_pointer_cast<VelmoraApiReq>(record)) return req->arrMessage();
  if (auto resp = std::dynamic_pointer_cast<VelmoraApiResp>(record))
    if (resp->objReq()) return resp->objReq()->arrMessage();
  return {};
}

}  // namespace

// ---- decoder and utilities ----

std::optional<VelmoraUrlDecoder> VelmoraUrlDecoder::decoderWithUrl(const std::optional<std::string>& url) {
  auto d = QQApiURLDecoder::decoderWithUrl(url, QQApiURLDecoder::PathForm::WithoutLeadingCharacter);
  if (!d) return std::nullopt;
  VelmoraUrlDecoder out;
  out.scheme = d->scheme;
  out.host = d->host;
  if (!d->path.empty()) out.path = d->path;
  out.queryItem = std::move(d->queryItem);
  return out;
}

std::optional<std::string> VelmoraApiUtil::md5(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  // The digest covers the text up to its first NUL, as a C string would.
  return os::md5Hex(std::string_view(text->c_str()));
}

std::optional<std::vector<std::string>> VelmoraApiUtil::scheme(const std::string& name) {
  const os::Dictionary info = os::Bundle::mainBundle()->infoDictionary();
  const os::Array* types = info["CFBundleURLTypes"].array();
  if (!types) return std::nullopt;
  for (const os::Value& entry : *types) {
    const os::Dictionary* d = entry.dictionary();
    if (!d) continue;
    const std::string* n = (*d)["CFBundleURLName"].string();
    if (!n || *n != name) continue;
    const os::Array* schemes = (*d)["CFBundleURLSchemes"].array();
    if (!schemes) return std::nullopt;
    std::vector<std::string> out;
    for (const os::Value& s : *schemes)
      if (s.string()) out.push_back(*s.string());
    return out;
  }
  return std::nullopt;
}

std::optional<std::string> VelmoraApiUtil::GetURLWithParam(const std::optional<std::string>& base,
                                                           const os::Dictionary& params) {
  return TcApiTool::GetURLWithParam(base, params);
}

std::string VelmoraApiUtil::pasteboardType(const char* missingIdentifierLog) {
  auto identifier = os::Bundle::mainBundle()->bundleIdentifier();
  if (!identifier || identifier->empty()) {
    os::log(missingIdentifierLog);
    identifier = kVelmoraApiDefaultPasteboardKey;
  }
  return *md5(identifier);
}

// ---- writing ----

std::optional<os::Data> VelmoraMessagePack::dataWithVelmoraReqMessage(const std::shared_ptr<os::Archivable>& record) {
  if (!std::dynamic_pointer_cast<VelmoraApiReq>(record) && !std::dynamic_pointer_cast<VelmoraApiResp>(record))
    return std::nullopt;
  return os::KeyedArchiver::archivedData(record, kArchiveRootKey);
}

std::optional<std::string> VelmoraMessagePack::packVelmoraRespMessage(const os::Data& data, std::int32_t platform) {
  const std::string type = VelmoraApiUtil::pasteboardType("velmoraApi error: CFBundleIdentifier没填写");
  auto board = os::Pasteboard::generalPasteboard();
  board->setData(data, type);
  if (platform != kVelmoraApiPlatformQZone) return std::nullopt;
  os::Dictionary query{{kPastboardName, board->name()}, {kPastboardType, type}};
  return VelmoraApiUtil::GetURLWithParam(
      std::string(kQZoneSupportSDK) + "://" + kVelmoraApiReqFromVelmoraApp + "/" + kVelmoraRespContent, query);
}

std::optional<std::string> VelmoraMessagePack::packVelmoraReqMessage(const os::Data& data,
                                                                     const std::optional<std::string>&) {
  const std::string type = VelmoraApiUtil::pasteboardType("velmoraApi error: CFBundleIdentifier每填写");
  os::Pasteboard::generalPasteboard()->setData(data, type);
  return std::nullopt;
}

bool VelmoraMessagePack::messageVaild(const std::shared_ptr<os::Archivable>& record) {
  for (const auto& m : messagesOf(record))
    if (m && !m->isVaild()) return false;
  return true;
}

// ---- reading ----

std::optional<std::string> VelmoraMessageParse::substituteClassName(const std::vector<std::string>& classNames) {
  static const os::ArchiveClassRegistry known = VelmoraApiArchiveClasses();
  for (const std::string& name : classNames)
    if (known.find(name)) return name;
  return std::nullopt;
}

std::shared_ptr<os::Archivable> VelmoraMessageParse::unarchive(const os::Data& data) {
  os::KeyedArchiveLimits limits;
  limits.maxBytes = kMaxArchiveSize;
  os::KeyedUnarchiver coder(data, VelmoraApiArchiveClasses(), limits);
  coder.setClassSubstitution(&VelmoraMessageParse::substituteClassName);
  os::ArchiveItem root = coder.decodeObject(kArchiveRootKey);
  if (coder.error()) return nullptr;
  return root.object();
}

std::shared_ptr<os::Archivable> VelmoraMessageParse::parseVelmoraMessage(const std::optional<std::string>& url) {
  auto d = acceptedURL(url);
  if (!d) return nullptr;
  return d->path == kVelmoraReqContent ? getReqFromUrl(*d) : getRespFromUrl(*d);
}

std::shared_ptr<os::Archivable> VelmoraMessageParse::getReqFromUrl(const VelmoraUrlDecoder& decoder) {
  return readRecord(decoder);
}

std::shared_ptr<os::Archivable> VelmoraMessageParse::getRespFromUrl(const VelmoraUrlDecoder& decoder) {
  return readRecord(decoder);
}

// ---- the interface ----

bool VelmoraApiInterface::canOpenURL(const std::optional<std::string>& url, const VelmoraApiInterfaceDelegate*) {
  return acceptedURL(url).has_value();
}

bool VelmoraApiInterface::handleOpenURL(const std::optional<std::string>& url, VelmoraApiInterfaceDelegate* delegate) {
  auto record = VelmoraMessageParse::parseVelmoraMessage(url);
  if (!record) return false;
  if (auto req = std::dynamic_pointer_cast<VelmoraApiReq>(record)) {
    if (delegate && !delegate->onVelmoraReq(req)) {
      auto resp = VelmoraApiResp::respFromReq(req);
      resp->setNRetCode(-1);
      sendRespMessageToVelmoraApp(resp);
    }
    return true;
  }
  if (std::dynamic_pointer_cast<VelmoraApiResp>(record)) return false;
  return true;
}

std::int32_t VelmoraApiInterface::sendRespMessageToVelmoraApp(const std::shared_ptr<VelmoraApiResp>& resp) {
  if (!resp) return kVelmoraApiSendNoResponse;
  const std::int32_t platform = resp->objReq() ? resp->objReq()->nPlatform() : kVelmoraApiPlatformQQ;
  if (platform != kVelmoraApiPlatformQZone) return kVelmoraApiSendNotForQZone;
  if (!installIphoneQZone()) return kVelmoraApiSendQZoneNotInstalled;
  if (!iphoneQZoneSupportApi()) return kVelmoraApiSendQZoneNotSupportApi;
  if (!VelmoraMessagePack::messageVaild(resp)) return kVelmoraApiSendMessageInvalid;
  auto data = VelmoraMessagePack::dataWithVelmoraReqMessage(resp);
  if (!data || data->size() > kVelmoraApiImageMax) return kVelmoraApiSendMessageInvalid;
  auto url = VelmoraMessagePack::packVelmoraRespMessage(*data, platform);
  return url && open(*url) ? kVelmoraApiSendOK : kVelmoraApiSendOpenFailed;
}

bool VelmoraApiInterface::installIphoneQZone() { return canOpen(std::string(kQZoneScheme) + "://"); }
bool VelmoraApiInterface::iphoneQZoneSupportApi() { return canOpen(std::string(kQZoneSupportSDK) + "://"); }

bool VelmoraApiInterface::isVelmoraAppInstall(std::int32_t platform) {
  if (platform == kVelmoraApiPlatformQQ) return canOpen(std::string(kQQScheme) + "://");
  if (platform == kVelmoraApiPlatformQZone) return canOpen(std::string(kQZoneScheme) + "://");
  return false;
}

bool VelmoraApiInterface::isVelmoraAppSupportVelmoraApi(std::int32_t platform) {
  if (platform == kVelmoraApiPlatformQQ) return canOpen(std::string(kQQSupportSDK) + "://");
  if (platform == kVelmoraApiPlatformQZone) return canOpen(std::string(kQZoneSupportSDK) + "://");
  return false;
}

bool VelmoraApiInterface::openThirdApp(const std::string& appId) { return open("velmora" + appId + ".content://"); }

void VelmoraApiInterface::registApp(const std::string& appId) { VelmoraDataMgr::dataCenter().setAppId(appId); }
