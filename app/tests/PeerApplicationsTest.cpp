// The messenger and QQ installed beside the reader, fed by hand with what the reader's clients
// leave for them (records, pasteboards and URLs written out key by key), so that a reading shared
// by a client and its peer cannot pass unseen.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/main/MessengerPeer.h"
#include "app/main/QQPeer.h"
#include "foundation/formats/Base64.h"
#include "os/core/URL.h"
#include "os/core/Value.h"
#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/store/KeyedArchive.h"
#include "os/store/Pasteboard.h"
#include "os/store/PropertyList.h"
#include "os/testing/TestSandbox.h"
#include "os/views/Application.h"
#include "os/views/Device.h"

namespace {

const std::string kAppId = "wx5a1c0ffee";

struct Opened : os::ApplicationDelegate {
  std::vector<std::string> urls;
  bool openURL(os::Application&, const os::URL& url, const std::string&, const os::Value&) override {
    urls.push_back(url.absoluteString());
    return true;
  }
};

class PeerTest {
 protected:
  PeerTest() {
    reader->registerURLSchemes({kAppId, "QQ05FB8A2B"});
    reader->makeShared();
    reader->launch();
  }
  ~PeerTest() {
    reader->terminate();
    os::RunLoop::main()->runUntilIdle();
  }
  std::shared_ptr<os::Pasteboard> board(const std::string& name) const {
    return name.empty() ? os::Pasteboard::generalPasteboard(device.sandbox())
                        : os::Pasteboard::pasteboardWithName(name, true, device.sandbox());
  }
  void open(const std::string& url) {
    ASSERT_TRUE(reader->openURL(*os::URL::parse(url))) << url;
    os::RunLoop::main()->runUntilIdle();
  }

  os::VirtualClockScope clock;
  os::TestSandbox device;
  std::shared_ptr<Opened> opened = std::make_shared<Opened>();
  std::shared_ptr<os::Application> reader = os::Application::create(opened, "com.example.newsreader");
  std::ostringstream console;
};

// The messenger on a system above 6.9 (general pasteboard) and on older ones ("wechat_data" and
// "wechat_file"); 6.91 is above 6.9 though below 7.
class MessengerPeerTest : public PeerTest, public ::testing::TestWithParam<const char*> {
 protected:
  MessengerPeerTest() : profile_(os::DeviceProfile{.systemVersion = GetParam()}) {}
  static bool generalBoard() { return std::string(GetParam()) != "6.1.3"; }
  std::string recordsBoardName() const { return generalBoard() ? "" : "wechat_data"; }

