// What the Renren service holds of one request stays within its bound however a peer sends the
// body: with its length given, in chunks without a length, or compressed to a few kilobytes.
#include <gtest/gtest.h>
#include <httplib.h>

#include "foundation/formats/JSONDecoder.h"
#include "os/runtime/Clock.h"
#include "os/testing/RawHttpClient.h"
#include "tools/renrend/server/RenrenServer.h"

namespace renrend {
namespace {

const std::string kBoundary = "renrenboundary0123456789";
const std::string kUri = "/v2/photo/upload?albumId=9";

// The photo upload as the client sends it: the file the one part of the body.
std::string uploadBody(std::size_t fileBytes) {
  return "--" + kBoundary +
         "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"file.png\"\r\nContent-Type: image/png\r\n\r\n" +
         std::string(fileBytes, 'p') + "\r\n--" + kBoundary + "--\r\n";
}

class RenrenBoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto bound = server.start(0);
    ASSERT_TRUE(bound);
    port = *bound;
    server.api().addMacToken("x.456.y", "mackey", "456");
  }
  void TearDown() override { server.stop(); }

  httplib::Headers signedHeaders() {
    const std::string host = "127.0.0.1:" + std::to_string(port);
    const std::string nonce = "nonce" + std::to_string(++nonces);
    return {{"Authorization", "MAC id=\"x.456.y\",ts=\"1700000000\",nonce=\"" + nonce + "\",mac=\"" +
                                  macSignature("mackey", "1700000000", nonce, "POST", kUri, host) + "\""},
            {"Host", host}};
  }

  // The file size the service answers it took, or -1 when it refused the upload.
  static long long takenSize(const httplib::Result& answer) {
    if (!answer || answer->status != 200) return -1;
    auto value = JSONDecoder::decoder()->objectWithUTF8String(answer->body.data(), answer->body.size());
    return value ? (*value)["response"]["size"].intValue() : -1;
  }

  os::VirtualClockScope clock{1700000000};
  RenrenServer server;
  int port = 0;
  int nonces = 0;
};

TEST_F(RenrenBoundTest, AnUploadPastTheBoundIsRefusedHoweverItsBodyTravels) {
  const std::string contentType = "multipart/form-data; boundary=" + kBoundary;
  const std::size_t past = RenrenServer::kMaxPayload + 1;

  // A photo within the bound is taken, in chunks as well.
  httplib::Client client("127.0.0.1", port);
  os::testing::patient(client);
  EXPECT_EQ(takenSize(client.Post(kUri, signedHeaders(), uploadBody(1024), contentType)), 1024);

  // With its length given.
  auto whole = client.Post(kUri, signedHeaders(), uploadBody(past), contentType);
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->status, 413);

  // In chunks, with no length for the HTTP layer to check first.
  auto chunked = [&](std::string body) {
    httplib::Client c("127.0.0.1", port);
    os::testing::patient(c);
    return c.Post(kUri, signedHeaders(), os::testing::inChunks(std::move(body)), contentType);
  };
  EXPECT_EQ(takenSize(chunked(uploadBody(1024))), 1024);
  EXPECT_EQ(takenSize(chunked(uploadBody(past))), -1);

  // Compressed: a few kilobytes on the wire, past the bound once inflated.
  httplib::Client compressing("127.0.0.1", port);
  os::testing::patient(compressing);
  compressing.set_compress(true);
  EXPECT_EQ(takenSize(compressing.Post(kUri, signedHeaders(), uploadBody(1024), contentType)), 1024);
  EXPECT_EQ(takenSize(compressing.Post(kUri, signedHeaders(), uploadBody(past), contentType)), -1);
}

}  // namespace
}  // namespace renrend
