#include "sharing/service/OBSocialJobFactory.h"

#include "os/core/Date.h"
#include "os/core/Log.h"
#include "os/core/String.h"
#include "os/graphics/Image.h"
#include "os/graphics/ImageCodec.h"
#include "sharing/handlers/OBSocialQQHandler.h"
#include "sharing/service/OBSBarEntity.h"
#include "sharing/service/OBSCommentEntity.h"
#include "sharing/service/OBSDataManager.h"
#include "sharing/service/OBSDataManagerSet.h"
#include "sharing/service/OBSProtocol.h"
#include "sharing/service/OBSUserManager.h"
#include "sharing/service/OBSocialAccountEntity.h"
#include "sharing/service/OBSocialContext.h"
#include "sharing/service/OBSocialSnsPlatformManagerInternal.h"
#include "sharing/service/OBUtils.h"

namespace {

std::string text(const os::Dictionary& values, const char* key) { return values[key].stringOr(); }

std::optional<os::Data> imageBytes(const std::shared_ptr<os::Image>& image) {
  if (!image) return std::nullopt;
  return os::encodeJPEG(*image, 0.75);
}

std::string nowMilliseconds() {
  return std::to_string(static_cast<long long>(os::Date::now().timeIntervalSince1970() * 1000));
}

// A path segment: escaped, so a value from the service cannot add segments or a query.
std::string segment(const std::string& value) { return OBUtils::urlEncode(value); }

std::shared_ptr<OBSDataManager> manager() { return OBSDataManager::currentDataManager(); }

std::optional<std::string> usidOf(const std::string& platformName) {
  auto account = OBSUserManager::shareInstance()->accountForPlatform(platformName);
  if (!account || !account->usid) return std::nullopt;
  return account->usid;
}

void refused(std::int32_t action, const char* what) {
  OBUtils::outLogf("action %d needs %s, which the reader does not have; nothing is sent", action, what);
}

}  // namespace

std::shared_ptr<OBSocialJobFactory> OBSocialJobFactory::sharedInstance() {
  return OBSocialContext::shared<OBSocialJobFactory>();
}

std::string OBSocialJobFactory::getEntityKey() {
  auto bar = manager()->barEntity();
  return bar && bar->entityKey ? *bar->entityKey : "-1";
}

std::shared_ptr<OBSocialJob> OBSocialJobFactory::createVirtualSocialJob(std::int32_t action, const OBSocialJobParams& params) {
  auto job = std::make_shared<OBSocialJob>();
  job->actionType = action;
  job->paramDic = params;
  return job;
}

std::shared_ptr<OBSocialJob> OBSocialJobFactory::createSocialJob(std::int32_t action, const OBSocialJobParams& params) {
  auto job = std::make_shared<OBSocialJob>();
  job->actionType = action;
  job->paramDic = params;
  job->completion = params.completion;
  if (!build(*job, false)) return nullptr;
  return job;
}

bool OBSocialJobFactory::updateJob(OBSocialJob& job) { return build(job, job.actionType == 3); }

