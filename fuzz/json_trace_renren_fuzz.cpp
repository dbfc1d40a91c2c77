// fuzz-link: foundation os
// The Renren copy of the JSON codec with error trace (parse only, asserting on its scans): no
// text may crash it, and every failure leaves a chained trace ending in the facade's error.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "foundation/formats/JSONTraceFacade.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  JSONTraceReader json(JSONTraceProfile::renren());
  os::Error error;
  auto value = json.objectWithString(text, &error);
  if (value) {
    if (!value->isArray() && !value->isDictionary()) std::abort();
    return 0;
  }
  const auto& trace = json.errorTrace();
  if (trace.empty() || !(trace.back() == error)) std::abort();
  std::size_t chain = 1;
  for (auto inner = JSONTraceBase::underlyingError(error); inner; inner = JSONTraceBase::underlyingError(*inner)) ++chain;
  if (chain != trace.size()) std::abort();
  return 0;
}
