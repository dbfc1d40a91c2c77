#include <gtest/gtest.h>

#include "os/testing/HttpTestServer.h"
#include "os/testing/TestSandbox.h"
#include "ui/images/AnnotationViewWebCache.h"
#include "ui/images/ButtonWebCache.h"
#include "ui/images/ImageCommon.h"
#include "ui/images/ImageViewWebCache.h"
#include "ui/tests/images/ImageTestSupport.h"

using namespace imagetest;
using os::testing::CannedResponse;
using os::testing::HttpTestServer;

namespace {

CannedResponse imageAnswer(const os::Data& data) {
  CannedResponse answer;
  answer.body = text(data);
  answer.contentType = "image/png";
  return answer;
}

struct Completion {
  int calls = 0;
  BNImagePtr image;
  std::optional<os::Error> error;
  std::optional<os::URL> url;
};

BNWebImageCompletionBlock recordInto(Completion& c) {
  return [&c](BNImagePtr image, std::optional<os::Error> error, BNCacheSource, std::optional<os::URL> url) {
    ++c.calls, c.image = image, c.error = error, c.url = url;
  };
}

class ViewLoadingTest : public ::testing::Test {
 protected:
  void SetUp() override { BNSetViewLoadingManager(manager_); }
  void TearDown() override {
    waitIdle();
    BNSetViewLoadingManager(nullptr);
  }
  std::optional<os::URL> url(const std::string& path) { return os::URL::parse(server_.url(path)); }
  void serve(const std::string& path, int w, int h, std::uint8_t red = 200) { server_.route("GET", path, imageAnswer(png(w, h, red))); }
  void waitIdle() {
    ASSERT_TRUE(runUntil([&] { return downloader_->currentDownloadCount() == 0 && !manager_->isRunning(); }));
    settle();
  }