  os::DeviceProfileScope profile_;
  std::unique_ptr<reader::PeerApplication> messenger = reader::installMessenger(device.root() + "/Messenger", device.sandbox(), console);
};

INSTANTIATE_TEST_SUITE_P(Systems, MessengerPeerTest, ::testing::Values("7.0", "6.91", "6.1.3"));

TEST_P(MessengerPeerTest, TakesAShareRecordAndAnswersWithAShareResult) {
  ASSERT_TRUE(messenger);
  // A picture shared to the timeline, as the reader's client leaves it: every value a string, the
  // picture inside the record on newer systems, beside it on "wechat_file" on older ones.
  const os::Data picture{0x89, 'P', 'N', 'G'};
  os::Dictionary record{{"command", os::Value("1010")},   {"returnFromApp", os::Value("0")}, {"result", os::Value("1")},
                        {"sdkver", os::Value("1.4.3")},   {"scene", os::Value("1")},         {"title", os::Value("标题")},
                        {"objectType", os::Value("2")}};
  if (generalBoard()) record.set("fileData", os::Value(picture));
  else board("wechat_file")->setData(picture, "content");
  auto bytes = os::PropertyList::write(os::Value(os::Dictionary{{kAppId, os::Value(record)}}), os::PropertyListFormat::Binary);
  ASSERT_TRUE(bytes);
  board(recordsBoardName())->setData(*bytes, "content");

  open("weixin://app/" + kAppId + "/sendreq/?");
  EXPECT_EQ(console.str(), "messenger: shared to timeline: 标题\n");
  ASSERT_EQ(opened->urls, std::vector<std::string>{kAppId + "://platformId=wechat"});

  // The answer waits under the app id, a binary property list under "content".
  auto answer = board(recordsBoardName())->dataForPasteboardType("content");
  ASSERT_TRUE(answer);
  auto list = os::PropertyList::read(*answer);
  ASSERT_TRUE(list && list->dictionary());
  const os::Dictionary* entry = (*list->dictionary())[kAppId].dictionary();
  ASSERT_TRUE(entry);
  EXPECT_EQ((*entry)["command"].stringOr(), "2010");
  EXPECT_EQ((*entry)["result"].stringOr(), "0");
  EXPECT_EQ((*entry)["returnFromApp"].stringOr(), "1");
  EXPECT_FALSE(entry->contains("fileData"));
  // The shared picture went with the record it came with: nothing stays behind to be read back
  // as the answer's file data.
  if (!generalBoard()) {
    auto file = board("wechat_file")->dataForPasteboardType("content");
    EXPECT_TRUE(!file || file->empty());
  }
}

TEST_P(MessengerPeerTest, TextShareAndRequestsItDoesNotAnswer) {
  ASSERT_TRUE(messenger);
  const auto put = [&](const os::Dictionary& record) {
    board(recordsBoardName())
        ->setData(*os::PropertyList::write(os::Value(os::Dictionary{{kAppId, os::Value(record)}}), os::PropertyListFormat::Binary),
                  "content");
  };
  put(os::Dictionary{{"command", os::Value("1020")}, {"title", os::Value("hello")}, {"scene", os::Value("0")}});
  open("weixin://app/" + kAppId + "/sendreq/?");
  EXPECT_EQ(console.str(), "messenger: shared to chat: hello\n");
  EXPECT_EQ(opened->urls.size(), 1u);

  // A login request is not answered, and a second request finds no record.
  console.str("");
  put(os::Dictionary{{"command", os::Value("1030")}, {"scope", os::Value("snsapi_userinfo")}});
  open("weixin://app/" + kAppId + "/sendreq/?");
  open("weixin://app/" + kAppId + "/sendreq/?");
  EXPECT_EQ(console.str(), "messenger: a request from " + kAppId + " it does not answer (command 1030)\n" +
                               "messenger: a request from " + kAppId + " without a record\n");
  EXPECT_EQ(opened->urls.size(), 1u);
}

// An article shared as a page, as the reader shares one: the share text (its title with the link
// written straight after it) as the record's title, the link as its page address. The line sets
// the link apart from the title, and says it once.
TEST_P(MessengerPeerTest, SaysAnArticlesTitleThenItsLink) {
  ASSERT_TRUE(messenger);
  const std::string link = "http://127.0.0.1:8080/news/20001.html";
  const auto share = [&](const std::string& title) {
    os::Dictionary record{{"command", os::Value("1010")}, {"scene", os::Value("0")},   {"title", os::Value(title)},
                          {"description", os::Value(title)}, {"objectType", os::Value("5")}, {"mediaUrl", os::Value(link)}};
    board(recordsBoardName())
        ->setData(*os::PropertyList::write(os::Value(os::Dictionary{{kAppId, os::Value(record)}}), os::PropertyListFormat::Binary),
                  "content");
    open("weixin://app/" + kAppId + "/sendreq/?");
  };
  share("海上联合搜救演练" + link);
  EXPECT_EQ(console.str(), "messenger: shared to chat: 海上联合搜救演练 " + link + "\n");
  console.str("");
  share("海上联合搜救演练");
  EXPECT_EQ(console.str(), "messenger: shared to chat: 海上联合搜救演练 " + link + "\n");
  console.str("");
  share("海上联合搜救演练 " + link);
  EXPECT_EQ(console.str(), "messenger: shared to chat: 海上联合搜救演练 " + link + "\n");
  EXPECT_EQ(opened->urls.size(), 3u);
}

class QQPeerTest : public PeerTest, public ::testing::Test {
 protected:
  // The large-data record: a keyed archive of a dictionary, under a type equal to the board's name.
  void putLargeData(const std::string& boardName, const os::Data& preview) {
    auto archive = os::KeyedArchiver::archivedData(os::ArchiveItem(os::Value(os::Dictionary{{"previewimagedata", os::Value(preview)}})));
    ASSERT_TRUE(archive);
    board(boardName)->setData(*archive, "com.velmora.mqq.api.apiLargeData");
  }

