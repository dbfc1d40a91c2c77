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

std::shared_ptr<VXShareHelper> VXShareHelper::share() { return share(*VXReaderContext::current()); }

std::shared_ptr<VXShareHelper> VXShareHelper::share(VXReaderContext& context) {
  return context.shareHelper.get([&] { return std::make_shared<VXShareHelper>(context.weak_from_this()); });
}

void VXShareHelper::showHud(const std::string& text, const std::shared_ptr<os::ViewController>& vc) const {
  if (auto context = context_.lock()) VXGlobalHelper::share(*context).showHud(text, vc->view(), true);
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
    showHud("数据异常，检查网络", vc);
    return;
  }
  if (missing(title)) {
    showHud("标题异常，检查网络", vc);
    return;
  }
  const std::string& url = *link.string();
  std::string text = shareText(*title.string(), url);
  auto image = shareImage(iconUrl);
  OBSocialWechatHandler::setWXAppId(kWXAppId, kWXAppSecret, url);
  OBSocialQQHandler::setQQWithAppId(std::string(kQQAppId), std::string(kQQAppKey), url);
  OBSocialSinaHandler::openSSOWithRedirectURL(kSinaRedirectURL);
  OBSocialSnsService::presentSnsIconSheetView(vc, std::string(OMBRA_KEY), text, image, platforms(), shared_from_this());
}
