#pragma once
// Images: a bitmap with a scale and an orientation, or an animated list of frames.
//
// Pixels are 8-bit R, G, B, A in that byte order (R, G, B for an opaque picture, a palette index
// for one of few colours; see Bitmap), rows top to bottom, NOT premultiplied (straight alpha), so
// encoders get the stored values back exactly.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Data.h"
#include "os/core/Error.h"
#include "os/graphics/Geometry.h"

namespace os {

inline constexpr const char* kImageErrorDomain = "os.image";
enum ImageErrorCode : long {
  kImageErrorUnknownFormat = 1,
  kImageErrorCorrupt = 2,
  kImageErrorTooLarge = 3,
  kImageErrorTooManyFrames = 4,
  kImageErrorEncode = 5,
  kImageErrorNotFound = 6,
};

struct Bitmap {
  int width = 0, height = 0;
  // Bytes a pixel: 4 (R, G, B, A); 3 (R, G, B) for a picture whose every pixel is opaque; 1, an
  // index into `palette`, for a picture of at most 256 colours (a GIF's frames). Decoded pictures
  // are kept in the smallest layout that holds their pixels exactly: less memory for what the
  // caches hold. Whatever reads pixels goes by `channels`, or through rgba().
  int channels = 4;
  std::vector<std::uint8_t> pixels;                // width × height × channels
  std::vector<std::array<std::uint8_t, 4>> palette;  // R, G, B, A of each index (1 channel only)

  Bitmap() = default;
  Bitmap(int w, int h, int channelCount = 4)
      : width(w),
        height(h),
        channels(channelCount == 3 || channelCount == 1 ? channelCount : 4),
        pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * static_cast<std::size_t>(channels), 0) {}
  std::uint8_t* pixel(int x, int y) { return pixels.data() + (static_cast<std::size_t>(y) * width + x) * channels; }
  const std::uint8_t* pixel(int x, int y) const { return pixels.data() + (static_cast<std::size_t>(y) * width + x) * channels; }
  // Whether any pixel may be less than opaque.
  bool hasAlpha() const;
  // The pixel as R, G, B, A whatever the layout (alpha 255 without an alpha byte; an index
  // outside the palette reads as transparent black).
  std::array<std::uint8_t, 4> rgba(int x, int y) const {
    const std::uint8_t* p = pixel(x, y);
    if (channels == 1) return *p < palette.size() ? palette[*p] : std::array<std::uint8_t, 4>{0, 0, 0, 0};
    return {p[0], p[1], p[2], channels == 4 ? p[3] : std::uint8_t{255}};
  }
  // The same pixels without the alpha byte when every pixel is opaque, else a plain copy.
  static Bitmap withoutOpaqueAlpha(const Bitmap& source);
  // The same pixels indexed when there are at most 256 colours (a GIF frame's are), else as
  // withoutOpaqueAlpha.
  static Bitmap packedCopy(const Bitmap& source);
  // The same pixels three or four bytes each (for writers that take no palette).
  static Bitmap unpaletted(const Bitmap& source);
  // Equal when they have the same size and show the same colours, whatever their layouts.
  bool operator==(const Bitmap& other) const;
};

// The platform's orientation values; the stored pixels are turned this way when shown.
enum class ImageOrientation { Up = 0, Down = 1, Left = 2, Right = 3, UpMirrored = 4, DownMirrored = 5, LeftMirrored = 6, RightMirrored = 7 };
// EXIF orientation 1..8 to ours; anything else is up.
ImageOrientation orientationFromExif(int exifValue);

enum class Interpolation { Nearest, Bilinear };

class Image {
 public:
  static std::shared_ptr<Image> create(std::shared_ptr<const Bitmap> bitmap, double scale = 1,
                                       ImageOrientation orientation = ImageOrientation::Up);
  static std::shared_ptr<Image> create(Bitmap bitmap, double scale = 1, ImageOrientation orientation = ImageOrientation::Up);
  // An animated image shows its frames in turn over `duration` seconds; its own bitmap, scale and
  // size are the first frame's. `frameDurations` may be empty (the frames share the duration).
  static std::shared_ptr<Image> animated(std::vector<std::shared_ptr<Image>> frames, double duration,
                                         std::vector<double> frameDurations = {});

  // A new image over the same bitmap (and frames) with another scale and orientation.
  std::shared_ptr<Image> withScale(double scale, ImageOrientation orientation) const;
  std::shared_ptr<Image> withScale(double scale) const { return withScale(scale, orientation_); }

  const Bitmap& bitmap() const { return *bitmap_; }
  const std::shared_ptr<const Bitmap>& sharedBitmap() const { return bitmap_; }
  int pixelWidth() const { return bitmap_->width; }
  int pixelHeight() const { return bitmap_->height; }
  double scale() const { return scale_; }
  ImageOrientation orientation() const { return orientation_; }
  // Size in points as shown: pixels / scale, width and height swapped for the quarter turns.
  Size size() const;

  bool isAnimated() const { return !frames_.empty(); }
  const std::vector<std::shared_ptr<Image>>& frames() const { return frames_; }
  const std::vector<double>& frameDurations() const { return frameDurations_; }
  double duration() const { return duration_; }

  // For debugging and screen dumps: the resource name or what the image was made from.
  const std::string& name() const { return name_; }
  void setName(std::string name) { name_ = std::move(name); }

  // The pixels turned upright (orientation applied); scale kept, orientation up.
  std::shared_ptr<Image> upright() const;
  // Redrawn at a pixel size, scale 1, orientation up (the orientation is applied first).
  // Null for an empty size or one beyond the decoding limits.
  std::shared_ptr<Image> scaledToPixelSize(int width, int height, Interpolation = Interpolation::Bilinear) const;
  // The part of the stored bitmap inside a pixel rectangle (origin top left), scale 1, up.
  // Null when nothing of the rectangle lies inside the bitmap.
  std::shared_ptr<Image> cropped(const Rect& pixelRect) const;

 private:
  Image() = default;
  std::shared_ptr<const Bitmap> bitmap_;
  double scale_ = 1;
  ImageOrientation orientation_ = ImageOrientation::Up;
  std::vector<std::shared_ptr<Image>> frames_;
  std::vector<double> frameDurations_;
  double duration_ = 0;
  std::string name_;
};

// Stored pixel that an upright pixel (u, v) shows, for a bitmap of stored size w × h.
void orientedSource(ImageOrientation o, int w, int h, int u, int v, int& sx, int& sy);
// Upright pixel size for a stored size.
void orientedSize(ImageOrientation o, int w, int h, int& uw, int& uh);
// The colour at a point of a bitmap in pixel units (pixel centres at +0.5), premultiplied,
// components 0..1; clamped at the edges.
void sampleBitmap(const Bitmap& b, double x, double y, Interpolation mode, double out[4]);

// A named image from a folder (the bundle): on a screen of scale 2 or more "name@2x.png" is
// preferred (scale 2), else "name.png" (scale 1). A name with an extension is looked up as given
// (with "@2x" put before the extension). Null with an error when absent or not decodable.
std::shared_ptr<Image> imageNamed(const std::string& folder, const std::string& name, double screenScale, Error* error = nullptr);

}  // namespace os
