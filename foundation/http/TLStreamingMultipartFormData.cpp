#include "foundation/http/TLStreamingMultipartFormData.h"

#include "foundation/http/TLNetworkingEdition.h"
#include "os/core/URL.h"
#include "os/store/Bundle.h"
#include "os/store/FileManager.h"

namespace {

constexpr long kBadURL = -1000;

// A quoted header parameter: quotes and backslashes escaped; a line break cannot be written.
std::optional<std::string> quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\r' || c == '\n') return std::nullopt;
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

TLStreamingMultipartFormData::TLStreamingMultipartFormData(os::URLRequest request, os::StringEncoding encoding,
                                                           const TLNetworkingEdition& edition)
    : request_(std::move(request)),
      bodyStream_(std::make_shared<TLMultipartBodyStream>(encoding)),
      stringEncoding_(encoding),
      edition_(edition) {}

bool TLStreamingMultipartFormData::refuse(long code, const std::string& reason, os::Error* error) {
  std::string text = os::Bundle::mainBundle()->localizedStringForKey(reason, "", edition_.stringsTable);
  os::Error refusal(edition_.errorDomain, code,
                    os::Dictionary{{os::kErrorDescriptionKey, os::Value(text)}, {os::kErrorFailureReasonKey, os::Value(text)}});
  if (error) *error = refusal;
  if (!refusal_) refusal_ = std::move(refusal);
  return false;
}

std::optional<std::string> TLStreamingMultipartFormData::contentDisposition(const std::string& name,
                                                                           const std::string* fileName) {
  auto quotedName = quoted(name);
  if (!quotedName) return std::nullopt;
  std::string value = "form-data; name=" + *quotedName;
  if (fileName) {
    auto quotedFile = quoted(*fileName);
    if (!quotedFile) return std::nullopt;
    value += "; filename=" + *quotedFile;
  }
  return value;
}

bool TLStreamingMultipartFormData::appendPart(os::HTTPHeaderFields headers, TLHTTPBodyPart::BodySource body,
                                              std::uint64_t length) {
  bodyStream_->appendHTTPBodyPart(std::make_unique<TLHTTPBodyPart>(stringEncoding_, std::move(headers), std::move(body), length,
                                                                   edition_.errorDomain));
  return true;
}

bool TLStreamingMultipartFormData::appendPartWithFileURL(const std::string& fileURL, const std::string& name, os::Error* error) {
  auto url = os::URL::parse(fileURL);
  std::string fileName = url ? url->lastPathComponent() : std::string();
  return appendPartWithFileURL(fileURL, name, fileName, "application/octet-stream", error);
}

bool TLStreamingMultipartFormData::appendPartWithFileURL(const std::string& fileURL, const std::string& name,
                                                         const std::string& fileName, const std::string& mimeType,
                                                         os::Error* error) {
  auto url = os::URL::parse(fileURL);
  if (!url || url->scheme() != "file") return refuse(kBadURL, "Expected URL to be a file URL", error);
  std::string path = url->path();
  auto info = os::FileManager::defaultManager().attributesOfItemAtPath(path);
  if (!info || !info->isRegularFile) return refuse(kBadURL, "File URL not reachable.", error);
  auto disposition = contentDisposition(name, &fileName);
  if (!disposition) return refuse(kBadURL, "A form part name may not hold a line break.", error);
  os::HTTPHeaderFields headers{{"Content-Disposition", *disposition}, {"Content-Type", mimeType}};
  return appendPart(std::move(headers), TLHTTPBodyPart::FilePath{path}, info->size);
}

bool TLStreamingMultipartFormData::appendPartWithInputStream(std::shared_ptr<os::InputStream> stream, const std::string& name,
                                                             const std::string& fileName, std::uint64_t length,
                                                             const std::string& mimeType, os::Error* error) {
  auto disposition = contentDisposition(name, &fileName);
  if (!disposition) return refuse(kBadURL, "A form part name may not hold a line break.", error);
  if (!stream) return refuse(kBadURL, "A form part needs a stream to read.", error);
  os::HTTPHeaderFields headers{{"Content-Disposition", *disposition}, {"Content-Type", mimeType}};
  return appendPart(std::move(headers), std::move(stream), length);
}

bool TLStreamingMultipartFormData::appendPartWithFileData(const os::Data& data, const std::string& name,
                                                          const std::string& fileName, const std::string& mimeType,
                                                          os::Error* error) {
  auto disposition = contentDisposition(name, &fileName);
  if (!disposition) return refuse(kBadURL, "A form part name may not hold a line break.", error);
  return appendPartWithHeaders(os::HTTPHeaderFields{{"Content-Disposition", *disposition}, {"Content-Type", mimeType}}, data,
                               error);
}

bool TLStreamingMultipartFormData::appendPartWithFormData(const os::Data& data, const std::string& name, os::Error* error) {
  auto disposition = contentDisposition(name, nullptr);
  if (!disposition) return refuse(kBadURL, "A form part name may not hold a line break.", error);
  return appendPartWithHeaders(os::HTTPHeaderFields{{"Content-Disposition", *disposition}}, data, error);
}

bool TLStreamingMultipartFormData::appendPartWithHeaders(const os::HTTPHeaderFields& headers, const os::Data& body,
                                                         os::Error* error) {
  for (const auto& [field, value] : headers)
    if (field.find_first_of("\r\n:") != std::string::npos || value.find_first_of("\r\n") != std::string::npos)
      return refuse(kBadURL, "A form part header may not hold a line break.", error);
  return appendPart(headers, body, body.size());
}

void TLStreamingMultipartFormData::throttleBandwidthWithPacketSize(std::uint32_t numberOfBytes, double delay) {
  bodyStream_->setNumberOfBytesInPacket(numberOfBytes);
  bodyStream_->setDelay(delay);
}

std::optional<os::URLRequest> TLStreamingMultipartFormData::requestByFinalizingMultipartFormData(os::Error* error) {
  if (refusal_) {
    if (error) *error = *refusal_;
    return std::nullopt;
  }
  if (bodyStream_->isEmpty()) return request_;
  bodyStream_->setInitialAndFinalBoundaries();
  os::URLRequest request = request_;
  request.setValueForHTTPHeaderField(std::string("multipart/form-data; boundary=") + kTLMultipartFormBoundary, "Content-Type");
  request.setValueForHTTPHeaderField(std::to_string(bodyStream_->contentLength()), "Content-Length");
  request.setHTTPBodyStream(bodyStream_);
  return request;
}
