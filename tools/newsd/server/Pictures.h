#pragma once
// Pictures drawn in code for the sample content: a simple landscape whose colours follow the
// picture's name, so every article shows its own pictures and the same name always gives the
// same bytes. A GIF is animated: the sun moves over a few frames.
#include <optional>
#include <string_view>

#include "os/core/Data.h"

namespace newsd {

inline constexpr int kMaxPictureSide = 2048;

enum class PictureFormat { PNG, JPEG, GIF };

// "png", "jpg", "gif": the file name extension of the picture routes.
std::string_view extensionOf(PictureFormat format);
std::optional<PictureFormat> pictureFormatForExtension(std::string_view extension);
std::string_view mimeTypeOf(PictureFormat format);

// The frames of an animated picture and how long each shows, in hundredths of a second.
inline constexpr int kAnimationFrames = 4;
inline constexpr int kAnimationDelays[kAnimationFrames] = {30, 30, 30, 90};

// A picture of width x height (each 1 to kMaxPictureSide) in the format; nothing for other sizes
// or when encoding fails.
std::optional<os::Data> drawPicture(std::string_view name, int width, int height, PictureFormat format);

}  // namespace newsd
