// Another application of the device played in-process: schemes, opened URLs, pasteboards.
#include <gtest/gtest.h>

#include "os/testing/NotificationCounter.h"
#include "os/runtime/RunLoop.h"
#include "os/store/Bundle.h"
#include "os/store/Pasteboard.h"
#include "os/store/Sandbox.h"
#include "os/testing/NotificationCounter.h"
#include "os/testing/TestPeerApplication.h"
#include "os/views/Application.h"
#include "ViewsTestSupport.h"

namespace os::test {
namespace {

struct Reader : ApplicationDelegate {
  std::vector<std::string> opened;
  bool openURL(Application&, const URL& url, const std::string& source, const Value&) override {
    opened.push_back(url.absoluteString() + " from " + source);
    return true;
  }
};

TEST_F(ScreenTest, APeerApplicationAnswersThroughAPasteboardAndTheReadersScheme) {
  auto readerDelegate = std::make_shared<Reader>();
  auto reader = Application::create(readerDelegate, "com.example.reader");
  reader->makeShared();
  reader->registerURLSchemes({"reader42"});
  reader->launch();
  testing::NotificationCounter activations(kApplicationDidBecomeActiveNotification);

  auto messenger = sandbox.launchPeerApplication("com.example.messenger", {"Msgr1234"});
  EXPECT_EQ(Application::shared(), reader);
  EXPECT_EQ(messenger->sandbox()->deviceDirectory(), sandbox.sandbox()->deviceDirectory());
  EXPECT_NE(messenger->sandbox()->homeDirectory(), sandbox.sandbox()->homeDirectory());
  EXPECT_EQ(messenger->sandbox()->mainBundle()->infoDictionary()["CFBundleURLTypes"].at(0)["CFBundleURLSchemes"].at(0).stringOr(),
            "Msgr1234");
  messenger->setOpenURLHandler([](TestPeerApplication& peer, const TestPeerApplication::OpenedURL& opened) {
    auto request = peer.pasteboardWithName("msgr.request", false);
    std::string asked = request ? request->string().value_or("") : "";
    peer.pasteboardWithName("msgr.answer")->setString("sent: " + asked);
    return peer.openURL("reader42://answer?from=" + opened.url.host().value_or(""));
  });

  Pasteboard::pasteboardWithName("msgr.request", true)->setString("hello");
  ASSERT_TRUE(reader->canOpenURL(*URL::parse("msgr1234://share")));
  ASSERT_TRUE(reader->openURL(*URL::parse("msgr1234://share")));
  ASSERT_TRUE(RunLoop::main()->runUntil([&] { return !readerDelegate->opened.empty(); }, 30));

  ASSERT_EQ(messenger->openedURLs().size(), 1u);
  EXPECT_EQ(messenger->openedURLs()[0].url.absoluteString(), "msgr1234://share");
  EXPECT_EQ(messenger->openedURLs()[0].sourceApplication, "com.example.reader");
  EXPECT_EQ(readerDelegate->opened, (std::vector<std::string>{"reader42://answer?from=share from com.example.messenger"}));
  EXPECT_EQ(Pasteboard::pasteboardWithName("msgr.answer", false)->string(), "sent: hello");
  EXPECT_EQ(reader->applicationState(), ApplicationState::Active);
  EXPECT_EQ(messenger->application()->applicationState(), ApplicationState::Background);
  // The reader's observers hear the reader come back, never the messenger's own activation.
  EXPECT_EQ(activations.count(), 1);
  reader->terminate();
}

}  // namespace
}  // namespace os::test
