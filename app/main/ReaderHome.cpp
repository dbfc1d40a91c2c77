#include "app/main/ReaderHome.h"

#include <cerrno>
#include <vector>

#include "app/main/ReaderResources.h"
#include "news/api/VXGlobalHelper.h"
#include "news/api/VXReaderContext.h"
#include "news/api/VXRequestConfig.h"
#include "news/store/VXGlobalDefine.h"
#include "news/store/VXNewsCategoryManager.h"
#include "news/store/VXNewsDBManager.h"
#include "os/graphics/Image.h"
#include "os/graphics/ImageCodec.h"
#include "os/store/FileLock.h"
#include "os/store/FileManager.h"
#include "os/store/PropertyList.h"
#include "os/store/Sandbox.h"
#include "ui/images/BNImageCache.h"

namespace reader {

namespace {

// In the home folder, beside the sandbox's own folders.
constexpr const char* kHomeLockFileName = "reader.lock";

struct Picture {
  const char* name;
  int width, height;
  std::uint8_t r, g, b;
};

// Plain coloured pictures in the sizes the screens lay them out at: the reader needs something to
// show, not artwork.
const std::vector<Picture>& pictures() {
  static const std::vector<Picture> list = {
      {"splash_back_568h@2x", 32, 57, 0x2b, 0x3a, 0x28}, {"splash_back", 32, 48, 0x2b, 0x3a, 0x28},
      {"splash_back@2x", 32, 48, 0x2b, 0x3a, 0x28},      {"splash_logo", 163, 38, 0xd9, 0xc2, 0x7a},
      {"splash_slogan", 98, 27, 0xf0, 0xf0, 0xf0},       {"navbar-title", 80, 24, 0xff, 0xff, 0xff},
      {"navbar-left-item", 30, 30, 0xff, 0xff, 0xff},    {"navbar-back", 30, 30, 0xff, 0xff, 0xff},
      {"logo_placeholder", 120, 120, 0xcc, 0xcc, 0xcc},  {"placeholder", 80, 60, 0xdd, 0xdd, 0xdd},
      {"SwitchCellSelected", 60, 34, 0xb0, 0x20, 0x20},  {"upmark_hot", 24, 14, 0xe0, 0x30, 0x30},
      {"common_button", 60, 30, 0xee, 0xee, 0xee},       {"Icon", 57, 57, 0x2b, 0x3a, 0x28},
      {"detail_toolbar_favorite", 30, 30, 0x88, 0x88, 0x88}, {"detail_toolbar_favorite_press", 30, 30, 0x55, 0x55, 0x55},
      {"detail_toolbar_favorite_selected", 30, 30, 0xe0, 0xa0, 0x20}, {"detail_toolbar_share", 30, 30, 0x88, 0x88, 0x88},
      {"detail_toolbar_share_press", 30, 30, 0x55, 0x55, 0x55}, {"detail_toolbar_font", 30, 30, 0x88, 0x88, 0x88},
      {"detail_toolbar_font_press", 30, 30, 0x55, 0x55, 0x55}, {"detail_toolbar_more", 30, 30, 0x88, 0x88, 0x88},
      {"detail_toolbar_more_press", 30, 30, 0x55, 0x55, 0x55}, {"left_side_news", 32, 32, 0xc0, 0xc0, 0xc0},
      {"left_side_favorite", 32, 32, 0xc0, 0xc0, 0xc0},  {"left_side_offline", 32, 32, 0xc0, 0xc0, 0xc0},
      {"left_side_setting", 32, 32, 0xc0, 0xc0, 0xc0},   {"left_side_ad", 32, 32, 0xc0, 0xc0, 0xc0},
      {"detail_toolbar_share_selected", 30, 30, 0xe0, 0xa0, 0x20}, {"detail_toolbar_download", 30, 30, 0x88, 0x88, 0x88},
      {"detail_imageviewer_download", 30, 30, 0xcc, 0xcc, 0xcc}, {"detail_imageviewer_download_press", 30, 30, 0x99, 0x99, 0x99},
      {"detail_cancel_dowanload", 30, 30, 0xcc, 0xcc, 0xcc},
      // The two vote buttons in different colours, so a person tells them apart at a glance.
      {"detail_digg", 20, 20, 0xd0, 0x40, 0x40},         {"detail_digg_press", 20, 20, 0xa0, 0x20, 0x20},
      {"detail_bury", 20, 20, 0x40, 0x70, 0xc0},         {"detail_bury_press", 20, 20, 0x20, 0x40, 0x90},
      {"offline_download", 30, 30, 0x88, 0x88, 0x88},    {"offline_option", 24, 24, 0xc0, 0xc0, 0xc0},
      {"offline_option_selected", 24, 24, 0xb0, 0x20, 0x20}, {"setting_send", 60, 30, 0xb0, 0x20, 0x20},
  };
  return list;
}

std::optional<os::Data> drawPicture(const Picture& p) {
  os::Bitmap bitmap(p.width, p.height);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      std::uint8_t* px = bitmap.pixel(x, y);
      px[0] = p.r;
      px[1] = p.g;
      px[2] = p.b;
      px[3] = 0xff;
    }
  return os::encodePNG(*os::Image::create(std::move(bitmap)));
}

bool writePlistIfMissing(const std::string& path, const os::Dictionary& value, os::Error* error) {
  if (os::FileManager::defaultManager().fileExistsAtPath(path)) return true;
  return os::PropertyList::writeFile(os::Value(value), path, os::PropertyListFormat::XML, error);
}

// A home made by an earlier release keeps its Info.plist; keys added since are filled in.
bool writeInfo(const std::string& path, const os::Dictionary& info, os::Error* error) {
  auto& fm = os::FileManager::defaultManager();
  if (!fm.fileExistsAtPath(path)) return os::PropertyList::writeFile(os::Value(info), path, os::PropertyListFormat::XML, error);
  auto existing = os::PropertyList::readFile(path, nullptr, error);
  if (!existing) return false;
  if (!existing->dictionary()) {
    if (error) *error = os::Error::withDescription("reader.home", 1, path + " does not hold a dictionary");
    return false;
  }
  os::Dictionary merged = *existing->dictionary();
  bool changed = false;
  for (const auto& [key, value] : info) {
    if (merged.find(key)) continue;
    merged.set(key, value);
    changed = true;
  }
  return !changed || os::PropertyList::writeFile(os::Value(merged), path, os::PropertyListFormat::XML, error);
}

}  // namespace

