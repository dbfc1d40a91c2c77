#include "news/article/VXShareHelper.h"

#include "news/api/VXGlobalHelper.h"
#include "news/api/VXReaderContext.h"
#include "news/api/VXServiceKeys.h"
#include "os/graphics/Image.h"
#include "os/views/NamedImage.h"
#include "os/views/View.h"
#include "os/views/ViewController.h"
#include "sharing/handlers/OBSocialQQHandler.h"
#include "sharing/handlers/OBSocialSinaHandler.h"
#include "sharing/handlers/OBSocialWechatHandler.h"
#include "sharing/service/OBSocialSnsPlatformNames.h"
#include "sharing/service/OBSocialSnsService.h"
#include "ui/images/BNImageCache.h"

namespace {
bool missing(const os::Value& value) {
  const std::string* text = value.string();
  return !text || text->empty();
}
}  // namespace

std::shared_ptr<VXShareHelper> VXShareHelper::share() {
  return VXReaderContext::current()->shareHelper.get([] { return std::make_shared<VXShareHelper>(); });
}

const std::vector<std::string>& VXShareHelper::platforms() {
  static const std::vector<std::string> names{OBShareToWechatSession, OBShareToWechatTimeline, OBShareToQQ,
                                              OBShareToQzone,         OBShareToSina,           OBShareToRenren,
                                              OBShareToDouban};
  return names;
}

std::string VXShareHelper::shareText(const std::string& title, const std::string& link) { return title + link; }

std::shared_ptr<os::Image> VXShareHelper::shareImage(const os::Value& iconUrl) {
  if (!missing(iconUrl)) {
    if (auto cached = BNImageCache::sharedImageCache()->imageFromDiskCacheForKey(*iconUrl.string())) return cached;
  }
  return os::imageNamed("Icon");
}

void VXShareHelper::socialShare(const os::Value& link, const os::Value& title, const os::Value& iconUrl,
                                const std::shared_ptr<os::ViewController>& vc) {
  if (!vc) return;
  if (missing(link)) {
    VXGlobalHelper::share().showHud("数据异常，检查网络", vc->view(), true);
    return;
  }
  if (missing(title)) {
    VXGlobalHelper::share().showHud("标题异常，检查网络", vc->view(), true);
    return;
  }
  const std::string& url = *link.string();
  std::string text = shareText(*title.string(), url);
  auto image = shareImage(iconUrl);
  OBSocialWechatHandler::setWXAppId(kWXAppId, kWXAppSecret, url);
  OBSocialQQHandler::setQQWithAppId(std::string(kQQAppId), std::string(kQQAppKey), url);
  OBSocialSinaHandler::openSSOWithRedirectURL(kSinaRedirectURL);
  OBSocialSnsService::presentSnsIconSheetView(vc, std::string(OMBRA_KEY), text, image, platforms(), share());
}
