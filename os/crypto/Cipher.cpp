#include "os/crypto/Cipher.h"

#include <openssl/evp.h>

#include <memory>

#include "os/crypto/CryptoLibrary.h"

namespace os {

namespace {

void fail(Error* error, long code, const char* what) {
  if (error) *error = Error::withDescription(kCipherErrorDomain, code, what);
}

std::optional<Data> aes128CBC(bool encrypt, const Data& input, const Data& key, const Data& iv,
                              CipherPadding padding, Error* error) {
  if (key.size() != 16 || iv.size() != 16) {
    fail(error, kCipherParamError, "AES-128 needs a 16-byte key and a 16-byte initialisation vector");
    return std::nullopt;
  }
  if ((padding == CipherPadding::None || !encrypt) && input.size() % 16 != 0) {
    fail(error, kCipherAlignmentError, "input is not a whole number of 16-byte blocks");
    return std::nullopt;
  }
  CryptoLibraryUse use;  // outlives the context
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  if (!ctx || EVP_CipherInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, key.data(), iv.data(), encrypt ? 1 : 0) != 1) {
    fail(error, kCipherDecodeError, "cipher set-up failed");
    return std::nullopt;
  }
  EVP_CIPHER_CTX_set_padding(ctx.get(), padding == CipherPadding::PKCS7 ? 1 : 0);
  Data out(input.size() + 16);
  int n = 0, tail = 0;
  if (EVP_CipherUpdate(ctx.get(), out.data(), &n, input.data(), static_cast<int>(input.size())) != 1 ||
      EVP_CipherFinal_ex(ctx.get(), out.data() + n, &tail) != 1) {
    fail(error, kCipherDecodeError, encrypt ? "encryption failed" : "decryption failed (bad padding or key)");
    return std::nullopt;
  }
  out.resize(static_cast<std::size_t>(n + tail));
  return out;
}

}  // namespace

std::optional<Data> aes128CBCEncrypt(const Data& input, const Data& key, const Data& iv, CipherPadding padding,
                                     Error* error) {
  return aes128CBC(true, input, key, iv, padding, error);
}

std::optional<Data> aes128CBCDecrypt(const Data& input, const Data& key, const Data& iv, CipherPadding padding,
                                     Error* error) {
  return aes128CBC(false, input, key, iv, padding, error);
}

// Written out here: the library keeps RC4 only behind its legacy provider.
Data rc4(const Data& input, const Data& key) {
  if (key.empty()) return input;
  std::uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<std::uint8_t>(i);
  std::size_t keyLen = key.size() > 256 ? 256 : key.size();
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + key[static_cast<std::size_t>(i) % keyLen]) & 255;
    std::swap(s[i], s[j]);
  }
  Data out(input.size());
  int i = 0, j = 0;
  for (std::size_t k = 0; k < input.size(); ++k) {
    i = (i + 1) & 255;
    j = (j + s[i]) & 255;
    std::swap(s[i], s[j]);
    out[k] = input[k] ^ s[(s[i] + s[j]) & 255];
  }
  return out;
}

}  // namespace os
