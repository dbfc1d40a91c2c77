#pragma once
// Another application on the test's device, played in this process: its own home and bundle on
// the shared device folder, its own URL schemes in the device's table, a record of every URL it
// was opened with, and the device's pasteboards. A test plays a messenger, the QQ client, a
// browser with it: the reader opens it by scheme, the peer reads and writes pasteboards and opens
// the reader back, all on the main run loop.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "os/core/URL.h"
#include "os/core/Value.h"

namespace os {

class Application;
class Pasteboard;
class Sandbox;

class TestPeerApplication {
 public:
  struct OpenedURL {
    URL url;
    std::string sourceApplication;
    Value annotation;
  };
  // Runs for each URL once it is recorded; its answer is what the platform hears back.
  using Handler = std::function<bool(TestPeerApplication& peer, const OpenedURL& opened)>;

  // Made by TestSandbox::launchPeerApplication: launched, then sent to the background.
  TestPeerApplication(std::shared_ptr<Sandbox> sandbox, std::string bundleIdentifier);
  ~TestPeerApplication();
  TestPeerApplication(const TestPeerApplication&) = delete;
  TestPeerApplication& operator=(const TestPeerApplication&) = delete;

  const std::string& bundleIdentifier() const { return bundleIdentifier_; }
  const std::shared_ptr<Sandbox>& sandbox() const { return sandbox_; }
  const std::shared_ptr<Application>& application() const { return application_; }

  // Registers the schemes in the device's table and lists them in this application's Info.plist.
  void registerURLSchemes(const std::vector<std::string>& schemes);
  const std::vector<OpenedURL>& openedURLs() const;
  void setOpenURLHandler(Handler handler);

  // Opens a URL as this application (delivered on a later turn of the run loop); false when no
  // application takes its scheme or the text is no URL.
  bool openURL(const std::string& url, const Value& annotation = {});

  // The device's pasteboards, as this application sees them.
  std::shared_ptr<Pasteboard> generalPasteboard() const;
  std::shared_ptr<Pasteboard> pasteboardWithName(const std::string& name, bool create = true) const;

  // Runs f with this application's sandbox current (its defaults, keychain and files), then
  // restores the previous one.
  void runAsCurrent(const std::function<void()>& f) const;

 private:
  class Delegate;
  std::shared_ptr<Sandbox> sandbox_;
  std::string bundleIdentifier_;
  std::shared_ptr<Delegate> delegate_;
  std::shared_ptr<Application> application_;
};

}  // namespace os
