#include "platforms/qq/QQApi.h"

#include "platforms/qq/QQApiDatastore.h"
#include "platforms/qq/QQApiLog.h"
#include "platforms/qq/QQApiTask.h"
#include "platforms/qq/QQApiURL.h"
#include "platforms/qq/QQOpenApiUtility.h"
#include "platforms/qq/QQWebViewKit.h"
#include "os/core/String.h"
#include "os/store/Bundle.h"
#include "os/store/FileManager.h"

// ---- requests and responses ----

std::shared_ptr<GetMessageFromQQReq> GetMessageFromQQReq::req() {
  auto r = std::make_shared<GetMessageFromQQReq>();
  r->type = 0;
  return r;
}

std::shared_ptr<SendMessageToQQReq> SendMessageToQQReq::reqWithContent(std::shared_ptr<QQApiObject> message) {
  auto r = std::make_shared<SendMessageToQQReq>();
  r->type = 1;
  r->message = std::move(message);
  return r;
}

std::shared_ptr<ShowMessageFromQQReq> ShowMessageFromQQReq::reqWithContent(std::shared_ptr<QQApiObject> message) {
  auto r = std::make_shared<ShowMessageFromQQReq>();
  r->type = 2;
  r->message = std::move(message);
  return r;
}

std::shared_ptr<GetMessageFromQQResp> GetMessageFromQQResp::respWithContent(std::shared_ptr<QQApiObject> message) {
  auto r = std::make_shared<GetMessageFromQQResp>();
  r->type = 1;
  r->message = std::move(message);
  return r;
}

std::shared_ptr<SendMessageToQQResp> SendMessageToQQResp::respWithResult(std::optional<std::string> result,
                                                                         std::optional<std::string> errorDescription,
                                                                         std::optional<std::string> extendInfo) {
  auto r = std::make_shared<SendMessageToQQResp>();
  r->type = 2;
  r->result = std::move(result);
  r->errorDescription = std::move(errorDescription);
  r->extendInfo = std::move(extendInfo);
  return r;
}

std::shared_ptr<ShowMessageFromQQResp> ShowMessageFromQQResp::respWithResult(std::optional<std::string> result,
                                                                             std::optional<std::string> errorDescription) {
  auto r = std::make_shared<ShowMessageFromQQResp>();
  r->result = std::move(result);
  r->errorDescription = std::move(errorDescription);
  return r;
}

// ---- QQApi ----

void QQApi::registerQQConnectOpenId(std::optional<std::string> openId) { QQApiDatastore::instance().openId = std::move(openId); }
void QQApi::registerQQConnectAppId(std::optional<std::string> appId) { QQApiDatastore::instance().appId = std::move(appId); }

namespace {

os::Value infoValue(const std::shared_ptr<os::Bundle>& bundle, const char* key) {
  os::Value v = bundle->localizedInfoDictionary()[key];
  return v.isNull() ? bundle->infoDictionary()[key] : v;
}

std::vector<std::string> iconNames(const std::shared_ptr<os::Bundle>& bundle) {
  for (const os::Dictionary& info : {bundle->localizedInfoDictionary(), bundle->infoDictionary()}) {
    for (const char* key : {"CFBundleIconFiles", "Icon files"}) {
      if (const os::Array* a = info[key].array(); a && !a->empty()) {
        std::vector<std::string> names;
        for (const auto& v : *a) if (v.string()) names.push_back(*v.string());
        if (!names.empty()) return names;
      }
    }
    for (const char* key : {"CFBundleIconFile", "Icon file"}) {
      if (const std::string* s = info[key].string(); s && !s->empty()) return {*s};
    }
  }
  return {};
}

std::optional<os::Data> resource(const std::shared_ptr<os::Bundle>& bundle, const std::string& name, const std::string& type) {
  auto path = bundle->pathForResource(name, type);
  if (!path || path->empty()) return std::nullopt;
  auto data = os::FileManager::defaultManager().contentsAtPath(*path);
  if (!data || data->empty()) return std::nullopt;
  return data;
}

bool isLink(const QQApiObject* o) { return dynamic_cast<const QQApiURLObject*>(o) != nullptr; }
std::string kindOf(const QQApiObject* o) { return o ? o->className() : ""; }

}  // namespace

