// The store sheet against a loopback store service: a product shown by its item identifier, every
// way a load can fail, and the done button reaching the delegate.
#include <gtest/gtest.h>

#include "os/console/ScreenDump.h"
#include "os/store/PropertyList.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/Waits.h"
#include "os/views/StoreProductViewController.h"
#include "ViewsTestSupport.h"

namespace os::test {
namespace {

using testing::CannedResponse;

struct Outcome {
  int calls = 0;
  bool loaded = false;
  std::optional<Error> error;
};

struct Closer : StoreProductViewControllerDelegate {
  int finished = 0;
  void productViewControllerDidFinish(StoreProductViewController& sheet) override {
    ++finished;
    sheet.dismissViewController(false);
  }
};

std::string plist(const Dictionary& product) {
  auto data = PropertyList::write(Value(product), PropertyListFormat::XML);
  return std::string(data->begin(), data->end());
}

class StoreProductTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    window->setRootViewController(root);
    DeviceProfile profile;
    profile.storeURL = server.url("/store/");
    store = std::make_unique<DeviceProfileScope>(profile);
    CannedResponse product;
    product.body = plist(Dictionary{{"id", Value("123456789")}, {"name", Value("舰船图鉴")}, {"summary", Value("千艘舰艇，一册在手")}});
    product.contentType = "application/x-plist";
    server.route("GET", "/store/products/123456789", product);
  }
  void TearDown() override {
    window->setRootViewController(nullptr);
    store.reset();
    ScreenTest::TearDown();
  }
  // Loads and waits for the outcome.
  Outcome load(const std::shared_ptr<StoreProductViewController>& sheet, const Value& id) {
    Outcome outcome;
    Dictionary parameters;
    if (!id.isNull()) parameters.set(kStoreProductParameterItemIdentifier, id);
    sheet->loadProductWithParameters(parameters, [&outcome](bool loaded, const Error* error) {
      ++outcome.calls;
      outcome.loaded = loaded;
      if (error) outcome.error = *error;
    });
    EXPECT_TRUE(sheet->isLoading());
    EXPECT_TRUE(testing::runUntil([&] { return outcome.calls > 0; }));
    RunLoop::main()->runUntilIdle();
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_FALSE(sheet->isLoading());
    return outcome;
  }

  testing::HttpTestServer server;
  std::unique_ptr<DeviceProfileScope> store;
  std::shared_ptr<ViewController> root = std::make_shared<ViewController>();
  std::shared_ptr<Closer> closer = std::make_shared<Closer>();
};

TEST_F(StoreProductTest, AProductShowsItsNameAndDoneGoesToTheDelegate) {
  auto sheet = std::make_shared<StoreProductViewController>();
  sheet->setDelegate(closer);
  root->presentViewController(sheet, false);
  Outcome outcome = load(sheet, Value("123456789"));
  EXPECT_TRUE(outcome.loaded);
  EXPECT_FALSE(outcome.error);
  EXPECT_EQ(sheet->productName(), "舰船图鉴");
  EXPECT_EQ(sheet->productSummary(), "千艘舰艇，一册在手");
  std::string screen = dumpScreen();
  EXPECT_NE(screen.find("舰船图鉴"), std::string::npos) << screen;
  EXPECT_NE(screen.find(StoreProductViewController::kDoneTitle), std::string::npos) << screen;
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].path, "/store/products/123456789");

  ASSERT_TRUE(TouchDriver::tapText("完成"));
  EXPECT_EQ(closer->finished, 1);
  EXPECT_FALSE(root->presentedViewController());
}

TEST_F(StoreProductTest, EveryFailedLoadIsReportedOnceWithItsReason) {
  auto sheet = std::make_shared<StoreProductViewController>();
  server.route("GET", "/store/products/5", CannedResponse::text("<html>store page</html>"));
  server.route("GET", "/store/products/6", CannedResponse::text(plist(Dictionary{{"name", Value("")}})));
  server.route("GET", "/store/products/7", CannedResponse::text("busy", 503));
  struct Case {
    Value id;
    long code;
  };
  for (const Case& c : {Case{Value("404404"), kStoreProductErrorUnknownItem}, Case{Value("5"), kStoreProductErrorBadAnswer},
                        Case{Value("6"), kStoreProductErrorBadAnswer}, Case{Value("7"), kStoreProductErrorBadAnswer},
                        // Not an identifier: nothing is asked of the store.
                        Case{Value("../products/123456789"), kStoreProductErrorUnknownItem},
                        Case{Value(""), kStoreProductErrorUnknownItem}, Case{Value(123456789), kStoreProductErrorUnknownItem},
                        Case{Value(), kStoreProductErrorUnknownItem}}) {
    Outcome outcome = load(sheet, c.id);
    EXPECT_FALSE(outcome.loaded) << c.id.description();
    ASSERT_TRUE(outcome.error) << c.id.description();
    EXPECT_EQ(outcome.error->domain, kStoreProductErrorDomain) << c.id.description();
    EXPECT_EQ(outcome.error->code, c.code) << c.id.description();
  }
  EXPECT_EQ(server.requests().size(), 4u);
  EXPECT_EQ(sheet->productName(), "");

  // A device without a store.
  DeviceProfileScope noStore{DeviceProfile{}};
  Outcome outcome = load(sheet, Value("123456789"));
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->code, kStoreProductErrorNoStore);
  EXPECT_EQ(server.requests().size(), 4u);
}

TEST_F(StoreProductTest, TheOutcomeComesEvenWhenTheSheetIsGoneAndANewerLoadEndsTheEarlierOne) {
  server.route("GET", "/store/products/1", CannedResponse::text(plist(Dictionary{{"name", Value("慢")}})));
  std::vector<std::string> heard;
  auto sheet = std::make_shared<StoreProductViewController>();
  sheet->loadProductWithParameters(Dictionary{{kStoreProductParameterItemIdentifier, Value("1")}},
                                   [&](bool loaded, const Error* e) { heard.push_back(loaded ? "first loaded" : "first " + std::to_string(e->code)); });
  sheet->loadProductWithParameters(Dictionary{{kStoreProductParameterItemIdentifier, Value("123456789")}},
                                   [&](bool loaded, const Error*) { heard.push_back(loaded ? "second loaded" : "second failed"); });
  ASSERT_TRUE(testing::runUntil([&] { return heard.size() == 2; }));
  EXPECT_EQ(heard, (std::vector<std::string>{"first -999", "second loaded"}));
  EXPECT_EQ(sheet->productName(), "舰船图鉴");

  sheet->loadProductWithParameters(Dictionary{{kStoreProductParameterItemIdentifier, Value("1")}},
                                   [&](bool loaded, const Error*) { heard.push_back(loaded ? "third loaded" : "third failed"); });
  sheet.reset();
  ASSERT_TRUE(testing::runUntil([&] { return heard.size() == 3; }));
  EXPECT_EQ(heard.back(), "third loaded");
  // The cancelled load asked nothing of the store.
  EXPECT_EQ(server.requests().size(), 2u);
}

}  // namespace
}  // namespace os::test
