#pragma once
// A picture kept deflated, band by band: for a large picture held long and seldom shown. A
// screen's worth of pixels is megabytes; the flat fills of a screen pack to a small part of it.
#include <functional>
#include <memory>
#include <vector>

#include "os/core/Data.h"
#include "os/graphics/BitmapContext.h"

namespace os {

class PackedImage {
 public:
  static constexpr int kDefaultBandRows = 32;

  // Runs `draw` on one band context (BitmapContext's band form) per `bandRows` rows of a
  // width × height bitmap at `scale`, keeping each band deflated as soon as it is drawn, so the
  // whole bitmap never exists at once. Null for a size beyond the image limits or a failed pack.
  static std::shared_ptr<PackedImage> render(int width, int height, double scale,
                                             const std::function<void(BitmapContext&)>& draw,
                                             int bandRows = kDefaultBandRows);

  int pixelWidth() const { return width_; }
  int pixelHeight() const { return height_; }
  double scale() const { return scale_; }
  // Bytes the packed bands hold.
  std::size_t packedSize() const;
  // The pixels as a new image at the scale drawn; null when a band does not inflate to its size.
  std::shared_ptr<Image> unpack() const;

 private:
  PackedImage() = default;
  int width_ = 0, height_ = 0, bandRows_ = 0;
  double scale_ = 1;
  std::vector<Data> bands_;  // top to bottom, zlib streams of the rows' RGBA bytes
};

}  // namespace os