  std::unique_ptr<reader::PeerApplication> qq = reader::installQQ(device.root() + "/QQ", device.sandbox(), console);
};

TEST_F(QQPeerTest, TakesShareURLsAndAnswersOnTheCallbackScheme) {
  ASSERT_TRUE(qq);
  // A news link to QZone, written as the client writes it: Base64 values whose "+" and "=" stand
  // bare (the whole text is escaped, "+", "/", "=", "&" and ":" left as they are), the preview on
  // the general pasteboard because QQ answers "mqqopensdkapiV2".
  putLargeData("", os::Data{1, 2, 3});
  open("mqqapi://share/to_fri?src_type=app&version=1&file_type=news&callback_type=scheme&callback_name=QQ05FB8A2B"
       "&title=6Iiq5q+N57yW6ZifIGE9Yg==&url=aHR0cDovL25ld3MuZXhhbXBsZS9hP2lkPTEmeD0y&objectlocation=pasteboard"
       "&shareType=1&generalpastboard=1&cflag=0");
  EXPECT_EQ(console.str(), "qq: shared to QZone (news): 航母编队 a=b http://news.example/a?id=1&x=2, with a preview picture of 3 bytes\n");
  ASSERT_EQ(opened->urls.size(), 1u);
  auto answer = os::URL::parse(opened->urls[0]);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->host(), "response_from_qq");
  EXPECT_NE(("&" + answer->query().value_or("") + "&").find("&error=0&"), std::string::npos) << opened->urls[0];
  // Reading the record took it off.
  auto left = board("")->dataForPasteboardType("com.velmora.mqq.api.apiLargeData");
  EXPECT_TRUE(!left || left->empty());

  // To a friend, on a QQ that reads the named board.
  console.str("");
  putLargeData("com.velmora.mqq.api.apiLargeData", os::Data{9});
  open("mqqapi://share/to_fri?src_type=app&version=1&file_type=url&callback_type=scheme&callback_name=QQ05FB8A2B"
       "&title=6Iiq5q+N57yW6ZifIGE=&url=aHR0cDovL25ld3MuZXhhbXBsZS9hP2lkPTEmeD0y&objectlocation=pasteboard&shareType=0");
  EXPECT_EQ(console.str(), "qq: shared to a friend (url): 航母编队 a http://news.example/a?id=1&x=2, with a preview picture of 1 bytes\n");
  EXPECT_EQ(opened->urls.size(), 2u);

  // Without a callback there is no one to answer.
  console.str("");
  open("mqqapi://share/to_fri?src_type=app&file_type=url&title=6Iiq5q+N57yW6ZifIGFi&shareType=0");
  EXPECT_EQ(console.str(), "qq: shared to a friend (url): 航母编队 ab\nqq: the share names no application to answer\n");
  EXPECT_EQ(opened->urls.size(), 2u);
}

TEST_F(QQPeerTest, SaysTheLinkOnceWhenTheShareTextCarriesItAlready) {
  ASSERT_TRUE(qq);
  const std::string link = "http://127.0.0.1:8080/news/20001.html";
  auto title = base64EncodedString("歼-20编队披露" + link);
  auto url = base64EncodedString(link);
  ASSERT_TRUE(title && url);
  open("mqqapi://share/to_fri?src_type=app&file_type=news&title=" + *title + "&url=" + *url + "&shareType=0");
  EXPECT_EQ(console.str(), "qq: shared to a friend (news): 歼-20编队披露 " + link + "\nqq: the share names no application to answer\n");
}

}  // namespace
