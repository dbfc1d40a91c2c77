// The zoomable picture page and the full-screen viewer the article screen presents: layout of
// short and tall pictures, loading, zoom by double tap, paging with its counter, saving to the
// photo album, and closing.
#include <gtest/gtest.h>

#include "news/album/VXImageViewerViewController.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/store/FileManager.h"
#include "os/testing/NotificationCounter.h"
#include "os/views/Label.h"
#include "os/views/PhotoAlbum.h"
#include "os/views/TableView.h"

using newstest::PictureScreenTest;
using newstest::runUntil;

namespace {

// Counts the reloads of the article table the viewer hands back to.
struct RowCounter : os::TableViewDataSource {
  int asked = 0;
  long numberOfRowsInSection(os::TableView&, long) override {
    ++asked;
    return 0;
  }
  std::shared_ptr<os::TableViewCell> cellForRowAtIndexPath(os::TableView&, const os::IndexPath&) override { return nullptr; }
};

class ImageViewerTest : public PictureScreenTest {
 protected:
  ImageViewerTest() { table_->setDataSource(rows_); }
  // The picture row the article screen would make of a picture of this server.
  std::shared_ptr<VXNewsDetailImageDO> row(const newsd::Picture& picture) {
    os::Dictionary dict{{"type", 2}, {"content", newsd::pictureURL(server_->base(), picture)}, {"alt", picture.alt}};
    if (picture.sized) {
      dict.set("originalwidth", picture.width);
      dict.set("originalheight", picture.height);
    }
    return std::make_shared<VXNewsDetailImageDO>(dict);
  }
  // A row whose picture is already in the image cache: a plain bitmap of the given size.
  std::shared_ptr<VXNewsDetailImageDO> cachedRow(const std::string& name, int width, int height) {
    auto cached = row(newsd::Picture{name, width, height, ""});
    images_->imageCache()->storeImage(os::Image::create(os::Bitmap(width, height)),
                                      images_->cacheKeyForURL(os::URL::parse(cached->content())));
    return cached;
  }
  std::shared_ptr<VXImageViewer> page(double width, double height, double offset) {
    auto viewer = std::make_shared<VXImageViewer>(os::Rect{0, 0, width, height}, offset);
    window_->addSubview(viewer);
    return viewer;
  }
  // Five cached pictures 10, 20, .. 50 points wide, so a saved file tells which one it was.
  std::vector<VXNewsDetailDOPtr> fivePictures() {
    auto picture = [&](int i) { return cachedRow("five" + std::to_string(i), 10 * i, 8 * i); };
    return newstest::collect<VXNewsDetailDOPtr>(os::testing::numbers(1, 6), picture);
  }
  std::shared_ptr<VXImageViewerViewController> present(long index, std::vector<VXNewsDetailDOPtr> rows) {
    auto viewer = VXImageViewerViewController::initWithIndex(index, rows, table_, VXReaderContext::current());
    root_->presentViewController(viewer, false);
    os::TouchDriver::settle();
    return viewer;
  }
  static int savedWidth(std::size_t index) {
    auto image = os::PhotoAlbum::savedImage(index);
    return image ? static_cast<int>(image->size().width) : -1;
  }

  std::shared_ptr<RowCounter> rows_ = std::make_shared<RowCounter>();
  std::shared_ptr<os::TableView> table_ = std::make_shared<os::TableView>(os::Rect{0, 0, 320, 400}, os::TableViewStyle::Plain);
};

TEST_F(ImageViewerTest, PicturesAreLaidOutAtTheLayoutWidthShortOnesCentredAndRaised) {
  auto wide = cachedRow("wide", 640, 480);  // shown 240 high
  auto viewerPage = page(320, 480, 0);
  viewerPage->setContent(wide);
  EXPECT_EQ(viewerPage->imageView()->frame(), (os::Rect{0, 120, 320, 240}));
  auto albumPage = page(320, 480, 40);
  albumPage->setContent(wide);
  EXPECT_EQ(albumPage->imageView()->frame(), (os::Rect{0, 80, 320, 240}));

  auto tall = page(320, 480, 0);
  tall->setContent(cachedRow("tall", 320, 1000));
  EXPECT_EQ(tall->contentSize(), (os::Size{320, 1000}));
  EXPECT_EQ(tall->imageView()->frame().origin.y, 0);

  // Raising it by the offset would push it above the top: it stays at 0.
  auto low = page(320, 150, 40);
  low->setContent(cachedRow("low", 640, 200));
  EXPECT_EQ(low->imageView()->frame(), (os::Rect{0, 0, 320, 100}));
  os::TouchDriver::settle();
  EXPECT_EQ(low->imageView()->frame().origin.y, 0);
}

TEST_F(ImageViewerTest, AReusedPageNeverShowsThePictureItWasStillLoading) {
  const auto& pictures = album().pictures();
  auto viewer = page(320, 480, 0);
  server_->setFault(newsd::FaultTarget::pictures(), newsd::Fault{newsd::FailureMode::None, 5});
  viewer->setContent(row(pictures[0]));
  ASSERT_TRUE(runUntil([&] { return server_->heldRequests() == 1; }));

  auto cached = cachedRow("cached", 64, 48);
  viewer->setContent(cached);
  auto shown = viewer->imageView()->image();
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->size().width, 64);

