#include "os/graphics/PackedImage.h"

#include <algorithm>
#include <cstring>

#include "os/core/Compression.h"

namespace os {

namespace {
// Fastest packing: a screen is packed on every push, and flat fills pack well at any level.
constexpr int kPackLevel = 1;
}  // namespace

std::shared_ptr<PackedImage> PackedImage::render(int width, int height, double scale,
                                                 const std::function<void(BitmapContext&)>& draw, int bandRows) {
  if (bandRows <= 0) bandRows = kDefaultBandRows;
  std::shared_ptr<PackedImage> packed(new PackedImage());
  packed->width_ = width;
  packed->height_ = height;
  packed->bandRows_ = bandRows;
  packed->scale_ = scale > 0 ? scale : 1;
  for (int top = 0; top < height; top += bandRows) {
    BitmapContext band(width, height, scale, top, bandRows);
    if (band.bitmap().pixels.empty()) return nullptr;
    draw(band);
    auto deflated = deflateData(band.bitmap().pixels, DeflateWrapper::Zlib, kPackLevel);
    if (!deflated) return nullptr;
    // The compressor's buffer is sized for the worst case: keep only what it wrote.
    packed->bands_.emplace_back(deflated->begin(), deflated->end());
  }
  if (packed->bands_.empty()) return nullptr;
  return packed;
}

std::size_t PackedImage::packedSize() const {
  std::size_t total = 0;
  for (const Data& band : bands_) total += band.size();
  return total;
}

std::shared_ptr<Image> PackedImage::unpack() const {
  Bitmap bitmap(width_, height_);
  const std::size_t rowBytes = static_cast<std::size_t>(width_) * 4;
  for (std::size_t i = 0; i < bands_.size(); ++i) {
    const int top = static_cast<int>(i) * bandRows_;
    const std::size_t bytes = rowBytes * static_cast<std::size_t>(std::min(bandRows_, height_ - top));
    auto rows = inflateData(bands_[i], bytes, InflateFormat::Zlib);
    if (!rows || rows->size() != bytes) return nullptr;
    std::memcpy(bitmap.pixel(0, top), rows->data(), bytes);
  }
  return Image::create(std::move(bitmap), scale_);
}

}  // namespace os
