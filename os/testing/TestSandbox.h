#pragma once
// Fresh folders for one test: a temporary root holding the application's home, its bundle and the
// device folder, made current for the lifetime of the object and removed afterwards.
#include <memory>
#include <string>
#include <vector>

#include "os/core/Value.h"

namespace os {

struct Bitmap;
class Sandbox;
class TestPeerApplication;

class TestSandbox {
 public:
  // bundleIdentifier goes into Info.plist ("CFBundleIdentifier") unless empty.
  explicit TestSandbox(const std::string& bundleIdentifier = "com.example.newsreader");
  ~TestSandbox();
  TestSandbox(const TestSandbox&) = delete;
  TestSandbox& operator=(const TestSandbox&) = delete;

  const std::shared_ptr<Sandbox>& sandbox() const { return sandbox_; }
  const std::string& root() const { return root_; }

  // Another application on the same device: its own home and bundle, this device folder. Not made
  // current; its folders go with this object.
  std::shared_ptr<Sandbox> peerApplication(const std::string& bundleIdentifier);
  // The same, running: an application in this process that registers `schemes`, records the
  // URLs it is opened with and reaches the device's pasteboards (see TestPeerApplication).
  std::shared_ptr<TestPeerApplication> launchPeerApplication(const std::string& bundleIdentifier,
                                                             const std::vector<std::string>& schemes = {});

  // Writes the bundle's Info.plist and a resource (property list or raw bytes).
  void setInfoDictionary(const Dictionary& info);
  void writeBundlePropertyList(const std::string& name, const Value& value);
  void writeBundleFile(const std::string& fileName, const std::string& contents);
  // A bundle picture: the bitmap as a PNG file. False when it cannot be encoded.
  bool writeBundlePNG(const std::string& fileName, const Bitmap& bitmap);
  // The bundle's provisioning profile with its push environment ("development", "production").
  void writeProvisioningProfile(const std::string& apsEnvironment);
  // A file at any path (a test's stored data, or a damaged one), its folder made first. False when
  // it cannot be written.
  static bool writeFile(const std::string& path, const std::string& contents);

 private:
  std::string root_;
  std::shared_ptr<Sandbox> sandbox_;
  std::shared_ptr<Sandbox> previous_;
  int peers_ = 0;
};

}  // namespace os
