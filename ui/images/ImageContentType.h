#pragma once
// The content type of encoded image bytes, told from their first byte.
#include <optional>
#include <string>

#include "os/core/Data.h"

// "image/jpeg", "image/png", "image/gif", "image/tiff" or "image/webp"; nothing for empty data or
// a first byte we do not know.
std::optional<std::string> sd_contentTypeForImageData(const os::Data& data);
// Older name of the above.
std::optional<std::string> contentTypeForImageData(const os::Data& data);
