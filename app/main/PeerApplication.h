#pragma once
// An application beside the reader on its simulated device: a home and bundle of its own in a
// folder, the reader's device folder (pasteboards, URL schemes), the schemes it answers to, and
// a hand for the URLs it is opened with. It waits in the background, as an installed application
// the reader switches to.
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace os {
class Application;
class Sandbox;
class URL;
}  // namespace os

namespace reader {

class PeerApplication {
 public:
  // One URL the application was opened with; false when it is not one of its own.
  using Take = std::function<bool(PeerApplication& self, const os::URL& url)>;
  // Null when its folders cannot be made.
  static std::unique_ptr<PeerApplication> install(const std::string& folder, const std::shared_ptr<os::Sandbox>& reader,
                                                  const std::string& identifier, const std::vector<std::string>& schemes,
                                                  Take take);
  ~PeerApplication();
  PeerApplication(const PeerApplication&) = delete;
  PeerApplication& operator=(const PeerApplication&) = delete;

  const std::shared_ptr<os::Sandbox>& sandbox() const { return sandbox_; }
  // Opens a URL as this application (its answer back to the reader).
  bool open(const std::string& url);

 private:
  PeerApplication() = default;
  std::shared_ptr<os::Sandbox> sandbox_;
  std::shared_ptr<os::Application> application_;
};

// What a peer's line says of a shared article: its title, then its link once, a space between
// them. The reader's share text is the title with the link written straight after it, so a link
// the text ends with is set apart; one it holds elsewhere is not said again.
std::string titleAndLink(const std::string& title, const std::string& link);

}  // namespace reader
