#include "foundation/http/TLMultipartBodyStream.h"

#include <algorithm>

#include "os/runtime/Thread.h"

TLMultipartBodyStream::TLMultipartBodyStream(os::StringEncoding encoding) : stringEncoding_(encoding) {}

void TLMultipartBodyStream::appendHTTPBodyPart(std::unique_ptr<TLHTTPBodyPart> part) {
  if (part) parts_.push_back(std::move(part));
}

std::uint64_t TLMultipartBodyStream::contentLength() const {
  std::uint64_t total = 0;
  for (const auto& part : parts_) total += part->contentLength();
  return total;
}

void TLMultipartBodyStream::setInitialAndFinalBoundaries() {
  if (parts_.empty()) return;
  for (auto& part : parts_) {
    part->setHasInitialBoundary(false);
    part->setHasFinalBoundary(false);
  }
  parts_.front()->setHasInitialBoundary(true);
  parts_.back()->setHasFinalBoundary(true);
}

void TLMultipartBodyStream::open() {
  if (streamStatus() == os::StreamStatus::Open) return;
  setStatus(os::StreamStatus::Open);
  setInitialAndFinalBoundaries();
  next_ = 0;
  current_ = nullptr;
}

void TLMultipartBodyStream::close() { setStatus(os::StreamStatus::Closed); }

bool TLMultipartBodyStream::hasBytesAvailable() const { return streamStatus() == os::StreamStatus::Open; }

long TLMultipartBodyStream::read(std::uint8_t* buffer, std::size_t maxLength) {
  if (streamStatus() == os::StreamStatus::Error) return -1;
  if (streamStatus() != os::StreamStatus::Open) return 0;
  std::size_t bytesRead = 0;
  std::size_t limit = std::min<std::size_t>(numberOfBytesInPacket_, maxLength);
  while (bytesRead < limit) {
    if (!current_ || !current_->hasBytesAvailable()) {
      if (next_ >= parts_.size()) break;
      current_ = parts_[next_++].get();
      continue;
    }
    long n = current_->read(buffer + bytesRead, maxLength - bytesRead);
    if (n < 0) {
      fail(current_->error().value_or(os::Error()));
      return -1;
    }
    bytesRead += static_cast<std::size_t>(n);
    if (delay_ > 0) os::Thread::sleepFor(delay_);
    if (n == 0 && current_->hasBytesAvailable()) break;  // nothing more right now
  }
  return static_cast<long>(bytesRead);
}

std::shared_ptr<os::InputStream> TLMultipartBodyStream::copyStream() const {
  auto copy = std::make_shared<TLMultipartBodyStream>(stringEncoding_);
  for (const auto& part : parts_) {
    auto partCopy = part->copy();
    if (!partCopy) return nullptr;
    copy->appendHTTPBodyPart(std::move(partCopy));
  }
  copy->setInitialAndFinalBoundaries();
  return copy;
}