  os::TestSandbox sandbox_;
  HttpTestServer server_;
  std::shared_ptr<BNImageCache> cache_ = BNImageCache::initWithNamespace("views");
  std::shared_ptr<BNWebImageDownloader> downloader_ = BNWebImageDownloader::create();
  std::shared_ptr<BNWebImageManager> manager_ = BNWebImageManager::create(cache_, downloader_);
  BNImagePtr placeholder_ = os::Image::create(solid(1, 1, 9, 9, 9));
};

TEST_F(ViewLoadingTest, ShowsThePlaceholderThenTheImageAndRemembersTheURL) {
  serve("/a.png", 8, 6);
  auto view = std::make_shared<os::ImageView>(os::Rect(0, 0, 50, 50));
  Completion done;
  sd_setImageWithURL(view, url("/a.png"), placeholder_, recordInto(done));
  EXPECT_EQ(view->image(), placeholder_);
  EXPECT_EQ(view->pictureLoad(), os::ImageView::PictureLoad::Loading);
  EXPECT_EQ(sd_imageURL(view), url("/a.png"));
  ASSERT_TRUE(runUntil([&] { return done.calls == 1; }));
  ASSERT_TRUE(view->image());
  EXPECT_EQ(view->image()->pixelWidth(), 8);
  EXPECT_EQ(done.url, url("/a.png"));
  // A screen dump names the picture by where it came from.
  EXPECT_EQ(view->pictureLoad(), os::ImageView::PictureLoad::Loaded);
  std::vector<std::string> parts;
  view->describeForDump(parts);
  EXPECT_EQ(parts, (std::vector<std::string>{"image=/a.png"}));
}

TEST_F(ViewLoadingTest, ASecondLoadOnTheViewReplacesTheFirst) {
  serve("/first.png", 3, 3);
  serve("/second.png", 5, 5);
  downloader_->setSuspended(true);
  auto view = std::make_shared<os::ImageView>(os::Rect(0, 0, 50, 50));
  Completion first, second;
  sd_setImageWithURL(view, url("/first.png"), nullptr, recordInto(first));
  sd_setImageWithURL(view, url("/second.png"), nullptr, recordInto(second));
  downloader_->setSuspended(false);
  ASSERT_TRUE(runUntil([&] { return second.calls == 1; }));
  waitIdle();
  EXPECT_EQ(first.calls, 0);
  EXPECT_EQ(view->image()->pixelWidth(), 5);
  EXPECT_EQ(sd_imageURL(view), url("/second.png"));
}

TEST_F(ViewLoadingTest, CellsShowingTheSamePictureAllGetItWhenOneIsReused) {
  serve("/same.png", 4, 4);
  serve("/other.png", 2, 2);
  downloader_->setSuspended(true);
  auto kept = std::make_shared<os::ImageView>(os::Rect(0, 0, 50, 50));
  auto reused = std::make_shared<os::ImageView>(os::Rect(0, 0, 50, 50));
  sd_setImageWithURL(kept, url("/same.png"));
  sd_setImageWithURL(reused, url("/same.png"));
  ASSERT_TRUE(runUntil([&] { return downloader_->callbackCountForURL(server_.url("/same.png")) == 2; }));
  sd_setImageWithURL(reused, url("/other.png"));  // the reused cell leaves the shared download
  downloader_->setSuspended(false);
  waitIdle();
  ASSERT_TRUE(kept->image());
  EXPECT_EQ(kept->image()->pixelWidth(), 4);
  EXPECT_EQ(reused->image()->pixelWidth(), 2);
}

TEST_F(ViewLoadingTest, ClipOptionCutsToTwiceTheViewBounds) {
  serve("/big.png", 300, 200);
  serve("/small.png", 50, 50);
  auto view = std::make_shared<os::ImageView>(os::Rect(0, 0, 100, 60));
  Completion big;
  sd_setImageWithURL(view, url("/big.png"), placeholder_, BNImageLoadClipToView, recordInto(big));
  ASSERT_TRUE(runUntil([&] { return big.calls == 1; }));
  ASSERT_TRUE(view->image());
  EXPECT_EQ(view->image()->pixelWidth(), 200);
  EXPECT_EQ(view->image()->pixelHeight(), 120);
  EXPECT_EQ(view->image()->scale(), 1.0);
  EXPECT_EQ(big.image->pixelWidth(), 300);  // the completion gets the image as delivered

  Completion small;
  sd_setImageWithURL(view, url("/small.png"), placeholder_, BNImageLoadClipToView, recordInto(small));
  ASSERT_TRUE(runUntil([&] { return small.calls == 1; }));
  EXPECT_EQ(view->image()->pixelWidth(), 50);

  // A view not laid out yet shows the whole image instead of nothing.
  auto unsized = std::make_shared<os::ImageView>();
  Completion whole;
  sd_setImageWithURL(unsized, url("/big.png"), placeholder_, BNImageLoadClipToView, recordInto(whole));
  ASSERT_TRUE(runUntil([&] { return whole.calls == 1; }));
  ASSERT_TRUE(unsized->image());
  EXPECT_EQ(unsized->image()->pixelWidth(), 300);
}

TEST_F(ViewLoadingTest, AReusedCellShowsACachedPictureAtOnceAndNeverItsPreviousRowsLate) {
  serve("/slow.png", 3, 3);
  serve("/fresh.png", 4, 4);
  downloader_->setSuspended(true);
  auto view = std::make_shared<os::ImageView>(os::Rect(0, 0, 10, 10));
  Completion slow;
  EXPECT_FALSE(BNShowCachedImageOrLoad(view, server_.url("/slow.png"), placeholder_, 0, nullptr, recordInto(slow)));
  EXPECT_EQ(view->image(), placeholder_);

  // The next row's picture is already cached: it shows at once, through the cell's transform.
  cache_->storeImage(os::Image::create(solid(6, 6, 1, 2, 3)), manager_->cacheKeyForURL(url("/cached.png")));
  int transformed = 0;
  EXPECT_TRUE(BNShowCachedImageOrLoad(view, server_.url("/cached.png"), placeholder_, 0, [&](const BNImagePtr& image) {
    ++transformed;
    return image;
  }));
  EXPECT_EQ(transformed, 1);
  ASSERT_TRUE(view->image());
  EXPECT_EQ(view->image()->pixelWidth(), 6);
  downloader_->setSuspended(false);
  waitIdle();
  EXPECT_EQ(view->image()->pixelWidth(), 6) << "the previous row's load was cancelled";
  EXPECT_EQ(slow.calls, 0);

  // Not cached: the placeholder, then the loaded picture.
  EXPECT_FALSE(BNShowCachedImageOrLoad(view, server_.url("/fresh.png"), placeholder_));
  EXPECT_EQ(view->image(), placeholder_);
  ASSERT_TRUE(runUntil([&] { return view->image() && view->image()->pixelWidth() == 4; }));
}

TEST_F(ViewLoadingTest, DelayedPlaceholderAppearsOnlyAfterAFailure) {
  auto view = std::make_shared<os::ImageView>(os::Rect(0, 0, 10, 10));
  Completion done;
  sd_setImageWithURL(view, url("/missing.png"), placeholder_, BNImageLoadDelayPlaceholder, recordInto(done));
  EXPECT_EQ(view->image(), nullptr);
  ASSERT_TRUE(runUntil([&] { return done.calls == 1; }));
  EXPECT_EQ(view->image(), placeholder_);
  EXPECT_EQ(view->pictureLoad(), os::ImageView::PictureLoad::Failed);
  ASSERT_TRUE(done.error);
  EXPECT_EQ(done.error->code, 404);
}

TEST_F(ViewLoadingTest, NoURLKeepsThePlaceholderAndSaysSo) {
  auto view = std::make_shared<os::ImageView>(os::Rect(0, 0, 10, 10));
  Completion done;
  sd_setImageWithURL(view, std::nullopt, placeholder_, recordInto(done));
  EXPECT_EQ(done.calls, 1);
  EXPECT_EQ(view->image(), placeholder_);
  ASSERT_TRUE(done.error);
  EXPECT_EQ(done.error->domain, "BNWebImageErrorDomain");
  EXPECT_EQ(done.error->code, -1);
  EXPECT_EQ(done.error->localizedDescription(), "Trying to load a nil url");
  EXPECT_EQ(sd_imageURL(view), std::nullopt);
}

TEST_F(ViewLoadingTest, PreviousCachedImageStandsInWhileLoading) {
  serve("/p.png", 6, 6);
  auto cached = os::Image::create(solid(2, 2, 0, 0, 255));
  cache_->storeImage(cached, server_.url("/p.png"), false);
  auto view = std::make_shared<os::ImageView>(os::Rect(0, 0, 10, 10));
  Completion done;
  sd_setImageWithPreviousCachedImageWithURL(view, url("/p.png"), placeholder_, BNImageLoadRefreshCached, nullptr, recordInto(done));
  EXPECT_EQ(view->image(), cached);
  ASSERT_TRUE(runUntil([&] { return done.calls == 2; }));
  EXPECT_EQ(view->image()->pixelWidth(), 6);
}

TEST_F(ViewLoadingTest, AnimationFramesAndHighlightedImage) {
  serve("/f1.png", 2, 2);
  serve("/f2.png", 3, 3);
  serve("/h.png", 4, 4);
  auto view = std::make_shared<os::ImageView>(os::Rect(0, 0, 10, 10));
  sd_setAnimationImagesWithURLs(view, {*url("/f1.png"), *url("/f2.png")});
  EXPECT_EQ(BNImageLoadOperationCount(view, kImageViewAnimationImagesKey), 2u);
  ASSERT_TRUE(runUntil([&] { return view->animationImages().size() == 2; }));
  EXPECT_TRUE(view->isAnimating());

  Completion done;
  sd_setHighlightedImageWithURL(view, url("/h.png"), recordInto(done));
  ASSERT_TRUE(runUntil([&] { return done.calls == 1; }));
  EXPECT_EQ(view->highlightedImage()->pixelWidth(), 4);
  EXPECT_EQ(view->image(), nullptr);
  EXPECT_EQ(sd_imageURL(view), std::nullopt);  // the highlighted load leaves the view's URL alone
}

TEST_F(ViewLoadingTest, ButtonImagesPerStateLoadIndependently) {
  serve("/fg.png", 3, 3);
  serve("/bg.png", 5, 5);
  auto button = std::make_shared<os::Button>();
  downloader_->setSuspended(true);
  Completion fg, bg;
  sd_setImageWithURL(button, url("/fg.png"), os::kControlStateNormal, placeholder_, recordInto(fg));
  sd_setBackgroundImageWithURL(button, url("/bg.png"), os::kControlStateNormal, recordInto(bg));
  EXPECT_EQ(button->imageForState(os::kControlStateNormal), placeholder_);
  EXPECT_EQ(BNImageLoadOperationCount(button, "ButtonImageOperation0"), 1u);
  downloader_->setSuspended(false);
  ASSERT_TRUE(runUntil([&] { return fg.calls == 1 && bg.calls == 1; }));
  EXPECT_EQ(button->imageForState(os::kControlStateNormal)->pixelWidth(), 3);
  EXPECT_EQ(button->backgroundImageForState(os::kControlStateNormal)->pixelWidth(), 5);

  // The highlighted state has no URL of its own: the normal state's answers.
  button->setHighlighted(true);
  EXPECT_EQ(sd_currentImageURL(button), url("/fg.png"));
  EXPECT_EQ(sd_imageURLForState(button, os::kControlStateHighlighted), std::nullopt);

  Completion none;
  sd_setImageWithURL(button, std::nullopt, os::kControlStateNormal, recordInto(none));
  EXPECT_EQ(none.calls, 1);
  EXPECT_EQ(sd_imageURLForState(button, os::kControlStateNormal), std::nullopt);
}

TEST_F(ViewLoadingTest, AnnotationViewsTakeTheImageAndItsSizeAndOlderNamesForward) {
  serve("/pin.png", 12, 20);
  serve("/other.png", 6, 6);
  auto pin = std::make_shared<os::AnnotationView>("pin");
  pin->setCenter(os::Point{100, 100});
  downloader_->setSuspended(true);
  int older = 0;
  BNImagePtr delivered;
  setImageWithURL(pin, url("/other.png"), placeholder_);
  setImageWithURL(pin, url("/pin.png"), placeholder_, [&](BNImagePtr image, std::optional<os::Error>, BNCacheSource) {
    ++older;
    delivered = image;
  });
  EXPECT_EQ(pin->image(), placeholder_);
  EXPECT_EQ(imageURL(pin), url("/pin.png"));
  EXPECT_EQ(BNImageLoadOperationCount(pin, kAnnotationViewImageKey), 1u);  // the first load was cancelled
  downloader_->setSuspended(false);
  ASSERT_TRUE(runUntil([&] { return older == 1; }));
  ASSERT_EQ(pin->image(), delivered);
  EXPECT_EQ(pin->bounds().size, (os::Size{12, 20}));
  EXPECT_EQ(pin->center(), (os::Point{100, 100}));

  Completion none;
  sd_setImageWithURL(pin, std::nullopt, recordInto(none));
  ASSERT_TRUE(runUntil([&] { return none.calls == 1; }));
  EXPECT_EQ(none.error->code, -1);

  // The button's older cancel ends the current state's image load only.
  auto button = std::make_shared<os::Button>();
  downloader_->setSuspended(true);
  setImageWithURL(button, url("/pin.png"), os::kControlStateNormal);
  setBackgroundImageWithURL(button, url("/other.png"), os::kControlStateNormal);
  cancelCurrentImageLoad(button);
  EXPECT_EQ(BNImageLoadOperationCount(button, "ButtonImageOperation0"), 0u);
  EXPECT_EQ(BNImageLoadOperationCount(button, "ButtonBackgroundImageOperation0"), 1u);
  EXPECT_EQ(currentImageURL(button), url("/pin.png"));
  downloader_->setSuspended(false);
}

TEST_F(ViewLoadingTest, OperationTableCancelsReplacedLoadsButNotRemovedOnes) {
  struct Counting : BNWebImageOperation {
    int cancels = 0;
    void cancel() override { ++cancels; }
  };
  auto view = std::make_shared<os::View>();
  auto a = std::make_shared<Counting>(), b = std::make_shared<Counting>(), c = std::make_shared<Counting>();
  sd_setImageLoadOperation(view, a, "k");
  sd_setImageLoadOperation(view, b, "k");
  EXPECT_EQ(a->cancels, 1);
  sd_removeImageLoadOperationWithKey(view, "k");
  EXPECT_EQ(b->cancels, 0);
  sd_setImageLoadOperations(view, {b, c}, "list");
  sd_cancelImageLoadOperationWithKey(view, "list");
  EXPECT_EQ(b->cancels, 1);
  EXPECT_EQ(c->cancels, 1);
  EXPECT_EQ(BNImageLoadOperationCount(view, "list"), 0u);
}

TEST(ImageCommon, ClipAndScale) {
  auto image = os::Image::create(solid(40, 20, 255, 0, 0), 2.0);
  auto clipped = imageClip(image, os::Rect(30, 10, 20, 20));
  ASSERT_TRUE(clipped);
  EXPECT_EQ(clipped->pixelWidth(), 10);  // only the part inside the bitmap
  EXPECT_EQ(clipped->pixelHeight(), 10);
  EXPECT_EQ(clipped->scale(), 1.0);
  EXPECT_EQ(imageClip(image, os::Rect(50, 50, 5, 5)), nullptr);

  auto fitted = scaleToSize(image, os::Size{20, 20});
  ASSERT_TRUE(fitted);
  EXPECT_EQ(fitted->pixelWidth(), 20);
  EXPECT_EQ(fitted->pixelHeight(), 20);
  EXPECT_EQ(fitted->bitmap().pixel(10, 10)[0], 255);  // drawn 20 × 10, centred at y 5..15
  EXPECT_EQ(fitted->bitmap().pixel(10, 2)[3], 0);     // transparent band above
  EXPECT_EQ(BNImageClippedToViewBounds(image, os::Rect()), image);
}

}  // namespace
