#include "app/main/PeerApplication.h"

#include "os/core/URL.h"
#include "os/core/Value.h"
#include "os/store/FileManager.h"
#include "os/store/Sandbox.h"
#include "os/views/Application.h"

namespace reader {

namespace {

class Delegate : public os::ApplicationDelegate {
 public:
  Delegate(PeerApplication& peer, PeerApplication::Take take) : peer_(peer), take_(std::move(take)) {}
  bool openURL(os::Application&, const os::URL& url, const std::string&, const os::Value&) override {
    return take_(peer_, url);
  }

 private:
  PeerApplication& peer_;
  PeerApplication::Take take_;
};

}  // namespace

std::unique_ptr<PeerApplication> PeerApplication::install(const std::string& folder, const std::shared_ptr<os::Sandbox>& reader,
                                                          const std::string& identifier,
                                                          const std::vector<std::string>& schemes, Take take) {
  const std::string bundle = folder + "/Bundle";
  if (!os::FileManager::defaultManager().createDirectoryAtPath(bundle, true)) return nullptr;
  std::unique_ptr<PeerApplication> peer(new PeerApplication);
  peer->sandbox_ = std::make_shared<os::Sandbox>(folder, bundle, reader->deviceDirectory());
  peer->application_ = os::Application::createPeer(std::make_shared<Delegate>(*peer, std::move(take)), identifier);
  peer->application_->registerURLSchemes(schemes);
  peer->application_->launch();
  peer->application_->enterBackground();
  return peer;
}

PeerApplication::~PeerApplication() {
  if (application_) application_->setDelegate(nullptr);
}

bool PeerApplication::open(const std::string& url) {
  auto parsed = os::URL::parse(url);
  return parsed && application_->openURL(*parsed);
}

std::string titleAndLink(const std::string& title, const std::string& link) {
  if (link.empty()) return title;
  if (title.size() > link.size() && title.compare(title.size() - link.size(), link.size(), link) == 0) {
    std::string words = title.substr(0, title.size() - link.size());
    if (words.back() == ' ') return title;
    return words + " " + link;
  }
  if (title.find(link) != std::string::npos) return title;
  return title.empty() ? link : title + " " + link;
}

}  // namespace reader
