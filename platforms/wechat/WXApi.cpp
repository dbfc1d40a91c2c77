#include "platforms/wechat/WXApi.h"

#include "os/core/String.h"
#include "os/views/Application.h"
#include "platforms/wechat/AppCommunicate.h"
#include "platforms/wechat/AppCommunicateData.h"
#include "platforms/wechat/MMApiRegister.h"
#include "platforms/wechat/URLArgumentsAdditions.h"
#include "platforms/wechat/WeChatApiUtil.h"

namespace {

constexpr std::size_t kUsernameLimit = 1024;
constexpr std::size_t kExtMsgLimit = 2048;

bool nonEmpty(const WXOptionalString& s) { return s && !s->empty(); }
std::size_t length(const WXOptionalString& s) { return s ? os::utf16Length(*s) : 0; }
std::string escaped(const WXOptionalString& s) { return xtm_stringByEscapingForURLArgument(s.value_or("")); }

WXOptionalString stringIn(const os::Dictionary& d, const char* key) {
  if (const std::string* s = d[key].string()) return *s;
  return std::nullopt;
}

}  // namespace

struct WXApi::State {
  std::string appId;
  WXOptionalString conversationAccount;
};

WXApi::State& WXApi::state() {
  static State s;
  return s;
}

bool WXApi::open(const std::optional<os::URL>& url) {
  auto app = os::Application::shared();
  return url && app && app->openURL(*url);
}

bool WXApi::registerApp(const std::string& appId) { return registerApp(appId, std::nullopt); }

bool WXApi::registerApp(const std::string& appId, const std::optional<std::string>& description) {
  if (appId.empty()) return false;
  state().appId = appId;
  return MMApiRegister::registerApp(appId, description);
}

bool WXApi::isWXAppInstalled() {
  auto app = os::Application::shared();
  auto url = WeChatApiUtil::getWeChatUrl(state().appId);
  return app && url && app->canOpenURL(*url);
}

bool WXApi::isWXAppSupportApi() { return WeChatApiUtil::isWXAppSupportApi(); }

std::string WXApi::getWXAppInstallUrl() { return "http://apps.store.example.com/cn/app/id414478124?mt=8"; }

std::string WXApi::getApiVersion() { return kWXApiVersion; }

bool WXApi::openWXApp() {
  state().conversationAccount.reset();
  return open(WeChatApiUtil::getWeChatUrl(state().appId));
}

os::Dictionary WXApi::parseURLParams(const std::optional<std::string>& query) {
  os::Dictionary params;
  if (!query) return params;
  for (const std::string& piece : os::split(*query, "&")) {
    auto parts = os::split(piece, "=");
    if (parts.size() < 2) continue;
    params.set(parts[0], os::Value(parts[1]));
  }
  return params;
}

bool WXApi::handleAuthOpenUrl(const os::URL& url, WXApiDelegate* delegate) {
  const std::string& appId = state().appId;
  if (appId.empty() || !os::hasPrefix(url.absoluteString(), appId + "://oauth")) return false;
  os::Dictionary params = parseURLParams(url.query());
  auto resp = std::make_shared<SendAuthResp>();
  auto code = stringIn(params, "code");
  // An empty code grants nothing to exchange: as good as none.
  if (!code || code->empty()) {
    resp->setErrCode(WXErrCodeCommon);
  } else if (*code == "authdeny") {
    resp->setErrCode(WXErrCodeAuthDeny);
  } else {
    resp->setErrCode(WXSuccess);
    resp->setCode(code);
  }
  resp->setErrStr(stringIn(params, "reason"));
  resp->setState(stringIn(params, "state"));
  resp->setLang(stringIn(params, "lang"));
  resp->setCountry(stringIn(params, "country"));
  if (delegate) delegate->onResp(resp);
  return true;
}

bool WXApi::handlePayOpenUrl(const os::URL& url, WXApiDelegate* delegate) {
  const std::string& appId = state().appId;
  const std::string prefix = appId + "://pay/";
  if (appId.empty() || !os::hasPrefix(url.absoluteString(), prefix) || url.absoluteString().size() <= prefix.size())
    return false;
  os::Dictionary params = parseURLParams(url.query());
  auto resp = std::make_shared<PayResp>();
  resp->setReturnKey(stringIn(params, "returnKey"));
  // A payment answer that names no result is no success.
  resp->setErrCode(WXReadResultCode(params.find("ret")).value_or(WXErrCodeCommon));
  resp->setErrStr(stringIn(params, "notifyStr"));
  if (delegate) delegate->onResp(resp);
  return true;
}

bool WXApi::handleOpenURL(const os::URL& url, WXApiDelegate* delegate) {
  if (!delegate) return false;
  if (handleAuthOpenUrl(url, delegate) || handlePayOpenUrl(url, delegate)) return true;
  const std::string& appId = state().appId;
  if (!WeChatApiUtil::isAppOpenUrl(url, appId)) return false;
  auto record = AppCommunicate::appCommunicateDataForAppID(appId);
  if (!record) return false;
  state().conversationAccount = record->conversationAccount();

  switch (record->command()) {
    case WXCommandMediaMessage: {
      auto req = std::dynamic_pointer_cast<ShowMessageFromWXReq>(record->dataToReq());
      if (!req) return false;
      delegate->onReq(req);
      return true;
    }
    case WXCommandGetMessageReq: {
      auto req = std::dynamic_pointer_cast<GetMessageFromWXReq>(record->dataToReq());
      if (!req) return false;
      delegate->onReq(req);
      return true;
    }
    case WXCommandLaunchReq: {
      auto req = std::dynamic_pointer_cast<LaunchFromWXReq>(record->dataToReq());
      if (!req) return false;
      delegate->onReq(req);
      return true;
    }
    case WXCommandSendMessageResp:
    case WXCommandSendMessageRespNoLocale: {
      auto resp = std::dynamic_pointer_cast<SendMessageToWXResp>(record->dataToResp());
      if (!resp) return false;
      delegate->onResp(resp);
      return true;
    }
    case WXCommandAuthResp: {
      auto resp = std::dynamic_pointer_cast<SendAuthResp>(record->dataToResp());
      if (!resp) return false;
      delegate->onResp(resp);
      return true;
    }
    default:
      return true;
  }
}

