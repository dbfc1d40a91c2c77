#include "ui/images/ImageCommon.h"

#include "os/graphics/BitmapContext.h"

BNImagePtr imageClip(const BNImagePtr& image, const os::Rect& pixelRect) {
  if (!image) return nullptr;
  return image->cropped(pixelRect);
}

BNImagePtr scaleToSize(const BNImagePtr& image, os::Size size) {
  if (!image || image->pixelWidth() <= 0 || image->pixelHeight() <= 0) return nullptr;
  if (!(size.width >= 1 && size.height >= 1)) return nullptr;
  double w = image->pixelWidth(), h = image->pixelHeight();
  double factor = std::min(size.width / w, size.height / h);
  double drawnWidth = w * factor, drawnHeight = h * factor;
  os::BitmapContext context(static_cast<int>(size.width), static_cast<int>(size.height), 1);
  if (context.bitmap().width == 0) return nullptr;  // beyond the bitmap limits
  double x = static_cast<int>((size.width - drawnWidth) * 0.5);
  double y = static_cast<int>((size.height - drawnHeight) * 0.5);
  auto upright = os::Image::create(image->sharedBitmap(), 1, os::ImageOrientation::Up);
  context.drawImage(upright, os::Rect(x, y, drawnWidth, drawnHeight));
  return context.takeImage();
}

BNImagePtr BNImageClippedToViewBounds(const BNImagePtr& image, const os::Rect& bounds) {
  if (!image || !(bounds.size.width > 0 && bounds.size.height > 0)) return image;
  auto clipped = imageClip(image, os::Rect(0, 0, 2 * bounds.size.width, 2 * bounds.size.height));
  return clipped ? clipped : image;
}
