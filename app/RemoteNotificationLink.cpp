#include "app/RemoteNotificationLink.h"

#include <cerrno>
#include <utility>
#include <vector>

#include "foundation/formats/JSONDecoder.h"
#include "os/net/Socket.h"
#include "os/runtime/RunLoop.h"
#include "os/views/Application.h"
#include "os/views/Device.h"

namespace {
// Lines longer than this are not notifications; the link drops them rather than grow.
constexpr std::size_t kLineLimit = 64 * 1024;
// What one wake-up of the main loop reads at most.
constexpr std::size_t kReadPerWake = 64 * 1024;

std::string hexText(const os::Data& data) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (auto byte : data) {
    text += digits[byte >> 4];
    text += digits[byte & 0xf];
  }
  return text;
}
}  // namespace

std::shared_ptr<RemoteNotificationLink> RemoteNotificationLink::connect(std::shared_ptr<os::Application> app,
                                                                        std::uint16_t port) {
  auto address = os::makeIPv4Address("127.0.0.1", port);
  auto socket = os::TcpSocket::create();
  if (!address || !socket || !socket->connect(*address)) return nullptr;
  auto link = std::make_shared<RemoteNotificationLink>(PrivateTag{}, app);
  link->socket_ = socket;
  std::weak_ptr<RemoteNotificationLink> weak = link;
  os::Socket::Callbacks callbacks;
  std::string hello = "device " + hexText(os::Device::current().deviceToken()) + "\n";
  callbacks.connected = [weak, hello](int error) {
    auto self = weak.lock();
    if (!self) return;
    if (error != 0) return self->close();
    self->socket_->send(hello.data(), hello.size());
  };
  callbacks.readable = [weak] {
    if (auto self = weak.lock()) self->read();
  };
  socket->schedule(os::RunLoop::main(), callbacks);
  return link;
}

RemoteNotificationLink::~RemoteNotificationLink() { close(); }

void RemoteNotificationLink::close() {
  if (socket_) socket_->close();
  socket_.reset();
}

void RemoteNotificationLink::read() {
  if (!socket_) return;
  char chunk[4096];
  long count;
  std::size_t taken = 0;
  std::vector<std::string> lines;
  // A bounded amount a wake-up: a peer that never stops sending must not keep the main loop from
  // its other work. The socket stays readable, so the rest is read on the next pass.
  while (taken < kReadPerWake && (count = socket_->receive(chunk, sizeof chunk)) > 0) {
    taken += static_cast<std::size_t>(count);
    takeLines(std::string_view(chunk, static_cast<std::size_t>(count)), lines);
  }
  // Taken before the lines are handled: the application's work may leave errno changed.
  bool ended = count == 0 || (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
  for (const auto& line : lines) handle(line);
  if (ended) close();
}

void RemoteNotificationLink::takeLines(std::string_view bytes, std::vector<std::string>& lines) {
  for (std::size_t start = 0; start < bytes.size();) {
    std::size_t end = bytes.find('\n', start);
    std::string_view piece = bytes.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    // A line found over-long is let go at once, its memory with it, and the rest of it up to its
    // break is never kept: it is part of that line, never a line of its own.
    if (!droppingLine_ && buffer_.size() + piece.size() > kLineLimit) {
      std::string().swap(buffer_);
      droppingLine_ = true;
    }
    if (!droppingLine_) buffer_.append(piece);
    if (end == std::string_view::npos) return;
    // The line leaves with its memory: nothing stays held between lines.
    if (!droppingLine_) lines.push_back(std::exchange(buffer_, std::string()));
    droppingLine_ = false;
    start = end + 1;
  }
}

void RemoteNotificationLink::handle(const std::string& line) {
  constexpr std::string_view kPrefix = "remote ";
  if (!line.starts_with(kPrefix)) return;
  ++received_;
  auto payload = JSONDecoder().objectWithUTF8String(line.data() + kPrefix.size(), line.size() - kPrefix.size());
  if (!payload || !payload->dictionary()) return;
  auto app = app_.lock();
  // The platform hands nothing to an application that is not registered (the push switch off).
  if (!app || !app->isRegisteredForRemoteNotifications()) return;
  ++delivered_;
  app->deliverRemoteNotification(*payload->dictionary());
}
