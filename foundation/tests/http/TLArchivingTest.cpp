// Operations and clients through keyed archives.
#include <gtest/gtest.h>

#include "foundation/http/TLHTTPClient.h"
#include "foundation/http/TLJSONRequestOperation.h"
#include "foundation/http/TLNetworkingArchiving.h"
#include "foundation/tests/http/HTTPTestSupport.h"
#include "os/net/URLError.h"

using os::testing::CannedResponse;
using os::testing::HttpTestServer;

namespace {

template <class T>
std::shared_ptr<T> roundTrip(const std::shared_ptr<T>& object, os::Error* error = nullptr) {
  auto data = os::KeyedArchiver::archivedData(os::ArchiveItem(object));
  if (!data) return nullptr;
  auto item = os::KeyedUnarchiver::unarchiveObject(*data, TLNetworkingArchiveClasses(), os::kKeyedArchiveRootKey, error);
  return item ? item->objectAs<T>() : nullptr;
}

TEST(TLArchiving, AnOperationArchivedWhileRunningComesBackReadyAndRunsAgain) {
  HttpTestServer server;
  CannedResponse slow = CannedResponse::text("{\"late\":1}");
  slow.contentType = "application/json";
  slow.delay = 30;  // cut short when the server stops
  server.route("POST", "/items", slow);
  os::URLRequest request(server.url("/items?page=2"));
  request.setHTTPMethod("POST");
  request.setValueForHTTPHeaderField("application/json", "Accept");
  request.setValueForHTTPHeaderField("yes", "X-Archived");
  request.setHTTPBody(os::dataFromString("{\"a\":1}"));
  request.setTimeoutInterval(12);
  auto op = TLJSONRequestOperation::create(request);
  op->setAllowsInvalidSSLCertificate(true);
  op->start();
  ASSERT_TRUE(op->isExecuting());
  ASSERT_TRUE(server.waitForRequests(1, 10));

  auto back = roundTrip(op);
  ASSERT_TRUE(back);
  EXPECT_TRUE(op->isPaused());  // archiving paused the original
  EXPECT_EQ(back->className(), "TLJSONRequestOperation");
  EXPECT_TRUE(back->isReady());
  EXPECT_FALSE(back->isCancelled());
  EXPECT_TRUE(back->allowsInvalidSSLCertificate());
  EXPECT_EQ(back->request().url(), request.url());
  EXPECT_EQ(back->request(), op->request());

  // It runs the same request again.
  server.route("POST", "/items", [](const os::testing::RecordedRequest&) {
    CannedResponse r = CannedResponse::text("{\"ok\":1}");
    r.contentType = "application/json";
    return r;
  });
  back->start();
  ASSERT_TRUE(httptest::runUntil([&] { return back->isFinished(); }));
  EXPECT_EQ(back->responseString(), "{\"ok\":1}");
  auto seen = server.requests().back();
  EXPECT_EQ(seen.body, "{\"a\":1}");
  EXPECT_EQ(seen.headers.value("X-Archived"), "yes");
  server.stop();
}

TEST(TLArchiving, FinishedAndCancelledOperationsKeepTheirResults) {
  HttpTestServer server;
  server.route("GET", "/a", CannedResponse::text("body", 201));
  auto done = TLHTTPRequestOperation::create(os::URLRequest(server.url("/a")));
  done->start();
  ASSERT_TRUE(httptest::runUntil([&] { return done->isFinished(); }));
  auto back = roundTrip(done);
  ASSERT_TRUE(back);
  ASSERT_TRUE(back->response());
  EXPECT_EQ(back->response()->statusCode(), 201);
  EXPECT_EQ(back->response()->valueForHTTPHeaderField("Content-Type"), done->response()->valueForHTTPHeaderField("Content-Type"));
  EXPECT_EQ(back->responseData(), os::dataFromString("body"));
  EXPECT_EQ(back->totalBytesRead(), 4);
  // Finished goes back to ready: the archived state passes the transition rules before the
  // cancelled flag is restored.
  EXPECT_TRUE(back->isReady());

  auto cancelled = TLHTTPRequestOperation::create(os::URLRequest(server.url("/a")));
  cancelled->cancel();
  auto gone = roundTrip(cancelled);
  ASSERT_TRUE(gone);
  EXPECT_TRUE(gone->isCancelled());
  ASSERT_TRUE(gone->connectionError());
  EXPECT_EQ(gone->connectionError()->code, os::kURLErrorCancelled);
  EXPECT_EQ(gone->connectionError()->failingURLString(), server.url("/a"));
}

TEST(TLArchiving, AClientKeepsItsBaseURLHeadersAndEncodings) {
  auto client = TLHTTPClient::clientWithBaseURL(*os::URL::parse("http://api.example.test/imobile"));
  client->setDefaultHeader("X-Token", "t1");
  client->setAuthorizationHeaderWithToken("abc");
  client->setParameterEncoding(TLHTTPClientParameterEncoding::JSON);
  client->setStringEncoding(os::StringEncoding::GB18030);
  client->registerHTTPOperationClass(TLJSONRequestOperation::operationClass());
  client->setAllowsInvalidSSLCertificate(true);

  auto back = roundTrip(client);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->baseURL().absoluteString(), "http://api.example.test/imobile/");
  EXPECT_EQ(back->defaultHeaders(), client->defaultHeaders());
  EXPECT_EQ(back->parameterEncoding(), TLHTTPClientParameterEncoding::JSON);
  EXPECT_EQ(back->stringEncoding(), os::StringEncoding::GB18030);
  EXPECT_EQ(back->registeredHTTPOperationClassNames(), client->registeredHTTPOperationClassNames());
  EXPECT_FALSE(back->allowsInvalidSSLCertificate());  // not archived
  os::Value params(os::Dictionary{{"q", os::Value("x")}});
  EXPECT_EQ(back->requestWithMethod("POST", "list", params), client->requestWithMethod("POST", "list", params));

}

// An archived class with none of its fields.
struct Hollow : os::Archivable {
  std::string name;
  explicit Hollow(std::string n) : name(std::move(n)) {}
  std::vector<std::string> archiveClassNames() const override { return {name}; }
  void encodeWithCoder(os::KeyedArchiver&) const override {}
};

TEST(TLArchiving, ArchivesWithoutABaseURLOrRequestAreRefused) {
  for (const char* name : {"TLHTTPClient", "TLHTTPRequestOperation", "TLURLConnectionOperation"}) {
    auto data = os::KeyedArchiver::archivedData(os::ArchiveItem(std::make_shared<Hollow>(name)));
    ASSERT_TRUE(data);
    os::Error error;
    EXPECT_FALSE(os::KeyedUnarchiver::unarchiveObject(*data, TLNetworkingArchiveClasses(), os::kKeyedArchiveRootKey, &error)) << name;
    EXPECT_EQ(error.domain, os::kKeyedArchiveErrorDomain) << name;
  }
}

}  // namespace
