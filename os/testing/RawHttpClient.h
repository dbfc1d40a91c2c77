#pragma once
// A client of a loopback HTTP server at the socket level, for tests that must see what the server
// does to the connection itself (a kept-alive one carrying its next request, one ended at a stop),
// and a body for the HTTP layer's client to send in chunks.
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "os/net/Socket.h"

namespace os::testing {

// A connected blocking socket to address:port, reads bounded by a safety time-out (against a
// hang, not a measure); -1 when it failed.
inline int connectTo(const std::string& address, int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  auto a = makeIPv4Address(address, static_cast<std::uint16_t>(port));
  timeval safety{60, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &safety, sizeof safety);
  if (!a || ::connect(fd, reinterpret_cast<const sockaddr*>(&*a), sizeof *a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// The answer to one request on a kept-alive connection: its head and its body of `length` bytes.
inline std::string answerOn(int fd, const std::string& request, std::size_t length) {
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) return "";
  std::string answer;
  char buffer[4096];
  for (;;) {
    const auto head = answer.find("\r\n\r\n");
    if (head != std::string::npos && answer.size() >= head + 4 + length) return answer;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return answer;
    answer.append(buffer, static_cast<std::size_t>(n));
  }
}

// Everything the server writes on the connection until it closes it.
inline std::string readToClose(int fd) {
  std::string answer;
  char buffer[4096];
  for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<std::size_t>(n));
  return answer;
}

// The answers to `request` up to the server's close. A server may stop reading part way: what it
// answered before is read all the same.
inline std::string answerToClose(int fd, const std::string& request) {
  [[maybe_unused]] auto sent = ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  return readToClose(fd);
}

// What a peer hears that sends `head` and then a body of `length` bytes, piece after piece (each
// made by `piece` from the count sent so far), while it reads the answer up to the server's close;
// and how much of the body went out before the server ended the connection.
struct AnswerWhileSending {
  std::string answer;
  std::uint64_t sent = 0;
};
inline AnswerWhileSending answerWhileSending(int fd, const std::string& head, std::uint64_t length,
                                             const std::function<std::string(std::uint64_t sent)>& piece) {
  AnswerWhileSending result;
  timeval safety{60, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &safety, sizeof safety);
  std::thread sender([&] {
    if (::send(fd, head.data(), head.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(head.size())) return;
    while (result.sent < length) {
      const std::string next = piece(result.sent);
      const ssize_t n = ::send(fd, next.data(), next.size(), MSG_NOSIGNAL);
      if (n <= 0) return;
      result.sent += static_cast<std::uint64_t>(n);
    }
  });
  result.answer = readToClose(fd);
  // The server's close ends the sending too: it fails once the connection is gone.
  ::shutdown(fd, SHUT_RDWR);
  sender.join();
  return result;
}

// The HTTP layer's client for a test: its reads and writes wait far past the layer's own five
// seconds, which a loopback server on a loaded machine, in an instrumented build, can take over a
// large body or a file written anew. The bounds only stop a hang.
inline httplib::Client& patient(httplib::Client& client) {
  client.set_read_timeout(120, 0);
  client.set_write_timeout(120, 0);
  return client;
}
inline httplib::Client& patient(httplib::Client&& client) { return patient(client); }

// `body` as the HTTP layer's client sends a body made as it goes: in chunks of `piece` bytes, with
// no length given up front for the server to check first.
inline httplib::ContentProviderWithoutLength inChunks(std::string body, std::size_t piece = 256 * 1024) {
  return [body = std::move(body), piece, at = std::size_t{0}](std::size_t, httplib::DataSink& sink) mutable {
    const std::size_t length = std::min(body.size() - at, piece);
    if (length == 0) {
      sink.done();
      return true;
    }
    const bool written = sink.write(body.data() + at, length);
    at += length;
    return written;
  };
}

}  // namespace os::testing