std::optional<os::URL> WXApi::packReq(const std::shared_ptr<BaseReq>& request) {
  if (!request) return std::nullopt;
  AppCommunicateData record;
  record.setResult(1);
  record.setConversationAccount(state().conversationAccount);
  if (!record.reqToData(request)) return std::nullopt;
  if (!AppCommunicate::setAppCommunicateData(record, state().appId)) return std::nullopt;
  state().conversationAccount.reset();
  return WeChatApiUtil::getWeChatUrl(state().appId, "sendreq/?");
}

std::optional<os::URL> WXApi::packResp(const std::shared_ptr<BaseResp>& response) {
  if (!response) return std::nullopt;
  AppCommunicateData record;
  record.setReturnFromApp(true);
  record.setResult(response->errCode());
  record.setConversationAccount(state().conversationAccount);
  if (!record.respToData(response)) return std::nullopt;
  if (!AppCommunicate::setAppCommunicateData(record, state().appId)) return std::nullopt;
  state().conversationAccount.reset();
  return WeChatApiUtil::getWeChatUrl(state().appId, "sendresp/?");
}

bool WXApi::auth(const std::shared_ptr<SendAuthReq>& request) {
  if (!request) return false;
  std::optional<os::URL> url;
  if (WeChatApiUtil::isiOS7plus()) {
    if (!nonEmpty(request->scope())) return false;
    std::string path = "auth/?scope=" + escaped(request->scope()) + "&state=" + escaped(request->state());
    state().conversationAccount.reset();
    url = WeChatApiUtil::getWeChatUrl(state().appId, path);
  } else {
    url = packReq(request);
  }
  return open(url);
}

bool WXApi::pay(const std::shared_ptr<PayReq>& request) {
  if (!request) return false;
  if (!nonEmpty(request->package()) || !nonEmpty(request->partnerId()) || !nonEmpty(request->prepayId()) ||
      !nonEmpty(request->sign()) || !nonEmpty(request->nonceStr()))
    return false;
  std::string path = "pay/?nonceStr=" + escaped(request->nonceStr()) + "&package=" + escaped(request->package()) +
                     "&partnerId=" + escaped(request->partnerId()) + "&prepayId=" + escaped(request->prepayId()) +
                     "&timeStamp=" + std::to_string(request->timeStamp()) + "&sign=" + escaped(request->sign()) +
                     "&signType=SHA1";
  state().conversationAccount.reset();
  return open(WeChatApiUtil::getWeChatUrl(state().appId, path));
}

// The values go in escaped as query components, so that a "&" or "#" in them cannot add
// arguments of its own or cut the URL short.
bool WXApi::openProfile(const std::shared_ptr<JumpToBizProfile>& request) {
  if (!request) return false;
  if (length(request->username()) > kUsernameLimit || length(request->extMsg()) > kExtMsgLimit ||
      !nonEmpty(request->username()))
    return false;
  std::string path = "openprofile/?username=" + escaped(request->username());
  if (nonEmpty(request->extMsg())) path += "&extmsg=" + escaped(request->extMsg());
  return open(WeChatApiUtil::getWeChatUrl(state().appId, path));
}

bool WXApi::jumpToBizWebview(const std::shared_ptr<JumpToBizWebview>& request) {
  if (!request || request->webType() != 0) return false;
  if (length(request->tousrname()) > kUsernameLimit || length(request->extMsg()) > kExtMsgLimit ||
      !nonEmpty(request->tousrname()))
    return false;
  std::string path = "jumptobizwebview/?webtype=" + std::to_string(request->webType()) +
                     "&tousername=" + escaped(request->tousrname());
  if (nonEmpty(request->extMsg())) path += "&extmsg=" + escaped(request->extMsg());
  return open(WeChatApiUtil::getWeChatUrl(state().appId, path));
}

bool WXApi::sendReq(const std::shared_ptr<BaseReq>& request) {
  if (!request) return false;
  if (auto profile = std::dynamic_pointer_cast<JumpToBizProfile>(request)) return openProfile(profile);
  if (auto webview = std::dynamic_pointer_cast<JumpToBizWebview>(request)) return jumpToBizWebview(webview);
  return open(packReq(request));
}

bool WXApi::sendResp(const std::shared_ptr<BaseResp>& response) { return open(packResp(response)); }

bool WXApi::safeSendReq(const std::shared_ptr<BaseReq>& request) {
  if (auto login = std::dynamic_pointer_cast<SendAuthReq>(request)) return auth(login);
  if (auto payment = std::dynamic_pointer_cast<PayReq>(request)) return pay(payment);
  return false;
}
