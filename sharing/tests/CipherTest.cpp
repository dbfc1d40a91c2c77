#include "sharing/service/OBSDataManagerSet.h"
#include "sharing/service/OBSocialCryptor.h"
#include "sharing/service/XTMOBStringEncoding.h"
#include "sharing/tests/SharingFixture.h"

namespace {

using CipherTest = SharingFixture;

TEST_F(CipherTest, BlocksArePaddedWithZerosAndRoundTrip) {
  OBSDataManagerSet::shareInstance()->setAppkey("6c3f0e9a2b7d41580a9e3c12");
  auto empty = OBSocialCryptor::AES128Encrypt("");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->size(), 24u);
  EXPECT_TRUE(empty->ends_with("=="));
  auto sixteen = OBSocialCryptor::AES128Encrypt("0123456789abcdef");
  ASSERT_TRUE(sixteen);
  EXPECT_EQ(sixteen->size(), 44u);

  auto plain = OBSocialCryptor::AES128Decrypt(*OBSocialCryptor::AES128Encrypt("{\"st\":200}"));
  ASSERT_TRUE(plain);
  EXPECT_EQ(*plain, std::string("{\"st\":200}") + std::string(6, '\0'));
  EXPECT_EQ(OBSocialCryptor::stripPadding(*plain), "{\"st\":200}");
  EXPECT_FALSE(OBSocialCryptor::AES128Decrypt("not base64!"));
  EXPECT_FALSE(OBSocialCryptor::AES128Decrypt("YWJj"));  // not a whole block
}

// Known answers worked out apart from this code (AES-128-CBC without padding of its own over the
// zero-padded text; key "F7B48C5E4AE5E08E", the first 16 upper-case MD5 digits of the key; the
// fixed vector). The key is made once, from the first application key: a later key leaves it.
TEST_F(CipherTest, KnownAnswersAndTheKeyIsMadeOnce) {
  constexpr const char* kQuery = "mac=A4:5E:60:00:00:01&platforms=sina,qq";
  constexpr const char* kQueryCipher = "4c40uu4cPeDb7Yv/X6S+/kHBNLwqRktUMST8sguvAaFcPppXB3E+WWXmxHaA1CoX";
  OBSDataManagerSet::shareInstance()->setAppkey("6c3f0e9a2b7d41580a9e3c12");
  EXPECT_EQ(OBSocialCryptor::keyForAppKey("6c3f0e9a2b7d41580a9e3c12"), os::dataFromString("F7B48C5E4AE5E08E"));
  EXPECT_EQ(OBSocialCryptor::AES128Encrypt(""), "58Qna09A4Ogc8wSku9FsMA==");
  EXPECT_EQ(OBSocialCryptor::AES128Encrypt(kQuery), kQueryCipher);

  OBSDataManagerSet::shareInstance()->setAppkey("second-key");
  EXPECT_EQ(OBSocialCryptor::AES128Encrypt(kQuery), kQueryCipher);
  auto plain = OBSocialCryptor::AES128Decrypt(kQueryCipher);
  ASSERT_TRUE(plain);
  EXPECT_EQ(OBSocialCryptor::stripPadding(*plain), kQuery);
  EXPECT_EQ(plain->size(), 48u);

  // A fresh component takes the key it finds at its first use.
  OBSocialContextScope restarted;
  OBSDataManagerSet::shareInstance()->setAppkey("second-key");
  EXPECT_EQ(OBSocialCryptor::AES128Encrypt(kQuery), OBSocialCryptor::encrypt(kQuery, "second-key"));
  EXPECT_NE(OBSocialCryptor::AES128Encrypt(kQuery), kQueryCipher);
}

TEST(StringEncodingTest, EncodesPowerOfTwoAlphabetsAndRejectsOthers) {
  auto base64 = XTMOBStringEncoding::rfc4648Base64StringEncoding();
  EXPECT_EQ(base64->encodeString("abc"), "YWJj");
  EXPECT_EQ(base64->encodeString("ab"), "YWI=");
  EXPECT_EQ(base64->encodeString(""), "");
  EXPECT_EQ(base64->description().substr(0, 25), "<Base64 StringEncoder: AB");
  auto hex = XTMOBStringEncoding::stringEncodingWithString("0123456789ABCDEF");
  ASSERT_TRUE(hex);
  EXPECT_EQ(hex->encode({0xDE, 0xAD}), "DEAD");
  auto base32 = XTMOBStringEncoding::stringEncodingWithString("ABCDEFGHIJKLMNOPQRSTUVWXYZ234567");
  base32->setDoPad(true);
  EXPECT_EQ(base32->encodeString("f"), "MY======");
  EXPECT_FALSE(XTMOBStringEncoding::stringEncodingWithString("abc"));
  EXPECT_FALSE(XTMOBStringEncoding::stringEncodingWithString("aabc"));
}

TEST(StrictBase64Test, PaddingAndSpareBitsAreRequired) {
  EXPECT_FALSE(OBSocialBase64::decodeString("YWJ"));
  EXPECT_EQ(OBSocialBase64::decodeString("YW Jj"), os::dataFromString("abc"));
  EXPECT_EQ(OBSocialBase64::decodeString("YWI=\r\n"), os::dataFromString("ab"));
  EXPECT_EQ(OBSocialBase64::decodeString("YQ = ="), os::dataFromString("a"));
  EXPECT_FALSE(OBSocialBase64::decodeString("YWJ="));   // "J" leaves bits set
  EXPECT_FALSE(OBSocialBase64::decodeString("YQ="));    // one "=" after two characters
  EXPECT_FALSE(OBSocialBase64::decodeString("YWI=YWJj"));
  EXPECT_FALSE(OBSocialBase64::decodeString("YW*j"));
  EXPECT_FALSE(OBSocialBase64::decodeString("Y==="));
  EXPECT_FALSE(OBSocialBase64::decodeString("é"));
  EXPECT_FALSE(OBSocialBase64::decodeString(""));
}

}  // namespace
