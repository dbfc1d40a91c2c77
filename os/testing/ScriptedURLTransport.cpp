#include "os/testing/ScriptedURLTransport.h"

#include "os/net/URLError.h"

namespace os::testing {

ScriptedURLTransport::Answer ScriptedURLTransport::Answer::ok(std::string body, int status, HTTPHeaderFields headers) {
  Answer a;
  a.status = status;
  a.headers = std::move(headers);
  if (!body.empty()) a.chunks.push_back(std::move(body));
  return a;
}

ScriptedURLTransport::Answer ScriptedURLTransport::Answer::fail(long urlErrorCode) {
  Answer a;
  a.failure = Error(kURLErrorDomain, urlErrorCode);
  return a;
}

void ScriptedURLTransport::enqueue(Answer answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_.push_back(std::move(answer));
}

std::vector<ScriptedURLTransport::Sent> ScriptedURLTransport::sent() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sent_;
}

std::unique_ptr<URLTransportTask> ScriptedURLTransport::start(const URLRequest& request, const URLTransportOptions&,
                                                              std::shared_ptr<URLTransportClient> client) {
  std::string body = stringFromData(request.HTTPBody());
  if (const auto& stream = request.HTTPBodyStream()) {
    if (stream->streamStatus() == StreamStatus::NotOpen) stream->open();
    std::uint8_t buffer[4096];
    long n;
    while ((n = stream->read(buffer, sizeof buffer)) > 0) body.append(reinterpret_cast<char*>(buffer), n);
  }
  std::optional<Answer> answer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sent_.push_back(Sent{request, body});
    if (!answers_.empty()) {
      answer = std::move(answers_.front());
      answers_.pop_front();
    }
  }
  if (!answer) {
    client->transportDidFail(makeURLError(kURLErrorCannotConnectToHost, request.url()));
  } else if (answer->failure) {
    Error e = makeURLError(answer->failure->code, request.url());
    e.domain = answer->failure->domain;
    client->transportDidFail(e);
  } else {
    if (!body.empty()) {
      auto size = static_cast<std::int64_t>(body.size());
      client->transportDidSendBodyData(size, size, size);
    }
    client->transportDidReceiveResponse(HTTPURLResponse(request.url(), answer->status, answer->headers));
    for (auto& chunk : answer->chunks) client->transportDidReceiveData(dataFromString(chunk));
    client->transportDidFinish();
  }
  struct Done : URLTransportTask {
    void cancel() override {}
  };
  return std::make_unique<Done>();
}

}  // namespace os::testing
