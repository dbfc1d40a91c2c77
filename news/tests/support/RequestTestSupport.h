#pragma once
// What the request tests share: a fresh sandbox with a versioned bundle, a phone-like device,
// the main run loop driven by the test, and the decoding of a posted "p".
#include <functional>
#include <optional>
#include <string>

#include "foundation/formats/Base64.h"
#include "foundation/formats/JSONDecoder.h"
#include "news/api/VXReaderContext.h"
#include "news/api/VXRequestConfig.h"
#include "news/home/VXGlobalHelperArticles.h"
#include "os/core/Value.h"
#include "os/runtime/RunLoop.h"
#include "os/testing/TestSandbox.h"
#include "os/views/Device.h"

namespace newstest {

inline os::DeviceProfile phoneProfile() {
  os::DeviceProfile profile;
  profile.machine = "iPhone5,2";
  profile.systemVersion = "6.1.3";
  profile.macAddress = "0A:1B:2C:3D:4E:5F";
  profile.advertisingIdentifier = "6D1A8F0E-3C1B-4E6A-9B1C-2A3B4C5D6E7F";
  return profile;
}

// A sandbox whose bundle carries both version strings, on a phone that is not jailbroken, and a
// fresh reader context with the reader's routes between screens, current while it lives.
class RequestEnvironment {
 public:
  RequestEnvironment() : device_(phoneProfile()) {
    sandbox_.setInfoDictionary(os::Dictionary{{"CFBundleIdentifier", "com.example.newsreader"},
                                              {"CFBundleVersion", "27"},
                                              {"CFBundleShortVersionString", "2.3"}});
    VXGlobalHelperArticles::installRoutes(*context_);
    previous_ = VXReaderContext::setCurrent(context_);
  }
  ~RequestEnvironment() { VXReaderContext::setCurrent(previous_); }
  os::TestSandbox& sandbox() { return sandbox_; }
  VXReaderContext& context() { return *context_; }

 private:
  os::TestSandbox sandbox_;
  os::DeviceProfileScope device_;
  std::shared_ptr<VXReaderContext> context_ = std::make_shared<VXReaderContext>();
  std::shared_ptr<VXReaderContext> previous_;
};

// The JSON object inside a "p" field; nothing when it is not Base64 of a JSON object.
inline std::optional<os::Dictionary> decodeP(const std::string& p) {
  auto text = base64DecodedString(p);
  if (!text) return std::nullopt;
  JSONDecoder decoder;
  auto value = decoder.objectWithUTF8String(text->data(), text->size());
  if (!value || !value->dictionary()) return std::nullopt;
  return *value->dictionary();
}

// Runs the main run loop until the condition holds (a real-time bound; loopback answers in
// milliseconds).
inline bool runUntil(const std::function<bool()>& condition, double timeout = 20) {
  return os::RunLoop::main()->runUntil(condition, timeout);
}

}  // namespace newstest
