#include "os/runtime/StopRequests.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include "os/runtime/RunLoop.h"

namespace os {

namespace {

static_assert(StopRequests::kTerminate == SIGTERM && StopRequests::kHangUp == SIGHUP && StopRequests::kInterrupt == SIGINT);

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};
constexpr const char* kNames[] = {"SIGTERM", "SIGHUP", "SIGINT"};
constexpr std::size_t kCount = sizeof kSignals / sizeof kSignals[0];

// The pipe's writing end while a watch is live: a signal handler may touch nothing else.
std::atomic<int> writeEnd{-1};
struct sigaction previous[kCount];

extern "C" void noteRequest(int number) {
  int saved = errno;
  int fd = writeEnd.load(std::memory_order_relaxed);
  unsigned char byte = static_cast<unsigned char>(number);
  // A full pipe already holds requests enough to end the program: this one may go.
  if (fd >= 0) (void)!::write(fd, &byte, 1);
  errno = saved;
}

}  // namespace

std::unique_ptr<StopRequests> StopRequests::watch(const std::shared_ptr<RunLoop>& loop, Callback callback) {
  if (writeEnd.load() >= 0) return nullptr;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
  auto requests = std::make_unique<StopRequests>(PrivateTag{}, loop, std::move(callback));
  requests->readFd_ = ends[0];
  writeEnd.store(ends[1]);
  struct sigaction action {};
  action.sa_handler = noteRequest;
  sigemptyset(&action.sa_mask);
  // Calls the signal interrupts go on: the request is handled by the loop, not by them.
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kCount; ++i) ::sigaction(kSignals[i], &action, &previous[i]);
  StopRequests* raw = requests.get();
  requests->token_ = loop->addSource(ends[0], RunLoop::kReadable, [raw](int, unsigned) { raw->readable(); });
  return requests;
}

StopRequests::StopRequests(PrivateTag, std::shared_ptr<RunLoop> loop, Callback callback)
    : loop_(std::move(loop)), callback_(std::move(callback)) {}

StopRequests::~StopRequests() {
  for (std::size_t i = 0; i < kCount; ++i) ::sigaction(kSignals[i], &previous[i], nullptr);
  if (token_ >= 0) loop_->removeSource(token_);
  int fd = writeEnd.exchange(-1);
  if (fd >= 0) ::close(fd);
  if (readFd_ >= 0) ::close(readFd_);
}

void StopRequests::readable() {
  unsigned char numbers[64];
  ssize_t n = ::read(readFd_, numbers, sizeof numbers);
  std::vector<Request> requests;
  for (ssize_t i = 0; i < n; ++i) {
    Request request{numbers[i], "signal " + std::to_string(numbers[i])};
    for (std::size_t k = 0; k < kCount; ++k)
      if (kSignals[k] == numbers[i]) request.name = kNames[k];
    requests.push_back(std::move(request));
  }
  // The callback may release the watch: nothing of it is touched after the first call.
  auto callback = callback_;
  for (const auto& request : requests) callback(request);
}

}  // namespace os
