#pragma once
// The device's link to the platform's push channel, which the local push service plays: the
// device names its token, and each remote notification the channel sends ("remote JSON", one a
// line) reaches the application as the platform would hand it over, on the main run loop, and
// only while the application is registered for remote notifications. The settings screen's push
// switch unregisters the application, so pushed headlines stop until it registers again.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace os {
class Application;
class TcpSocket;
}  // namespace os

class RemoteNotificationLink : public std::enable_shared_from_this<RemoteNotificationLink> {
 public:
  // Connects to the channel on 127.0.0.1:port and names the device's token; nullptr when the
  // channel cannot be reached.
  static std::shared_ptr<RemoteNotificationLink> connect(std::shared_ptr<os::Application> app, std::uint16_t port);
  ~RemoteNotificationLink();

  // How many notifications the channel sent and how many the application was handed.
  std::size_t received() const { return received_; }
  std::size_t delivered() const { return delivered_; }
  // The memory kept for the line still arriving: never much more than the longest line taken.
  std::size_t heldBytes() const { return buffer_.capacity(); }
  void close();

  struct PrivateTag {};
  RemoteNotificationLink(PrivateTag, std::weak_ptr<os::Application> app) : app_(std::move(app)) {}

 private:
  void read();
  // Adds what arrived to the line under way; each line it ends goes to `lines`.
  void takeLines(std::string_view bytes, std::vector<std::string>& lines);
  void handle(const std::string& line);

  std::weak_ptr<os::Application> app_;
  std::shared_ptr<os::TcpSocket> socket_;
  std::string buffer_;
  bool droppingLine_ = false;  // inside a line longer than the limit, until its break
  std::size_t received_ = 0, delivered_ = 0;
};
