#pragma once
// The device's saved photos: PNG files numbered in order in the "PhotoAlbum" folder of the
// device folder, so every application of the simulated device (and a test) sees them.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "os/core/Error.h"

namespace os {

class Image;

class PhotoAlbum {
 public:
  // A photo's file is read only up to this, and a picture whose file would pass it is not saved:
  // room for a picture of the largest download re-encoded as PNG.
  static constexpr std::uint64_t kMaxPhotoBytes = 64ull << 20;
  // Writes the image; completion gets null on success, else the error, on the main run loop.
  static void saveImage(const std::shared_ptr<const Image>& image, std::function<void(const Error* error)> completion);
  // The folder the photos are saved in (made on the first save).
  static std::string folder();
  // The saved files, oldest first.
  static std::vector<std::string> savedImagePaths();
  // The saved photo at `index` (oldest first), decoded; null when there is none or it is unreadable.
  static std::shared_ptr<Image> savedImage(std::size_t index);
};

}  // namespace os