  os::TouchDriver::advance(6);  // the first picture's answer comes
  runUntil([&] { return !images_->isRunning(); });
  os::TouchDriver::settle();
  EXPECT_EQ(viewer->imageView()->image(), shown);
  EXPECT_TRUE(viewer->logoView()->isHidden());
}

TEST_F(ImageViewerTest, DoubleTapZoomsInAroundThePointAndBackOut) {
  auto viewer = page(320, 480, 0);
  viewer->setContent(cachedRow("zoom", 640, 480));
  os::TouchDriver::settle();
  os::Rect picture = viewer->imageView()->frame();

  // Right of the middle: the zoomed view shows that side.
  ASSERT_TRUE(os::TouchDriver::doubleTap(os::Point{picture.midX() + 60, picture.midY()}));
  os::TouchDriver::advance(1);
  EXPECT_DOUBLE_EQ(viewer->zoomScale(), 3);
  EXPECT_EQ(viewer->contentSize(), (os::Size{960, 720}));
  EXPECT_GT(viewer->contentOffset().x, 320);

  ASSERT_TRUE(os::TouchDriver::doubleTap(os::TouchDriver::middleOf(*viewer)));
  os::TouchDriver::advance(1);
  EXPECT_DOUBLE_EQ(viewer->zoomScale(), 1);
  EXPECT_EQ(viewer->imageView()->frame(), picture);

  // The rectangle for a scale is the page divided by it, around the centre.
  EXPECT_EQ(viewer->zoomRectForScale(2, os::Point{100, 100}), (os::Rect{20, -20, 160, 240}));
  EXPECT_THROW(viewer->zoomRectForScale(0.5, os::Point{}), os::Exception);
  EXPECT_THROW(viewer->zoomRectForScale(4, os::Point{}), os::Exception);
}

TEST_F(ImageViewerTest, OpensOnTheTappedPictureAndSavesThatOne) {
  auto viewer = present(2, fivePictures());
  EXPECT_EQ(VXGlobalDefine::share()->screenStatus(), 1);
  EXPECT_EQ(viewer->modalTransitionStyle(), os::ModalTransitionStyle::CrossDissolve);
  EXPECT_EQ(viewer->pageLabel()->text(), "3/5");
  auto& flow = *viewer->pageFlowView();
  EXPECT_EQ(flow.scrollView()->contentOffset().x, 2 * flow.pageSize().width);
  ASSERT_TRUE(pageAt(flow, 2));
  EXPECT_EQ(pageAt(flow, 2)->dataObject(), viewer->imageArray()[2]);
  EXPECT_EQ(flow.visibleRange(), (PageFlowView::Range{1, 3}));
  EXPECT_EQ(VXImageViewerViewController::initWithIndex(9, fivePictures(), nullptr, VXReaderContext::current())->currentIndex(), 4);

  viewer->clickButton();
  ASSERT_TRUE(waitHud(VXImageViewerViewController::kSavedText));
  EXPECT_EQ(savedWidth(0), 30) << "the third picture, not the first";

  // A swipe moves the counter and the picture that is saved.
  os::TouchDriver::advance(1.5);  // the HUD goes
  swipeLeft(flow);
  EXPECT_EQ(viewer->pageLabel()->text(), "4/5");
  viewer->clickButton();
  ASSERT_TRUE(runUntil([&] { return os::PhotoAlbum::savedImagePaths().size() == 2; }));
  EXPECT_EQ(savedWidth(1), 40);
}

