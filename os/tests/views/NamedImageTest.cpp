#include <gtest/gtest.h>

#include <filesystem>

#include "os/graphics/ImageCodec.h"
#include "os/store/Sandbox.h"
#include "os/views/NamedImage.h"
#include "ViewsTestSupport.h"

namespace os::test {
namespace {

class NamedImageTest : public ScreenTest {
 protected:
  // A PNG of w × h pixels in the bundle.
  void writePNG(TestSandbox& box, const std::string& file, int w, int h) {
    ASSERT_TRUE(box.writeBundlePNG(file, Bitmap(w, h)));
  }
  DeviceProfile scale(double s) {
    DeviceProfile p;
    p.screenScale = s;
    return p;
  }
};

TEST_F(NamedImageTest, TheScreensScaleChoosesTheFile) {
  writePNG(sandbox, "arrow.png", 10, 20);
  writePNG(sandbox, "arrow@2x.png", 20, 40);
  writePNG(sandbox, "plain.png", 3, 3);
  writePNG(sandbox, "photo.jpg.png", 5, 5);

  auto sharp = imageNamed("arrow");
  ASSERT_TRUE(sharp);
  EXPECT_EQ(sharp->scale(), 2);
  EXPECT_EQ(sharp->pixelWidth(), 20);
  EXPECT_EQ(sharp->size(), (Size{10, 20}));
  EXPECT_EQ(sharp->name(), "arrow");
  // The extension may be given; a name without a sharp file falls back to the plain one.
  EXPECT_EQ(imageNamed("arrow.png")->pixelWidth(), 20);
  EXPECT_EQ(imageNamed("plain")->scale(), 1);
  EXPECT_EQ(imageNamed("photo.jpg.png")->pixelWidth(), 5);

  DeviceProfileScope single{scale(1)};
  auto plain = imageNamed("arrow");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->scale(), 1);
  EXPECT_EQ(plain->pixelWidth(), 10);
}

TEST_F(NamedImageTest, AbsentOrUnreadableImagesAreNull) {
  sandbox.writeBundleFile("broken.png", "not a picture");
  EXPECT_FALSE(imageNamed("missing"));
  EXPECT_FALSE(imageNamed("broken"));
  EXPECT_FALSE(imageNamed(""));
  // Absence is not remembered: an image added later is found.
  writePNG(sandbox, "missing.png", 2, 2);
  EXPECT_TRUE(imageNamed("missing"));
}

TEST_F(NamedImageTest, ANameIsReadOnceForItsSandbox) {
  writePNG(sandbox, "logo.png", 4, 4);
  auto first = imageNamed("logo");
  ASSERT_TRUE(first);
  std::filesystem::remove(std::filesystem::path(sandbox.sandbox()->bundlePath()) / "logo.png");
  EXPECT_EQ(imageNamed("logo"), first);

  // Another application's bundle does not see this one's images.
  TestSandbox other;
  EXPECT_FALSE(imageNamed("logo"));
  writePNG(other, "logo@2x.png", 8, 8);
  auto theirs = imageNamed("logo");
  ASSERT_TRUE(theirs);
  EXPECT_NE(theirs, first);
  EXPECT_EQ(theirs->pixelWidth(), 8);
}

}  // namespace
}  // namespace os::test
