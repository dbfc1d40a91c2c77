#include "qqconnect/analytics/VMA4QCDispatcher.h"

#include <algorithm>
#include <cctype>

#include "os/core/Log.h"
#include "os/net/HTTPURLResponse.h"
#include "os/net/URLConnection.h"
#include "os/net/URLError.h"
#include "os/net/URLRequest.h"
#include "qqconnect/analytics/VMA4QCHelper.h"
#include "qqconnect/analytics/VMA4QCJSON.h"

namespace {
bool containsNoCase(std::string text, std::string_view part) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text.find(part) != std::string::npos;
}
}  // namespace

VMA4QCDispatcher::VMA4QCDispatcher(std::string url, AnswerHandler onAnswer)
    : url_(std::move(url)), onAnswer_(std::move(onAnswer)) {}

VMA4QCDispatcher::~VMA4QCDispatcher() {
  while (!queue_.idle()) queue_.drain();
}

std::optional<os::Data> VMA4QCDispatcher::layOut(const std::string& batchText, bool* compressed) {
  os::Data text = os::dataFromString(batchText);
  if (compressed) *compressed = text.size() >= kCompressFrom;
  if (text.size() < kCompressFrom) return text;
  os::Data zipped;
  if (VMA4QCHelper::GZip(text, zipped) != 0) return std::nullopt;
  const auto length = static_cast<std::uint32_t>(text.size());
  os::Data body{static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
                static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
  body.insert(body.end(), zipped.begin(), zipped.end());
  return body;
}

void VMA4QCDispatcher::send(std::vector<std::string> batch, Callback callback) {
  if (batch.empty()) return;
  queue_.async([this, batch = std::move(batch), callback = std::move(callback)] {
    std::string text = "[";
    for (std::size_t i = 0; i < batch.size(); ++i) text += (i ? "," : "") + batch[i];
    text += "]";
    std::optional<os::Data> answer;
    bool ok = nsRequest(text, &answer);
    if (callback) callback(ok);
    if (!ok || !answer) return;
    auto parsed = VMA4QCJSON::objectWithData(*answer);
    if (parsed && parsed->isDictionary() && onAnswer_) onAnswer_(*parsed);
  });
}

std::optional<os::Data> VMA4QCDispatcher::readAnswer(os::Data body, const std::string& contentEncoding) {
  if (containsNoCase(contentEncoding, "rc4")) VMA4QCHelper::ChiperRC4(body);
  if (!containsNoCase(contentEncoding, "gzip")) return body;
  // The server lays a compressed answer out as we do: the length, then the gzip stream. URL
  // loading has already inflated a body that was only gzip-coded; that one is used as it is.
  const bool prefixed = body.size() >= 6 && body[4] == 0x1f && body[5] == 0x8b;
  if (!prefixed) return containsNoCase(contentEncoding, "rc4") ? std::nullopt : std::optional<os::Data>(body);
  os::Data stream(body.begin() + 4, body.end()), inflated;
  if (VMA4QCHelper::GUnzip(stream, inflated, kMaxAnswerBytes) != 0) return std::nullopt;
  return inflated;
}

bool VMA4QCDispatcher::nsRequest(const std::string& batchText, std::optional<os::Data>* answer) {
  bool compressed = false;
  auto body = layOut(batchText, &compressed);
  if (!body) return false;
  VMA4QCHelper::ChiperRC4(*body);
  os::URLRequest request(url_);
  request.setHTTPMethod("POST");
  request.setTimeoutInterval(10);
  request.setValueForHTTPHeaderField("keep-alive", "Connection");
  request.setValueForHTTPHeaderField("json", "Content-Type");
  request.setValueForHTTPHeaderField(compressed ? "rc4,gzip" : "rc4", "Content-Encoding");
  request.setHTTPBody(std::move(*body));
  // No answer of the CGI comes near this: a larger one is stopped rather than read, whether it
  // comes as it is or inflates on the way.
  request.setMaximumReplyLength(kMaxAnswerBytes);
  os::HTTPURLResponse response;
  os::Error error;
  auto data = os::URLConnection::sendSynchronousRequest(request, &response, &error);
  if (!data) {
    // The server took the batch and answered 200; only its answer was refused. The events arrived,
    // as they do when an answer is unreadable: sending them again would count them twice.
    if (error.domain == os::kURLErrorDomain && error.code == os::kURLErrorDataLengthExceedsMaximum &&
        response.statusCode() == 200) {
      os::log("analytics answer is larger than " + std::to_string(kMaxAnswerBytes) + " bytes; dropped");
      return true;
    }
    return false;
  }
  if (response.statusCode() != 200) {
    os::logf("analytics upload answered %d: %.*s", response.statusCode(), static_cast<int>(data->size()),
             reinterpret_cast<const char*>(data->data()));
    return false;
  }
  if (data->empty()) return true;
  auto read = readAnswer(std::move(*data), response.allHeaderFields().value("Content-Encoding").value_or(""));
  // The events arrived even when the answer is unreadable.
  if (!read) {
    os::log("analytics answer does not inflate");
    return true;
  }
  if (answer) *answer = std::move(*read);
  return true;
}
