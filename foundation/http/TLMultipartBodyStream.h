#pragma once
// The request body stream of a multipart form: its parts one after another, read synchronously
// by the transfer. Optionally throttled: at most a packet of bytes per read, with a pause after
// each part read. A part that fails puts the stream in the error state and the read returns -1,
// which fails the upload.
#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/http/TLHTTPBodyPart.h"
#include "os/net/Stream.h"

class TLMultipartBodyStream : public os::InputStream {
 public:
  static constexpr std::uint32_t kDefaultPacketSize = 2147483647;

  explicit TLMultipartBodyStream(os::StringEncoding encoding);

  void appendHTTPBodyPart(std::unique_ptr<TLHTTPBodyPart> part);
  bool isEmpty() const { return parts_.empty(); }
  // Sum of the parts' lengths, delimiters included.
  std::uint64_t contentLength() const;
  // The first part opens with the initial delimiter, the last closes with the final one.
  void setInitialAndFinalBoundaries();

  std::uint32_t numberOfBytesInPacket() const { return numberOfBytesInPacket_; }
  void setNumberOfBytesInPacket(std::uint32_t bytes) { numberOfBytesInPacket_ = bytes; }
  double delay() const { return delay_; }
  void setDelay(double seconds) { delay_ = seconds; }
  os::StringEncoding stringEncoding() const { return stringEncoding_; }

  // os::InputStream
  void open() override;
  void close() override;
  long read(std::uint8_t* buffer, std::size_t maxLength) override;
  bool hasBytesAvailable() const override;
  // The same parts afresh, for sending the body again; packet size and delay are not copied.
  std::shared_ptr<os::InputStream> copyStream() const override;

 private:
  os::StringEncoding stringEncoding_;
  std::vector<std::unique_ptr<TLHTTPBodyPart>> parts_;
  std::size_t next_ = 0;  // the part after the current one
  TLHTTPBodyPart* current_ = nullptr;
  std::uint32_t numberOfBytesInPacket_ = kDefaultPacketSize;
  double delay_ = 0;
};
