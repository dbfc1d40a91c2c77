#include "news/article/VXNewsDetailEvalDO.h"

#include <limits>

namespace {
// A 32-bit field from a number or a numeric string; out-of-range values are clamped rather than
// wrapped, so a hostile count cannot turn negative.
std::int32_t int32Of(const os::Dictionary& dict, std::string_view key) {
  const os::Value* value = dict.find(key);
  if (!value || !(value->isNumber() || value->isString() || value->isBool())) return 0;
  long long n = value->intValue();
  if (n > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (n < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(n);
}
}  // namespace

VXNewsDetailEvalDO::VXNewsDetailEvalDO(const os::Dictionary& dict)
    : VXNewsDetailDO(dict),
      flag_(int32Of(dict, "flag")),
      ID_(int32Of(dict, "id")),
      category_(int32Of(dict, "category")),
      diggCount_(int32Of(dict, "diggcount")),
      buryCount_(int32Of(dict, "burycount")) {
  type_ = kNewsDetailEval;
  if (flag_ == 0) flag_ = kNotVoted;
}

double VXNewsDetailEvalDO::calHeightByType() {
  actualHeight_ = kHeight;
  return actualHeight_;
}
