#include <gtest/gtest.h>

#include <atomic>

#include "foundation/http/TLHTTPRequestOperation.h"
#include "foundation/tests/http/HTTPTestSupport.h"
#include "os/net/URLError.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/NotificationCenter.h"

using os::testing::CannedResponse;
using os::testing::HttpTestServer;

namespace {

struct Outcome {
  int successes = 0, failures = 0;
  os::Value object;
  std::optional<os::Error> error;
  bool onMainThread = false;
  bool done() const { return successes + failures > 0; }
};

std::shared_ptr<TLHTTPRequestOperation> startWithOutcome(const std::string& url, Outcome& out,
                                                         std::shared_ptr<os::DispatchQueue> successQueue = nullptr) {
  auto op = TLHTTPRequestOperation::create(os::URLRequest(url));
  if (successQueue) op->setSuccessCallbackQueue(successQueue);
  op->setCompletionBlockWithSuccess(
      [&out](const TLHTTPRequestOperation::Pointer&, const os::Value& object) {
        out.onMainThread = os::RunLoop::isMainThread();
        out.object = object;
        ++out.successes;
      },
      [&out](const TLHTTPRequestOperation::Pointer&, const os::Error& error) {
        out.onMainThread = os::RunLoop::isMainThread();
        out.error = error;
        ++out.failures;
      });
  op->start();
  return op;
}

TEST(TLHTTPRequestOperationTest, NotFoundFailsWithExpectedCodesAndBodyAsSuggestion) {
  HttpTestServer server;
  server.route("GET", "/missing", CannedResponse::text("no such page", 404));
  Outcome out;
  auto op = startWithOutcome(server.url("/missing"), out);
  ASSERT_TRUE(httptest::runUntil([&] { return out.done(); }));
  EXPECT_EQ(out.failures, 1);
  EXPECT_EQ(out.successes, 0);
  EXPECT_TRUE(out.onMainThread);
  ASSERT_TRUE(out.error);
  EXPECT_EQ(out.error->domain, "TLNetworkingErrorDomain");
  EXPECT_EQ(out.error->code, -1011);
  EXPECT_EQ(out.error->localizedDescription(), "Expected status code in (200-299), got 404");
  EXPECT_EQ(out.error->localizedRecoverySuggestion(), "no such page");
  EXPECT_EQ(out.error->failingURLString(), server.url("/missing"));
}

}  // namespace
