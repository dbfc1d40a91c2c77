#pragma once
// Symmetric ciphers: AES-128 in CBC mode and the RC4 stream cipher.
#include <optional>

#include "os/core/Data.h"
#include "os/core/Error.h"

namespace os {

inline constexpr const char* kCipherErrorDomain = "os.cipher";
enum CipherErrorCode : long {
  kCipherParamError = -4300,      // key or vector of the wrong size
  kCipherAlignmentError = -4303,  // input not a whole number of blocks without padding
  kCipherDecodeError = -4304,     // bad padding or a failure inside the cipher
};

enum class CipherPadding { None, PKCS7 };

// AES-128-CBC. The key and the initialisation vector are 16 bytes each. Without padding the input
// must be a whole number of 16-byte blocks.
std::optional<Data> aes128CBCEncrypt(const Data& input, const Data& key, const Data& iv,
                                     CipherPadding padding, Error* error = nullptr);
std::optional<Data> aes128CBCDecrypt(const Data& input, const Data& key, const Data& iv,
                                     CipherPadding padding, Error* error = nullptr);

// RC4 with a key stream started afresh from the key (1 to 256 bytes); enciphering twice gives the
// input back. An empty key leaves the input unchanged.
Data rc4(const Data& input, const Data& key);

}  // namespace os