TEST_F(ImageViewerTest, PagingReusesPagesAndStartsEachPictureUnzoomed) {
  auto viewer = present(0, fivePictures());
  auto& flow = *viewer->pageFlowView();
  EXPECT_EQ(viewer->pageLabel()->text(), "1/5");
  auto first = pageAt(flow, 0);
  ASSERT_TRUE(first);
  // Zoomed once it is beside the page in sight: a zoomed page takes the finger's drags itself.
  swipeLeft(flow);
  ASSERT_EQ(pageAt(flow, 0), first);
  first->updateZoomScale(3);
  EXPECT_DOUBLE_EQ(first->zoomScale(), 3);

  swipeLeft(flow);
  EXPECT_EQ(viewer->pageLabel()->text(), "3/5");
  EXPECT_EQ(flow.currentPageIndex(), 2);
  EXPECT_FALSE(flow.cells()[0]) << "pages out of reach are given back";
  EXPECT_EQ(flow.visibleRange(), (PageFlowView::Range{1, 3}));
  // One page on, the zoomed first page comes back for the fifth picture, at 1x.
  swipeLeft(flow);
  EXPECT_EQ(viewer->pageLabel()->text(), "4/5");
  EXPECT_EQ(pageAt(flow, 4), first);
  EXPECT_EQ(first->dataObject(), viewer->imageArray()[4]);
  EXPECT_DOUBLE_EQ(first->zoomScale(), 1);
  EXPECT_EQ(first->imageView()->image()->size().width, 50);
}

TEST_F(ImageViewerTest, SavingReportsPicturesNotYetLoadedAndFailedWrites) {
  const auto& pictures = album().pictures();
  // A picture that cannot be loaded is never saved.
  server_->setFault(newsd::FaultTarget::pictures(), newsd::Fault{newsd::FailureMode::HttpError});
  auto viewer = present(0, {row(pictures[0]), row(pictures[1])});
  ASSERT_TRUE(runUntil([&] { return !images_->isRunning(); }));
  os::TouchDriver::settle();
  auto page = pageAt(*viewer->pageFlowView(), 0);
  EXPECT_TRUE(page->activityIndicator()->isAnimating() && !page->logoView()->isHidden()) << "they stay after a failure";
  viewer->clickButton();
  EXPECT_TRUE(waitHud(VXImageViewerViewController::kNotLoadedText));
  os::TouchDriver::advance(1.5);
  EXPECT_EQ(hudText(), "") << "the text hides by itself";
  EXPECT_TRUE(os::PhotoAlbum::savedImagePaths().empty());

  viewer->dismissViewController(false);
  auto other = present(0, fivePictures());
  blockPhotoAlbum();
  other->clickButton();
  EXPECT_TRUE(waitHud(VXImageViewerViewController::kSaveFailedText));
  EXPECT_TRUE(os::PhotoAlbum::savedImagePaths().empty());
}

TEST_F(ImageViewerTest, ASingleTapClosesTheViewerButADoubleTapOnlyZooms) {
  os::testing::NotificationCounter broadcasts(kScreenStatusNotification);
  auto viewer = present(1, fivePictures());
  auto& flow = *viewer->pageFlowView();
  int reloads = rows_->asked;

  ASSERT_TRUE(os::TouchDriver::doubleTap(os::TouchDriver::middleOf(*pageAt(flow, 1)->imageView())));
  os::TouchDriver::advance(1);
  EXPECT_DOUBLE_EQ(pageAt(flow, 1)->zoomScale(), 3);
  EXPECT_EQ(nav_->presentedViewController(), viewer);

  ASSERT_TRUE(os::TouchDriver::tap(os::TouchDriver::middleOf(flow)));
  os::TouchDriver::advance(1);
  EXPECT_FALSE(nav_->presentedViewController());
  EXPECT_FALSE(viewer->presentingViewController());
  EXPECT_EQ(VXGlobalDefine::share()->screenStatus(), 0);
  EXPECT_EQ(broadcasts.count(), 1);
  EXPECT_GT(rows_->asked, reloads) << "the article table reloads";
}

TEST_F(ImageViewerTest, APictureTappedOnTheArticleScreenOpensTheViewerOnIt) {
  const newsd::Article* article = nullptr;
  for (const auto& a : server_->service().content().articles())
    if (!article && a.type.empty() && a.pictures().size() >= 2) article = &a;
  ASSERT_TRUE(article);
  auto screen = VXNewsDetailViewController::initWitInfo({{"id", article->id}, {"category", article->categoryId}}, VXReaderContext::current());
  nav_->pushViewController(screen, false);
  ASSERT_TRUE(runUntil([&] { return screen->rows().size() > article->pictures().size(); }));
  long last = -1;
  auto rows = screen->rows();
  for (long i = 0; i < static_cast<long>(rows.size()); ++i)
    if (rows[i]->type() == kNewsDetailImage) last = i;
  screen->didSelectRowAtIndexPath(*screen->tableView(), {0, last});
  os::TouchDriver::advance(1);
  auto viewer = std::dynamic_pointer_cast<VXImageViewerViewController>(nav_->presentedViewController());
  ASSERT_TRUE(viewer);
  std::string count = std::to_string(article->pictures().size());
  EXPECT_EQ(viewer->pageLabel()->text(), count + "/" + count);
}

}  // namespace
