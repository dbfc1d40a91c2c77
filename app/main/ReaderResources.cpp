#include "app/main/ReaderResources.h"

#include <cstdio>
#include <cstdlib>
#include <set>

#include "news/api/VXServiceKeys.h"
#include "os/graphics/Image.h"
#include "os/graphics/ImageCodec.h"
#include "os/store/FileManager.h"
#include "os/store/ProvisioningProfile.h"

namespace reader {

namespace {

os::Value urlType(const std::string& name, const std::string& scheme) {
  return os::Value(os::Dictionary{{"CFBundleURLName", os::Value(name)},
                                  {"CFBundleURLSchemes", os::Value(os::Array{os::Value(scheme)})}});
}

// The QQ application knows its plug-ins by "QQ" and the app id in eight hex digits.
std::string qqPluginScheme() {
  char text[16];
  std::snprintf(text, sizeof text, "QQ%08lX", std::strtoul(kQQAppId, nullptr, 10));
  return text;
}

struct Picture {
  std::string path;  // below the bundle, without ".png"
  int width, height;
  std::uint8_t r, g, b;
};

// Plain pictures in the sizes the share screens lay them out at: a colour per platform, the
// small "off" icon grey.
std::vector<Picture> pictures() {
  std::vector<Picture> list;
  const std::string sns = "OBSocialSDKResourcesNew.bundle/SnsPlatform/OBS_";
  struct Platform {
    const char* name;
    std::uint8_t r, g, b;
  };
  const Platform platforms[] = {{"qq", 0x1e, 0x90, 0xff},       {"qzone", 0xf5, 0xb0, 0x1c},   {"sina", 0xe6, 0x16, 0x2d},
                                {"velmora", 0x2a, 0x7a, 0xc0},  {"renren", 0x00, 0x5b, 0xac},  {"douban", 0x00, 0x77, 0x22},
                                {"email", 0x60, 0x70, 0x80},    {"sms", 0x4c, 0xd9, 0x64},     {"facebook", 0x3b, 0x59, 0x98},
                                {"twitter", 0x1d, 0xa1, 0xf2},  {"wechat_session", 0x09, 0xbb, 0x07},
                                {"wechat_timeline", 0x51, 0xc3, 0x32}, {"wechat_favorite", 0xf0, 0xa0, 0x30}};
  for (const auto& p : platforms) {
    list.push_back({sns + p.name + "_icon", 57, 57, p.r, p.g, p.b});
    list.push_back({sns + p.name + "_on", 30, 30, p.r, p.g, p.b});
    list.push_back({sns + p.name + "_off", 30, 30, 0xb4, 0xb4, 0xb4});
  }
  const std::string buttons = "OBSocialSDKResourcesNew.bundle/Buttons/OBS_";
  const std::string other = "OBSocialSDKResourcesNew.bundle/OtherTheme/OBS_";
  const std::vector<Picture> fixed = {
      {buttons + "actionsheet_panel", 320, 60, 0x30, 0x30, 0x30},   {buttons + "comment_input", 300, 30, 0xff, 0xff, 0xff},
      {buttons + "comment_view_cell_white", 320, 45, 0xff, 0xff, 0xff}, {buttons + "nav_bar_bg", 320, 44, 0x2b, 0x3a, 0x28},
      {buttons + "nav_bar_bg_white", 320, 44, 0xfa, 0xfa, 0xfa},    {buttons + "nav_button_back", 50, 30, 0xee, 0xee, 0xee},
      {buttons + "nav_button_close", 50, 30, 0xee, 0xee, 0xee},     {buttons + "nav_button_refresh", 50, 30, 0xee, 0xee, 0xee},
      {buttons + "nav_button_send", 50, 30, 0xee, 0xee, 0xee},      {buttons + "User-Avatar-Placeholder", 35, 35, 0xcc, 0xcc, 0xcc},
      {other + "nav_back_button_normal", 50, 30, 0x44, 0x44, 0x44}, {other + "nav_back_button_tap", 50, 30, 0x22, 0x22, 0x22},
      {other + "nav_bar_bg_black", 320, 44, 0x10, 0x10, 0x10},      {other + "nav_button_normal", 50, 30, 0x44, 0x44, 0x44},
      {"VelmoraOpenApi_IOS_Bundle.bundle/velmoraSDKNavigationBar", 320, 44, 0x2a, 0x7a, 0xc0},
  };
  list.insert(list.end(), fixed.begin(), fixed.end());
  return list;
}

bool writePicture(const std::string& path, const Picture& p, os::Error* error) {
  os::Bitmap bitmap(p.width, p.height);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      std::uint8_t* px = bitmap.pixel(x, y);
      px[0] = p.r;
      px[1] = p.g;
      px[2] = p.b;
      px[3] = 0xff;
    }
  auto png = os::encodePNG(*os::Image::create(std::move(bitmap)));
  return png && os::FileManager::defaultManager().writeData(*png, path, {}, error);
}

// The sharing component's texts, by the keys its screens and handlers look up.
const char* const kStrings = R"(/* Texts of the share screens. */
"qq" = "QQ好友";
"qzone" = "QQ空间";
"qq_account" = "QQ帐号";
"sina" = "新浪微博";
"velmora" = "Velmora";
"renren" = "人人网";
"douban" = "豆瓣";
"wxsession" = "微信好友";
"wxtimeline" = "微信朋友圈";
"wxfavorite" = "微信收藏";
"email" = "邮件";
"sms" = "短信";
"facebook" = "Facebook";
"twitter" = "Twitter";
"mobile_qq" = "手机QQ";
"button_ok" = "确定";
"button_back" = "返回";
"button_close" = "关闭";
"loading" = "加载中...";
"label_request_account" = "正在获取帐号信息";
"oauth_error_title" = "授权失败";
"oauth_error_message" = "授权失败，请稍后重试";
"shareEdit_C" = "其他";
"shareEdit_used" = "最近联系";
"shareEdit_post_finish" = "分享成功";
"button_send" = "发布";
"shareEdit_error_fail" = "分享失败";
"shareEdit_error_auth_expired" = "授权已过期，请重新授权";
"shareEdit_error_no_auth" = "尚未授权";
"shareEdit_error_network_fail_message" = "网络错误，分享失败";
"shareList_title" = "分享到";
"shareQQ_error" = "分享到QQ失败";
"shareQQ_notInstall" = "您的设备没有安装手机QQ";
"shareQQ_openFail" = "无法打开手机QQ";
"share_email_no_osSupport" = "无法发送邮件";
"share_email_no_osSupport_message" = "请先在设备上设置邮件帐户";
"share_sms_no_osSupport" = "无法发送短信";
"share_sms_no_osSupport_message" = "此设备不能发送短信";
"share_facebook_no_osSupport" = "无法分享到Facebook";
"share_facebook_no_osSupport_message" = "此系统版本不支持Facebook分享";
"share_facebook_not_login" = "未登录Facebook";
"share_facebook_not_login_message" = "请先在系统设置中登录Facebook帐户";
)";

}  // namespace

