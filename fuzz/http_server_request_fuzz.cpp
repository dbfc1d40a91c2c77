// fuzz-link: tools_common
// fuzz-runs: 20000
// The local services' HTTP server, fed as a peer feeds it: the input's bytes go to one loopback
// connection, in as many sends as it asks for, and everything the server writes back is read to
// its close. Every answer must be well formed and one the server can give, a handler must never be
// given a body past the bound, a request framed plainly (by its length or in chunks) must reach
// its handler byte for byte or be refused 413 past the bound, and the server must go on serving.
//
// Input: a byte of options (bits 0-3 all set: keep the writing side open until the first answer
// is whole; bit 4: a well-formed GET follows the bytes on the same connection; bits 5-7: how many
// sends of a chosen size come before the last), a byte that can pad the head to about its bound,
// a byte per chosen send size, then the bytes sent.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/support/FuzzSupport.h"
#include "os/core/Compression.h"
#include "os/net/Socket.h"
#include "tools/common/HttpServer.h"
#include "tools/common/ServiceHost.h"

namespace {

// Small, so that bodies past it, as sent or once inflated, are within a fuzzer's reach.
constexpr std::size_t kBound = 2048;
constexpr std::string_view kFollowUp = "GET /echo HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
// Against a server that neither answers nor closes: far longer than any answer takes here.
constexpr int kSafetySeconds = 10;
// How often a fresh connection checks that the server still serves.
constexpr unsigned kProbeEvery = 64;

std::uint64_t hashOf(std::string_view bytes) {
  std::uint64_t hash = 1469598103934665603ull;
  for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

std::string hex(std::uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i]))) return false;
  return true;
}

bool equalNoCase(std::string_view a, std::string_view b) { return a.size() == b.size() && startsWithNoCase(a, b); }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// What a handler was given, written back: "echo METHOD PATH-HASH BODY-LENGTH BODY-HASH PARTS PART-BYTES".
// The method also goes in a header, so that the answer to HEAD, which has no body, is told apart.
void echo(const httplib::Request& request, httplib::Response& response) {
  std::size_t partBytes = 0;
  for (const auto& [name, part] : request.files) partBytes += part.content.size();
  fuzz::check(request.body.size() <= kBound, "a handler was given a body past the bound");
  fuzz::check(partBytes <= kBound, "a handler was given parts past the bound");
  response.set_header("X-Echo-Method", request.method);
  response.set_content("echo " + request.method + " " + hex(hashOf(request.path)) + " " + std::to_string(request.body.size()) +
                           " " + hex(hashOf(request.body)) + " " + std::to_string(request.files.size()) + " " +
                           std::to_string(partBytes),
                       "text/plain");
}

// A service's server with echoing routes: POST and PUT through the services' bounded reading,
// DELETE and PATCH through the HTTP layer's own.
struct Service {
  Service() {
    http.set_payload_max_length(kBound);
    http.setWorkerCount(2);
    http.Get("/echo", echo);
    http.Post("/echo", echo);
    http.Put("/echo", echo);
    http.Delete("/echo", echo);
    http.Patch("/echo", echo);
    auto bound = host.start("127.0.0.1", 0);
    fuzz::check(bound.has_value(), "the server could not listen on loopback");
    port = *bound;
  }
  tools::HttpServer http;
  tools::ServiceHost host{http};
  int port = 0;
};

Service& service() {
  static Service s;
  return s;
}
FUZZ_SETUP([] { service(); });

// A connection to the service, its reads and writes bounded by the safety time.
int connectToService() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) fuzz::fail(std::string("no socket: ") + std::strerror(errno));
  timeval safety{kSafetySeconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &safety, sizeof safety);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &safety, sizeof safety);
  const auto address = os::makeIPv4Address("127.0.0.1", static_cast<std::uint16_t>(service().port));
  int error = ::connect(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) == 0 ? 0 : errno;
  if (error == EINTR) {
    // The fuzzer's own timer signal broke in: the connection goes on being made; wait for it.
    pollfd ready{fd, POLLOUT, 0};
    while (::poll(&ready, 1, kSafetySeconds * 1000) < 0 && errno == EINTR) {
    }
    socklen_t length = sizeof error;
    if (!(ready.revents & (POLLOUT | POLLERR | POLLHUP)))
      error = ETIMEDOUT;
    else
      ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
  }
  if (error != 0) fuzz::fail(std::string("the server no longer accepts connections: ") + std::strerror(error));
  // Each send goes out as its own segment.
  int yes = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  return fd;
}

