#pragma once
// One part of a multipart form body, read as: opening delimiter, header lines, body, and (for the
// last part) the final delimiter. The body comes from data, a file or a stream, and must yield
// exactly the length declared for it, because the request's Content-Length was worked out from
// that declaration: a body that breaks, ends early or runs long makes the read fail.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "os/core/Data.h"
#include "os/core/Error.h"
#include "os/core/TextEncoding.h"
#include "os/net/HTTPHeaderFields.h"
#include "os/net/Stream.h"

inline constexpr const char* kTLMultipartFormBoundary = "Boundary+0xAbCdEfGbOuNdArY";

class TLHTTPBodyPart {
 public:
  enum Phase : std::int32_t { EncapsulationBoundary = 1, Headers = 2, Body = 3, FinalBoundary = 4 };
  struct FilePath {
    std::string path;
  };
  using BodySource = std::variant<os::Data, FilePath, std::shared_ptr<os::InputStream>>;

  // Read failures are errors of `errorDomain`.
  TLHTTPBodyPart(os::StringEncoding encoding, os::HTTPHeaderFields headers, BodySource body, std::uint64_t bodyContentLength,
                 std::string errorDomain = "TLNetworkingErrorDomain");
  ~TLHTTPBodyPart();
  TLHTTPBodyPart(const TLHTTPBodyPart&) = delete;
  TLHTTPBodyPart& operator=(const TLHTTPBodyPart&) = delete;

  // Same encoding, headers, body and length; boundary flags and phase start afresh. Null when the
  // body is a stream that cannot produce its bytes twice.
  std::unique_ptr<TLHTTPBodyPart> copy() const;

  bool hasInitialBoundary() const { return hasInitialBoundary_; }
  void setHasInitialBoundary(bool on) { hasInitialBoundary_ = on; }
  bool hasFinalBoundary() const { return hasFinalBoundary_; }
  void setHasFinalBoundary(bool on) { hasFinalBoundary_ = on; }
  const os::HTTPHeaderFields& headers() const { return headers_; }
  std::uint64_t bodyContentLength() const { return bodyContentLength_; }
  Phase phase() const { return phase_; }

  // Each header as "Name: value" CRLF, then one more CRLF.
  std::string stringForHeaders() const;
  // Delimiters, headers and the declared body length.
  std::uint64_t contentLength() const;
  bool hasBytesAvailable();
  // Bytes copied into buffer (phases fall through within one call), or -1 with error() set.
  long read(std::uint8_t* buffer, std::size_t length);
  const std::optional<os::Error>& error() const { return error_; }

 private:
  std::shared_ptr<os::InputStream> inputStream();
  os::Data encoded(const std::string& text) const;
  os::Data openingDelimiter() const;
  os::Data finalDelimiter() const;
  std::size_t readData(const os::Data& data, std::uint8_t* buffer, std::size_t length);
  long readBody(std::uint8_t* buffer, std::size_t length);
  void transitionToNextPhase();
  long fail(const std::string& description, std::optional<os::Error> underlying = std::nullopt);

  Phase phase_ = EncapsulationBoundary;
  std::shared_ptr<os::InputStream> inputStream_;
  std::uint64_t phaseReadOffset_ = 0;
  std::uint64_t bodyBytesRead_ = 0;
  bool hasInitialBoundary_ = false, hasFinalBoundary_ = false;
  bool completed_ = false;
  os::StringEncoding stringEncoding_;
  os::HTTPHeaderFields headers_;
  BodySource body_;
  std::uint64_t bodyContentLength_;
  std::string errorDomain_;
  std::optional<os::Error> error_;
};
