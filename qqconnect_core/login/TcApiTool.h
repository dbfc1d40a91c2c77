#pragma once
// Small services of the QQ Connect client: query building, the URL scheme check, the SDK
// information sent with every login and OpenAPI call, moving the application's windows aside
// around the SDK's own window, and a few text functions. The QQ client API calls the first four.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Value.h"
#include "os/graphics/Geometry.h"

namespace os {
class Device;
class View;
class Window;
}

inline constexpr const char* kSDKInfoKeySDKV = "sdkv";
inline constexpr const char* kSDKInfoKeySDKP = "sdkp";
inline constexpr const char* kSDKInfoKeyStatusOS = "status_os";
inline constexpr const char* kSDKInfoKeyStatusMachine = "status_machine";
inline constexpr const char* kSDKInfoKeyStatusVersion = "status_version";
inline constexpr const char* kSDKInfoSDKVersion = "2.3";
inline constexpr const char* kSDKInfoSDKPlatform = "i";

class TcApiTool {
 public:
  // base?k1=v1&k2=v2 in the dictionary's order; values escaped as UTF-8 with "!*’();:&=+$,/?%#[]"
  // forced ("'" and "@" stay). A base that has a query still gets "?". No base: nothing.
  static std::optional<std::string> GetURLWithParam(const std::optional<std::string>& base, const os::Dictionary& params);
  // Whether the main bundle's "CFBundleURLTypes" lists the scheme (exact comparison).
  static bool isRegistSchemeInfoPlistFile(const std::optional<std::string>& scheme);
  // "sdkv", "sdkp", "status_os", "status_machine", "status_version".
  static os::Dictionary SDKInfo();
  // The hardware model, "i386" when the device names none.
  static std::string TCOSDKdeviceMachine(const os::Device& device);
  // The OS version read as a number (7.1.2 gives 7.1).
  static float systemVersion();
  // The main bundle's "velmoraSDKResource" when it is a dictionary.
  static std::optional<os::Dictionary> getAppDefinePath();

  // Every window of the application but `except` moves one screen width right (out) or back
  // (into), at once or in a 0.3 s animation.
  static void MoveAllWindowOutOfScreen(const std::vector<std::shared_ptr<os::Window>>& except, bool animation);
  static void MoveAllWindowIntoScreen(const std::vector<std::shared_ptr<os::Window>>& except, bool animation);
  // The step both SDK windows take when they open: the application's windows already away from
  // the screen (no corner inside it) and the system overlays (above the normal level) join
  // `windowsArray`, and every other window moves out.
  static void MoveOtherWindowOutOfFrame(std::vector<std::shared_ptr<os::Window>>& windowsArray, bool animation);
  static void MoveWindowAnimation(const std::shared_ptr<os::View>& view, int animationId, const os::Rect& rect,
                                  double timeInterVal, const std::string& name);

  // 2 to 16 (an even count) random lower-case hexadecimal digits.
  static std::string random16Str();
  // The next value of a process-wide counter, from "1".
  static std::string seq();

  // Each UTF-16 unit XORed with the key's, as two or more lower-case hexadecimal digits.
  static std::optional<std::string> encryAccessToken(const std::optional<std::string>& text, const std::string& key);
  // The reverse; nothing for an odd length or a pair that is not two hexadecimal digits.
  static std::optional<std::string> decodeAccessToken(const std::optional<std::string>& text, const std::string& key);
  // Two hexadecimal digits as a byte; nothing for any other text.
  static std::optional<int> NSString16toNSNumber(std::string_view text);

 private:
  static void moveAllWindows(const std::vector<std::shared_ptr<os::Window>>& except, bool animation, double direction);
};