// Ends a connection the server has ended too. Closed at once rather than waiting out its end, which
// at a thousand connections a second would use up the local ports.
void closeConnection(int fd) {
  linger now{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
  ::close(fd);
}

// One answer as read from the stream.
struct Answer {
  int status = 0;
  std::string echoMethod;  // set when a handler wrote it
  std::string body;
  bool close = false;
};
enum class Read { Whole, Partial };

// The answer at the start of `bytes`, and its length in `used`; Partial while its end has not come.
Read readAnswer(std::string_view bytes, Answer& answer, std::size_t& used) {
  constexpr std::string_view kStart = "HTTP/1.1 ";
  if (bytes.size() < kStart.size() + 4) {
    fuzz::check(kStart.starts_with(bytes.substr(0, kStart.size())), "an answer does not start with \"HTTP/1.1 \"");
    return Read::Partial;
  }
  fuzz::check(bytes.starts_with(kStart), "an answer does not start with \"HTTP/1.1 \"");
  const std::string_view code = bytes.substr(kStart.size(), 3);
  for (char c : code) fuzz::check(c >= '0' && c <= '9', "an answer's status is not three digits");
  fuzz::check(bytes[kStart.size() + 3] == ' ', "an answer's status is not followed by a blank");
  answer.status = std::stoi(std::string(code));
  const std::size_t end = bytes.find("\r\n\r\n");
  if (end == std::string_view::npos) return Read::Partial;
  std::optional<std::size_t> length;
  for (std::size_t at = bytes.find("\r\n") + 2; at < end + 2;) {
    const std::size_t next = bytes.find("\r\n", at);
    const std::string_view line = bytes.substr(at, next - at);
    at = next + 2;
    const std::size_t colon = line.find(':');
    fuzz::check(colon != std::string_view::npos && colon > 0, "an answer's header line has no name");
    const std::string_view name = line.substr(0, colon), value = trimmed(line.substr(colon + 1));
    if (equalNoCase(name, "Content-Length")) {
      fuzz::check(!length, "an answer with two lengths");
      fuzz::check(!value.empty() && value.find_first_not_of("0123456789") == std::string_view::npos && value.size() < 10,
                  "an answer's length is not a number");
      length = std::stoul(std::string(value));
    } else if (equalNoCase(name, "Transfer-Encoding")) {
      fuzz::fail("an answer in chunks, which no route here writes");
    } else if (equalNoCase(name, "X-Echo-Method")) {
      answer.echoMethod = value;
    } else if (equalNoCase(name, "Connection")) {
      answer.close = equalNoCase(value, "close");
    }
  }
  const bool bodiless = answer.status < 200 || answer.status == 204 || answer.status == 304 || answer.echoMethod == "HEAD";
  if (answer.status < 200) fuzz::check(!length, "an interim answer with a length");
  const std::size_t bodyLength = bodiless ? 0 : length.value_or(0);
  if (bytes.size() - end - 4 < bodyLength) return Read::Partial;
  answer.body = bytes.substr(end + 4, bodyLength);
  used = end + 4 + bodyLength;
  return Read::Whole;
}

bool knownStatus(int status) {
  switch (status) {
    case 100:  // the go-ahead for a body that waits for it
    case 200:
    case 206:  // a range of an echo
    case 400:
    case 404:  // a path without a route
    case 405:  // a method without a route where another method's route serves
    case 413:
    case 414:  // a target past the HTTP layer's bound
    case 415:
    case 416:
    case 431:
    case 501:  // a method no route can take, a transfer coding not understood
    case 505:  // a version past 1.x
      return true;
    default:
      return false;
  }
}

// Every answer in what the server wrote. A stream cut by a reset may end within an answer.
std::vector<Answer> answersIn(std::string_view bytes, bool reset) {
  std::vector<Answer> answers;
  while (!bytes.empty()) {
    Answer answer;
    std::size_t used = 0;
    if (readAnswer(bytes, answer, used) == Read::Partial) {
      fuzz::check(reset, "the server closed the connection within an answer");
      break;
    }
    fuzz::check(knownStatus(answer.status), "an answer's status is none the server gives");
    if (!answer.echoMethod.empty() && answer.status == 200 && answer.echoMethod != "HEAD") {
      // "echo METHOD PATH-HASH LENGTH HASH PARTS PART-BYTES"
      char method[16], pathHash[17], hash[17];
      unsigned long length = 0, parts = 0, partBytes = 0;
      fuzz::check(std::sscanf(answer.body.c_str(), "echo %15s %16s %lu %16s %lu %lu", method, pathHash, &length, hash, &parts,
                              &partBytes) == 6,
                  "an echo that does not read back");
      fuzz::check(answer.echoMethod == method, "an echo under another method's header");
      fuzz::check(length <= kBound && partBytes <= kBound, "an echo of a body past the bound");
    }
    answers.push_back(std::move(answer));
    bytes.remove_prefix(used);
  }
  return answers;
}

enum class End { Closed, Reset };

// Reads into `out` until the server closes, or (with `firstWhole`) until a first answer is whole.
End readFrom(int fd, std::string& out, bool firstWhole = false) {
  char buffer[16 * 1024];
  for (;;) {
    if (firstWhole) {
      Answer answer;
      std::size_t used = 0;
      if (readAnswer(out, answer, used) == Read::Whole) return End::Closed;
    }
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      out.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n == 0) return End::Closed;
    if (errno == EINTR) continue;
    fuzz::check(errno != EAGAIN && errno != EWOULDBLOCK, "the server neither answered nor closed the connection");
    return End::Reset;
  }
}