void QQApi::registerPluginWithId(const std::string& pluginId) {
  auto bundle = os::Bundle::mainBundle();
  auto metadata = std::make_shared<QQPluginMetadata>();
  metadata->scheme = pluginId;
  metadata->bundleIdentifier = bundle->bundleIdentifier();
  if (const std::string* v = infoValue(bundle, "CFBundleVersion").string()) metadata->version = *v;
  if (const std::string* n = infoValue(bundle, "CFBundleDisplayName").string()) metadata->displayName = *n;
  QQApiDatastore::instance().appName = metadata->displayName;
  for (const std::string& name : iconNames(bundle)) {
    if (metadata->iconFiles.size() >= 2) break;
    const auto parts = os::split(name, ".");
    if (parts.size() < 2) continue;
    if (auto data = resource(bundle, parts[0], parts[1])) metadata->iconFiles.set(name, *data);
  }
  if (metadata->iconFiles.empty()) {
    if (auto data = resource(bundle, "icon", "png")) metadata->iconFiles.set("icon.png", *data);
  }
  QQApiDatastore::instance().registerWithMetadata(metadata);
  QQApiDatastore::instance().scheme = pluginId;
}

bool QQApi::checkQQApiURLMessage(const std::shared_ptr<QQApiMessage>& message) {
  if (!message) return false;
  const QQApiObject* o = message->object.get();
  if (!o) return QQAPI_LOG("param error: object is nil"), false;
  if (o->title && os::utf16Length(*o->title) > kQQApiTitleMax) return QQAPI_LOG("param error: title is too long"), false;
  if (o->description && os::utf16Length(*o->description) > kQQApiDescriptionMax) {
    return QQAPI_LOG("param error: description is too long"), false;
  }
  const auto* link = dynamic_cast<const QQApiURLObject*>(o);
  if (link && link->previewImageData && link->previewImageData->size() > kQQApiPreviewImageMax) {
    return QQAPI_LOG("param error: preview image data is too big"), false;
  }
  if (!o->title || o->title->empty()) return QQAPI_LOG("param error: title is nil"), false;
  if (!link || !link->url || link->url->empty()) return QQAPI_LOG("param error: url is nil"), false;
  if (os::utf16Length(*link->url) >= kQQApiURLMax + 1) return QQAPI_LOG("param error: url is too long"), false;
  return true;
}

