#pragma once
// The application's home folder, its bundle and the device folder shared by every application on
// the simulated device. One sandbox is current for the process; tests make fresh ones.
#include <memory>
#include <mutex>
#include <string>

namespace os {

class Bundle;
class UserDefaults;

class Sandbox : public std::enable_shared_from_this<Sandbox> {
 public:
  // Creates the standard folders below home and the bundle and device folders when missing.
  Sandbox(std::string home, std::string bundle, std::string device);

  // The current sandbox. When none was set, one below the system's temporary folder
  // ("newsreader-<user id>") is made on first use.
  static std::shared_ptr<Sandbox> current();
  // Replaces the current sandbox (null goes back to the default one); returns the previous one.
  static std::shared_ptr<Sandbox> setCurrent(std::shared_ptr<Sandbox> sandbox);

  const std::string& homeDirectory() const { return home_; }
  std::string documentsDirectory() const;
  std::string libraryDirectory() const;
  std::string cachesDirectory() const;
  std::string preferencesDirectory() const;
  std::string temporaryDirectory() const;
  const std::string& bundlePath() const { return bundle_; }
  const std::string& deviceDirectory() const { return device_; }

  std::shared_ptr<Bundle> mainBundle() const { return mainBundle_; }
  // Made on first use, stored under Library/Preferences/<bundle identifier>.plist.
  std::shared_ptr<UserDefaults> standardUserDefaults();

 private:
  std::string home_, bundle_, device_;
  std::shared_ptr<Bundle> mainBundle_;
  std::mutex mutex_;
  std::shared_ptr<UserDefaults> defaults_;
};

}  // namespace os
