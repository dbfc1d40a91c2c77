#include "os/testing/TestPeerApplication.h"

#include "os/core/String.h"
#include "os/store/Bundle.h"
#include "os/store/FileManager.h"
#include "os/store/Pasteboard.h"
#include "os/store/PropertyList.h"
#include "os/store/Sandbox.h"
#include "os/views/Application.h"

namespace os {

class TestPeerApplication::Delegate : public ApplicationDelegate {
 public:
  explicit Delegate(TestPeerApplication& peer) : peer_(peer) {}
  bool openURL(Application&, const URL& url, const std::string& source, const Value& annotation) override {
    opened.push_back(OpenedURL{url, source, annotation});
    // A copy: the handler may replace itself or open more URLs.
    Handler h = handler;
    return h ? h(peer_, opened.back()) : true;
  }
  std::vector<OpenedURL> opened;
  Handler handler;

 private:
  TestPeerApplication& peer_;
};

TestPeerApplication::TestPeerApplication(std::shared_ptr<Sandbox> sandbox, std::string bundleIdentifier)
    : sandbox_(std::move(sandbox)), bundleIdentifier_(std::move(bundleIdentifier)), delegate_(std::make_shared<Delegate>(*this)) {
  application_ = Application::createPeer(delegate_, bundleIdentifier_);
  application_->launch();
  application_->enterBackground();
}

TestPeerApplication::~TestPeerApplication() { application_->setDelegate(nullptr); }

void TestPeerApplication::registerURLSchemes(const std::vector<std::string>& schemes) {
  application_->registerURLSchemes(schemes);
  Array list;
  for (const auto& s : schemes) list.push_back(Value(s));
  auto bundle = sandbox_->mainBundle();
  Dictionary info = bundle->infoDictionary();
  Array types = info["CFBundleURLTypes"].array() ? *info["CFBundleURLTypes"].array() : Array{};
  types.push_back(Value(Dictionary{{"CFBundleURLSchemes", Value(std::move(list))}}));
  info.set("CFBundleURLTypes", Value(std::move(types)));
  PropertyList::writeFile(Value(info), appendingPathComponent(sandbox_->bundlePath(), "Info.plist"), PropertyListFormat::XML);
  bundle->reload();
}

const std::vector<TestPeerApplication::OpenedURL>& TestPeerApplication::openedURLs() const { return delegate_->opened; }

void TestPeerApplication::setOpenURLHandler(Handler handler) { delegate_->handler = std::move(handler); }

bool TestPeerApplication::openURL(const std::string& url, const Value& annotation) {
  auto parsed = URL::parse(url);
  return parsed && application_->openURL(*parsed, annotation);
}

std::shared_ptr<Pasteboard> TestPeerApplication::generalPasteboard() const { return Pasteboard::generalPasteboard(sandbox_); }

std::shared_ptr<Pasteboard> TestPeerApplication::pasteboardWithName(const std::string& name, bool create) const {
  return Pasteboard::pasteboardWithName(name, create, sandbox_);
}

void TestPeerApplication::runAsCurrent(const std::function<void()>& f) const {
  auto previous = Sandbox::setCurrent(sandbox_);
  struct Restore {
    std::shared_ptr<Sandbox> previous;
    ~Restore() { Sandbox::setCurrent(previous); }
  } restore{previous};
  f();
}

}  // namespace os
