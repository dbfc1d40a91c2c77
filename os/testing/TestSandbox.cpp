#include "os/testing/TestSandbox.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "os/graphics/Image.h"
#include "os/graphics/ImageCodec.h"
#include "os/store/Bundle.h"
#include "os/store/FileManager.h"
#include "os/store/PropertyList.h"
#include "os/store/ProvisioningProfile.h"
#include "os/store/Sandbox.h"
#include "os/testing/TestPeerApplication.h"

namespace os {

namespace {

std::string makeRoot() {
  std::error_code ec;
  std::string base = std::filesystem::temp_directory_path(ec).string();
  if (ec || base.empty()) base = "/tmp";
  std::string pattern = appendingPathComponent(base, "newsreader-test-XXXXXX");
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder in " + base);
  return pattern;
}

void writeInfo(const std::string& bundle, const Dictionary& info) {
  PropertyList::writeFile(Value(info), appendingPathComponent(bundle, "Info.plist"), PropertyListFormat::XML);
}

}  // namespace

TestSandbox::TestSandbox(const std::string& bundleIdentifier) : root_(makeRoot()) {
  std::string bundle = appendingPathComponent(root_, "app/bundle");
  FileManager::defaultManager().createDirectoryAtPath(bundle, true);
  if (!bundleIdentifier.empty()) writeInfo(bundle, Dictionary{{kBundleIdentifierKey, Value(bundleIdentifier)}});
  sandbox_ = std::make_shared<Sandbox>(appendingPathComponent(root_, "app/home"), bundle,
                                       appendingPathComponent(root_, "device"));
  previous_ = Sandbox::setCurrent(sandbox_);
}

TestSandbox::~TestSandbox() {
  Sandbox::setCurrent(previous_);
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
}

std::shared_ptr<Sandbox> TestSandbox::peerApplication(const std::string& bundleIdentifier) {
  std::string base = appendingPathComponent(root_, "peer" + std::to_string(++peers_));
  std::string bundle = appendingPathComponent(base, "bundle");
  FileManager::defaultManager().createDirectoryAtPath(bundle, true);
  writeInfo(bundle, Dictionary{{kBundleIdentifierKey, Value(bundleIdentifier)}});
  return std::make_shared<Sandbox>(appendingPathComponent(base, "home"), bundle, sandbox_->deviceDirectory());
}

std::shared_ptr<TestPeerApplication> TestSandbox::launchPeerApplication(const std::string& bundleIdentifier,
                                                                      const std::vector<std::string>& schemes) {
  auto peer = std::make_shared<TestPeerApplication>(peerApplication(bundleIdentifier), bundleIdentifier);
  if (!schemes.empty()) peer->registerURLSchemes(schemes);
  return peer;
}

void TestSandbox::setInfoDictionary(const Dictionary& info) {
  writeInfo(sandbox_->bundlePath(), info);
  sandbox_->mainBundle()->reload();
}

void TestSandbox::writeBundlePropertyList(const std::string& name, const Value& value) {
  PropertyList::writeFile(value, appendingPathComponent(sandbox_->bundlePath(), name), PropertyListFormat::XML);
  sandbox_->mainBundle()->reload();
}

void TestSandbox::writeBundleFile(const std::string& fileName, const std::string& contents) {
  writeFile(appendingPathComponent(sandbox_->bundlePath(), fileName), contents);
  sandbox_->mainBundle()->reload();
}

bool TestSandbox::writeFile(const std::string& path, const std::string& contents) {
  auto& files = FileManager::defaultManager();
  return files.createDirectoryAtPath(path.substr(0, path.find_last_of('/')), true) &&
         files.writeData(dataFromString(contents), path);
}

bool TestSandbox::writeBundlePNG(const std::string& fileName, const Bitmap& bitmap) {
  auto png = encodePNG(*Image::create(bitmap));
  if (!png) return false;
  writeBundleFile(fileName, std::string(png->begin(), png->end()));
  return true;
}

}  // namespace os

namespace os {

void TestSandbox::writeProvisioningProfile(const std::string& apsEnvironment) {
  auto id = sandbox_->mainBundle()->bundleIdentifier().value_or("com.example.newsreader");
  os::writeProvisioningProfile(sandbox_->bundlePath(), id, apsEnvironment);
  sandbox_->mainBundle()->reload();
}

}  // namespace os
