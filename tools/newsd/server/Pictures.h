#pragma once
// Pictures drawn in code for the sample content: a simple landscape whose colours follow the
// picture's name, so every article shows its own pictures and the same name always gives the
// same bytes.
#include <optional>
#include <string_view>

#include "os/core/Data.h"

namespace newsd {

inline constexpr int kMaxPictureSide = 2048;

// A PNG of width x height (each 1 to kMaxPictureSide); nothing for other sizes or when encoding
// fails.
std::optional<os::Data> drawPicturePNG(std::string_view name, int width, int height);

}  // namespace newsd
