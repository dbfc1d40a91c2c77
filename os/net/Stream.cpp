#include "os/net/Stream.h"

#include <cerrno>
#include <cstring>

namespace os {

void Stream::open() {
  if (status_ == StreamStatus::NotOpen) status_ = StreamStatus::Open;
}

void Stream::close() {
  if (status_ != StreamStatus::Error) status_ = StreamStatus::Closed;
}

bool InputStream::hasBytesAvailable() const {
  StreamStatus s = streamStatus();
  return s == StreamStatus::NotOpen || s == StreamStatus::Opening || s == StreamStatus::Open ||
         s == StreamStatus::Reading || s == StreamStatus::Writing;
}

bool OutputStream::hasSpaceAvailable() const {
  StreamStatus s = streamStatus();
  return s == StreamStatus::Open || s == StreamStatus::Writing;
}

namespace {

Error posixError(int err, const std::string& path) {
  Dictionary info{{kErrorDescriptionKey, Value(std::string(std::strerror(err)))}};
  if (!path.empty()) info.set(kStreamErrorFilePathKey, Value(path));
  return Error(kStreamErrorDomain, err, std::move(info));
}

class DataInputStream : public InputStream {
 public:
  explicit DataInputStream(Data d) : data_(std::move(d)) {}
  long read(std::uint8_t* buffer, std::size_t maxLength) override {
    if (!isOpen()) return streamStatus() == StreamStatus::Error ? -1 : 0;
    std::size_t n = std::min(maxLength, data_.size() - offset_);
    if (n) std::memcpy(buffer, data_.data() + offset_, n);
    offset_ += n;
    if (offset_ == data_.size()) setStatus(StreamStatus::AtEnd);
    return static_cast<long>(n);
  }
  void open() override {
    Stream::open();
    if (streamStatus() == StreamStatus::Open && data_.empty()) setStatus(StreamStatus::AtEnd);
  }
  std::shared_ptr<InputStream> copyStream() const override { return std::make_shared<DataInputStream>(data_); }

 private:
  Data data_;
  std::size_t offset_ = 0;
};

class FileInputStream : public InputStream {
 public:
  explicit FileInputStream(std::string path) : path_(std::move(path)) {}
  ~FileInputStream() override { closeFile(); }
  void open() override {
    if (streamStatus() != StreamStatus::NotOpen) return;
    file_ = std::fopen(path_.c_str(), "rb");
    if (!file_) return fail(posixError(errno, path_));
    setStatus(StreamStatus::Open);
  }
  void close() override {
    closeFile();
    Stream::close();
  }
  long read(std::uint8_t* buffer, std::size_t maxLength) override {
    if (!isOpen() || !file_) return streamStatus() == StreamStatus::Error ? -1 : 0;
    std::size_t n = std::fread(buffer, 1, maxLength, file_);
    if (n == 0 && std::ferror(file_)) {
      fail(posixError(errno ? errno : EIO, path_));
      return -1;
    }
    if (n < maxLength && std::feof(file_)) setStatus(StreamStatus::AtEnd);
    return static_cast<long>(n);
  }
  std::shared_ptr<InputStream> copyStream() const override { return std::make_shared<FileInputStream>(path_); }

 private:
  void closeFile() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
  }
  std::string path_;
  std::FILE* file_ = nullptr;
};

class MemoryOutputStream : public OutputStream {
 public:
  long write(const std::uint8_t* buffer, std::size_t length) override {
    if (!isOpen()) return -1;
    data_.insert(data_.end(), buffer, buffer + length);
    return static_cast<long>(length);
  }
  // A memory stream always has room, even before it is opened.
  bool hasSpaceAvailable() const override { return streamStatus() != StreamStatus::Error; }
  std::optional<Data> dataWritten() const override { return data_; }

 private:
  Data data_;
};

class FileOutputStream : public OutputStream {
 public:
  FileOutputStream(std::string path, bool append) : path_(std::move(path)), append_(append) {}
  ~FileOutputStream() override { closeFile(); }
  void open() override {
    if (streamStatus() != StreamStatus::NotOpen) return;
    file_ = std::fopen(path_.c_str(), append_ ? "ab" : "wb");
    if (!file_) return fail(posixError(errno, path_));
    setStatus(StreamStatus::Open);
  }
  void close() override {
    closeFile();
    Stream::close();
  }
  long write(const std::uint8_t* buffer, std::size_t length) override {
    if (!isOpen() || !file_) return -1;
    std::size_t n = std::fwrite(buffer, 1, length, file_);
    if (n < length) {
      fail(posixError(errno ? errno : EIO, path_));
      return n ? static_cast<long>(n) : -1;
    }
    return static_cast<long>(n);
  }
  std::optional<std::uint64_t> fileCurrentOffset() const override {
    if (!file_) return std::nullopt;
    long pos = std::ftell(file_);
    if (pos < 0) return std::nullopt;
    return static_cast<std::uint64_t>(pos);
  }

 private:
  void closeFile() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
  }
  std::string path_;
  bool append_;
  std::FILE* file_ = nullptr;
};

}  // namespace

std::shared_ptr<InputStream> InputStream::withData(Data data) { return std::make_shared<DataInputStream>(std::move(data)); }
std::shared_ptr<InputStream> InputStream::withFileAtPath(std::string path) {
  return std::make_shared<FileInputStream>(std::move(path));
}
std::shared_ptr<OutputStream> OutputStream::toMemory() { return std::make_shared<MemoryOutputStream>(); }
std::shared_ptr<OutputStream> OutputStream::toFileAtPath(std::string path, bool append) {
  return std::make_shared<FileOutputStream>(std::move(path), append);
}

}  // namespace os
