#include "foundation/http/TLHTTPBodyPart.h"

#include <algorithm>
#include <cstring>


namespace {
constexpr const char* kCRLF = "\r\n";
}

TLHTTPBodyPart::TLHTTPBodyPart(os::StringEncoding encoding, os::HTTPHeaderFields headers, BodySource body,
                               std::uint64_t bodyContentLength, std::string errorDomain)
    : stringEncoding_(encoding),
      headers_(std::move(headers)),
      body_(std::move(body)),
      bodyContentLength_(bodyContentLength),
      errorDomain_(std::move(errorDomain)) {}

TLHTTPBodyPart::~TLHTTPBodyPart() {
  if (inputStream_) inputStream_->close();
}

std::unique_ptr<TLHTTPBodyPart> TLHTTPBodyPart::copy() const {
  BodySource body = body_;
  if (auto* stream = std::get_if<std::shared_ptr<os::InputStream>>(&body)) {
    *stream = *stream ? (*stream)->copyStream() : nullptr;
    if (!*stream) return nullptr;
  }
  return std::make_unique<TLHTTPBodyPart>(stringEncoding_, headers_, std::move(body), bodyContentLength_, errorDomain_);
}

os::Data TLHTTPBodyPart::encoded(const std::string& text) const {
  // Text the form's encoding cannot carry goes out as UTF-8 rather than not at all.
  if (auto data = os::encodeText(text, stringEncoding_)) return *data;
  return os::Data(text.begin(), text.end());
}

os::Data TLHTTPBodyPart::openingDelimiter() const {
  std::string boundary = kTLMultipartFormBoundary;
  return encoded(hasInitialBoundary_ ? "--" + boundary + kCRLF : std::string(kCRLF) + "--" + boundary + kCRLF);
}

os::Data TLHTTPBodyPart::finalDelimiter() const {
  if (!hasFinalBoundary_) return {};
  return encoded(std::string(kCRLF) + "--" + kTLMultipartFormBoundary + "--" + kCRLF);
}

std::string TLHTTPBodyPart::stringForHeaders() const {
  std::string out;
  for (const auto& [name, value] : headers_) out += name + ": " + value + kCRLF;
  return out + kCRLF;
}

std::uint64_t TLHTTPBodyPart::contentLength() const {
  return openingDelimiter().size() + encoded(stringForHeaders()).size() + bodyContentLength_ + finalDelimiter().size();
}

std::shared_ptr<os::InputStream> TLHTTPBodyPart::inputStream() {
  if (!inputStream_) {
    if (auto* data = std::get_if<os::Data>(&body_)) inputStream_ = os::InputStream::withData(*data);
    else if (auto* file = std::get_if<FilePath>(&body_)) inputStream_ = os::InputStream::withFileAtPath(file->path);
    else inputStream_ = std::get<std::shared_ptr<os::InputStream>>(body_);
  }
  return inputStream_;
}

// A part has bytes until it went through all its phases once; how its body stream stands does not
// matter, since a body that stops short is an error of its own.
bool TLHTTPBodyPart::hasBytesAvailable() { return !error_ && !completed_; }

long TLHTTPBodyPart::fail(const std::string& description, std::optional<os::Error> underlying) {
  os::Dictionary info{{os::kErrorDescriptionKey, os::Value(description)}};
  if (underlying) info.set(os::kErrorUnderlyingErrorKey, os::Value(underlying->localizedDescription()));
  error_ = os::Error(errorDomain_, -1021, std::move(info));
  return -1;
}

long TLHTTPBodyPart::read(std::uint8_t* buffer, std::size_t length) {
  if (error_) return -1;
  std::size_t total = 0;
  if (phase_ == EncapsulationBoundary) total += readData(openingDelimiter(), buffer + total, length - total);
  if (phase_ == Headers) total += readData(encoded(stringForHeaders()), buffer + total, length - total);
  if (phase_ == Body) {
    long n = readBody(buffer + total, length - total);
    if (n < 0) return -1;
    total += static_cast<std::size_t>(n);
  }
  if (phase_ == FinalBoundary) total += readData(finalDelimiter(), buffer + total, length - total);
  return static_cast<long>(total);
}

long TLHTTPBodyPart::readBody(std::uint8_t* buffer, std::size_t length) {
  if (length == 0) return 0;
  auto stream = inputStream();
  if (!stream) return fail("The part has no body to read.");
  if (stream->streamStatus() == os::StreamStatus::Error) return fail("The part's body could not be read.", stream->streamError());
  long n = 0;
  std::uint64_t remaining = bodyContentLength_ - bodyBytesRead_;
  if (remaining > 0) {
    n = stream->read(buffer, static_cast<std::size_t>(std::min<std::uint64_t>(length, remaining)));
    if (n < 0) return fail("The part's body could not be read.", stream->streamError());
    if (n == 0) return fail("The part's body ended before its declared length.");
    bodyBytesRead_ += static_cast<std::uint64_t>(n);
  }
  if (bodyBytesRead_ == bodyContentLength_) {
    if (stream->hasBytesAvailable()) {
      std::uint8_t extra;
      long more = stream->read(&extra, 1);
      if (more < 0) return fail("The part's body could not be read.", stream->streamError());
      if (more > 0) return fail("The part's body is longer than its declared length.");
    }
    transitionToNextPhase();
  }
  return n;
}

std::size_t TLHTTPBodyPart::readData(const os::Data& data, std::uint8_t* buffer, std::size_t length) {
  std::size_t available = data.size() - static_cast<std::size_t>(phaseReadOffset_);
  std::size_t n = std::min(available, length);
  if (n) std::memcpy(buffer, data.data() + phaseReadOffset_, n);
  phaseReadOffset_ += n;
  if (phaseReadOffset_ >= data.size()) transitionToNextPhase();
  return n;
}

// Runs on the reading thread: the stream is read synchronously, so nothing here needs another
// thread (waiting on the main thread would stall an upload whenever the main thread waits for it).
void TLHTTPBodyPart::transitionToNextPhase() {
  switch (phase_) {
    case EncapsulationBoundary: phase_ = Headers; break;
    case Headers:
      phase_ = Body;
      bodyBytesRead_ = 0;
      inputStream()->open();
      break;
    case Body:
      phase_ = FinalBoundary;
      inputStream()->close();
      break;
    default:
      phase_ = EncapsulationBoundary;
      completed_ = true;
      break;
  }
  phaseReadOffset_ = 0;
}
