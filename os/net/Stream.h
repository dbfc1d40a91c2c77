#pragma once
// Byte streams as the URL-loading code uses them: request bodies read on the transfer's thread,
// response bodies written on the connection's thread. Read and written synchronously; subclasses
// override open/close/read/write and the availability questions.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "os/core/Data.h"
#include "os/core/Error.h"

namespace os {

// Stream failures of the system (a file that cannot be opened or read) carry errno in this domain
// and the file's path under kStreamErrorFilePathKey.
inline constexpr const char* kStreamErrorDomain = "POSIXErrorDomain";
inline constexpr const char* kStreamErrorFilePathKey = "FilePath";

enum class StreamStatus { NotOpen = 0, Opening = 1, Open = 2, Reading = 3, Writing = 4, AtEnd = 5, Closed = 6, Error = 7 };

class Stream {
 public:
  virtual ~Stream() = default;
  virtual void open();
  virtual void close();
  virtual StreamStatus streamStatus() const { return status_; }
  virtual std::optional<Error> streamError() const { return error_; }

 protected:
  void setStatus(StreamStatus s) { status_ = s; }
  void fail(Error e) { error_ = std::move(e); status_ = StreamStatus::Error; }
  bool isOpen() const { return status_ == StreamStatus::Open || status_ == StreamStatus::Reading || status_ == StreamStatus::Writing; }

 private:
  StreamStatus status_ = StreamStatus::NotOpen;
  std::optional<Error> error_;
};

class InputStream : public Stream {
 public:
  // Reads up to maxLength bytes: the count, 0 at the end (or when not open), -1 on error.
  virtual long read(std::uint8_t* buffer, std::size_t maxLength) = 0;
  virtual bool hasBytesAvailable() const;
  // A fresh stream over the same bytes, for sending a body again (redirect, authentication);
  // nullptr when the bytes cannot be produced twice.
  virtual std::shared_ptr<InputStream> copyStream() const { return nullptr; }

  static std::shared_ptr<InputStream> withData(Data data);
  // A stream reading the file; opening a missing file puts it in the error state.
  static std::shared_ptr<InputStream> withFileAtPath(std::string path);
};

class OutputStream : public Stream {
 public:
  // Writes up to length bytes: the count written, -1 on error (or when not open).
  virtual long write(const std::uint8_t* buffer, std::size_t length) = 0;
  virtual bool hasSpaceAvailable() const;
  // The bytes a memory stream holds; absent for other streams.
  virtual std::optional<Data> dataWritten() const { return std::nullopt; }
  // Where a file stream stands in its file; absent for other streams.
  virtual std::optional<std::uint64_t> fileCurrentOffset() const { return std::nullopt; }

  static std::shared_ptr<OutputStream> toMemory();
  static std::shared_ptr<OutputStream> toFileAtPath(std::string path, bool append);
};

}  // namespace os
