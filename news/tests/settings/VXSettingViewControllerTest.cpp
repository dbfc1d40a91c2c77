// The settings screen: its rows, the text size, the push switch, measuring and clearing the
// caches, and the version check against the local news server.
#include <gtest/gtest.h>

#include <string>

#include "news/article/VXOfflineArticleStore.h"
#include "news/store/VXNewsConfig.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/graphics/Image.h"
#include "os/store/FileManager.h"
#include "os/store/UserDefaults.h"
#include "os/testing/FullDisk.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/LogCapture.h"
#include "os/testing/NotificationCounter.h"
#include "os/testing/ScreenHelpers.h"

namespace {

using newstest::runUntil;
using os::testing::frontAlert;

os::Data bytes(std::size_t n) { return os::Data(n, 0x5a); }

std::shared_ptr<os::Image> picture() { return os::Image::create(os::Bitmap(4, 3)); }

class VXSettingViewControllerTest : public newstest::SettingsFixture {
 protected:
  static std::string offline() { return VXGlobalHelper::cachesDirectory() + "offline/"; }
  static double databaseBytes() {
    return static_cast<double>(
        os::FileManager::defaultManager().attributesOfItemAtPath(VXGlobalHelper::cachesDirectory() + "news.db")->size);
  }
};

TEST_F(VXSettingViewControllerTest, ShowsFiveRowsWithTheirNotesAndTheSizeOnceMeasured) {
  open();
  EXPECT_EQ(topScreen(), "VXSettingViewController");
  ASSERT_EQ(settings_->tableView()->numberOfRowsInSection(0), 5);
  const char* names[] = {"字体大小", "清理缓存", "版本升级", "消息推送", "意见反馈"};
  const int types[] = {1, 1, 1, 2, 0};
  for (long r = 0; r < 5; ++r) {
    EXPECT_EQ(settings_->row(r)->name(), names[r]);
    EXPECT_EQ(settings_->row(r)->type(), types[r]);
  }
  ASSERT_TRUE(waitMeasured());
  os::TouchDriver::settle();
  EXPECT_EQ(note(0), "中");
  EXPECT_EQ(note(1), "0");  // a fresh reader: nothing beyond its empty database
  EXPECT_EQ(note(2), "27");
  // No stored push setting means on.
  EXPECT_TRUE(cell(3)->swichButton()->isOn());
  EXPECT_FALSE(cell(3)->swichButton()->isHidden());
  EXPECT_TRUE(cell(3)->noteLabel()->isHidden());
  EXPECT_TRUE(cell(4)->noteLabel()->isHidden());
  EXPECT_TRUE(cell(4)->swichButton()->isHidden());
}

TEST_F(VXSettingViewControllerTest, SizeTextsByUnit) {
  EXPECT_EQ(VXSettingViewController::transformedValue(0), "0");
  EXPECT_EQ(VXSettingViewController::transformedValue(1024), "1024.0 B");
  EXPECT_EQ(VXSettingViewController::transformedValue(1536), " 1.5 KB");
  EXPECT_EQ(VXSettingViewController::transformedValue(2.0 * 1024 * 1024 * 1024 * 1024 * 1024), "2048.0 TB");
}

TEST_F(VXSettingViewControllerTest, MeasuresOfflineFilesTheDatabaseAndTheImageCache) {
  VXNewsDBManager::share();  // the database file exists before measuring
  ASSERT_TRUE(os::TestSandbox::writeFile(offline() + "3/101.html", std::string(100000, 'Z')));
  ASSERT_TRUE(os::TestSandbox::writeFile(offline() + "3/pics/1.jpg", std::string(20000, 'Z')));
  images_->imageCache()->storeImage(picture(), false, bytes(50000), "http://pics/1", true);
  open();
  ASSERT_TRUE(waitMeasured());
  const double expected = 100000 + 20000 + 50000 + databaseBytes() - VXSettingViewController::kBaseCacheBytes;
  EXPECT_EQ(settings_->cacheSize(), expected);
  EXPECT_EQ(note(1), VXSettingViewController::transformedValue(expected));
  EXPECT_NE(note(1), "0");
}

TEST_F(VXSettingViewControllerTest, ClearingEmptiesEveryCacheAndTellsTheOthers) {
  auto db = VXNewsDBManager::share();
  os::Array items;
  items.push_back(os::Value(os::Dictionary{{"id", 5}, {"title", "t"}, {"icons", os::Array{}}}));
  ASSERT_EQ(db->insertArticles(items, 2).size(), 1u);
  ASSERT_TRUE(db->insertHistory(5));
  ASSERT_TRUE(os::TestSandbox::writeFile(offline() + "2/5.html", std::string(80000, 'Z')));
  images_->imageCache()->storeImage(picture(), false, bytes(30000), "http://pics/2", true);
  open();
  ASSERT_TRUE(waitMeasured());
  ASSERT_GT(settings_->cacheSize(), 0);
  os::testing::NotificationCounter cleared(VXSettingViewController::kClearCachesNotification);

  tapRow(VXSettingViewController::kRowCache);

  EXPECT_EQ(cleared.count(), 1);
  EXPECT_FALSE(os::FileManager::defaultManager().fileExistsAtPath(offline()));
  EXPECT_TRUE(db->createNewsListWithDB(2).empty());
  EXPECT_TRUE(db->getHistoryID().empty());
  EXPECT_FALSE(images_->imageCache()->imageFromMemoryCacheForKey("http://pics/2"));
  EXPECT_EQ(images_->imageCache()->getSize(), 0u);
  EXPECT_EQ(settings_->cacheSize(), 0);
  EXPECT_EQ(note(1), "0");
  EXPECT_TRUE(waitHud("清理结束"));
}

// An article whose answer was asked for before the caches were cleared (a cancelled download's
// last one, still on its way) is not put back by its save; one asked for after is kept.
TEST_F(VXSettingViewControllerTest, AnArticleAskedForBeforeClearingIsNotPutBackByItsSave) {
  auto& context = *VXReaderContext::current();
  const os::Dictionary answer{{"result", os::Value(1)}, {"title", os::Value("kept")}};
  ASSERT_TRUE(VXOfflineArticleStore::saveWithInfo(context, answer, os::Value(2), os::Value(5)));
  const unsigned long long asked = VXOfflineArticleStore::clearings(context);
  open();
  tapRow(VXSettingViewController::kRowCache);

  os::Error error;
  EXPECT_TRUE(VXOfflineArticleStore::saveWithInfo(context, answer, os::Value(2), os::Value(6), &error, asked));
  EXPECT_FALSE(VXOfflineArticleStore::read(os::Value(2), os::Value(5)));
  EXPECT_FALSE(VXOfflineArticleStore::read(os::Value(2), os::Value(6)));
  EXPECT_TRUE(VXOfflineArticleStore::saveWithInfo(context, answer, os::Value(2), os::Value(6), &error,
                                                  VXOfflineArticleStore::clearings(context)));
  EXPECT_TRUE(VXOfflineArticleStore::read(os::Value(2), os::Value(6)));
}

// The database refuses to let its rows go (a full disk): the offline files and pictures still go,
// but the reader is told the caches were not all cleared and sees what they still take, not "0".
TEST_F(VXSettingViewControllerTest, AClearingTheDatabaseRefusesSaysSoAndShowsWhatTheCachesStillTake) {
  auto db = VXNewsDBManager::share();
  os::Array items;
  items.push_back(os::Value(os::Dictionary{{"id", 5}, {"title", std::string(100000, 'T')}}));
  ASSERT_EQ(db->insertArticles(items, 2).size(), 1u);
  ASSERT_TRUE(db->insertHistory(5));
  {
    // Into the database file itself, which the screen measures.
    auto other = SQDatabase::databaseWithPath(db->path());
    ASSERT_TRUE(other->open());
    ASSERT_TRUE(other->executeStatements("pragma wal_checkpoint(truncate)"));
    other->close();
  }
  ASSERT_GT(databaseBytes(), 100000);
  ASSERT_TRUE(os::TestSandbox::writeFile(offline() + "2/5.html", std::string(80000, 'Z')));
  images_->imageCache()->storeImage(picture(), false, bytes(30000), "http://pics/2", true);
  open();
  newstest::refuseRemovingRows(*db, "ZHISTORY", true);
  os::testing::LogCapture quiet;

  tapRow(VXSettingViewController::kRowCache);

  EXPECT_TRUE(waitHud("缓存未能全部清理"));
  EXPECT_FALSE(os::FileManager::defaultManager().fileExistsAtPath(offline()));
  EXPECT_EQ(images_->imageCache()->getSize(), 0u);
  EXPECT_EQ(db->createNewsListWithDB(2).size(), 1u);
  EXPECT_EQ(db->getHistoryID(), (std::vector<long long>{5}));
  ASSERT_TRUE(waitMeasured());
  const double left = databaseBytes() - VXSettingViewController::kBaseCacheBytes;
  EXPECT_EQ(settings_->cacheSize(), left > 0 ? left : 0);
  EXPECT_NE(note(1), "0");
}

// A measurement finished before a clearing but delivered after it must not bring the old size back.
TEST_F(VXSettingViewControllerTest, AMeasurementOvertakenByAClearingIsDropped) {
  ASSERT_TRUE(os::TestSandbox::writeFile(offline() + "1/1.html", std::string(200000, 'Z')));
  settings_ = std::make_shared<VXSettingViewController>(VXReaderContext::current());
  settings_->view();
  settings_->sizeThread()->join();  // measured, its answer still queued on the main thread
  settings_->clickCacheCell();
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(settings_->cacheSize(), 0);
  EXPECT_EQ(settings_->sizeOfCache(), "0");
}

TEST_F(VXSettingViewControllerTest, TheTextSizeSheetStoresAndAppliesTheChoice) {
  open();
  const double mediumBody = VXNewsConfig::share()->detailBodyFont().pointSize();
  tapRow(VXSettingViewController::kRowFont);
  auto sheets = os::ActionSheet::visibleActionSheets();
  ASSERT_EQ(sheets.size(), 1u);
  EXPECT_EQ(sheets[0]->title(), "设置字体大小");

  ASSERT_TRUE(os::TouchDriver::pressAlertButton("大"));
  os::TouchDriver::settle();
  EXPECT_EQ(VXNewsConfig::share()->fontSize(), 3);
  EXPECT_EQ(defaults()->integerForKey(kFontSize), 3);
  EXPECT_GT(VXNewsConfig::share()->detailBodyFont().pointSize(), mediumBody);
  EXPECT_EQ(note(0), "大");

  tapRow(VXSettingViewController::kRowFont);
  ASSERT_TRUE(os::TouchDriver::pressAlertButton("中"));
  os::TouchDriver::settle();
  EXPECT_EQ(defaults()->integerForKey(kFontSize), 2);
  EXPECT_EQ(note(0), "中");
}

// The disk is full when the person picks a text size: it applies, but cannot be saved then. The
// person clears the caches, which makes room, and leaves: the size is there at the next start.
TEST_F(VXSettingViewControllerTest, ATextSizeChosenOnAFullDiskIsKeptOnceRoomIsMadeAndTheReaderLeaves) {
  open();
  {
    os::testing::LogCapture quiet;
    os::testing::FullDisk disk(8);
    tapRow(VXSettingViewController::kRowFont);
    ASSERT_TRUE(os::TouchDriver::pressAlertButton("大"));
    os::TouchDriver::settle();
  }
  EXPECT_EQ(VXNewsConfig::share()->fontSize(), 3);
  ASSERT_NE(os::UserDefaults(defaults()->path()).integerForKey(kFontSize), 3);
  tapRow(VXSettingViewController::kRowCache);
  EXPECT_TRUE(waitHud("清理结束"));
  EXPECT_TRUE(app_->leave(30));
  EXPECT_EQ(os::UserDefaults(defaults()->path()).integerForKey(kFontSize), 3);
}

TEST_F(VXSettingViewControllerTest, WithoutThePassSwitchThePushSwitchChangesNothingAndSpringsBack) {
  state_->setPass(false);
  open();
  auto toggle = cell(VXSettingViewController::kRowPush)->swichButton();
  ASSERT_TRUE(toggle->isOn());
  ASSERT_TRUE(os::TouchDriver::tap(*toggle));
  os::TouchDriver::settle();
  EXPECT_FALSE(defaults()->objectForKey(VXSettingViewController::kPushMessage));
  EXPECT_TRUE(ServiceCallLog::calls("ROVodozov").empty());
  EXPECT_TRUE(cell(VXSettingViewController::kRowPush)->swichButton()->isOn());
}

TEST_F(VXSettingViewControllerTest, ThePushSwitchUnregistersAndRegistersAndStoresTheSetting) {
  state_->setPass(true);
  app_->registerForRemoteNotificationTypes(7);
  open();
  ASSERT_TRUE(os::TouchDriver::tap(*cell(VXSettingViewController::kRowPush)->swichButton()));
  os::TouchDriver::settle();
  EXPECT_EQ(defaults()->stringForKey(VXSettingViewController::kPushMessage), "1");
  EXPECT_FALSE(app_->isRegisteredForRemoteNotifications());
  EXPECT_TRUE(ServiceCallLog::calls("ROVodozov").empty());
  EXPECT_FALSE(cell(VXSettingViewController::kRowPush)->swichButton()->isOn());

  ASSERT_TRUE(os::TouchDriver::tap(*cell(VXSettingViewController::kRowPush)->swichButton()));
  os::TouchDriver::settle();
  EXPECT_EQ(defaults()->stringForKey(VXSettingViewController::kPushMessage), "0");
  auto registration = ServiceCallLog::last("ROVodozov", "registerForRemoteNotificationTypes");
  ASSERT_TRUE(registration);
  EXPECT_EQ(registration->arguments["types"].intValue(), 7);
  EXPECT_TRUE(registration->arguments["categories"].isNull());
  EXPECT_TRUE(cell(VXSettingViewController::kRowPush)->swichButton()->isOn());
}

TEST_F(VXSettingViewControllerTest, ANewerVersionIsOfferedAndItsLinkOpened) {
  newsd::ServiceOptions service;
  service.latestVersion = "28";  // the bundle says 27
  startServer(1, service);
  open();
  tapRow(VXSettingViewController::kRowUpdate);
  ASSERT_TRUE(runUntil([] { return frontAlert() != nullptr; }));
  EXPECT_EQ(frontAlert()->message(), "检测到Corvessa有新的版本\n是否立即更新");
  EXPECT_EQ(settings_->appstoreUrl(), server_->base() + "/app/update");
  ASSERT_TRUE(os::TouchDriver::pressAlertButton("升级"));
  ASSERT_EQ(app_->openedURLs().size(), 1u);
  EXPECT_EQ(app_->openedURLs()[0].absoluteString(), server_->base() + "/app/update");
}

TEST_F(VXSettingViewControllerTest, UpToDateFailedAndUnreadableChecksSayWhatHappened) {
  startServer(1);  // no newer version
  open();
  tapRow(VXSettingViewController::kRowUpdate);
  EXPECT_TRUE(waitHud("已经是最新版本"));
  EXPECT_TRUE(os::AlertView::visibleAlertViews().empty());

  os::TouchDriver::advance(2);
  server_->setFault(newsd::FaultTarget::versionCheck(), {newsd::FailureMode::HttpError, 0});
  tapRow(VXSettingViewController::kRowUpdate);
  EXPECT_TRUE(waitHud("网络异常"));

  os::TouchDriver::advance(2);
  server_->stop();
  server_.reset();
  // Nothing listens there: a port held unlistened, not the stopped server's own, which another
  // program may be given meanwhile.
  VXRequestConfig::setServerRoot("http://127.0.0.1:" + std::to_string(os::testing::HttpTestServer::refusedPort()));
  tapRow(VXSettingViewController::kRowUpdate);
  EXPECT_TRUE(waitHud("网络异常"));
  EXPECT_TRUE(app_->openedURLs().empty());
}

}  // namespace
