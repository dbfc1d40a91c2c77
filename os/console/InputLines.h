#pragma once
// Lines arriving on a file descriptor (standard input by default), handed to a run loop's thread
// as they come: each complete line without its "\n", then, at the end of input, a last unfinished
// line if any and the end itself. Reading never blocks the loop.
#include <functional>
#include <memory>
#include <string>

namespace os {

class RunLoop;

class InputLines : public std::enable_shared_from_this<InputLines> {
 public:
  using LineCallback = std::function<void(const std::string& line)>;
  using EndCallback = std::function<void()>;

  // Starts watching `fd` on `loop`. The watch ends at the end of input, on a read error, or when
  // the returned object is released.
  static std::shared_ptr<InputLines> watch(const std::shared_ptr<RunLoop>& loop, LineCallback onLine,
                                           EndCallback onEnd, int fd = 0);
  ~InputLines();
  InputLines(const InputLines&) = delete;
  InputLines& operator=(const InputLines&) = delete;

  bool ended() const { return token_ < 0; }

 private:
  struct PrivateTag {};

 public:
  InputLines(PrivateTag, std::shared_ptr<RunLoop> loop, LineCallback onLine, EndCallback onEnd, int fd);

 private:
  void readable();
  void stop();

  std::shared_ptr<RunLoop> loop_;
  LineCallback onLine_;
  EndCallback onEnd_;
  int fd_;
  int token_ = -1;
  std::string pending_;
};

}  // namespace os
