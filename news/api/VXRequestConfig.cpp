#include "news/api/VXRequestConfig.h"

#include <mutex>

namespace {

struct Hosts {
  std::mutex mutex;
  std::string news = std::string(kDefaultServerRoot) + "/api";
  std::string quarn = std::string(kDefaultServerRoot);
};

Hosts& hosts() {
  static Hosts h;
  return h;
}

}  // namespace

std::string VXRequestConfig::SERVER_HOST() {
  std::lock_guard<std::mutex> lock(hosts().mutex);
  return hosts().news;
}

std::string VXRequestConfig::SERVER_HOST_QUARN() {
  std::lock_guard<std::mutex> lock(hosts().mutex);
  return hosts().quarn;
}

void VXRequestConfig::setServerHost(std::string url) {
  std::lock_guard<std::mutex> lock(hosts().mutex);
  hosts().news = std::move(url);
}

void VXRequestConfig::setServerHostQuarn(std::string url) {
  std::lock_guard<std::mutex> lock(hosts().mutex);
  hosts().quarn = std::move(url);
}

void VXRequestConfig::setServerRoot(std::string_view root) {
  while (!root.empty() && root.back() == '/') root.remove_suffix(1);
  std::lock_guard<std::mutex> lock(hosts().mutex);
  hosts().news = std::string(root) + "/api";
  hosts().quarn = std::string(root);
}

void VXRequestConfig::reset() { setServerRoot(kDefaultServerRoot); }
