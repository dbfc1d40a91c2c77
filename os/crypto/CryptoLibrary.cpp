#include "os/crypto/CryptoLibrary.h"

#include <openssl/crypto.h>

#include <mutex>

namespace os {

void prepareCryptoLibrary() {
  static std::once_flag once;
  // The first start settles what is loaded: later starts (the URL library's, asking for the
  // texts) do not load them any more.
  std::call_once(once, [] { OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CONFIG | OPENSSL_INIT_NO_LOAD_CRYPTO_STRINGS, nullptr); });
}

}  // namespace os
