#include "os/views/NamedImage.h"

#include <map>
#include <mutex>
#include <utility>

#include "os/store/Bundle.h"
#include "os/views/Screen.h"

namespace os {

namespace {
struct NamedImageCache {
  std::mutex mutex;
  std::string bundlePath;
  // By name and the scale it was read for (tests change the device between lookups).
  std::map<std::pair<std::string, double>, std::shared_ptr<Image>> images;
};

NamedImageCache& cache() {
  static auto* c = new NamedImageCache;  // never destroyed: lookups may come during exit
  return *c;
}
}  // namespace

std::shared_ptr<Image> imageNamed(const std::string& name) {
  if (name.empty()) return nullptr;
  auto bundle = Bundle::mainBundle();
  if (!bundle) return nullptr;
  const std::string& path = bundle->bundlePath();
  const double scale = Screen::main().scale();
  const auto key = std::make_pair(name, scale);
  auto& c = cache();
  {
    std::lock_guard lock(c.mutex);
    if (c.bundlePath != path) {
      c.images.clear();
      c.bundlePath = path;
    }
    if (auto it = c.images.find(key); it != c.images.end()) return it->second;
  }
  // Decoding happens outside the lock; when two threads race, the first stored image wins so a
  // name keeps one identity.
  auto image = os::imageNamed(path, name, scale);
  if (!image) return nullptr;
  std::lock_guard lock(c.mutex);
  if (c.bundlePath != path) return image;
  return c.images.emplace(key, std::move(image)).first->second;
}

}  // namespace os