os::Array urlTypes(const std::string& bundleIdentifier) {
  return os::Array{urlType("weixin", kWXAppId),
                   urlType("QQ", qqPluginScheme()),
                   urlType("velmora", std::string("velmora") + kQQAppId),
                   urlType("velmoraApiIdentifier", std::string("velmora") + kQQAppId + ".content"),
                   urlType("sina", "sina." + bundleIdentifier),
                   urlType("renren", std::string("rm") + kRenrenAppId + bundleIdentifier)};
}

bool writeServiceResources(const std::string& bundle, const std::string& bundleIdentifier, os::Error* error) {
  auto& fm = os::FileManager::defaultManager();
  const std::string profile = os::appendingPathComponent(bundle, os::kProvisioningProfileFileName);
  if (!fm.fileExistsAtPath(profile) && !os::writeProvisioningProfile(bundle, bundleIdentifier, kApsEnvironment, error))
    return false;
  const std::string strings = os::appendingPathComponent(bundle, "OBSocialLocalizable.strings");
  if (!fm.fileExistsAtPath(strings) && !fm.writeData(os::dataFromString(kStrings), strings, {}, error)) return false;
  // The resource folders are the reader's own, as the bundle is: what a start killed while drawing
  // their pictures left goes.
  std::set<std::string> folders;
  for (const auto& p : pictures())
    folders.insert(os::deletingLastPathComponent(os::appendingPathComponent(bundle, p.path)));
  for (const std::string& folder : folders) fm.removeAbandonedTemporaryFilesInDirectory(folder);
  for (const auto& p : pictures()) {
    const std::string path = os::appendingPathComponent(bundle, p.path + ".png");
    if (fm.fileExistsAtPath(path)) continue;
    if (!fm.createDirectoryAtPath(path.substr(0, path.find_last_of('/')), true, error)) return false;
    if (!writePicture(path, p, error)) return false;
  }
  return true;
}

}  // namespace reader
