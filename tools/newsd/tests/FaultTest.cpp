#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include "os/core/Error.h"
#include "os/net/Socket.h"
#include "os/net/TrackedHttpServer.h"
#include "os/testing/RawHttpClient.h"
#include "tools/newsd/tests/NewsdFixture.h"

namespace newsd::testing {
namespace {

using NewsdFaultTest = NewsdTest;

// A generous bound for what must happen at once: only a hang runs into it.
constexpr auto kHang = std::chrono::seconds(20);

Fault failing(FailureMode failure, double delay = 0) { return Fault{failure, delay}; }

std::string categoryListForm() {
  return signedForm(R"({"opcode":1040,"devtype":1,"sn":{"sharedudid":"device-A"}})", false);
}

TEST_F(NewsdFaultTest, EnvelopeFailuresHitOnlyTheirOperationAndChangeNothing) {
  server_->setFault(1040, failing(FailureMode::ErrorCode));
  os::Value refused = news(1040);
  EXPECT_EQ(refused["errorcode"].intValue(), -1);
  EXPECT_EQ(refused["opcode"].intValue(), 1040);
  EXPECT_EQ(refused["data"]["result"].intValue(), 2);  // a reader must refuse it for the errorcode alone
  EXPECT_EQ(news(1000, os::Dictionary{{"cp", 1}})["errorcode"].intValue(), 0);

  server_->setFault(1040, failing(FailureMode::MissingResult));
  os::Value noResult = news(1040);
  EXPECT_EQ(noResult["errorcode"].intValue(), 0);
  ASSERT_TRUE(noResult["data"].isDictionary());
  EXPECT_FALSE(noResult["data"].dictionary()->contains("result"));

  // The promotion API fails with its own failure value.
  server_->setFault(2613, failing(FailureMode::ErrorCode));
  os::Value ads = promotion("/imkt/mil/", 2613, os::Dictionary{{"pageno", 1}});
  EXPECT_EQ(ads["errorcode"].intValue(), -1);
  EXPECT_EQ(ads["data"]["result"].intValue(), 1);

  // A failed operation is not carried out behind the failure.
  long long id = server_->service().content().visibleArticles(4, kStartTime).front()->id;
  server_->setFault(1070, failing(FailureMode::ErrorCode));
  EXPECT_EQ(news(1070, os::Dictionary{{"id", id}, {"categoryid", 4}, {"action", 1}})["errorcode"].intValue(), -1);
  EXPECT_EQ(news(1030, os::Dictionary{{"id", id}})["data"]["favorite"].intValue(), 0);

  server_->clearFaults();
  EXPECT_EQ(news(1040)["data"]["result"].intValue(), 1);
  EXPECT_EQ(news(1070, os::Dictionary{{"id", id}, {"categoryid", 4}, {"action", 1}})["data"]["result"].intValue(), 1);
}

TEST_F(NewsdFaultTest, HttpErrorsOnOperationsTheVersionCheckAndPictures) {
  server_->setFault(1040, failing(FailureMode::HttpError));
  server_->setFault(FaultTarget::versionCheck(), failing(FailureMode::HttpError));
  server_->setFault(FaultTarget::pictures(), failing(FailureMode::HttpError));
  auto res = client_->Post("/api/imobile/", categoryListForm(), "application/x-www-form-urlencoded");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 500);
  EXPECT_EQ(get("/api/common/?cmd=verupdate&version=1.0")->status, 500);
  EXPECT_EQ(get("/img/p1_1/64x48.gif")->status, 500);
  EXPECT_EQ(news(1000, os::Dictionary{{"cp", 1}})["data"]["result"].intValue(), 1);

  server_->setFault(FaultTarget::versionCheck(), failing(FailureMode::ErrorCode));
  auto check = get("/api/common?cmd=verupdate&version=1.0");
  ASSERT_TRUE(check);
  EXPECT_EQ(parseJSON(check->body).value_or(os::Value())["errorcode"].intValue(), -1);
  server_->setFault(FaultTarget::pictures(), Fault{});
  EXPECT_EQ(get("/img/p1_1/64x48.gif")->status, 200);
}

TEST_F(NewsdFaultTest, FaultsGivenAtStartAreInForceFromTheFirstRequest) {
  ServerOptions options;
  ASSERT_TRUE(applyFaultArgument("1040=500", options.faults));
  NewsServer server(options);
  auto port = server.start();
  ASSERT_TRUE(port.has_value());
  httplib::Client client("127.0.0.1", *port);
  auto res = client.Post("/imobile", categoryListForm(), "application/x-www-form-urlencoded");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 500);
}

