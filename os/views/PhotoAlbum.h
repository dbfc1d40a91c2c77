#pragma once
// The device's saved photos: PNG files numbered in order in the "PhotoAlbum" folder of the
// device folder, so every application of the simulated device (and a test) sees them.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "os/core/Error.h"

namespace os {

class Image;

class PhotoAlbum {
 public:
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