std::int32_t QQApi::sendMessage(const std::shared_ptr<QQApiMessage>& message) {
  const QQApiObject* o = message ? message->object.get() : nullptr;
  const std::string kind = kindOf(o);

  if (dynamic_cast<const QQApiWPAObject*>(o)) {
    if (isQQSupportApiForWPA()) {
      if (QQOpenApiUtility::openURL(QQApiMessageUtil::URLWithMessage(message)) == 0) return EQQAPISENDSUCESS;
    }
    QQOpenApiUtility::openURL(getQQInstallURL());
    return EQQAPIQQNOTSUPPORTAPI;
  }
  if (!isQQInstalled()) return isLink(o) ? QQWebViewKit::openWebQQShare(message) : EQQAPIQQNOTINSTALLED;
  if (kind == "QQApiPayObject") {
    if (!isQQSupportApiForWallet()) return EQQAPIQQNOTSUPPORTAPI;
  } else if (!isQQSupportApi()) {
    return isLink(o) ? QQWebViewKit::openWebQQShare(message) : EQQAPIQQNOTSUPPORTAPI;
  }
  if (!QQApiDatastore::instance().scheme) return EQQAPIAPPNOTREGISTED;
  const std::uint32_t type = message ? message->type : 0;
  if (type != 2 && type != 4 && type != 5 && type != 7) {
    QQAPI_LOG("parame error: illegal message type");
    return EQQAPIMESSAGETYPEINVALID;
  }
  if (!o) {
    QQAPI_LOG("param error: nil object");
    return EQQAPIMESSAGECONTENTNULL;
  }
  if (type == 7) {
    if (!isLink(o)) {
      QQAPI_LOG("param error:qzone not support type");
      if (kind == "QQApiTextObject") return EQQAPIQZONENOTSUPPORTTEXT;
      if (kind == "QQApiImageObject") return EQQAPIQZONENOTSUPPORTIMAGE;
      return EQQAPIQQNOTSUPPORTAPI;
    }
    if (!isQQSupportQZoneShare()) return QQWebViewKit::openWebQQShare(message);
  }
  const bool allowed = kind == "QQApiTextObject" || kind == "QQApiExtendObject" || kind == "QQApiImageObject" || isLink(o) ||
                       dynamic_cast<const QQApiCommonContentObject*>(o) || dynamic_cast<const QQApiPayObject*>(o);
  if (!allowed) {
    QQAPI_LOG("param error: illegal object type");
    return EQQAPIMESSAGECONTENTINVALID;
  }
  if (const auto* link = dynamic_cast<const QQApiURLObject*>(o)) {
    if (!checkQQApiURLMessage(message)) return EQQAPIMESSAGECONTENTINVALID;
    if (!message->isAssociatedWithTask() && link->previewImageURL && !link->previewImageData) {
      QQApiTaskDownloadURLObjectPreviewData::initWithURLMessage(message)->postOnMainThread();
      return EQQAPIMESSAGEPREVIEWLOADING;
    }
  }
  const auto url = QQApiMessageUtil::URLWithMessage(message, o);
  if (!url) {
    QQAPI_LOG("param error: illegal object param");
    return EQQAPIMESSAGECONTENTINVALID;
  }
  return QQOpenApiUtility::openURL(*url) == 0 ? EQQAPISENDSUCESS : EQQAPISENDFAILD;
}

std::shared_ptr<QQApiMessage> QQApi::handleOpenURL(const std::optional<std::string>& url) {
  return QQApiMessageUtil::messageWithURL(url);
}

std::vector<std::shared_ptr<QQApiAdItem>> QQApi::getAdItemArray() { return QQApiDatastore::instance().getAdItemArray(); }

bool QQApi::isQQInstalled() { return QQOpenApiUtility::canOpenURL("mqq://"); }

void QQApi::getQQUinOnlineStatues(const std::vector<std::string>& uins, std::weak_ptr<QQApiInterfaceDelegate> delegate) {
  QQApiTaskGetQQUinOnlineStatues::initWithQQUins(uins, std::move(delegate))->postOnMainThread();
}

bool QQApi::isQQSupportQZoneShare() { return QQOpenApiUtility::canOpenURL("mqqopensdkapiV2://"); }
bool QQApi::isQQSupportApi() { return QQOpenApiUtility::canOpenURL("mqqapi://"); }
bool QQApi::isQQSupportApiForWallet() { return QQOpenApiUtility::canOpenURL("mqqapiwallet://"); }
bool QQApi::isQQSupportApiForWPA() { return QQOpenApiUtility::canOpenURL("mqqwpa://"); }
std::string QQApi::getQQInstallURL() { return QQApiDatastore::instance().endpoints.appStoreAddress; }

bool QQApi::openQQApp() {
  return QQOpenApiUtility::openURL("mqq://sourceScheme=" + os::percentEscape(QQApiDatastore::instance().scheme.value_or(""))) == 0;
}

// ---- QQApiInterface ----

void QQApiInterface::showMessageRequestFromQQ(const std::shared_ptr<QQApiObject>& object, QQApiInterfaceDelegate& delegate) {
  delegate.onReq(ShowMessageFromQQReq::reqWithContent(object));
}

void QQApiInterface::getMessageRequestFromQQ(QQApiInterfaceDelegate& delegate) { delegate.onReq(GetMessageFromQQReq::req()); }