TEST_F(NewsdFaultTest, MisuseIsRefusedAndLeavesTheFaultsAsTheyWere) {
  server_->setFault(1040, failing(FailureMode::HttpError, 1));
  EXPECT_THROW(server_->setFault(1040, failing(FailureMode::None, -1)), os::Exception);
  EXPECT_THROW(server_->setFault(1040, failing(FailureMode::None, std::nan(""))), os::Exception);
  EXPECT_THROW(server_->faults().setDelay(FaultTarget::operation(1040), kMaxFaultDelay + 1), os::Exception);
  EXPECT_THROW(server_->setFault(FaultTarget::pictures(), failing(FailureMode::ErrorCode)), os::Exception);
  EXPECT_THROW(server_->faults().setFailure(FaultTarget::pictures(), FailureMode::MissingResult), os::Exception);
  EXPECT_EQ(server_->faults().at(FaultTarget::operation(1040)), failing(FailureMode::HttpError, 1));
  EXPECT_EQ(server_->faults().at(FaultTarget::pictures()), Fault{});
}

TEST_F(NewsdFaultTest, ADelayHoldsTheAnswerForThatMuchClockTime) {
  server_->setFault(1040, failing(FailureMode::None, 2.5));
  server_->setFault(1000, failing(FailureMode::ErrorCode, 1));
  int port = server_->port();
  auto ask = [port](std::string body) {
    return std::async(std::launch::async, [port, body] {
      httplib::Client client("127.0.0.1", port);
      client.set_read_timeout(30, 0);
      auto res = client.Post("/imobile/", body, "application/x-www-form-urlencoded");
      return res && res->status == 200 ? parseJSON(res->body).value_or(os::Value()) : os::Value();
    });
  };
  auto categories = ask(categoryListForm());
  ASSERT_TRUE(server_->awaitHeldRequests(1));
  os::Clock::advance(2.4);
  EXPECT_EQ(server_->heldRequests(), 1u);
  EXPECT_EQ(categories.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
  os::Clock::advance(0.2);
  ASSERT_EQ(categories.wait_for(kHang), std::future_status::ready);
  EXPECT_EQ(categories.get()["data"]["categorylist"].count(), 12u);

  // A delay comes before the failure it goes with.
  auto activation = ask(signedForm(R"({"opcode":1000,"opdata":{"cp":1}})", false));
  ASSERT_TRUE(server_->awaitHeldRequests(1));
  os::Clock::advance(1);
  ASSERT_EQ(activation.wait_for(kHang), std::future_status::ready);
  EXPECT_EQ(activation.get()["errorcode"].intValue(), -1);
  EXPECT_EQ(server_->heldRequests(), 0u);
}

TEST_F(NewsdFaultTest, AStallNeverAnswersUntilTheClientGivesUpOrTheServerStops) {
  server_->setFault(1040, failing(FailureMode::Stall));
  server_->setFault(FaultTarget::pictures(), failing(FailureMode::Stall));
  int port = server_->port();

  httplib::Client impatient("127.0.0.1", port);
  impatient.set_read_timeout(0, 200000);
  auto res = impatient.Post("/imobile/", categoryListForm(), "application/x-www-form-urlencoded");
  EXPECT_FALSE(res);
  EXPECT_EQ(res.error(), httplib::Error::Read);
  // The server lets the request go once its client has hung up.
  EXPECT_TRUE(server_->awaitHeldRequests(0));
  // Other operations still answer meanwhile.
  EXPECT_EQ(news(1000, os::Dictionary{{"cp", 1}})["data"]["result"].intValue(), 1);

  auto patient = [port](std::string path, std::string body) {
    return std::async(std::launch::async, [port, path, body] {
      httplib::Client client("127.0.0.1", port);
      client.set_read_timeout(60, 0);
      return body.empty() ? client.Get(path.c_str()) : client.Post(path.c_str(), body, "application/x-www-form-urlencoded");
    });
  };
  auto list = patient("/imobile/", categoryListForm());
  auto picture = patient("/img/p1_1/64x48.jpg", "");
  ASSERT_TRUE(server_->awaitHeldRequests(2));
  EXPECT_EQ(list.wait_for(std::chrono::seconds(0)), std::future_status::timeout);

  auto stopped = std::async(std::launch::async, [this] { server_->stop(); });
  ASSERT_EQ(stopped.wait_for(kHang), std::future_status::ready);
  ASSERT_EQ(list.wait_for(kHang), std::future_status::ready);
  ASSERT_EQ(picture.wait_for(kHang), std::future_status::ready);
  // Cut off without an answer, not told of a success.
  auto listResult = list.get();
  auto pictureResult = picture.get();
  EXPECT_FALSE(listResult) << listResult->status;
  EXPECT_FALSE(pictureResult) << pictureResult->status;
}

// A blocking TCP socket bound to address:localPort (0: any) and connected to address:port, reads
// bounded by a safety time-out (against a hang, not a measure); -1 when it failed.
int connectFrom(const std::string& address, int localPort, int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  auto from = os::makeIPv4Address(address, static_cast<std::uint16_t>(localPort));
  auto to = os::makeIPv4Address(address, static_cast<std::uint16_t>(port));
  timeval safety{30, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &safety, sizeof safety);
  int one = 1;  // a port of an earlier connection, ended meanwhile, is free again
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&*from), sizeof *from) != 0 ||
      ::connect(fd, reinterpret_cast<const sockaddr*>(&*to), sizeof *to) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  return fd;
}

