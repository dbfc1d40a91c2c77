#pragma once
// Builds a multipart form request whose body is streamed from its parts (files and streams are
// read as the transfer asks for bytes). A part that was refused makes finalising fail, so a form
// is never sent with a part silently missing.
#include <memory>
#include <optional>

#include "foundation/http/TLMultipartBodyStream.h"
#include "foundation/http/TLMultipartFormData.h"
#include "foundation/http/TLNetworkingEdition.h"
#include "os/net/URLRequest.h"

class TLStreamingMultipartFormData : public TLMultipartFormData {
 public:
  TLStreamingMultipartFormData(os::URLRequest request, os::StringEncoding encoding,
                               const TLNetworkingEdition& edition = TLNetworkingEdition::standard());

  bool appendPartWithFileURL(const std::string& fileURL, const std::string& name, os::Error* error = nullptr) override;
  bool appendPartWithFileURL(const std::string& fileURL, const std::string& name, const std::string& fileName,
                             const std::string& mimeType, os::Error* error = nullptr) override;
  bool appendPartWithInputStream(std::shared_ptr<os::InputStream> stream, const std::string& name,
                                 const std::string& fileName, std::uint64_t length, const std::string& mimeType,
                                 os::Error* error = nullptr) override;
  bool appendPartWithFileData(const os::Data& data, const std::string& name, const std::string& fileName,
                              const std::string& mimeType, os::Error* error = nullptr) override;
  bool appendPartWithFormData(const os::Data& data, const std::string& name, os::Error* error = nullptr) override;
  bool appendPartWithHeaders(const os::HTTPHeaderFields& headers, const os::Data& body, os::Error* error = nullptr) override;
  void throttleBandwidthWithPacketSize(std::uint32_t numberOfBytes, double delay) override;

  // The request with "Content-Type" (multipart/form-data with the boundary), "Content-Length" and
  // the body stream; unchanged when no part was added. Absent, with the first refusal in *error,
  // when a part was refused.
  std::optional<os::URLRequest> requestByFinalizingMultipartFormData(os::Error* error = nullptr);

  const std::shared_ptr<TLMultipartBodyStream>& bodyStream() const { return bodyStream_; }

 private:
  bool refuse(long code, const std::string& reason, os::Error* error);
  // "form-data; name=\"...\"" with an optional file name; absent when a text holds a line break.
  std::optional<std::string> contentDisposition(const std::string& name, const std::string* fileName);
  bool appendPart(os::HTTPHeaderFields headers, TLHTTPBodyPart::BodySource body, std::uint64_t length);

  os::URLRequest request_;
  std::shared_ptr<TLMultipartBodyStream> bodyStream_;
  os::StringEncoding stringEncoding_;
  const TLNetworkingEdition& edition_;
  std::optional<os::Error> refusal_;
};
