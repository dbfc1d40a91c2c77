#pragma once
// Images named in the main bundle of the current sandbox, at the main screen's scale: on a screen
// of scale 2 "name@2x.png" comes first, then "name.png"; a name may carry its own extension.
// Each image is read once and then handed out from a cache, so every caller of a name shares one
// image. The cache belongs to the bundle: when another sandbox becomes current it starts afresh.
// An absent image is null and is looked for again next time (it may have been added since).
#include <memory>
#include <string>

#include "os/graphics/Image.h"

namespace os {

std::shared_ptr<Image> imageNamed(const std::string& name);

}  // namespace os
