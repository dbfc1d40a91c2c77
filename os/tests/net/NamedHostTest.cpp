// Named hosts routed to loopback servers, and https to them under the test authority.
#include <gtest/gtest.h>

#include "os/net/HostLookup.h"
#include "os/net/URLConnection.h"
#include "os/net/URLError.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/TestCertificateAuthority.h"

namespace os {
namespace {

using testing::CannedResponse;
using testing::HttpTestServer;
using testing::TestCertificateAuthority;

struct Answer {
  std::optional<Data> body;
  HTTPURLResponse response;
  Error error;
};

Answer get(const std::string& url) {
  Answer a;
  a.body = URLConnection::sendSynchronousRequest(URLRequest(url), &a.response, &a.error);
  return a;
}

class NamedHostTest : public ::testing::Test {
 protected:
  void TearDown() override {
    TestCertificateAuthority::untrustAll();
    HostLookup::removeAllOverrides();
  }
};

TEST_F(NamedHostTest, HttpsToANamedHostNeedsTheTestAuthorityTrusted) {
  HttpTestServer api(true, {"api.example.test"});
  api.route("GET", "/v1/hello", CannedResponse::text("hello"));
  std::string url = api.urlForHost("api.example.test", "/v1/hello");
  EXPECT_EQ(url, "https://api.example.test/v1/hello");

  Answer untrusted = get(url);
  EXPECT_FALSE(untrusted.body);
  EXPECT_EQ(untrusted.error.domain, kURLErrorDomain);
  EXPECT_EQ(untrusted.error.code, kURLErrorServerCertificateUntrusted);
  EXPECT_EQ(api.requestCount(), 0u);

  TestCertificateAuthority::shared().trust();
  Answer trusted = get(url);
  ASSERT_TRUE(trusted.body) << trusted.error.localizedDescription();
  EXPECT_EQ(stringFromData(*trusted.body), "hello");
  EXPECT_EQ(trusted.response.url(), url);
  ASSERT_EQ(api.requestCount(), 1u);
  EXPECT_EQ(api.requests()[0].headers.value("Host"), "api.example.test");

  // The certificate names the host: another name routed to the same server is refused even
  // with the authority trusted, and a connection kept from the trusted exchange is not reused
  // once the authority is dropped.
  HostLookup::mapHost("other.example.test", 0, "127.0.0.1", api.port());
  EXPECT_EQ(get("https://other.example.test/v1/hello").error.code, kURLErrorServerCertificateUntrusted);
  TestCertificateAuthority::untrustAll();
  EXPECT_EQ(get(url).error.code, kURLErrorServerCertificateUntrusted);
  EXPECT_EQ(api.requestCount(), 1u);
}

TEST_F(NamedHostTest, RoutesByPortAndFailingNamesAndTheirTextForm) {
  HttpTestServer news(false, {"news.example.test"});
  HttpTestServer ads;
  news.route("GET", "/n", CannedResponse::text("news"));
  ads.route("GET", "/n", CannedResponse::text("ads"));
  std::string bad;
  ASSERT_TRUE(HostLookup::addRoutesFromText("# comment\n\nnews.example.test:8080 127.0.0.1:" + std::to_string(ads.port()) +
                                            "\ngone.example.test -\n", &bad));
  EXPECT_EQ(stringFromData(*get("http://news.example.test/n").body), "news");
  EXPECT_EQ(stringFromData(*get("http://NEWS.example.test:8080/n").body), "ads");  // the port's route wins
  Answer gone = get("http://gone.example.test/n");
  EXPECT_EQ(gone.error.code, kURLErrorCannotFindHost);
  EXPECT_EQ(HostLookup::endpointFor("news.example.test", 8080), std::make_pair(std::string("127.0.0.1"), ads.port()));
  EXPECT_EQ(HostLookup::endpointFor("news.example.test", 80), std::make_pair(std::string("127.0.0.1"), news.port()));
  EXPECT_FALSE(HostLookup::endpointFor("gone.example.test", 80));

  for (std::string line : {"a.test", "a.test 1.2.3", "a.test:99999 127.0.0.1", "a.test:80 -", "a.test 127.0.0.1 x"}) {
    EXPECT_FALSE(HostLookup::addRoutesFromText("ok.test 127.0.0.1\n" + line, &bad)) << line;
    EXPECT_EQ(bad, line);
  }
  EXPECT_TRUE(HostLookup::routeFor("ok.test", 443));

  // A stopped server takes its names with it.
  news.stop();
  EXPECT_FALSE(HostLookup::routeFor("news.example.test", 80));
}

}  // namespace
}  // namespace os
