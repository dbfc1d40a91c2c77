// fuzz-link: platforms os_testing
// Answers the messenger sends back as URLs opened on the application's scheme: the query split
// into parameters, and the login and payment answers built from them.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "os/testing/TestSandbox.h"
#include "platforms/wechat/WXApi.h"

namespace {

struct Catch : WXApiDelegate {
  std::shared_ptr<BaseResp> last;
  void onResp(const std::shared_ptr<BaseResp>& r) override { last = r; }
};

void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "wechat_answer_url_fuzz: %s\n", what);
  std::abort();
}

const std::string& appId() {
  // Registration writes to the device's pasteboards: keep them in a folder of the run's own.
  static os::TestSandbox sandbox;
  static const std::string id = [] {
    WXApi::registerApp("wx1234");
    return std::string("wx1234");
  }();
  return id;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& id = appId();
  std::string text(reinterpret_cast<const char*>(data), size);
  WXApi::parseURLParams(text);
  auto url = os::URL::parse(text);
  if (!url) return 0;
  Catch delegate;
  if (WXApi::handleAuthOpenUrl(*url, &delegate)) {
    auto auth = std::dynamic_pointer_cast<SendAuthResp>(delegate.last);
    require(auth != nullptr, "login answer without a login response");
    require(auth->errCode() == 0 || auth->errCode() == -1 || auth->errCode() == -4, "unexpected login errCode");
    require((auth->errCode() == 0) == auth->code().has_value(), "code and errCode disagree");
    require(url->absoluteString().rfind(id + "://oauth", 0) == 0, "login answer on another scheme");
  } else if (WXApi::handlePayOpenUrl(*url, &delegate)) {
    require(std::dynamic_pointer_cast<PayResp>(delegate.last) != nullptr, "payment answer without a payment response");
  }
  return 0;
}