bool sendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    fuzz::check(!(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)), "the server stopped reading without closing");
    // The server may end the connection part way: what it answered is still read.
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// A request the checks can follow without reading requests as the server does: POST, PUT, PATCH
// or DELETE to the echo route, plain header lines, a body with its length or in chunks written
// plainly, no coding, no expectation, no form.
struct Plain {
  std::string method;
  std::string body;   // the body as its framing gives it, once arrived whole
  bool whole = false;  // the body arrived whole
  bool last = false;   // nothing follows the body
  bool bodyPastBound = false;
};

// The chunks at the start of `bytes` written plainly (hex size, maybe extensions, CR LF, data,
// CR LF; then a last chunk and plain trailer lines); nothing when irregular or cut short, and the
// length of the whole in `used`.
std::optional<std::string> plainChunks(std::string_view bytes, std::size_t& used) {
  std::string body;
  std::size_t at = 0;
  for (;;) {
    const std::size_t end = bytes.find("\r\n", at);
    if (end == std::string_view::npos) return std::nullopt;
    std::string_view line = bytes.substr(at, end - at);
    line = line.substr(0, line.find(';'));
    if (line.empty() || line.size() > 6 || line.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos)
      return std::nullopt;
    const std::size_t size = std::stoul(std::string(line), nullptr, 16);
    for (char c : bytes.substr(at, end - at))
      if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) return std::nullopt;
    at = end + 2;
    if (size == 0) break;
    if (bytes.size() < at + size + 2 || bytes.substr(at + size, 2) != "\r\n") return std::nullopt;
    body.append(bytes.substr(at, size));
    at += size + 2;
  }
  for (;;) {
    const std::size_t end = bytes.find("\r\n", at);
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view line = bytes.substr(at, end - at);
    at = end + 2;
    if (line.empty()) break;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    for (char c : line)
      if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) return std::nullopt;
  }
  used = at;
  return body;
}