bool OBSocialJobFactory::build(OBSocialJob& job, bool keepPath) {
  const std::string appkey = OBSDataManagerSet::shareInstance()->appkey();
  if (appkey.empty()) {
    os::log(kOBSocialMissingAppKeyMessage);
    return false;
  }
  auto users = OBSUserManager::shareInstance();
  const std::optional<std::string> uid = users->uid();
  OBUtils::outLogf("createSocialAction uid is %s", uid ? uid->c_str() : "(null)");

  const os::Dictionary& values = job.paramDic.values;
  const std::string ak = segment(appkey);
  const std::string name = text(values, "displayName");
  auto protocol = OBSProtocol::sharedInstance();
  auto base = [&] { return protocol->baseDictionary(); };
  auto query = [&] { return protocol->baseString(); };

  std::optional<std::string> path;
  std::optional<os::Dictionary> body;
  int way = OBSocialNetworkTypeNone;
  auto postWithPicture = [&](os::Dictionary dictionary) {
    way = dictionary.contains("pic") ? OBSocialNetworkTypeMultipart : OBSocialNetworkTypePost;
    body = std::move(dictionary);
  };

  switch (job.actionType) {
    case 0:
      path = "comment/add/" + ak + "/" + segment(getEntityKey()) + "/";
      postWithPicture(getPostCommentBaseDictionary(job.paramDic));
      break;
    case 1:
      path = "like/update/" + ak + "/" + segment(getEntityKey()) + "/";
      body = getPostLikeBaseDictionary(text(values, "like"));
      way = OBSocialNetworkTypePost;
      break;
    case 2: {
      auto bar = manager()->barEntity();
      std::string lct = values["lastCommentTime"].isString() ? text(values, "lastCommentTime") : "-1";
      path = "comment/get/" + ak + "/" + segment(getEntityKey()) + "/?" + query() +
             OBSQueryAnsweredPair("sid", bar && bar->sessionId ? *bar->sessionId : "") + OBSQueryPair("lct", lct) +
             OBSQueryPair("opid", "2");
      way = OBSocialNetworkTypeGet;
      break;
    }
    case 3: {
      if (keepPath && job.pathString) {
        path = job.pathString;
      } else {
        // The descriptor arrives escaped already.
        std::string q = query() + "&dc=" + text(values, "descriptor") + OBSQueryPair("ni", protocol->firstUse()) +
                        OBSQueryPair("opid", "1");
        if (values["title"].isString()) q += OBSQueryPair("name", text(values, "title"));
        path = "bar/get/" + ak + "/?" + q;
      }
      way = OBSocialNetworkTypeGet;
      break;
    }
    case 4:
      path = "share/add/" + ak + "/" + segment(getEntityKey()) + "/";
      postWithPicture(getPostShareBaseDictionary(text(values, "snsType")));
      break;
    case 5:
      path = "share/multi_add/" + ak + "/" + segment(getEntityKey()) + "/";
      postWithPicture(getPostShareMultiBaseDictionary(job.paramDic));
      break;
    case 6:
      path = "comment/binding/" + ak + "/";
      body = getBindingBaseDictionary(name);
      way = OBSocialNetworkTypePost;
      break;
    case 7: {
      path = "comment/unbinding/" + ak + "/";
      os::Dictionary d = base();
      if (uid)
        d.set("uid", os::Value(*uid));
      else
        d.remove("uid");
      d.set("opid", os::Value("16"));
      body = std::move(d);
      way = OBSocialNetworkTypePost;
      break;
    }
    case 8: {
      path = "share/auth_delete/" + ak + "/";
      os::Dictionary d = base();
      d.set("opid", os::Value("15"));
      if (uid) d.set("uid", os::Value(*uid));
      d.set("via", os::Value(name));
      body = std::move(d);
      way = OBSocialNetworkTypePost;
      break;
    }
    case 9:
      path = "share/auth/" + ak + "/" + segment(getEntityKey()) + "?" + query() + OBSQueryPair("via", name) +
             OBSQueryPair("opid", "10");
      body = base();
      way = OBSocialNetworkTypeNone;
      break;
    case 10:
      if (!uid) return refused(10, "a service user id"), false;
      path = "user/profile/get/" + ak + "/" + segment(*uid) + "/?" + query();
      way = OBSocialNetworkTypeGet;
      break;
    case 11:
    case 12: {
      auto usid = usidOf(name);
      if (!usid) return refused(job.actionType, "an account of the platform"), false;
      if (job.actionType == 11)
        path = "share/userinfo/" + ak + "/" + segment(*usid) + "/?" + query() + OBSQueryPair("sns", name) +
               OBSQueryPair("opid", "12");
      else
        path = "share/friends/" + ak + "/" + segment(*usid) + "/?" + query() + OBSQueryPair("to", name);
      way = OBSocialNetworkTypeGet;
      break;
    }
    case 13: {
      auto usid = usidOf(name);
      if (!usid) return refused(13, "an account of the platform"), false;
      path = "share/follow/" + ak + "/" + segment(*usid) + "/";
      os::Dictionary d = base();
      d.set("fusid", os::Value(text(values, "fusid")));
      d.set("to", os::Value(name));
      body = std::move(d);
      way = OBSocialNetworkTypePost;
      break;
    }
    case 14: {
      if (!uid) return refused(14, "a service user id"), false;
      if (!job.paramDic.customAccount) return refused(14, "a custom account"), false;
      const auto& account = *job.paramDic.customAccount;
      path = "/user/custom_account/" + ak + "/" + segment(*uid) + "/";
      os::Dictionary d = base();
      d.set("username", os::Value(account.userName));
      if (account.usid) d.set("usid", os::Value(*account.usid));
      if (account.gender && *account.gender == OBSCustomAccountGenderMale)
        d.set("gender", os::Value("1"));
      else if (account.gender && *account.gender == OBSCustomAccountGenderFeMale)
        d.set("gender", os::Value("0"));
      else if (account.gender && !account.gender->empty())
        os::log("add custom account gender error!");
      if (account.birthday) d.set("birthday", os::Value(os::Value(*account.birthday).description()));
      if (account.customData)
        if (auto json = OBUtils::JSONFragment(os::Value(*account.customData))) d.set("extend", os::Value(*json));
      if (account.iconUrl) d.set("icon", os::Value(*account.iconUrl));
      body = std::move(d);
      way = OBSocialNetworkTypePost;
      break;
    }
    case 15: {
      if (!job.paramDic.snsAccount) return refused(15, "an account"), false;
      const auto& account = *job.paramDic.snsAccount;
      const std::string platform = account.platformName.value_or("");
      path = "/share/token/" + ak + "/";
      os::Dictionary d = base();
      d.set("to", os::Value(platform));
      if (account.accessToken)
        d.set("access_token", os::Value(*account.accessToken));
      else
        os::log("You must set accessToken!");
      if (account.usid)
        d.set("usid", os::Value(*account.usid));
      else if (platform == "sina")
        os::log("You must set usid if you use a sina weibo account!");
      if (account.openId) {
        d.set("openid", os::Value(*account.openId));
        d.set("usid", os::Value(*account.openId));
      } else if (platform == "velmora" || platform == "qzone") {
        os::log("you must set openid if you usd a velmora weibo or qzone account!");
      }
      if (account.expirationDate) {
        // Saturated, as a number value reads: a token that outlasts the integer's range goes up as
        // the longest lifetime, never as one long past.
        const double left = account.expirationDate->timeIntervalSince1970() - os::Date::now().timeIntervalSince1970();
        d.set("expires_in", os::Value(std::to_string(os::Value(left).intValue())));
      }
      if (account.refreshToken) d.set("refresh_token", os::Value(*account.refreshToken));
      if (platform == "qzone" || platform == "qq") {
        // The service checks a QQ token against the application it was issued to.
        auto qq = OBSocialQQHandler::shareInstance();
        if (qq->qqAppId) d.set("app_id", os::Value(*qq->qqAppId));
        if (qq->qqAppKey) d.set("app_secret", os::Value(*qq->qqAppKey));
      }
      body = std::move(d);
      way = OBSocialNetworkTypePost;
      break;
    }
    case 16:
      path = "/share/keysecret/" + ak + "/?" + query();
      way = OBSocialNetworkTypeGet;
      break;
    case 17:
      path = "share/validate_token/" + ak + "/?" + query() + OBSQueryPair("platforms", text(values, "platforms"));
      way = OBSocialNetworkTypeGet;
      break;
    case 18: {
      path = "/app/oper/" + ak + "/";
      os::Dictionary d;
      if (auto json = OBUtils::JSONFragment(values["opDic"])) d.set("param", os::Value(*json));
      if (uid) d.set("uid", os::Value(*uid));
      body = std::move(d);
      way = OBSocialNetworkTypePost;
      break;
    }
    case 19: {
      path = "/share/keysecret/" + ak + "/";
      os::Dictionary d = base();
      if (auto info = values["appInfo"].dictionary())
        for (const auto& [key, value] : *info) d.set(key, value);
      // The key read backwards, character by character.
      std::u32string reversed;
      for (std::size_t i = 0; i < appkey.size();) {
        std::size_t length = 1;
        reversed.insert(reversed.begin(), os::decodeUTF8At(appkey, i, &length));
        i += length;
      }
      std::string secret;
      for (char32_t c : reversed) os::appendUTF8(secret, c);
      d.set("ombra_secret", os::Value(secret));
      body = std::move(d);
      way = OBSocialNetworkTypePost;
      break;
    }
    default:
      break;
  }
  job.pathString = std::move(path);
  job.baseDic = std::move(body);
  job.networkType = way;
  return true;
}

