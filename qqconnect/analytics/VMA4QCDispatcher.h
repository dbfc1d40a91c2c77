#pragma once
// Uploads batches of analytics event texts to the analytics CGI and hands the answer's online
// configuration on. The body is the JSON array of the batch, gzip-compressed behind a 4-byte
// big-endian length once it reaches 256 bytes, and always enciphered with RC4.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Data.h"
#include "os/core/Value.h"
#include "qqconnect/analytics/VMA4QCTaskQueue.h"

class VMA4QCDispatcher {
 public:
  using Callback = std::function<void(bool success)>;
  using AnswerHandler = std::function<void(const os::Value& answer)>;

  static constexpr const char* kPath = "/qqconnectutil/sdk";
  static constexpr std::size_t kCompressFrom = 256;
  // No answer is read beyond this: not as it comes, as the transport inflates it, or as its own
  // gzip stream inflates.
  static constexpr std::size_t kMaxAnswerBytes = 1 << 20;

  // `url`: the analytics CGI (deployment configuration). `onAnswer` gets every answer that is a
  // JSON object, on the dispatcher's queue.
  VMA4QCDispatcher(std::string url, AnswerHandler onAnswer);
  ~VMA4QCDispatcher();

  // Nothing for an empty batch (the callback is not called); otherwise one upload on the
  // dispatcher's queue, the callback on that queue.
  void send(std::vector<std::string> batch, Callback callback);
  void sendEvent(const std::string& eventText, Callback callback) { send({eventText}, std::move(callback)); }

  // The body before enciphering: the text itself below 256 bytes, else length + gzip.
  static std::optional<os::Data> layOut(const std::string& batchText, bool* compressed = nullptr);
  // An answer body as the server sent it under its "Content-Encoding": deciphered for "rc4",
  // inflated (behind its length) for "gzip"; nothing when a compressed answer does not inflate.
  static std::optional<os::Data> readAnswer(os::Data body, const std::string& contentEncoding);
  // One synchronous upload of a batch text; the deciphered (and inflated) answer in *answer.
  bool nsRequest(const std::string& batchText, std::optional<os::Data>* answer);

  VMA4QCTaskQueue& queue() { return queue_; }

 private:
  const std::string url_;
  const AnswerHandler onAnswer_;
  VMA4QCTaskQueue queue_{"VMA4QCHttpDispatcher"};
};