const std::vector<std::string>& bundleImageNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out;
    for (const auto& p : pictures()) out.emplace_back(p.name);
    return out;
  }();
  return names;
}

std::unique_ptr<os::FileLock> lockHome(const std::string& folder, std::string* refusal) {
  os::Error error;
  if (!os::FileManager::defaultManager().createDirectoryAtPath(folder, true, &error)) {
    *refusal = "cannot make " + folder + ": " + error.localizedDescription();
    return nullptr;
  }
  int holder = 0;
  auto lock = os::FileLock::tryExclusive(os::appendingPathComponent(folder, kHomeLockFileName), &holder, &error);
  if (lock) return lock;
  if (error.code != EWOULDBLOCK)
    *refusal = "cannot lock " + folder + ": " + error.localizedDescription();
  else
    *refusal = folder + " is in use by another reader" +
               (holder > 0 ? " (process " + std::to_string(holder) + ")" : std::string()) +
               "; one home serves one reader at a time";
  return nullptr;
}

std::shared_ptr<os::Sandbox> prepareHome(const std::string& folder, os::Error* error) {
  auto& fm = os::FileManager::defaultManager();
  const std::string bundle = folder + "/Bundle";
  const std::string device = folder + "/Device";
  for (const auto& dir : {folder, bundle, device})
    if (!fm.createDirectoryAtPath(dir, true, error)) return nullptr;
  // The bundle is the reader's own, and the home's lock is held: what a start killed while writing
  // its property lists and pictures left goes.
  fm.removeAbandonedTemporaryFilesInDirectory(bundle);

  const os::Dictionary info{{"CFBundleIdentifier", kBundleIdentifier},
                            {"CFBundleName", "Corvessa"},
                            {"CFBundleDisplayName", "Corvessa"},
                            {"CFBundleVersion", "27"},
                            {"CFBundleShortVersionString", "2.3"},
                            {"CFBundleURLTypes", urlTypes(kBundleIdentifier)}};
  if (!writeInfo(bundle + "/Info.plist", info, error)) return nullptr;
  if (!writePlistIfMissing(bundle + "/config.plist", os::Dictionary{{"OMBRA_CHANNEL", kChannel}}, error)) return nullptr;
  if (!writePlistIfMissing(bundle + "/PushConfig.plist",
                           os::Dictionary{{"APP_KEY", "8a3f0c2e91d74b65a0c1e2f3"},
                                          {"CHANNEL", kChannel},
                                          {"APS_FOR_PRODUCTION", false}},
                           error))
    return nullptr;
  if (!writePlistIfMissing(bundle + "/SocialSDK-config.plist", os::Dictionary{{"baseURL", "http://127.0.0.1"}}, error))
    return nullptr;

  if (!writeServiceResources(bundle, kBundleIdentifier, error)) return nullptr;

  for (const auto& p : pictures()) {
    const std::string path = bundle + "/" + p.name + ".png";
    if (fm.fileExistsAtPath(path)) continue;
    auto png = drawPicture(p);
    if (!png || !fm.writeData(*png, path, {}, error)) return nullptr;
  }
  return std::make_shared<os::Sandbox>(folder, bundle, device);
}

std::shared_ptr<VXReaderContext> makeReaderContext(const std::string& server) {
  auto context = std::make_shared<VXReaderContext>(VXRequestConfig::withServerRoot(server));
  context->requestRunner.set(std::make_shared<VXGlobalHelper>(context));
  context->database.set(std::make_shared<VXNewsDBManager>(
      os::appendingPathComponent(os::Sandbox::current()->cachesDirectory(), kNewsDBFileName)));
  context->imageCache.set(BNImageCache::sharedImageCache());
  context->categories.set(std::make_shared<VXNewsCategoryManager>());
  context->state.set(VXGlobalDefine::create());
  return context;
}

}  // namespace reader