os::Dictionary OBSocialJobFactory::getPostCommentBaseDictionary(const OBSocialJobParams& params) {
  auto data = manager();
  auto users = OBSUserManager::shareInstance();
  os::Dictionary d = OBSProtocol::sharedInstance()->baseDictionary();
  d.set("opid", os::Value("5"));
  auto bar = data->barEntity();
  const auto* post = params.commentPost.get();
  auto comment = post ? post->comment : data->currentComment;
  if (comment && comment->location) d.set("lc", os::Value(OBSocialLocationText(*comment->location)));
  os::Dictionary shareTo = post ? post->shareTo : users->commentShareAccountDic();
  if (!shareTo.empty())
    if (auto json = OBUtils::JSONFragment(os::Value(shareTo))) d.set("sns", os::Value(*json));
  if (comment && comment->content) d.set("ct", os::Value(*comment->content));
  auto templateText = post ? post->templateText : (bar ? bar->commentText : std::nullopt);
  auto image = post ? post->image : (bar ? bar->commentImage : nullptr);
  if (templateText) d.set("tpt", os::Value(*templateText));
  if (image && (!shareTo.empty() || OBSProtocol::sharedInstance()->typeString() == "1"))
    if (auto bytes = imageBytes(image)) d.set("pic", os::Value(*bytes));
  d.set("dt", os::Value(nowMilliseconds()));
  return d;
}

