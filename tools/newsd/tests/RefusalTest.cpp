#include "tools/newsd/tests/NewsdFixture.h"

#include <unistd.h>

#include "os/testing/RawHttpClient.h"

namespace newsd::testing {
namespace {

using NewsdRefusalTest = NewsdTest;

// A form whose "p" is any text, signed correctly for the news API.
std::string newsFormWithP(const std::string& p) {
  return os::buildQuery({{"p", p}, {"v", "1"}, {"c", checkCode(p, deriveSigningKey(kNewsSecretKey))}});
}

int errorcodeOf(const os::Value& answer) {
  EXPECT_TRUE(answer.isDictionary()) << "no JSON answer";
  EXPECT_TRUE(answer["errorcode"].isNumber());
  return static_cast<int>(answer["errorcode"].intValue());
}

TEST_F(NewsdRefusalTest, AWrongCheckCodeIsRefusedWhateverElseIsRight) {
  std::string p = encodeParameterText(R"({"opcode":1040})");
  std::string good = checkCode(p, deriveSigningKey(kNewsSecretKey));
  std::string bad = good;
  bad[31] = bad[31] == '0' ? '1' : '0';
  EXPECT_EQ(errorcodeOf(postForm("/imobile/", os::buildQuery({{"p", p}, {"v", "1"}, {"c", bad}}))), kBadCheckCode);
  EXPECT_EQ(errorcodeOf(postForm("/imobile/", os::buildQuery({{"p", p}, {"v", "1"}, {"c", good.substr(0, 30)}}))), kBadCheckCode);
  // Signed with the other API's key.
  std::string promo = checkCode(p, deriveSigningKey(kPromotionSecretKey));
  EXPECT_EQ(errorcodeOf(postForm("/imobile/", os::buildQuery({{"p", p}, {"v", "1"}, {"c", promo}}))), kBadCheckCode);
  // The same form is good as sent.
  EXPECT_EQ(errorcodeOf(postForm("/imobile/", os::buildQuery({{"p", p}, {"v", "1"}, {"c", good}}))), kOk);

  // A deployment with keys of its own refuses what the default keys signed.
  ServiceOptions options;
  options.newsKey = "0123456789abcdefABCDEF0123456789";
  startServer(options);
  EXPECT_EQ(errorcodeOf(postForm("/imobile/", os::buildQuery({{"p", p}, {"v", "1"}, {"c", good}}))), kBadCheckCode);
  std::string own = checkCode(p, deriveSigningKey(options.newsKey));
  EXPECT_EQ(errorcodeOf(postForm("/imobile/", os::buildQuery({{"p", p}, {"v", "1"}, {"c", own}}))), kOk);
}

TEST_F(NewsdRefusalTest, MalformedFormsGetAnErrorEnvelopeAndTheServerCarriesOn) {
  EXPECT_EQ(errorcodeOf(postForm("/imobile/", "")), kMalformedRequest);
  EXPECT_EQ(errorcodeOf(postForm("/imobile/", "%zz%&&==&p")), kMalformedRequest);
  EXPECT_EQ(errorcodeOf(postForm("/imobile/", newsFormWithP("not base64!"))), kMalformedRequest);
  EXPECT_EQ(errorcodeOf(postForm("/imobile/", newsFormWithP(encodeParameterText("{\"opcode\":")))), kMalformedRequest);
  EXPECT_EQ(errorcodeOf(postForm("/imobile/", newsFormWithP(encodeParameterText("[1040]")))), kMalformedRequest);
  EXPECT_EQ(errorcodeOf(postForm("/imobile/", newsFormWithP(encodeParameterText("{\"opdata\":{}}")))), kMalformedRequest);
  EXPECT_EQ(errorcodeOf(postForm("/imobile/", newsFormWithP(encodeParameterText("{\"opcode\":\"1040\"}")))), kMalformedRequest);
  EXPECT_EQ(errorcodeOf(postForm("/imobile/", newsFormWithP("\xff\xfe\x00\x01"))), kMalformedRequest);

  // Line breaks inside "p" are a fault of the reader's encoder, even where Base64 would skip them.
  std::string longJSON = R"({"opcode":1040,"opdata":{"note":"long enough to need a second line of Base64"}})";
  std::string p = encodeParameterText(longJSON);
  EXPECT_EQ(errorcodeOf(postForm("/imobile/", newsFormWithP(p.substr(0, 64) + "\r\n" + p.substr(64)))), kMalformedRequest);

  std::string promoP = encodeParameterText(R"({"opcode":2613,"in":{"pageno":1}})");
  std::string promoCheck = checkCode(promoP, deriveSigningKey(kPromotionSecretKey));
  // The promotion API signs in "check"; a "c" there is a missing field.
  EXPECT_EQ(errorcodeOf(postForm("/imkt/mil/", os::buildQuery({{"p", promoP}, {"v", "3"}, {"c", promoCheck}}))), kMalformedRequest);
  EXPECT_EQ(errorcodeOf(postForm("/imkt/mil/", os::buildQuery({{"p", promoP}, {"v", "1"}, {"check", promoCheck}}))), kBadInterfaceVersion);

  EXPECT_EQ(news(1000, os::Dictionary{{"cp", 2}})["data"]["result"].intValue(), 1);
}

// A body in chunks that breaks its framing is unreadable, not too large; one that ends with
// trailer fields is read as any other.
TEST_F(NewsdRefusalTest, ABodyBrokenInItsChunksIsUnreadableAndTrailersAreAllowed) {
  const std::string form = newsFormWithP(encodeParameterText(R"({"opcode":1040})"));
  auto sendChunked = [&](const std::string& chunks) {
    const int fd = os::testing::connectTo("127.0.0.1", server_->port());
    const std::string answer = os::testing::answerToClose(
        fd, "POST /imobile/ HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\nTransfer-Encoding: chunked\r\n\r\n" + chunks);
    ::close(fd);
    return answer;
  };
  char size[16];
  std::snprintf(size, sizeof size, "%zx", form.size());
  const std::string broken = sendChunked("3\r\n" + form + "\r\n0\r\n\r\n");
  EXPECT_EQ(broken.rfind("HTTP/1.1 400", 0), 0u) << broken.substr(0, 64);
  const std::string trailed = sendChunked(size + std::string("\r\n") + form + "\r\n0\r\nX-Sum: 1\r\n\r\n");
  EXPECT_EQ(trailed.rfind("HTTP/1.1 200", 0), 0u) << trailed.substr(0, 64);
  EXPECT_NE(trailed.find("\"errorcode\":0"), std::string::npos) << trailed;
}

// A body in parts is no form this server reads: a clear refusal, not an internal error, and the
// next form is served.
TEST_F(NewsdRefusalTest, AMultipartBodyIsRefusedAsUnreadable) {
  const std::string body = "--b\r\nContent-Disposition: form-data; name=\"p\"\r\n\r\nx\r\n--b--\r\n";
  const int fd = os::testing::connectTo("127.0.0.1", server_->port());
  const std::string answer = os::testing::answerToClose(
      fd, "POST /imobile/ HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
          "Content-Type: multipart/form-data; boundary=b\r\nContent-Length: " + std::to_string(body.size()) +
              "\r\n\r\n" + body);
  ::close(fd);
  EXPECT_EQ(answer.rfind("HTTP/1.1 415", 0), 0u) << answer.substr(0, 64);
  EXPECT_EQ(errorcodeOf(postForm("/imobile/", newsFormWithP(encodeParameterText(R"({"opcode":1040})")))), kOk);
}

// A form's fields are counted with what each costs to keep: a body of empty fields within the
// byte bound, sent with its length or in chunks, is refused rather than split into fields by the
// million, and the next form is served. (A crash dump near the bound, in a few fields, still is.)
TEST_F(NewsdRefusalTest, AFormOfFieldsByTheMillionIsRefusedAsTooLarge) {
  const std::string empty(8u << 20, '&'), named = std::string(4u << 20, 'a') + std::string(4u << 20, '&');
  for (const std::string& body : {empty, named}) {
    for (const bool chunked : {false, true}) {
      SCOPED_TRACE(chunked ? "in chunks" : "with its length");
      auto res = chunked ? client_->Post("/imobile/", os::testing::inChunks(body), "application/x-www-form-urlencoded")
                         : client_->Post("/imobile/", body, "application/x-www-form-urlencoded");
      ASSERT_TRUE(res);
      EXPECT_EQ(res->status, 413);
    }
  }
  EXPECT_EQ(errorcodeOf(postForm("/imobile/", newsFormWithP(encodeParameterText(R"({"opcode":1040})")))), kOk);
}

// Two news servers asked for one port (two homes keeping the same ports, started together): the
// second never listens beside the first, which would split the readers' connections between
// them; told to, it takes a free port instead.
TEST_F(NewsdRefusalTest, ASecondServerNeverSharesThePortTheFirstListensOn) {
  ServerOptions options;
  options.port = server_->port();
  // As the program binds (--port P, then --free-if-taken).
  NewsServer second(options);
  EXPECT_FALSE(second.bind()) << "two news servers listen on one port";
  options.freeIfTaken = true;
  NewsServer third(options);
  const auto elsewhere = third.bind();
  ASSERT_TRUE(elsewhere);
  EXPECT_NE(*elsewhere, server_->port());
}

TEST_F(NewsdRefusalTest, OperationsAreServedOnlyAtTheirOwnPath) {
  EXPECT_EQ(errorcodeOf(promotion("/imkt/", 2613, os::Dictionary{{"pageno", 1}})), kUnknownOperation);
  EXPECT_EQ(errorcodeOf(promotion("/imkt/mil/", 2002, os::Dictionary{{"appid", 501}})), kUnknownOperation);
  EXPECT_EQ(errorcodeOf(news(1080)), kUnknownOperation);
  os::Dictionary params{{"opcode", 1040}};
  EXPECT_EQ(errorcodeOf(postForm("/imkt/", signedForm(writeJSON(params), true))), kUnknownOperation);
  auto res = client_->Post("/elsewhere", "p=1", "application/x-www-form-urlencoded");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 404);
}

TEST_F(NewsdRefusalTest, APlusInTheParameterTextStaysAPlus) {
  // Find parameters whose Base64 carries a "+", then post it unescaped as a lax encoder would.
  std::string json, p;
  for (int n = 0; p.find('+') == std::string::npos; ++n) {
    json = R"({"opcode":1000,"opdata":{"cp":1},"pad":")" + std::string(n % 7, '>') + std::to_string(n) + "\"}";
    p = encodeParameterText(json);
    ASSERT_LT(n, 500);
  }
  std::string body = "p=" + p + "&v=1&c=" + checkCode(p, deriveSigningKey(kNewsSecretKey));
  os::Value answer = postForm("/imobile", body);
  EXPECT_EQ(answer["errorcode"].intValue(), 0) << body;
  EXPECT_EQ(answer["data"]["result"].intValue(), 1);
}

}  // namespace
}  // namespace newsd::testing
