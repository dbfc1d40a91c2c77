#include "qqconnect_core/login/TcApiTool.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "qqconnect_core/requests/URLTools.h"
#include "os/core/String.h"
#include "os/crypto/Random.h"
#include "os/store/Bundle.h"
#include "os/views/Application.h"
#include "os/views/Device.h"
#include "os/views/Screen.h"
#include "os/views/Window.h"

std::optional<std::string> TcApiTool::GetURLWithParam(const std::optional<std::string>& base, const os::Dictionary& params) {
  return URLTools::GetURLWithParam(base, params);
}

bool TcApiTool::isRegistSchemeInfoPlistFile(const std::optional<std::string>& scheme) {
  if (!scheme) return false;
  const os::Value types = os::Bundle::mainBundle()->objectForInfoDictionaryKey("CFBundleURLTypes");
  if (!types.isArray()) return false;
  for (const os::Value& type : *types.array()) {
    const os::Value& schemes = type["CFBundleURLSchemes"];
    if (!schemes.isArray()) continue;
    for (const os::Value& s : *schemes.array()) {
      if (s.string() && *s.string() == *scheme) return true;
    }
  }
  return false;
}

os::Dictionary TcApiTool::SDKInfo() {
  const os::Device& device = os::Device::current();
  return os::Dictionary{{kSDKInfoKeySDKV, kSDKInfoSDKVersion},
                        {kSDKInfoKeySDKP, kSDKInfoSDKPlatform},
                        {kSDKInfoKeyStatusOS, device.systemVersion()},
                        {kSDKInfoKeyStatusMachine, TCOSDKdeviceMachine(device)},
                        {kSDKInfoKeyStatusVersion, std::to_string(os::intValue(device.systemVersion()))}};
}

std::string TcApiTool::TCOSDKdeviceMachine(const os::Device& device) {
  return device.machine().empty() ? "i386" : device.machine();
}

float TcApiTool::systemVersion() { return static_cast<float>(os::doubleValue(os::Device::current().systemVersion())); }

std::optional<os::Dictionary> TcApiTool::getAppDefinePath() {
  const os::Value v = os::Bundle::mainBundle()->objectForInfoDictionaryKey("velmoraSDKResource");
  if (const os::Dictionary* d = v.dictionary()) return *d;
  return std::nullopt;
}

void TcApiTool::MoveAllWindowOutOfScreen(const std::vector<std::shared_ptr<os::Window>>& except, bool animation) {
  moveAllWindows(except, animation, 1);
}

void TcApiTool::MoveAllWindowIntoScreen(const std::vector<std::shared_ptr<os::Window>>& except, bool animation) {
  moveAllWindows(except, animation, -1);
}

namespace {

bool offScreen(const os::Rect& f) {
  const os::Rect s = os::Screen::main().bounds();
  auto inside = [&](double x, double y) {
    return x >= s.origin.x && x <= s.origin.x + s.size.width && y >= s.origin.y && y <= s.origin.y + s.size.height;
  };
  const double r = f.origin.x + f.size.width, b = f.origin.y + f.size.height;
  return !inside(f.origin.x, f.origin.y) && !inside(r, f.origin.y) && !inside(f.origin.x, b) && !inside(r, b);
}

}  // namespace

void TcApiTool::MoveOtherWindowOutOfFrame(std::vector<std::shared_ptr<os::Window>>& windowsArray, bool animation) {
  if (auto app = os::Application::shared()) {
    for (const auto& w : app->windows()) {
      if (!w || std::find(windowsArray.begin(), windowsArray.end(), w) != windowsArray.end()) continue;
      // Alerts and other system overlays stay where they are; so does what is already away.
      if (w->windowLevel() > os::kWindowLevelNormal || offScreen(w->frame())) windowsArray.push_back(w);
    }
  }
  MoveAllWindowOutOfScreen(windowsArray, animation);
}

void TcApiTool::moveAllWindows(const std::vector<std::shared_ptr<os::Window>>& except, bool animation, double direction) {
  auto app = os::Application::shared();
  if (!app) return;
  const double width = os::Screen::main().bounds().size.width;
  for (const auto& window : app->windows()) {
    if (!window || std::find(except.begin(), except.end(), window) != except.end()) continue;
    os::Rect frame = window->frame();
    frame.origin.x += direction * width;
    if (animation) {
      MoveWindowAnimation(window, 0, frame, 0.3, {});
    } else {
      window->setFrame(frame);
    }
  }
}

void TcApiTool::MoveWindowAnimation(const std::shared_ptr<os::View>& view, int, const os::Rect& rect, double timeInterVal,
                                    const std::string& name) {
  os::View::beginAnimations(name);
  os::View::setAnimationDuration(timeInterVal);
  view->setFrame(rect);
  os::View::commitAnimations();
}

std::string TcApiTool::random16Str() {
  const std::uint32_t length = 2 + 2 * os::randomUniform(8);
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (std::uint32_t i = 0; i < length; ++i) out += kDigits[os::randomUniform(16)];
  return out;
}

std::string TcApiTool::seq() {
  static std::atomic<unsigned> counter{0};
  return std::to_string(++counter);
}

std::optional<std::string> TcApiTool::encryAccessToken(const std::optional<std::string>& text, const std::string& key) {
  if (!text || key.empty()) return std::nullopt;
  const std::u16string units = os::toUTF16(*text), keyUnits = os::toUTF16(key);
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const unsigned v = static_cast<unsigned>(units[i] ^ keyUnits[i % keyUnits.size()]);
    out += os::format(v < 16 ? "0%x" : "%x", v);
  }
  return out;
}

std::optional<std::string> TcApiTool::decodeAccessToken(const std::optional<std::string>& text, const std::string& key) {
  if (!text || key.empty() || text->size() % 2 != 0) return std::nullopt;
  const std::u16string keyUnits = os::toUTF16(key);
  std::u16string out;
  for (std::size_t j = 0; j * 2 < text->size(); ++j) {
    const auto byte = NSString16toNSNumber(std::string_view(*text).substr(j * 2, 2));
    if (!byte) return std::nullopt;  // not the coder's output: refuse rather than make up characters
    out += static_cast<char16_t>((static_cast<unsigned>(*byte) ^ keyUnits[j % keyUnits.size()]) & 0xFF);
  }
  return os::fromUTF16(out);
}

std::optional<int> TcApiTool::NSString16toNSNumber(std::string_view text) {
  if (text.size() != 2) return std::nullopt;
  int value = 0;
  for (const char c : text) {
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return std::nullopt;
    value = value * 16 + digit;
  }
  return value;
}