os::Dictionary OBSocialJobFactory::getPostLikeBaseDictionary(const std::string& like) {
  os::Dictionary d = OBSProtocol::sharedInstance()->baseDictionary();
  d.set("opid", os::Value("6"));
  auto bar = manager()->barEntity();
  d.set("sid", os::Value(bar && bar->sessionId ? *bar->sessionId : ""));
  if (auto uid = OBSUserManager::shareInstance()->uid()) d.set("uid", os::Value(*uid));
  d.set("st", os::Value(like));
  return d;
}

os::Dictionary OBSocialJobFactory::getPostShareBaseDictionary(const std::string& platformName) {
  auto data = manager();
  os::Dictionary d = OBSProtocol::sharedInstance()->baseDictionary();
  d.set("opid", os::Value("9"));
  auto bar = data->barEntity();
  auto own = bar ? bar->getSnsData(platformName) : nullptr;
  if (own && own->shareText)
    d.set("ct", os::Value(*own->shareText));
  else if (data->snsEntity && data->snsEntity->shareText)
    d.set("ct", os::Value(*data->snsEntity->shareText));
  if (bar && bar->shareImage && data->snsEntity && data->snsEntity->isSendImage)
    if (auto bytes = imageBytes(bar->shareImage)) d.set("pic", os::Value(*bytes));
  if (data->snsEntity && data->snsEntity->location) d.set("lc", os::Value(OBSocialLocationText(*data->snsEntity->location)));
  d.set("to", os::Value(platformName));
  if (auto usid = usidOf(platformName)) d.set("usid", os::Value(*usid));
  OBUtils::outLogf("share's baseDic is %s", os::Value(d).description().c_str());
  return d;
}

os::Dictionary OBSocialJobFactory::getPostShareMultiBaseDictionary(const OBSocialJobParams& params) {
  auto data = manager();
  auto sns = params.snsEntity ? params.snsEntity : data->snsEntity ? data->snsEntity : std::make_shared<OBSSNSEntity>();
  auto bar = data->barEntity();
  os::Dictionary d = OBSProtocol::sharedInstance()->baseDictionary();
  d.set("opid", os::Value("17"));
  if (sns->shareText) d.set("ct", os::Value(*sns->shareText));
  if (sns->shareImage && sns->isSendImage)
    if (auto bytes = imageBytes(sns->shareImage)) d.set("pic", os::Value(*bytes));
  if (sns->isSendUrlResource && sns->urlResource && sns->urlResource->resourceType != 0) {
    d.set("furl", os::Value(sns->urlResource->url.value_or("")));
    d.set("ftype", os::Value(std::to_string(sns->urlResource->resourceType - 1)));
    auto velmora = bar && bar->extConfig ? bar->extConfig->velmoraData : nullptr;
    if (velmora && velmora->title) d.set("title", os::Value(*velmora->title));
    if (velmora && velmora->author) d.set("author", os::Value(*velmora->author));
  }
  if (sns->location) d.set("lc", os::Value(OBSocialLocationText(*sns->location)));
  auto renren = bar && bar->extConfig ? bar->extConfig->renrenData : nullptr;
  if (renren && (renren->url || renren->appName)) {
    os::Dictionary ext;
    if (renren->url) ext.set("app_website", os::Value(*renren->url));
    if (renren->appName) ext.set("app_name", os::Value(*renren->appName));
    if (auto json = OBUtils::JSONFragment(os::Value(std::move(ext)))) d.set("ext", os::Value(*json));
  }
  d.set("type", os::Value(sns->isShake ? "shake" : "common"));
  if (auto version = OBSDataManagerSet::shareInstance()->cocos2dxVersion()) d.set("Cocos2d-x", os::Value(*version));
  os::Dictionary targets;
  if (auto names = params.values["snsNames"].array()) {
    for (const auto& entry : *names) {
      const std::string name = entry.stringOr();
      int type = OBSocialSnsPlatformManagerInternal::getSnsPlatformType(name);
      bool throughApplication = (type != 0 && (type < 11 || type > 14)) || name == "wxsession" || name == "wxtimeline";
      if (throughApplication) {
        targets.set(name, os::Value(""));
        d.set("tp", os::Value("1"));
      } else if (auto usid = usidOf(name)) {
        targets.set(name, os::Value(*usid));
      }
    }
  }
  if (auto json = OBUtils::JSONFragment(os::Value(std::move(targets)))) d.set("sns", os::Value(*json));
  return d;
}

os::Dictionary OBSocialJobFactory::getBindingBaseDictionary(const std::string& platformName) {
  os::Dictionary d = OBSProtocol::sharedInstance()->baseDictionary();
  d.set("opid", os::Value("13"));
  if (auto uid = OBSUserManager::shareInstance()->uid()) d.set("uid", os::Value(*uid));
  if (OBSocialSnsPlatformManagerInternal::isRegisteredPlatform(platformName)) d.set("sns", os::Value(platformName));
  return d;
}
