#pragma once
// Tags and alias of the device: their validation, the calls that wait for the server's answer,
// and the delivery of the result to the caller's callback on the main queue.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace os {
class Timer;
}
class DUVSession;

using DUVTags = std::vector<std::string>;
// The result code, and the tags and alias as the call gave them.
using DUVTagAliasCallback =
    std::function<void(int code, const std::optional<DUVTags>& tags, const std::optional<std::string>& alias)>;

enum DUVTagAliasCode : int {
  kDUVTagAliasBothNil = 6001,
  kDUVTagAliasTimeout = 6002,
  kDUVTagAliasInvalidAlias = 6003,
  kDUVTagAliasAliasTooLong = 6004,
  kDUVTagAliasInvalidTag = 6005,
  kDUVTagAliasTagTooLong = 6006,
  kDUVTagAliasTooManyTags = 6007,
};

class DUVTagAliasValidation {
 public:
  // Digits, ASCII letters, the underscore and U+4E00..U+9FFF; the empty text passes.
  static bool isValidTagAlias(const std::string& text);
  static int validateTags(const DUVTags& tags);
  static int validateAlias(const std::string& alias);
  static int validateTagsAlias(const std::optional<DUVTags>& tags, const std::optional<std::string>& alias);
  // At most 100 valid tags whose UTF-16 lengths plus 2 each add up to no more than 894.
  static DUVTags filterValidTags(const DUVTags& tags);
};

struct DUVSetTagAliasArg {
  std::uint16_t sequence = 0;
  std::optional<DUVTags> tags;
  std::optional<std::string> alias;
  DUVTagAliasCallback callback;
  std::shared_ptr<os::Timer> timeoutTimer;
};

class DUVTagAlias : public std::enable_shared_from_this<DUVTagAlias> {
 public:
  static constexpr double kAnswerTimeout = 20.0;
  // Sends through the session; the result (validation, answer, time-out or a frame too long)
  // reaches the callback once. Without a session nothing is sent, and the callback still hears
  // its arguments' fault or the time-out.
  void setTagAlias(DUVSetTagAliasArg argument, DUVSession* session);
  // The server's answer: a JSON object with "sequence" and "code". One that names either of them
  // not as a whole number in range settles nothing: the call it may mean hears the time-out.
  void doSetTagsAliasCallbackWithRetJson(const std::string& json);
  void doTagAliasCallbackForSeq(std::uint16_t sequence, int code);
  // The client stops: no answer can come any more, so every call still waiting hears the
  // time-out's code now rather than never.
  void answerPendingAsTimedOut();
  std::size_t pendingCount() const { return dictSequenceToReq_.size(); }

 private:
  std::map<std::uint16_t, DUVSetTagAliasArg> dictSequenceToReq_;
  std::uint16_t unsentSequence_ = 0;  // the sequences of calls made without a session
};
