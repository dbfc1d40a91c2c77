#include "ui/images/ImageContentType.h"

#include <cstring>

std::optional<std::string> sd_contentTypeForImageData(const os::Data& data) {
  if (data.empty()) return std::nullopt;
  switch (data[0]) {
    case 0xFF:
      return "image/jpeg";
    case 0x89:
      return "image/png";
    case 0x47:
      return "image/gif";
    case 0x49:
    case 0x4D:
      return "image/tiff";
    case 0x52:
      // A RIFF container is WebP only when its form type says so.
      if (data.size() >= 12 && std::memcmp(data.data(), "RIFF", 4) == 0 && std::memcmp(data.data() + 8, "WEBP", 4) == 0)
        return "image/webp";
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

std::optional<std::string> contentTypeForImageData(const os::Data& data) { return sd_contentTypeForImageData(data); }
