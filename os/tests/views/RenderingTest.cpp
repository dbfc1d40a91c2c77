#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "os/graphics/GraphicsContext.h"
#include "os/graphics/Image.h"
#include "os/console/TouchCommands.h"
#include "os/views/Button.h"
#include "os/store/FileManager.h"
#include "os/store/Sandbox.h"
#include "os/testing/CutShortWrite.h"
#include "os/views/PhotoAlbum.h"
#include "ViewsTestSupport.h"

namespace os::test {
namespace {

using RenderingTest = ScreenTest;

// Saves the image to the album and waits for its answer: true when it reports no error.
bool saveToAlbum(const std::shared_ptr<Image>& image) {
  bool answered = false, failed = true;
  PhotoAlbum::saveImage(image, [&](const Error* e) {
    answered = true;
    failed = e != nullptr;
  });
  RunLoop::main()->runUntilIdle();
  return answered && !failed;
}

// Renders the key window's layer into an image of its size, as a snapshot of the screen does.
std::shared_ptr<Image> snapshot(Window& window, double scale) {
  beginImageContext(window.bounds().size, true, scale);
  window.layer().renderInContext(*currentGraphicsContext());
  auto image = imageFromCurrentImageContext();
  endImageContext();
  return image;
}

TEST_F(RenderingTest, ASnapshotShowsViewsWhereTheyAreWithTheirTransforms) {
  window->setBackgroundColor(Color::white());
  auto box = makeView<View>(Rect(10, 20, 30, 40));
  box->setBackgroundColor(Color::red());
  window->addSubview(box);
  auto moved = makeView<View>(Rect(100, 100, 20, 20));
  moved->setBackgroundColor(Color::blue());
  moved->setTransform(AffineTransform::makeScale(2, 2));  // covers 90..130
  window->addSubview(moved);
  auto gone = makeView<View>(Rect(200, 200, 20, 20));
  gone->setBackgroundColor(Color::green());
  gone->setHidden(true);
  window->addSubview(gone);

  auto image = snapshot(*window, 1);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->pixelWidth(), 320);
  const Bitmap& b = image->bitmap();
  auto rgb = [&](int x, int y) {
    const std::uint8_t* p = b.pixel(x, y);
    return std::tuple<int, int, int>(p[0], p[1], p[2]);
  };
  EXPECT_EQ(rgb(15, 25), std::make_tuple(255, 0, 0));
  EXPECT_EQ(rgb(45, 25), std::make_tuple(255, 255, 255));
  EXPECT_EQ(rgb(92, 92), std::make_tuple(0, 0, 255));
  EXPECT_EQ(rgb(128, 128), std::make_tuple(0, 0, 255));
  EXPECT_EQ(rgb(205, 205), std::make_tuple(255, 255, 255));
}

TEST_F(RenderingTest, SavedPhotosLandInTheDeviceAlbum) {
  auto image = snapshot(*window, 2);
  int done = 0;
  const Error* seen = reinterpret_cast<const Error*>(1);
  PhotoAlbum::saveImage(image, [&](const Error* e) {
    ++done;
    seen = e;
  });
  RunLoop::main()->runUntilIdle();
  EXPECT_EQ(done, 1);
  EXPECT_EQ(seen, nullptr);
  ASSERT_EQ(PhotoAlbum::savedImagePaths().size(), 1u);
  ASSERT_TRUE(PhotoAlbum::savedImage(0));
  EXPECT_EQ(PhotoAlbum::savedImage(0)->pixelWidth(), image->pixelWidth());
  EXPECT_FALSE(PhotoAlbum::savedImage(1));
  bool failed = false;
  PhotoAlbum::saveImage(nullptr, [&](const Error* e) { failed = e != nullptr; });
  RunLoop::main()->runUntilIdle();
  EXPECT_TRUE(failed);
  EXPECT_EQ(PhotoAlbum::savedImagePaths().size(), 1u);
}

// Saves killed while writing (of this application or another of the device) leave their temporary
// files in the album: the next save removes them, and the photos and other files stay.
TEST_F(RenderingTest, ASaveRemovesWhatSavesCutShortLeftInTheAlbum) {
  auto image = snapshot(*window, 1);
  auto save = [&] { return saveToAlbum(image); };
  ASSERT_TRUE(save());
  ASSERT_EQ(PhotoAlbum::savedImagePaths().size(), 1u);
  const std::string first = PhotoAlbum::savedImagePaths()[0];
  const std::string album = deletingLastPathComponent(first);
  auto& fm = FileManager::defaultManager();
  const std::vector<std::string> cutShort{testing::plantCutShortWrite(first, 3),
                                          testing::plantCutShortWrite(album + "/IMG_0002.png", 4)};
  const std::string unrelated = album + "/.notes";
  ASSERT_TRUE(fm.writeData(dataFromString("kept"), unrelated));
  const auto before = fm.contentsAtPath(first);

  ASSERT_TRUE(save());
  for (const std::string& path : cutShort) EXPECT_FALSE(fm.fileExistsAtPath(path)) << path;
  EXPECT_EQ(fm.contentsAtPath(unrelated), dataFromString("kept"));
  EXPECT_EQ(fm.contentsAtPath(first), before);
  ASSERT_EQ(PhotoAlbum::savedImagePaths().size(), 2u);
  EXPECT_TRUE(PhotoAlbum::savedImage(0) && PhotoAlbum::savedImage(1));
}

// Another application of the device leaves a photo of a gigabyte in the album: a whole picture
// followed by a sparse tail (no disk is spent on it). It is not read, and counts as a photo that
// cannot be read; the photos beside it still are.
TEST_F(RenderingTest, AHugePhotoFromAnotherApplicationIsNotRead) {
  auto image = snapshot(*window, 1);
  auto save = [&] { return saveToAlbum(image); };
  auto peer = sandbox.peerApplication("com.example.camera");
  auto previous = Sandbox::setCurrent(peer);
  const bool saved = save();
  Sandbox::setCurrent(previous);
  ASSERT_TRUE(saved);
  ASSERT_TRUE(save());
  auto paths = PhotoAlbum::savedImagePaths();
  ASSERT_EQ(paths.size(), 2u);
  ASSERT_TRUE(PhotoAlbum::savedImage(0));
  ASSERT_EQ(::truncate(paths[0].c_str(), 1L << 30), 0);

  EXPECT_FALSE(PhotoAlbum::savedImage(0));
  ASSERT_TRUE(PhotoAlbum::savedImage(1));
  EXPECT_EQ(PhotoAlbum::savedImage(1)->pixelWidth(), image->pixelWidth());
}

// A picture whose file would be too large for the album to read back is refused when saved, with
// the error, rather than kept as a photo nobody can open.
TEST_F(RenderingTest, APhotoTooLargeToReadBackIsNotSaved) {
  const int side = 4200;  // 4 bytes of noise a pixel: past the album's bound once encoded
  ASSERT_GT(4ull * side * side, PhotoAlbum::kMaxPhotoBytes);
  Bitmap noise(side, side, 4);
  std::mt19937 random(7);
  for (std::size_t i = 0; i + 4 <= noise.pixels.size(); i += 4) {
    const std::uint32_t r = random();
    std::memcpy(&noise.pixels[i], &r, 4);
  }
  std::optional<Error> failure;
  PhotoAlbum::saveImage(Image::create(std::move(noise)), [&](const Error* e) {
    if (e) failure = *e;
  });
  RunLoop::main()->runUntilIdle();
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->domain, kImageErrorDomain);
  EXPECT_EQ(failure->code, kImageErrorTooLarge);
  EXPECT_TRUE(PhotoAlbum::savedImagePaths().empty());
}

TEST_F(RenderingTest, CommandsDriveTheScreenAsTheRunningReaderDoes) {
  int taps = 0;
  auto button = makeView<Button>(Rect(100, 100, 50, 50));
  button->setTitle("OK", kControlStateNormal);
  button->addTarget(nullptr, [&](Control&) { ++taps; }, kControlEventTouchUpInside);
  window->addSubview(button);
  EXPECT_EQ(runTouchCommand("tap 120 120"), "");
  EXPECT_EQ(taps, 1);
  EXPECT_EQ(runTouchCommand("tap"), "error: tap needs X Y, row N or a text");
  EXPECT_EQ(runTouchCommand("type hello"), "error: no text input is editing: tap the field or text first");
  EXPECT_EQ(runTouchCommand("alert 1"), "error: no alert on screen");
  EXPECT_EQ(runTouchCommand("fly away"), "error: unknown command \"fly\"");
  EXPECT_EQ(runTouchCommand("wait 0.5"), "");
  EXPECT_NE(runTouchCommand("dump").find("Button (100, 100, 50, 50) title=\"OK\""), std::string::npos);
}

}  // namespace
}  // namespace os::test