std::int32_t QQApiInterface::SendMessageToQQRequest(const std::shared_ptr<QQApiMessage>& m) { return QQApi::sendMessage(m); }
std::int32_t QQApiInterface::responseToGetMessageFromQQ(const std::shared_ptr<QQApiMessage>& m) { return QQApi::sendMessage(m); }
std::int32_t QQApiInterface::responseToShowMessageFromQQ(const std::shared_ptr<QQApiMessage>& m) { return QQApi::sendMessage(m); }

bool QQApiInterface::responseToSendMessageToQQ(const std::shared_ptr<QQApiObject>& object, QQApiInterfaceDelegate* delegate) {
  if (kindOf(object.get()) != "QQApiResultObject") return false;
  const auto& result = static_cast<const QQApiResultObject&>(*object);
  if (delegate) delegate->onResp(SendMessageToQQResp::respWithResult(result.error, result.errorDescription, result.extendInfo));
  return true;
}

bool QQApiInterface::handleOpenURL(const std::optional<std::string>& url, QQApiInterfaceDelegate* delegate) {
  auto message = QQApi::handleOpenURL(url);
  if (!message) return false;
  switch (message->type) {
    case 1:
      if (delegate) showMessageRequestFromQQ(message->object, *delegate);
      return true;
    case 3:
      if (delegate) getMessageRequestFromQQ(*delegate);
      return true;
    case 6: return responseToSendMessageToQQ(message->object, delegate);
    case 2: return responseToShowMessageFromQQ(message) == 0;
    case 4: return responseToGetMessageFromQQ(message) == 0;
    case 5: return SendMessageToQQRequest(message) == 0;
    default: return false;
  }
}

namespace {

std::shared_ptr<QQApiMessage> shareMessage(const SendMessageToQQReq& req, std::uint32_t type) {
  auto message = QQApiMessage::messageWithObject(req.message, type);
  message->laterSend = req.laterSend;
  return message;
}

}  // namespace

std::int32_t QQApiInterface::sendMessageToQQWithReq(const std::shared_ptr<QQBaseReq>& req) {
  if (!req || std::string(req->className()) != "SendMessageToQQReq") return -1;
  return SendMessageToQQRequest(shareMessage(static_cast<SendMessageToQQReq&>(*req), 5));
}

std::int32_t QQApiInterface::sendMessageToQQQZoneWithReq(const std::shared_ptr<QQBaseReq>& req) {
  if (!req || std::string(req->className()) != "SendMessageToQQReq") return -1;
  return SendMessageToQQRequest(shareMessage(static_cast<SendMessageToQQReq&>(*req), 7));
}

std::int32_t QQApiInterface::sendReq(const std::shared_ptr<QQBaseReq>& req) {
  if (!req || req->type != 1) return -1;
  return sendMessageToQQWithReq(req);
}

std::int32_t QQApiInterface::SendReqToQZone(const std::shared_ptr<QQBaseReq>& req) {
  if (!req || req->type != 1) return -1;
  return sendMessageToQQQZoneWithReq(req);
}

std::int32_t QQApiInterface::sendGetMessageFromQQResp(const std::shared_ptr<QQBaseResp>& resp) {
  if (!resp || std::string(resp->className()) != "GetMessageFromQQResp") return -1;
  return responseToGetMessageFromQQ(QQApiMessage::messageWithObject(static_cast<GetMessageFromQQResp&>(*resp).message, 4));
}

std::int32_t QQApiInterface::sendShowMessageFromQQResp(const std::shared_ptr<QQBaseResp>& resp) {
  if (!resp || std::string(resp->className()) != "ShowMessageFromQQResp") return -1;
  auto result = std::make_shared<QQApiResultObject>();
  result->error = resp->result;
  result->errorDescription = resp->errorDescription;
  return responseToShowMessageFromQQ(QQApiMessage::messageWithObject(result, 2));
}

std::int32_t QQApiInterface::sendResp(const std::shared_ptr<QQBaseResp>& resp) {
  if (!resp) return -1;
  if (resp->type == 0) return sendShowMessageFromQQResp(resp);
  if (resp->type == 1) return sendGetMessageFromQQResp(resp);
  return -1;
}
