#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "os/crypto/Cipher.h"
#include "os/crypto/Digest.h"
#include "os/crypto/Random.h"

namespace os {
namespace {

Data fromHex(const std::string& hex) {
  Data out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

TEST(CryptoDigest, MD5MatchesRFC1321Suite) {
  EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
  EXPECT_EQ(md5Hex(dataFromString("abc")), md5Hex("abc"));
  EXPECT_EQ(md5("abc").size(), 16u);
}

TEST(CryptoDigest, SHA1MatchesFIPS180Examples) {
  EXPECT_EQ(sha1Hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(sha1Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(sha1Hex(Data(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST(CryptoDigest, HMACSHA1MatchesRFC2202) {
  EXPECT_EQ(hexString(hmacSHA1(Data(20, 0x0b), dataFromString("Hi There"))), "b617318655057264e28bc0b6fb378c8ef146be00");
  EXPECT_EQ(hexString(hmacSHA1(dataFromString("Jefe"), dataFromString("what do ya want for nothing?"))),
            "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");
  EXPECT_EQ(hexString(hmacSHA1(Data(20, 0xaa), Data(50, 0xdd))), "125d7342b9ac11cd91a39af48aa17b4f63f175d3");
  // A key longer than the block is hashed first.
  EXPECT_EQ(hexString(hmacSHA1(Data(80, 0xaa), dataFromString("Test Using Larger Than Block-Size Key - Hash Key First"))),
            "aa4ae5e15272d00e95705637ce8a3b55ed402112");
  EXPECT_EQ(hmacSHA1({}, {}).size(), 20u);
}

class CryptoAES128CBC : public ::testing::Test {
 protected:
  // NIST SP 800-38A, F.2.1 / F.2.2.
  Data key = fromHex("2b7e151628aed2a6abf7158809cf4f3c");
  Data iv = fromHex("000102030405060708090a0b0c0d0e0f");
  Data plain = fromHex(
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
  Data cipher = fromHex(
      "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b273bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7");
};

TEST_F(CryptoAES128CBC, MatchesNISTVectorsWithoutPadding) {
  EXPECT_EQ(aes128CBCEncrypt(plain, key, iv, CipherPadding::None), cipher);
  EXPECT_EQ(aes128CBCDecrypt(cipher, key, iv, CipherPadding::None), plain);
}

TEST_F(CryptoAES128CBC, PKCS7PadsToTheNextBlockAndStripsOnDecrypt) {
  auto sealed = aes128CBCEncrypt(dataFromString("abc"), key, iv, CipherPadding::PKCS7);
  ASSERT_TRUE(sealed);
  EXPECT_EQ(sealed->size(), 16u);
  EXPECT_EQ(aes128CBCDecrypt(*sealed, key, iv, CipherPadding::PKCS7), dataFromString("abc"));
  // A whole block of input gains a whole block of padding; its first block matches the unpadded form.
  auto full = aes128CBCEncrypt(plain, key, iv, CipherPadding::PKCS7);
  ASSERT_TRUE(full);
  EXPECT_EQ(full->size(), plain.size() + 16);
  EXPECT_TRUE(std::equal(cipher.begin(), cipher.end(), full->begin()));
  EXPECT_EQ(aes128CBCEncrypt({}, key, iv, CipherPadding::PKCS7)->size(), 16u);
}

TEST_F(CryptoAES128CBC, BadInputIsAnErrorNotACrash) {
  Error error;
  EXPECT_FALSE(aes128CBCEncrypt(dataFromString("abc"), key, iv, CipherPadding::None, &error));
  EXPECT_EQ(error.code, kCipherAlignmentError);
  EXPECT_FALSE(aes128CBCEncrypt(plain, Data(15, 1), iv, CipherPadding::None, &error));
  EXPECT_EQ(error.code, kCipherParamError);
  EXPECT_FALSE(aes128CBCDecrypt(Data(17, 0), key, iv, CipherPadding::PKCS7, &error));
  EXPECT_EQ(error.code, kCipherAlignmentError);
  // The last block of the vector's cipher text does not end in valid padding.
  EXPECT_FALSE(aes128CBCDecrypt(cipher, key, iv, CipherPadding::PKCS7, &error));
  EXPECT_EQ(error.domain, kCipherErrorDomain);
  EXPECT_EQ(error.code, kCipherDecodeError);
}

TEST(CryptoRC4, MatchesKnownKeyStreamsAndInvertsItself) {
  EXPECT_EQ(hexString(rc4(dataFromString("Plaintext"), dataFromString("Key"))), "bbf316e8d940af0ad3");
  EXPECT_EQ(hexString(rc4(dataFromString("pedia"), dataFromString("Wiki"))), "1021bf0420");
  EXPECT_EQ(hexString(rc4(dataFromString("Attack at dawn"), dataFromString("Secret"))), "45a01f645fc35b383552544b9bf5");
  Data key = dataFromString("4b7e0c9a2f5d8e1b6a3c7f0e9d2b5a48");
  Data body = dataFromString("{\"events\":[1,2,3]}");
  EXPECT_EQ(rc4(rc4(body, key), key), body);
}

TEST(CryptoRandom, SeededSourceIsReproducibleAndRestored) {
  std::string first, second;
  {
    SeededRandomScope scope(42);
    first = uuidString() + hexString(randomBytes(8));
  }
  {
    SeededRandomScope scope(42);
    second = uuidString() + hexString(randomBytes(8));
  }
  EXPECT_EQ(first, second);
  // Outside a scope the secure source is back: two draws differ.
  EXPECT_NE(uuidString(), uuidString());
}

TEST(CryptoRandom, UUIDHasThePlatformShapeAndVersion4Bits) {
  std::regex shape("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
  for (int i = 0; i < 50; ++i) EXPECT_TRUE(std::regex_match(uuidString(), shape));
}

TEST(CryptoRandom, UniformStaysInRangeAndCoversIt) {
  SeededRandomScope scope(7);
  std::set<std::uint32_t> seen;
  for (int i = 0; i < 400; ++i) {
    std::uint32_t r = randomUniform(16);
    ASSERT_LT(r, 16u);
    seen.insert(r);
  }
  EXPECT_EQ(seen.size(), 16u);
  EXPECT_EQ(randomUniform(0), 0u);
  EXPECT_EQ(randomUniform(1), 0u);
}

}  // namespace
}  // namespace os
