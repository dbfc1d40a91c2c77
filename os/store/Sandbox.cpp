#include "os/store/Sandbox.h"

#include <unistd.h>

#include <filesystem>

#include "os/store/Bundle.h"
#include "os/store/FileManager.h"
#include "os/store/UserDefaults.h"

namespace os {

namespace {

std::mutex& currentMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<Sandbox>& currentSandbox() {
  static std::shared_ptr<Sandbox> s;
  return s;
}

std::shared_ptr<Sandbox> makeDefault() {
  std::error_code ec;
  std::string base = std::filesystem::temp_directory_path(ec).string();
  if (ec || base.empty()) base = "/tmp";
  std::string root = appendingPathComponent(base, "newsreader-" + std::to_string(::getuid()));
  return std::make_shared<Sandbox>(appendingPathComponent(root, "home"), appendingPathComponent(root, "bundle"),
                                   appendingPathComponent(root, "device"));
}

}  // namespace

Sandbox::Sandbox(std::string home, std::string bundle, std::string device)
    : home_(std::move(home)), bundle_(std::move(bundle)), device_(std::move(device)),
      mainBundle_(std::make_shared<Bundle>(bundle_)) {
  FileManager& fm = FileManager::defaultManager();
  for (const std::string& dir : {documentsDirectory(), cachesDirectory(), preferencesDirectory(), temporaryDirectory(),
                                 bundle_, device_})
    fm.createDirectoryAtPath(dir, true);
}

std::shared_ptr<Sandbox> Sandbox::current() {
  std::lock_guard lock(currentMutex());
  if (!currentSandbox()) currentSandbox() = makeDefault();
  return currentSandbox();
}

std::shared_ptr<Sandbox> Sandbox::setCurrent(std::shared_ptr<Sandbox> sandbox) {
  std::lock_guard lock(currentMutex());
  auto previous = std::move(currentSandbox());
  currentSandbox() = std::move(sandbox);
  return previous;
}

std::string Sandbox::documentsDirectory() const { return appendingPathComponent(home_, "Documents"); }
std::string Sandbox::libraryDirectory() const { return appendingPathComponent(home_, "Library"); }
std::string Sandbox::cachesDirectory() const { return appendingPathComponent(home_, "Library/Caches"); }
std::string Sandbox::preferencesDirectory() const { return appendingPathComponent(home_, "Library/Preferences"); }
std::string Sandbox::temporaryDirectory() const { return appendingPathComponent(home_, "tmp"); }

std::shared_ptr<UserDefaults> Sandbox::standardUserDefaults() {
  std::lock_guard lock(mutex_);
  if (!defaults_) {
    std::string name = mainBundle_->bundleIdentifier().value_or("application");
    for (char& c : name)
      if (c == '/') c = '_';
    defaults_ = std::make_shared<UserDefaults>(appendingPathComponent(preferencesDirectory(), name + ".plist"));
  }
  return defaults_;
}

}  // namespace os
