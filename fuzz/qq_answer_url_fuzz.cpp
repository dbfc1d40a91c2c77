// fuzz-link: platforms qqconnect_core foundation os os_testing
// URLs another application opens the reader with, read as QQ answers: replies, view and pick
// requests and web-share answers. Nothing may crash, and only a QQ reply reaches the delegate.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "platforms/qq/QQApi.h"
#include "platforms/qq/QQApiDatastore.h"
#include "os/testing/TestSandbox.h"

namespace {
struct Counter : QQApiInterfaceDelegate {
  int calls = 0;
  void onReq(const std::shared_ptr<QQBaseReq>&) override { ++calls; }
  void onResp(const std::shared_ptr<QQBaseResp>&) override { ++calls; }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static os::TestSandbox sandbox;  // the pasteboards a view request reads
  QQApiDatastore::instance().appId = "100393032";
  const std::string url(reinterpret_cast<const char*>(data), size);
  Counter counter;
  const bool handled = QQApiInterface::handleOpenURL(url, &counter);
  if (counter.calls > 1 || (counter.calls == 1 && !handled)) std::abort();
  return 0;
}
