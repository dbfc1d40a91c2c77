// fuzz-link: push foundation os
// The push service's answer to a tags and alias call. Whatever it holds, it settles at most the
// one call its "sequence" names, and only when both "sequence" and "code" read as whole numbers in
// range (a number, or the text of one): then that call hears exactly that code, once. Anything
// else leaves the call waiting for its time-out.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/support/FuzzSupport.h"
#include "os/runtime/RunLoop.h"
#include "push/model/DUVTagAlias.h"
#include "push/utilities/DUVUtilities.h"

namespace {

std::vector<fuzz::Seed> seeds() {
  return {{"set", R"({"sequence":1,"code":0})"},
          {"refused", R"({"sequence":"1","code":"6011"})"},
          {"other call", R"({"sequence":2,"code":0})"},
          {"no code", R"({"sequence":1})"},
          {"wrapped", R"({"sequence":65537,"code":0})"},
          {"fraction", R"({"sequence":1,"code":0.5})"}};
}
FUZZ_SEEDS(seeds);

// The answer's field as an independent reading of the rule: a whole number within the bounds.
std::optional<long long> field(const os::Dictionary& answer, const char* key, long long lowest, long long highest) {
  const os::Value& v = answer[key];
  std::optional<long long> n;
  if (const std::string* text = v.string()) {
    long long parsed = 0;
    auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), parsed);
    if (!text->empty() && error == std::errc() && end == text->data() + text->size()) n = parsed;
  } else if (v.isNumber() && static_cast<double>(v.intValue()) == v.doubleValue()) {
    n = v.intValue();
  }
  if (n && (*n < lowest || *n > highest)) n.reset();
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string json(reinterpret_cast<const char*>(data), size);
  auto tags = std::make_shared<DUVTagAlias>();
  std::vector<int> codes;
  // Without a session the call takes sequence 1 and waits for its answer.
  tags->setTagAlias({0, DUVTags{"news"}, std::nullopt, [&](int code, const auto&, const auto&) { codes.push_back(code); },
                     nullptr},
                    nullptr);
  fuzz::check(tags->pendingCount() == 1, "the call is not waiting for its answer");
  tags->doSetTagsAliasCallbackWithRetJson(json);
  tags->doSetTagsAliasCallbackWithRetJson(json);  // the same answer again settles nothing more
  os::RunLoop::main()->runUntilIdle();

  std::optional<long long> sequence, code;
  auto answer = ZRFJSONObject(os::dataFromString(json));
  if (const os::Dictionary* object = answer ? answer->dictionary() : nullptr) {
    sequence = field(*object, "sequence", 0, 0xFFFF);
    code = field(*object, "code", std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
  }
  if (sequence == 1 && code) {
    fuzz::check(codes.size() == 1 && codes[0] == *code && tags->pendingCount() == 0,
                "the call's answer did not reach it once with its code");
  } else {
    fuzz::check(codes.empty() && tags->pendingCount() == 1, "an answer that is not the call's settled it");
  }
  tags->answerPendingAsTimedOut();  // the timer goes with the call
  os::RunLoop::main()->runUntilIdle();
  return 0;
}