std::optional<Plain> plainRequest(std::string_view bytes) {
  while (!bytes.empty() && (bytes.front() == '\r' || bytes.front() == '\n')) bytes.remove_prefix(1);
  const std::size_t end = bytes.find("\r\n\r\n");
  if (end == std::string_view::npos || end + 4 > tools::HttpServer::kHeadLimit) return std::nullopt;
  const std::string_view head = bytes.substr(0, end + 2);
  Plain plain;
  std::optional<std::size_t> length;
  bool chunked = false, first = true;
  for (std::size_t at = 0; at < head.size();) {
    const std::size_t next = head.find("\r\n", at);
    const std::string_view line = head.substr(at, next - at);
    at = next + 2;
    // Printable, and with no escapes for the HTTP layer to undo in a value.
    for (char c : line)
      if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e || c == '%') return std::nullopt;
    if (first) {
      first = false;
      for (const char* method : {"POST", "PUT", "PATCH", "DELETE"})
        if (line == std::string(method) + " /echo HTTP/1.1") plain.method = method;
      if (plain.method.empty()) return std::nullopt;
      continue;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    const std::string_view name = line.substr(0, colon), value = trimmed(line.substr(colon + 1));
    for (char c : name)
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') return std::nullopt;
    if (equalNoCase(name, "Content-Length")) {
      if (length || value.empty() || value.size() > 6 || value.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
      length = std::stoul(std::string(value));
    } else if (equalNoCase(name, "Transfer-Encoding")) {
      if (chunked || !equalNoCase(value, "chunked")) return std::nullopt;
      chunked = true;
    } else if (equalNoCase(name, "Content-Encoding") || equalNoCase(name, "Expect") || equalNoCase(name, "Range") ||
               (equalNoCase(name, "Content-Type") &&
                (value.find("multipart") != std::string_view::npos || value.find("form") != std::string_view::npos))) {
      return std::nullopt;
    }
  }
  const std::string_view rest = bytes.substr(end + 4);
  if (chunked) {
    // With a length as well, the chunks are what counts; cut short, nothing is known.
    std::size_t used = 0;
    auto body = plainChunks(rest, used);
    if (!body) return std::nullopt;
    plain.body = std::move(*body);
    plain.whole = true;
    plain.last = used == rest.size();
    plain.bodyPastBound = plain.body.size() > kBound;
    return plain;
  }
  if (!length) return std::nullopt;
  plain.whole = rest.size() >= *length;
  plain.body = rest.substr(0, *length);
  plain.last = rest.size() == *length;
  plain.bodyPastBound = *length > kBound;
  return plain;
}

// Header lines of filler put after the request line, taking the head to about `length` bytes.
std::string padded(std::string bytes, std::size_t length) {
  std::size_t at = bytes.find('\n');
  at = at == std::string::npos ? bytes.size() : at + 1;
  std::string pad;
  for (int i = 0; pad.size() < length; ++i) pad += "X-Pad-" + std::to_string(i) + ": " + std::string(1000, 'p') + "\r\n";
  pad.resize(length);
  bytes.insert(at, pad);
  return bytes;
}

// The seeds' option bytes: everything in one send, the writing side closed after it.
std::string plainly(std::string request) { return std::string(2, '\0') + request; }

std::string compressed(const std::string& text, os::DeflateWrapper wrapper) {
  auto out = os::deflateData(os::Data(text.begin(), text.end()), wrapper);
  return out ? std::string(out->begin(), out->end()) : std::string();
}

std::string withLength(const std::string& start, const std::string& body) {
  return start + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::vector<fuzz::Seed> seeds() {
  const std::string host = "Host: 127.0.0.1\r\n";
  const std::string post = "POST /echo HTTP/1.1\r\n" + host;
  const std::string text = "The quick brown fox jumps over the lazy dog. ";
  std::string many;
  while (many.size() < 1500) many += text;
  const std::string multipart =
      "--b\r\nContent-Disposition: form-data; name=\"title\"\r\n\r\nheadline\r\n"
      "--b\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.txt\"\r\nContent-Type: text/plain\r\n\r\n" +
      text + "\r\n--b--\r\n";
  return {
      {"get", plainly("GET /echo?x=1 HTTP/1.1\r\n" + host + "\r\n")},
      {"head", plainly("HEAD /echo HTTP/1.1\r\n" + host + "\r\n")},
      {"get_range", plainly("GET /echo HTTP/1.1\r\n" + host + "Range: bytes=0-3,5-\r\n\r\n")},
      {"get_one_range", plainly("GET /echo HTTP/1.1\r\n" + host + "Range: bytes=2-\r\n\r\n")},
      {"get_overlapping_ranges", plainly("GET /echo HTTP/1.1\r\n" + host + "Range: bytes=0-,0-,0-,0-,0-,0-,0-,0-\r\n\r\n")},
      {"get_two_range_lines", plainly("GET /echo HTTP/1.1\r\n" + host + "Range: bytes=0-1\r\nRange: bytes=2-3\r\n\r\n")},
      {"not_routed", plainly("GET /nowhere HTTP/1.1\r\n" + host + "\r\n")},
      {"post_length", plainly(withLength(post + "Content-Type: text/plain\r\n", text))},
      {"put_length", plainly(withLength("PUT /echo HTTP/1.1\r\n" + host, text))},
      {"patch_length", plainly(withLength("PATCH /echo HTTP/1.1\r\n" + host, text))},
      {"delete_length", plainly(withLength("DELETE /echo HTTP/1.1\r\n" + host, "x"))},
      {"post_past_bound", plainly(withLength(post, std::string(kBound + 1, 'b')))},
      {"post_chunked_trailers",
       plainly(post + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6;ext=1\r\n world\r\n0\r\nX-Checksum: 1\r\nX-More: 2\r\n\r\n")},
      {"post_gzip", plainly(withLength(post + "Content-Encoding: gzip\r\n", compressed(many, os::DeflateWrapper::Gzip)))},
      {"post_deflate", plainly(withLength(post + "Content-Encoding: deflate\r\n", compressed(text, os::DeflateWrapper::Zlib)))},
      {"post_gzip_past_bound",
       plainly(withLength(post + "Content-Encoding: gzip\r\n", compressed(std::string(4 * kBound, '\0'), os::DeflateWrapper::Gzip)))},
      {"post_gzip_chunked", plainly(post + "Content-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n" + [&] {
         const std::string zip = compressed(many, os::DeflateWrapper::Gzip);
         char size[16];
         std::snprintf(size, sizeof size, "%zx\r\n", zip.size());
         return size + zip + "\r\n0\r\n\r\n";
       }())},
      {"post_multipart", plainly(withLength(post + "Content-Type: multipart/form-data; boundary=b\r\n", multipart))},
      {"post_form", plainly(withLength(post + "Content-Type: application/x-www-form-urlencoded\r\n", "a=1&b=two&c=%20"))},
      {"post_form_empty_fields",
       plainly(withLength(post + "Content-Type: application/x-www-form-urlencoded\r\n", std::string(kBound / 2, '&')))},
      {"post_expect", plainly(withLength(post + "Expect: 100-continue\r\n", text))},
      {"pipelined", plainly("GET /echo HTTP/1.1\r\n" + host + "\r\n" + withLength(post, text) + "GET /echo HTTP/1.1\r\n" + host +
                            "Connection: close\r\n\r\n")},
      {"patch_gzip", plainly(withLength("PATCH /echo HTTP/1.1\r\n" + host + "Content-Encoding: gzip\r\n",
                                        compressed(many, os::DeflateWrapper::Gzip)))},
      {"patch_gzip_two_lines", plainly(withLength("PATCH /echo HTTP/1.1\r\n" + host + "Content-Encoding: gzip\r\nContent-Encoding: identity\r\n",
                                                  compressed(std::string(4 * kBound, '\0'), os::DeflateWrapper::Gzip)))},
      {"patch_gzip_escaped", plainly(withLength("PATCH /echo HTTP/1.1\r\n" + host + "Content-Encoding: %67zip\r\n",
                                                compressed(std::string(4 * kBound, '\0'), os::DeflateWrapper::Gzip)))},
      // 4 MiB of zeros in brotli.
      {"patch_brotli", plainly(withLength("PATCH /echo HTTP/1.1\r\n" + host + "Content-Encoding: x-br\r\n",
                                          std::string("\x9f\xff\xff\x3f\xf8\x27\x00\xe2\xb1\x40\x20\xf7\xfe\x07", 14)))},
      {"brotli", plainly(withLength(post + "Content-Encoding: br\r\n", text))},
      {"lone_line_feed", plainly(withLength(post + "X-Note: a\nContent-Encoding: gzip\r\n", compressed(text, os::DeflateWrapper::Gzip)))},
      {"lone_carriage_return", plainly(post + "Transfer-Encoding: chunked\r\r\nContent-Length: 12\r\n\r\n5\r\nhello\r\n0\r\n\r\n")},
      {"blank_before_colon", plainly(post + "Transfer-Encoding : chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n")},
      {"folded_line", plainly(post + "X-Note: a\r\n Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n")},
      {"transfer_other", plainly(post + "Transfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n")},
      {"two_lengths", plainly(post + "Content-Length: 3\r\nContent-Length: 4\r\n\r\nabcd")},
      // Split in sends of 3, 7 and 30 bytes, then the rest.
      {"split", std::string("\x60\x00\x02\x06\x1d", 5) + withLength(post, text)},
      // The writing side kept open until the answer is whole.
      {"kept_open", std::string("\x0f\x00", 2) + withLength(post, text)},
      // A well-formed GET after it on the same connection.
      {"follow_up", std::string("\x10\x00", 2) + withLength(post, text)},
      // The head padded past its bound.
      {"head_past_bound", std::string("\x00\xf9", 2) + "GET /echo HTTP/1.1\r\n" + host + "\r\n"},
  };
}
FUZZ_SEEDS(seeds);

// A well-formed GET on a fresh connection is answered 200.
void checkStillServing() {
  const int fd = connectToService();
  sendAll(fd, "GET /echo HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  std::string out;
  const End end = readFrom(fd, out);
  closeConnection(fd);
  const auto answers = answersIn(out, end == End::Reset);
  fuzz::check(answers.size() == 1 && answers[0].status == 200 && answers[0].echoMethod == "GET",
              "the server no longer answers a well-formed GET");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static unsigned inputs = 0;
  if (inputs++ % kProbeEvery == 0) checkStillServing();

  fuzz::Input in(data, size);
  const std::uint8_t options = in.byte();
  const std::uint8_t pad = in.byte();
  std::vector<std::size_t> sends;
  for (unsigned i = 0; i < (options >> 5); ++i) sends.push_back(std::size_t{in.byte()} + 1);
  std::string bytes = in.rest();
  const bool padding = pad >= 0xf0;
  if (padding) bytes = padded(std::move(bytes), tools::HttpServer::kHeadLimit - 4096 + static_cast<std::size_t>(pad - 0xf0) * 512);
  const bool followUp = options & 0x10;

  const std::optional<Plain> plain = padding ? std::nullopt : plainRequest(bytes);
  // Kept open only where an answer must come without the server seeing the end of the stream.
  const bool keptOpen = (options & 0x0f) == 0x0f && plain && plain->whole;
  if (followUp) bytes += kFollowUp;

  const int fd = connectToService();
  std::string_view left = bytes;
  bool sent = true;
  for (std::size_t piece : sends) {
    if (!sent || left.empty()) break;
    sent = sendAll(fd, left.substr(0, piece));
    left.remove_prefix(std::min(piece, left.size()));
  }
  if (sent) sendAll(fd, left);
  std::string out;
  End end = End::Closed;
  if (keptOpen) {
    end = readFrom(fd, out, true);
    fuzz::check(end == End::Closed, "the server reset a connection with a whole request");
  }
  ::shutdown(fd, SHUT_WR);
  if (end == End::Closed) end = readFrom(fd, out);
  closeConnection(fd);

  const std::vector<Answer> answers = answersIn(out, end == End::Reset);
  if (plain && plain->whole) {
    fuzz::check(!answers.empty(), "a whole request was not answered");
    const Answer& first = answers.front();
    if (plain->bodyPastBound) fuzz::check(first.status == 413, "a body past the bound was not answered 413");
    if (first.status == 200) {
      fuzz::check(first.echoMethod == plain->method, "the answer is not the request's handler's");
      const std::string expected = "echo " + plain->method + " " + hex(hashOf("/echo")) + " " +
                                   std::to_string(plain->body.size()) + " " + hex(hashOf(plain->body)) + " 0 0";
      fuzz::check(first.body == expected, "the handler was not given the body as sent");
      if (followUp && plain->last && !first.close) {
        fuzz::check(answers.size() == 2 && answers[1].status == 200 && answers[1].echoMethod == "GET",
                    "a request following on a kept-alive connection was not answered");
      }
    }
  }
  return 0;
}
