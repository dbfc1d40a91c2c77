#include "os/console/InputLines.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

#include "os/runtime/RunLoop.h"

namespace os {

std::shared_ptr<InputLines> InputLines::watch(const std::shared_ptr<RunLoop>& loop, LineCallback onLine,
                                              EndCallback onEnd, int fd) {
  auto lines = std::make_shared<InputLines>(PrivateTag{}, loop, std::move(onLine), std::move(onEnd), fd);
  std::weak_ptr<InputLines> weak = lines;
  lines->token_ = loop->addSource(fd, RunLoop::kReadable, [weak](int, unsigned) {
    if (auto self = weak.lock()) self->readable();
  });
  return lines;
}

InputLines::InputLines(PrivateTag, std::shared_ptr<RunLoop> loop, LineCallback onLine, EndCallback onEnd, int fd)
    : loop_(std::move(loop)), onLine_(std::move(onLine)), onEnd_(std::move(onEnd)), fd_(fd) {}

InputLines::~InputLines() { stop(); }

void InputLines::stop() {
  if (token_ < 0) return;
  loop_->removeSource(token_);
  token_ = -1;
}

void InputLines::readable() {
  if (token_ < 0) return;
  char buffer[4096];
  ssize_t n = ::read(fd_, buffer, sizeof buffer);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n > 0) {
    // Only what just came is searched for the end of the line: a long line arriving a read at a
    // time is not searched again from its start each time.
    std::string::size_type from = pending_.size();
    pending_.append(buffer, static_cast<size_t>(n));
    std::string::size_type start = 0;
    for (auto end = pending_.find('\n', from); end != std::string::npos; end = pending_.find('\n', start)) {
      std::string line = pending_.substr(start, end - start);
      start = end + 1;
      if (onLine_) onLine_(line);
      if (token_ < 0) return;  // the callback ended the watch
    }
    pending_.erase(0, start);
    return;
  }
  // End of input or an error that will not pass: what is left is the last line.
  stop();
  if (!pending_.empty() && onLine_) onLine_(std::exchange(pending_, std::string()));
  if (onEnd_) onEnd_();
}

}  // namespace os
