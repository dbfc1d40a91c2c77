// fuzz-link: qqconnect
// The analytics CGI's answers: the body under each content encoding (deciphered, inflated behind
// its length), read as JSON and handed to the online configuration. Nothing may crash, and no
// answer may inflate beyond the cap.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "qqconnect/analytics/VMA4QCConfig.h"
#include "qqconnect/analytics/VMA4QCDispatcher.h"
#include "qqconnect/analytics/VMA4QCJSON.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const char* encodings[] = {"", "rc4", "rc4,gzip", "gzip"};
  if (size == 0) return 0;
  os::Data body(data + 1, data + size);
  auto answer = VMA4QCDispatcher::readAnswer(body, encodings[data[0] % 4]);
  if (!answer) return 0;
  if (answer->size() > VMA4QCDispatcher::kMaxAnswerBytes) std::abort();
  auto parsed = VMA4QCJSON::objectWithData(*answer);
  if (!parsed || !parsed->isDictionary()) return 0;
  VMA4QCConfig config;
  VMA4QCDataConfigHolder holder(config);
  holder.updateOnlineConfig(*parsed);
  return 0;
}
