#include <mutex>

#include "foundation/http/TLQueryStringPair.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/Thread.h"
#include "os/store/KeyedArchive.h"
#include "sharing/net/OBSocialTLHTTPClient.h"
#include "sharing/tests/ServiceFixture.h"

namespace {

std::string query(const os::Value& parameters) {
  return *TLQueryStringFromParametersWithEncoding(parameters, os::StringEncoding::UTF8, OBSocialTLQueryStringRules());
}

TEST(SharingQueryStringTest, EditionsOwnEscapingAndOrder) {
  EXPECT_EQ(query(os::Value(os::Dictionary{{"v", "a~b'c,d*e:f/g+h [x].y"}})), "v=a%7Eb'c,d*e%3Af%2Fg%2Bh%20[x].y");
  EXPECT_EQ(query(os::Value(os::Dictionary{{"b", 1}, {"a", 2}})), "b=1&a=2");
  EXPECT_EQ(query(os::Value(os::Dictionary{{"u", os::Value(os::Dictionary{{"n", "v"}})}})), "u[n]=v");
  EXPECT_EQ(query(os::Value(os::Dictionary{{"t", os::Value(os::Array{1, 2})}})), "t[]=1&t[]=2");
  EXPECT_EQ(query(os::Value(os::Dictionary{{"s", os::Value::set(os::Array{"x", "y"})}})).find("s="), 0u);
  EXPECT_EQ(query(os::Value(os::Dictionary{{"s", os::Value::set(os::Array{"x", "y"})}})).find('&'), std::string::npos);
  EXPECT_EQ(OBSocialTLAcceptLanguageHeader({"zh-Hans", "en"}), "zh-Hans, en, en-us;q=0.8");
}

TEST(SharingHTTPClientTest, RequestsFollowTheFamilyRules) {
  TLHTTPClientEnvironment environment;
  environment.preferredLanguages = {"zh-Hans"};
  OBSocialTLHTTPClient client(*os::URL::parse("http://127.0.0.1/api"), environment);
  EXPECT_EQ(client.baseURL().absoluteString(), "http://127.0.0.1/api/");
  EXPECT_EQ(client.defaultValueForHeader("Accept-Language"), "zh-Hans, en-us;q=0.8");
  auto get = client.requestWithMethod("GET", "p?x=1", os::Value(os::Dictionary{{"a", "~"}, {"b", "2"}}));
  EXPECT_EQ(get->url(), "http://127.0.0.1/api/p?x=1&a=%7E&b=2");
  EXPECT_EQ(client.requestWithMethod("GET", "p", os::Value(os::Dictionary{}))->url(), "http://127.0.0.1/api/p?");
  EXPECT_EQ(client.edition().errorDomain, kOBSocialTLNetworkingErrorDomain);
}

using SharingHTTPClientServiceTest = ServiceFixture;

TEST_F(SharingHTTPClientServiceTest, BadStatusIsAnErrorOfTheEditionsDomain) {
  auto client = OBSocialTLHTTPClient::clientWithBaseURL(*os::URL::parse(server_.baseURL()));
  std::optional<os::Error> failure;
  auto operation = OBSocialTLHTTPRequestOperation(*client->requestWithMethod("GET", "nothing/here", std::nullopt));
  operation->setCompletionBlockWithSuccess([](const auto&, const os::Value&) {},
                                           [&](const auto&, const os::Error& error) { failure = error; });
  client->enqueueHTTPRequestOperation(operation);
  ASSERT_TRUE(settle([&] { return failure.has_value(); }));
  EXPECT_EQ(failure->domain, kOBSocialTLNetworkingErrorDomain);
  EXPECT_EQ(failure->code, -1011);
  EXPECT_EQ(failure->localizedDescription(), "Expected status code in (200-299), got 404");
  // A numeric host reports its first status without a broadcast.
  ASSERT_TRUE(settle([&] { return client->networkReachabilityStatus() != OBSocialTLNetworkReachabilityStatusUnknown; }));
}

// The edition's operations announce their start and finish at once, on the network thread whose
// change of state they are; nothing of the edition copies or archives.
TEST_F(SharingHTTPClientServiceTest, BroadcastsComeOnTheNetworkThreadAndNothingCopies) {
  auto client = OBSocialTLHTTPClient::clientWithBaseURL(*os::URL::parse(server_.baseURL()));
  auto operation = OBSocialTLHTTPRequestOperation(*client->requestWithMethod("GET", "nothing/here", std::nullopt));
  std::mutex mutex;
  std::vector<std::string> heard;
  auto& center = os::NotificationCenter::defaultCenter();
  auto listen = [&](const char* name) {
    return center.addObserver(name, operation.get(), [&, name](const os::Notification&) {
      std::lock_guard lock(mutex);
      heard.push_back(std::string(name) + " on " + (os::Thread::isMainThread() ? "main" : os::Thread::current()->name()));
    });
  };
  auto started = listen(kTLNetworkingOperationDidStartNotification);
  auto finished = listen(kTLNetworkingOperationDidFinishNotification);
  bool done = false;
  operation->setCompletionBlockWithSuccess([&](const auto&, const os::Value&) { done = true; },
                                           [&](const auto&, const os::Error&) { done = true; });
  client->enqueueHTTPRequestOperation(operation);
  // The finish is announced on the network thread after the completion is on its way to the main
  // queue: both are waited for.
  ASSERT_TRUE(settle([&] {
    std::lock_guard lock(mutex);
    return done && heard.size() >= 2;
  }));
  center.removeObserver(started);
  center.removeObserver(finished);
  std::lock_guard lock(mutex);
  EXPECT_EQ(heard, (std::vector<std::string>{std::string(kTLNetworkingOperationDidStartNotification) + " on OBSocialTLNetworking",
                                             std::string(kTLNetworkingOperationDidFinishNotification) + " on OBSocialTLNetworking"}));

  EXPECT_THROW(client->copy(), os::Exception);
  EXPECT_THROW(operation->copy(), os::Exception);
  os::KeyedArchiver archiver;
  EXPECT_THROW(client->encodeWithCoder(archiver), os::Exception);
  EXPECT_THROW(operation->encodeWithCoder(archiver), os::Exception);
}

}  // namespace
