#include "push/model/DUVTagAlias.h"

#include <charconv>
#include <limits>

#include "os/core/String.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/Timer.h"
#include "push/network/DUVSession.h"
#include "push/protocol/tcp/DUVSetTagAlias.h"
#include "push/utilities/DUVLogger.h"
#include "push/utilities/DUVUtilities.h"

bool DUVTagAliasValidation::isValidTagAlias(const std::string& text) {
  for (std::size_t at = 0; at < text.size();) {
    std::size_t length = 0;
    bool valid = false;
    char32_t c = os::decodeUTF8At(text, at, &length, &valid);
    bool allowed = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
                   (c >= 0x4E00 && c <= 0x9FFF);
    if (!valid || !allowed) return false;
    at += length;
  }
  return true;
}

int DUVTagAliasValidation::validateAlias(const std::string& alias) {
  if (alias.size() > 40) return kDUVTagAliasAliasTooLong;
  return isValidTagAlias(alias) ? 0 : kDUVTagAliasInvalidAlias;
}

int DUVTagAliasValidation::validateTags(const DUVTags& tags) {
  if (tags.size() > 100) return kDUVTagAliasTooManyTags;
  for (const auto& tag : tags) {
    if (tag.size() > 40) return kDUVTagAliasTagTooLong;
    if (!isValidTagAlias(tag)) return kDUVTagAliasInvalidTag;
  }
  return 0;
}

int DUVTagAliasValidation::validateTagsAlias(const std::optional<DUVTags>& tags, const std::optional<std::string>& alias) {
  if (!tags && !alias) return kDUVTagAliasBothNil;
  if (tags) {
    int code = validateTags(*tags);
    if (code != 0 || !alias) return code;
  }
  return validateAlias(*alias);
}

DUVTags DUVTagAliasValidation::filterValidTags(const DUVTags& tags) {
  DUVTags valid;
  std::size_t total = 0;
  for (const auto& tag : tags) {
    if (valid.size() >= 100) break;
    if (tag.size() > 40 || !isValidTagAlias(tag)) continue;
    total += os::utf16Length(tag) + 2;
    if (total > 894) break;
    valid.push_back(tag);
  }
  return valid;
}

void DUVTagAlias::setTagAlias(DUVSetTagAliasArg argument, DUVSession* session) {
  std::shared_ptr<DUVSetTagAlias> request;
  if (session) {
    request = std::make_shared<DUVSetTagAlias>(session->getRId(), argument.tags, argument.alias);
    argument.sequence = request->rid();
  } else {
    // A client without its configuration has no connection: nothing goes out, and the caller
    // hears as for any request that no answer came for.
    argument.sequence = ++unsentSequence_;
  }
  std::uint16_t sequence = argument.sequence;
  std::weak_ptr<DUVTagAlias> weak = weak_from_this();
  if (argument.callback) {
    argument.timeoutTimer = os::Timer::scheduled(kAnswerTimeout, false, [weak, sequence](os::Timer&) {
      if (auto self = weak.lock()) self->doTagAliasCallbackForSeq(sequence, kDUVTagAliasTimeout);
    });
    dictSequenceToReq_[sequence] = argument;
  }
  if (int code = DUVTagAliasValidation::validateTagsAlias(argument.tags, argument.alias)) {
    doTagAliasCallbackForSeq(sequence, code);
    return;
  }
  if (!request) return;
  request->setTooLongHandler([weak](std::uint16_t rid, int code) {
    if (auto self = weak.lock()) self->doTagAliasCallbackForSeq(rid, code);
  });
  session->sendRequest(request);
}

namespace {
// A field of the answer read as a whole number between the bounds; a missing field, one of
// another kind, or one out of range is none (not 0, which would read as a call set).
std::optional<long long> wholeNumber(const os::Value& field, long long lowest, long long highest) {
  std::optional<long long> number;
  if (field.isNumber() && static_cast<double>(field.intValue()) == field.doubleValue()) {
    number = field.intValue();
  } else if (const std::string* text = field.string(); text && !text->empty()) {
    long long parsed = 0;
    auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), parsed);
    if (error == std::errc() && end == text->data() + text->size()) number = parsed;
  }
  if (number && (*number < lowest || *number > highest)) number.reset();
  return number;
}
}  // namespace

void DUVTagAlias::doSetTagsAliasCallbackWithRetJson(const std::string& json) {
  auto answer = ZRFJSONObject(os::dataFromString(json));
  if (!answer || !answer->dictionary()) return;
  auto sequence = wholeNumber((*answer)["sequence"], 0, 0xFFFF);
  auto code = wholeNumber((*answer)["code"], std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
  if (!sequence || !code) {
    DUVClassLogger("DUVTagAlias")->log(DUVLevel::warn(), "tags/alias answer without its sequence or code: " + json);
    return;
  }
  doTagAliasCallbackForSeq(static_cast<std::uint16_t>(*sequence), static_cast<int>(*code));
}

void DUVTagAlias::answerPendingAsTimedOut() {
  while (!dictSequenceToReq_.empty()) doTagAliasCallbackForSeq(dictSequenceToReq_.begin()->first, kDUVTagAliasTimeout);
}

void DUVTagAlias::doTagAliasCallbackForSeq(std::uint16_t sequence, int code) {
  auto found = dictSequenceToReq_.find(sequence);
  DUVClassLogger("DUVTagAlias")
      ->logMessage(std::nullopt,
                   "doTagAliasCallback seq: " + std::to_string(sequence) + ", cbFound " +
                       std::to_string(found != dictSequenceToReq_.end()) + ", withResCode " + std::to_string(code),
                   &DUVLevel::debug());
  if (found == dictSequenceToReq_.end()) return;
  DUVSetTagAliasArg argument = std::move(found->second);
  dictSequenceToReq_.erase(found);
  if (argument.timeoutTimer) argument.timeoutTimer->invalidate();
  // Posted, not waited for: a main thread that waits on the client thread must not deadlock.
  os::DispatchQueue::main()->async([argument, code] { argument.callback(code, argument.tags, argument.alias); });
}
