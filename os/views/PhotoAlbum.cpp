#include "os/views/PhotoAlbum.h"

#include <algorithm>

#include "os/core/String.h"
#include "os/graphics/Image.h"
#include "os/graphics/ImageCodec.h"
#include "os/runtime/RunLoop.h"
#include "os/store/FileLock.h"
#include "os/store/FileManager.h"
#include "os/store/Sandbox.h"

namespace os {

std::string PhotoAlbum::folder() { return appendingPathComponent(Sandbox::current()->deviceDirectory(), "PhotoAlbum"); }

std::vector<std::string> PhotoAlbum::savedImagePaths() {
  std::vector<std::string> out;
  auto names = FileManager::defaultManager().contentsOfDirectoryAtPath(folder());
  if (!names) return out;
  for (auto& n : *names) {
    if (hasPrefix(n, "IMG_") && hasSuffix(n, ".png")) out.push_back(appendingPathComponent(folder(), n));
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::shared_ptr<Image> PhotoAlbum::savedImage(std::size_t index) {
  auto paths = savedImagePaths();
  if (index >= paths.size()) return nullptr;
  // Every application of the device saves here: a file past the bound is not read, and counts as
  // a photo that cannot be read.
  auto data = FileManager::defaultManager().contentsAtPath(paths[index], nullptr, kMaxPhotoBytes);
  return data ? decodeImage(*data) : nullptr;
}

void PhotoAlbum::saveImage(const std::shared_ptr<const Image>& image, std::function<void(const Error*)> completion) {
  std::optional<Error> failure;
  if (!image) {
    failure = Error::withDescription(kImageErrorDomain, kImageErrorEncode, "no image to save");
  } else {
    Error error;
    auto data = encodePNG(*image, &error);
    auto& fm = FileManager::defaultManager();
    if (!data) {
      failure = error;
    } else if (data->size() > kMaxPhotoBytes) {
      // Kept, it would be a photo the album refuses to read back.
      failure = Error::withDescription(kImageErrorDomain, kImageErrorTooLarge,
                                       "photo too large to save (" + std::to_string(data->size()) + " bytes)");
    } else if (!fm.createDirectoryAtPath(folder(), true, &error)) {
      failure = error;
    } else {
      FileLock lock(appendingPathComponent(folder(), ".lock"), FileLock::Mode::Exclusive);
      // Under the album's lock no other save is under way: what an earlier one cut short left goes.
      fm.removeAbandonedTemporaryFilesInDirectory(folder());
      std::size_t next = savedImagePaths().size() + 1;
      std::string path;
      do {
        path = appendingPathComponent(folder(), format("IMG_%04zu.png", next++));
      } while (fm.fileExistsAtPath(path));
      if (!fm.writeData(*data, path, WriteOptions{}, &error)) failure = error;
    }
  }
  if (!completion) return;
  RunLoop::main()->post([completion = std::move(completion), failure] { completion(failure ? &*failure : nullptr); });
}

}  // namespace os