int localPortOf(int fd) {
  sockaddr_in a{};
  socklen_t length = sizeof a;
  return ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0 ? ntohs(a.sin_port) : -1;
}

// Another connection of the process between the same two port numbers (another listener at
// 127.0.0.2, a client bound to the same port there), opened on a lower descriptor than the
// stalled one: the stall watches and cuts its own connection all the same, and the other stays.
TEST_F(NewsdFaultTest, AStallWatchesAndCutsItsOwnConnectionAmongLookalikes) {
  server_->setFault(1040, failing(FailureMode::Stall));
  const int port = server_->port();
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  auto other = os::makeIPv4Address("127.0.0.2", static_cast<std::uint16_t>(port));
  ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&*other), sizeof *other), 0);
  ASSERT_EQ(::listen(listener, 4), 0);

  // The lowest free descriptor, held until the server has accepted the stalled connection.
  int placeholder = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(placeholder, 0);
  const int lookalike = connectFrom("127.0.0.2", 0, port);
  ASSERT_GE(lookalike, 0);
  const int clientPort = localPortOf(lookalike);
  const int client = connectFrom("127.0.0.1", clientPort, port);
  ASSERT_GE(client, 0) << "port " << clientPort << " is taken at 127.0.0.1";
  // Answered, so accepted: the server's side of it lies above the placeholder.
  const std::string page = "GET /app/1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  ASSERT_EQ(::send(client, page.data(), page.size(), MSG_NOSIGNAL), static_cast<ssize_t>(page.size()));
  char buffer[4096];
  ASSERT_GT(::recv(client, buffer, sizeof buffer, 0), 0);
  ::close(placeholder);
  const int accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_GE(accepted, 0);
  timeval safety{30, 0};
  ::setsockopt(accepted, SOL_SOCKET, SO_RCVTIMEO, &safety, sizeof safety);

  const std::string form = categoryListForm();
  const std::string stalled = "POST /imobile/ HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                              "Content-Length: " + std::to_string(form.size()) + "\r\n\r\n" + form;
  ASSERT_EQ(::send(client, stalled.data(), stalled.size(), MSG_NOSIGNAL), static_cast<ssize_t>(stalled.size()));
  ASSERT_TRUE(server_->awaitHeldRequests(1));
  // The client gives up: the stall notices on its own connection and lets the request go.
  ::close(client);
  EXPECT_TRUE(server_->awaitHeldRequests(0, 10)) << "the stall watched another connection";

  // A second stalled request, cut by the stop: only its own connection is.
  auto patient = std::async(std::launch::async, [port, form] {
    httplib::Client c("127.0.0.1", port);
    c.set_read_timeout(60, 0);
    return c.Post("/imobile/", form, "application/x-www-form-urlencoded");
  });
  ASSERT_TRUE(server_->awaitHeldRequests(1));
  server_->stop();
  ASSERT_EQ(patient.wait_for(kHang), std::future_status::ready);
  EXPECT_FALSE(patient.get());
  ASSERT_EQ(::send(lookalike, "x", 1, MSG_NOSIGNAL), 1);
  char byte = 0;
  EXPECT_EQ(::recv(accepted, &byte, 1, 0), 1) << "the lookalike connection was cut";
  for (int fd : {lookalike, accepted, listener}) ::close(fd);
}

