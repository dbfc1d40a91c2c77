#pragma once
// What the caller of a multipart request may add to the form. Names and file names go into
// quoted header parameters: quotes and backslashes are escaped there, and a name holding a line
// break is refused (false, nothing appended), since it would let the caller's data write headers.
#include <cstdint>
#include <memory>
#include <string>

#include "os/core/Data.h"
#include "os/core/Error.h"
#include "os/net/HTTPHeaderFields.h"
#include "os/net/Stream.h"

class TLMultipartFormData {
 public:
  virtual ~TLMultipartFormData() = default;
  // A file part named after the URL's last path component, of type "application/octet-stream".
  virtual bool appendPartWithFileURL(const std::string& fileURL, const std::string& name, os::Error* error = nullptr) = 0;
  virtual bool appendPartWithFileURL(const std::string& fileURL, const std::string& name, const std::string& fileName,
                                     const std::string& mimeType, os::Error* error = nullptr) = 0;
  virtual bool appendPartWithInputStream(std::shared_ptr<os::InputStream> stream, const std::string& name,
                                         const std::string& fileName, std::uint64_t length, const std::string& mimeType,
                                         os::Error* error = nullptr) = 0;
  virtual bool appendPartWithFileData(const os::Data& data, const std::string& name, const std::string& fileName,
                                      const std::string& mimeType, os::Error* error = nullptr) = 0;
  virtual bool appendPartWithFormData(const os::Data& data, const std::string& name, os::Error* error = nullptr) = 0;
  virtual bool appendPartWithHeaders(const os::HTTPHeaderFields& headers, const os::Data& body, os::Error* error = nullptr) = 0;
  virtual void throttleBandwidthWithPacketSize(std::uint32_t numberOfBytes, double delay) = 0;
};
