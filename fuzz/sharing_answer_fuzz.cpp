// fuzz-link: sharing
// The sharing service's answers: Base64 text deciphered with a fixed application key, and the
// deciphered text read as the {"st", "msg", "data"} record. Neither may crash, and only an
// object with a status may come out as anything but a failure.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sharing/service/OBSocialCryptor.h"
#include "sharing/service/OBSocialJob.h"
#include "sharing/service/OBSocialResponseEntity.h"
#include "sharing/service/XTMOBStringEncoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  OBSocialBase64::decodeString(text);
  if (auto plain = OBSocialCryptor::decrypt(text, "6c3f0e9a2b7d41580a9e3c12")) {
    OBSocialJob::responseForDecipheredAnswer(*plain, 3);
  }
  std::optional<os::Dictionary> answer;
  auto response = OBSocialJob::responseForDecipheredAnswer(text, 5, &answer);
  if (response->responseCode != OBSocialResponseCodeNetworkError && !answer) std::abort();
  return 0;
}
