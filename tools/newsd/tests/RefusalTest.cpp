#include "tools/newsd/tests/NewsdFixture.h"

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
