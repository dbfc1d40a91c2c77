#include "app/RemoteNotificationLink.h"

#include <cerrno>
#include <vector>

#include "foundation/formats/JSONDecoder.h"
#include "os/net/Socket.h"
#include "os/runtime/RunLoop.h"
#include "os/views/Application.h"
#include "os/views/Device.h"

namespace {
// Lines longer than this are not notifications; the link drops them rather than grow.
constexpr std::size_t kLineLimit = 64 * 1024;

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
  while ((count = socket_->receive(chunk, sizeof chunk)) > 0) buffer_.append(chunk, static_cast<std::size_t>(count));
  // Taken before the lines are handled: the application's work may leave errno changed.
  bool ended = count == 0 || (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
  // The lines are taken first and the buffer cut once, so a burst of lines costs its length.
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (auto end = buffer_.find('\n'); end != std::string::npos; end = buffer_.find('\n', start)) {
    // The rest of an over-long line, up to its break, is part of that line, never a line of its own.
    if (!droppingLine_ && end - start <= kLineLimit) lines.push_back(buffer_.substr(start, end - start));
    droppingLine_ = false;
    start = end + 1;
  }
  buffer_.erase(0, start);
  for (const auto& line : lines) handle(line);
  if (droppingLine_ || buffer_.size() > kLineLimit) {
    buffer_.clear();
    droppingLine_ = true;
  }
  if (ended) close();
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