// A reader opening a list with more pictures than the server has workers, every picture stalled
// or delayed: the pictures wait, and the next page, an article, a vote are answered meanwhile.
TEST_F(NewsdFaultTest, HeldPicturesNeverKeepOtherRequestsWaiting) {
  constexpr std::size_t kPictures = os::TrackedHttpServer::kWorkers + 4;
  const int port = server_->port();
  // A picture asked on each of kPictures connections of their own.
  auto askPictures = [port] {
    const std::string picture = "GET /img/p1_1/64x48.jpg HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    std::vector<int> pictures;
    for (std::size_t i = 0; i < kPictures; ++i) {
      const int fd = os::testing::connectTo("127.0.0.1", port);
      if (fd >= 0 && ::send(fd, picture.data(), picture.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(picture.size())) pictures.push_back(fd);
    }
    return pictures;
  };
  for (FailureMode failure : {FailureMode::Stall, FailureMode::None}) {
    server_->setFault(FaultTarget::pictures(), failing(failure, failure == FailureMode::None ? 60 : 0));
    const std::vector<int> pictures = askPictures();
    ASSERT_TRUE(server_->awaitHeldRequests(kPictures)) << server_->heldRequests() << " of " << kPictures << " pictures held";
    EXPECT_EQ(news(1040)["data"]["categorylist"].count(), 12u) << failureName(failure);
    auto page = get("/app/1");
    ASSERT_TRUE(page) << failureName(failure);
    EXPECT_EQ(page->status, 200);
    if (failure == FailureMode::None) {
      // The delay ends: every picture is answered whole.
      os::Clock::advance(60);
      for (int fd : pictures) EXPECT_NE(os::testing::answerOn(fd, "", 1).find("200 OK"), std::string::npos);
    }
    for (int fd : pictures) ::close(fd);
    ASSERT_TRUE(server_->awaitHeldRequests(0));
  }
  // A stop still lets every held request go at once.
  server_->setFault(FaultTarget::pictures(), failing(FailureMode::Stall));
  const std::vector<int> pictures = askPictures();
  ASSERT_TRUE(server_->awaitHeldRequests(kPictures));
  auto stopped = std::async(std::launch::async, [this] { server_->stop(); });
  ASSERT_EQ(stopped.wait_for(kHang), std::future_status::ready);
  for (int fd : pictures) {
    EXPECT_EQ(os::testing::readToClose(fd), "") << "a stalled picture was answered";
    ::close(fd);
  }
}

TEST_F(NewsdFaultTest, StoppingLetsADelayedRequestGoAtOnce) {
  server_->setFault(1040, failing(FailureMode::None, kMaxFaultDelay));
  int port = server_->port();
  auto list = std::async(std::launch::async, [port] {
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(60, 0);
    return client.Post("/imobile/", categoryListForm(), "application/x-www-form-urlencoded");
  });
  ASSERT_TRUE(server_->awaitHeldRequests(1));
  auto stopped = std::async(std::launch::async, [this] { server_->stop(); });
  ASSERT_EQ(stopped.wait_for(kHang), std::future_status::ready);
  ASSERT_EQ(list.wait_for(kHang), std::future_status::ready);
  EXPECT_FALSE(list.get());
}

TEST(NewsdFaultArgumentTest, TargetsFailuresAndDelaysAreReadStrictly) {
  std::map<FaultTarget, Fault> faults;
  EXPECT_TRUE(applyFaultArgument("1000=stall", faults));
  EXPECT_TRUE(applyDelayArgument("1000=2.5", faults));
  EXPECT_TRUE(applyFaultArgument("common=errorcode", faults));
  EXPECT_TRUE(applyFaultArgument("2616=noresult", faults));
  EXPECT_TRUE(applyFaultArgument("img=500", faults));
  EXPECT_TRUE(applyDelayArgument("img=.5", faults));
  EXPECT_EQ(faults[FaultTarget::operation(1000)], failing(FailureMode::Stall, 2.5));
  EXPECT_EQ(faults[FaultTarget::versionCheck()], failing(FailureMode::ErrorCode));
  EXPECT_EQ(faults[FaultTarget::operation(2616)], failing(FailureMode::MissingResult));
  EXPECT_EQ(faults[FaultTarget::pictures()], failing(FailureMode::HttpError, 0.5));

  auto before = faults;
  for (const char* bad : {"img=errorcode", "img=noresult", "1000", "=stall", "1000=", "1000=slow", "x=stall",
                          "-1=stall", "1000=stall=1", "10000000000=500"})
    EXPECT_FALSE(applyFaultArgument(bad, faults)) << bad;
  for (const char* bad : {"1040=-1", "1040=nan", "1040=inf", "1040=1e9", "1040=2s", "1040=", "1040= 1", "1040"})
    EXPECT_FALSE(applyDelayArgument(bad, faults)) << bad;
  EXPECT_EQ(faults, before);
}

}  // namespace
}  // namespace newsd::testing
