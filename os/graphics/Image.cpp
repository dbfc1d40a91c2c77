#include "os/graphics/Image.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "os/graphics/ImageCodec.h"

namespace os {

ImageOrientation orientationFromExif(int v) {
  switch (v) {
    case 2: return ImageOrientation::UpMirrored;
    case 3: return ImageOrientation::Down;
    case 4: return ImageOrientation::DownMirrored;
    case 5: return ImageOrientation::LeftMirrored;
    case 6: return ImageOrientation::Right;
    case 7: return ImageOrientation::RightMirrored;
    case 8: return ImageOrientation::Left;
    default: return ImageOrientation::Up;
  }
}

namespace {
bool quarterTurn(ImageOrientation o) {
  return o == ImageOrientation::Left || o == ImageOrientation::Right || o == ImageOrientation::LeftMirrored ||
         o == ImageOrientation::RightMirrored;
}
}  // namespace

void orientedSize(ImageOrientation o, int w, int h, int& uw, int& uh) {
  uw = quarterTurn(o) ? h : w;
  uh = quarterTurn(o) ? w : h;
}

void orientedSource(ImageOrientation o, int w, int h, int u, int v, int& sx, int& sy) {
  switch (o) {
    case ImageOrientation::Up: sx = u; sy = v; break;
    case ImageOrientation::Down: sx = w - 1 - u; sy = h - 1 - v; break;
    case ImageOrientation::UpMirrored: sx = w - 1 - u; sy = v; break;
    case ImageOrientation::DownMirrored: sx = u; sy = h - 1 - v; break;
    // Stored pixels turned a quarter clockwise to show (EXIF 6).
    case ImageOrientation::Right: sx = v; sy = h - 1 - u; break;
    // A quarter anticlockwise (EXIF 8).
    case ImageOrientation::Left: sx = w - 1 - v; sy = u; break;
    // Transposed (EXIF 5) and transversed (EXIF 7).
    case ImageOrientation::LeftMirrored: sx = v; sy = u; break;
    case ImageOrientation::RightMirrored: sx = w - 1 - v; sy = h - 1 - u; break;
  }
}

void sampleBitmap(const Bitmap& b, double x, double y, Interpolation mode, double out[4]) {
  auto fetch = [&](int px, int py, double acc[4], double weight) {
    px = std::clamp(px, 0, b.width - 1);
    py = std::clamp(py, 0, b.height - 1);
    std::array<std::uint8_t, 4> indexed;
    const std::uint8_t* p = b.pixel(px, py);
    if (b.channels == 1) p = (indexed = b.rgba(px, py)).data();
    double a = b.channels != 3 ? p[3] / 255.0 : 1.0;
    acc[0] += weight * p[0] / 255.0 * a;
    acc[1] += weight * p[1] / 255.0 * a;
    acc[2] += weight * p[2] / 255.0 * a;
    acc[3] += weight * a;
  };
  out[0] = out[1] = out[2] = out[3] = 0;
  if (b.width <= 0 || b.height <= 0) return;
  if (mode == Interpolation::Nearest) {
    fetch(static_cast<int>(std::floor(x)), static_cast<int>(std::floor(y)), out, 1);
    return;
  }
  double fx = x - 0.5, fy = y - 0.5;
  int x0 = static_cast<int>(std::floor(fx)), y0 = static_cast<int>(std::floor(fy));
  double tx = fx - x0, ty = fy - y0;
  fetch(x0, y0, out, (1 - tx) * (1 - ty));
  fetch(x0 + 1, y0, out, tx * (1 - ty));
  fetch(x0, y0 + 1, out, (1 - tx) * ty);
  fetch(x0 + 1, y0 + 1, out, tx * ty);
}

bool Bitmap::hasAlpha() const {
  if (channels == 1) return std::any_of(palette.begin(), palette.end(), [](const auto& c) { return c[3] != 255; });
  return channels == 4;
}

namespace {
// The colours of an RGBA bitmap as a palette and one index a pixel; nothing beyond 256 colours.
bool indexColours(const Bitmap& source, Bitmap& out) {
  // Open addressing over 512 slots: at most 256 colours ever go in, so a probe always ends.
  constexpr std::size_t kSlots = 512;
  std::array<std::uint32_t, kSlots> keys{};
  std::array<std::int16_t, kSlots> slots;
  slots.fill(-1);
  const std::size_t count = static_cast<std::size_t>(source.width) * static_cast<std::size_t>(source.height);
  out = Bitmap(source.width, source.height, 1);
  const std::uint8_t* from = source.pixels.data();
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* p = from + i * 4;
    std::uint32_t key = static_cast<std::uint32_t>(p[0]) | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    std::size_t slot = (key * 2654435761u) >> 23;  // the top 9 bits: 0..511
    while (slots[slot] >= 0 && keys[slot] != key) slot = (slot + 1) % kSlots;
    if (slots[slot] < 0) {
      if (out.palette.size() == 256) return false;
      keys[slot] = key;
      slots[slot] = static_cast<std::int16_t>(out.palette.size());
      out.palette.push_back({p[0], p[1], p[2], p[3]});
    }
    out.pixels[i] = static_cast<std::uint8_t>(slots[slot]);
  }
  return true;
}
}  // namespace

Bitmap Bitmap::packedCopy(const Bitmap& source) {
  if (source.channels != 4) return source;
  Bitmap indexed;
  if (indexColours(source, indexed)) return indexed;
  return withoutOpaqueAlpha(source);
}

Bitmap Bitmap::withoutOpaqueAlpha(const Bitmap& source) {
  if (source.channels != 4) return source;
  const std::size_t count = static_cast<std::size_t>(source.width) * static_cast<std::size_t>(source.height);
  const std::uint8_t* from = source.pixels.data();
  for (std::size_t i = 0; i < count; ++i)
    if (from[i * 4 + 3] != 255) return source;
  Bitmap out(source.width, source.height, 3);
  std::uint8_t* to = out.pixels.data();
  for (std::size_t i = 0; i < count; ++i) std::copy_n(from + i * 4, 3, to + i * 3);
  return out;
}

Bitmap Bitmap::unpaletted(const Bitmap& source) {
  if (source.channels != 1) return source;
  const int channels = source.hasAlpha() ? 4 : 3;
  Bitmap out(source.width, source.height, channels);
  for (int y = 0; y < source.height; ++y)
    for (int x = 0; x < source.width; ++x) std::copy_n(source.rgba(x, y).data(), channels, out.pixel(x, y));
  return out;
}

bool Bitmap::operator==(const Bitmap& other) const {
  if (width != other.width || height != other.height) return false;
  if (channels == other.channels && channels != 1) return pixels == other.pixels;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if (rgba(x, y) != other.rgba(x, y)) return false;
  return true;
}

std::shared_ptr<Image> Image::create(std::shared_ptr<const Bitmap> bitmap, double scale, ImageOrientation orientation) {
  auto img = std::shared_ptr<Image>(new Image());
  img->bitmap_ = bitmap ? std::move(bitmap) : std::make_shared<const Bitmap>();
  img->scale_ = scale > 0 ? scale : 1;
  img->orientation_ = orientation;
  return img;
}

std::shared_ptr<Image> Image::create(Bitmap bitmap, double scale, ImageOrientation orientation) {
  return create(std::make_shared<const Bitmap>(std::move(bitmap)), scale, orientation);
}

std::shared_ptr<Image> Image::animated(std::vector<std::shared_ptr<Image>> frames, double duration,
                                       std::vector<double> frameDurations) {
  frames.erase(std::remove(frames.begin(), frames.end(), nullptr), frames.end());
  if (frames.empty()) return nullptr;
  auto img = std::shared_ptr<Image>(new Image());
  img->bitmap_ = frames.front()->bitmap_;
  img->scale_ = frames.front()->scale_;
  img->orientation_ = frames.front()->orientation_;
  if (frameDurations.size() != frames.size()) frameDurations.assign(frames.size(), duration / static_cast<double>(frames.size()));
  img->frames_ = std::move(frames);
  img->frameDurations_ = std::move(frameDurations);
  img->duration_ = duration;
  return img;
}

std::shared_ptr<Image> Image::withScale(double scale, ImageOrientation orientation) const {
  auto img = std::shared_ptr<Image>(new Image(*this));
  img->scale_ = scale > 0 ? scale : 1;
  img->orientation_ = orientation;
  for (auto& f : img->frames_) f = f->withScale(scale, orientation);
  return img;
}

Size Image::size() const {
  int w, h;
  orientedSize(orientation_, bitmap_->width, bitmap_->height, w, h);
  return {w / scale_, h / scale_};
}

std::shared_ptr<Image> Image::upright() const {
  if (orientation_ == ImageOrientation::Up) return withScale(scale_, orientation_);
  const Bitmap& src = *bitmap_;
  int uw, uh;
  orientedSize(orientation_, src.width, src.height, uw, uh);
  Bitmap out(uw, uh, src.channels);
  out.palette = src.palette;
  for (int v = 0; v < uh; ++v)
    for (int u = 0; u < uw; ++u) {
      int sx = 0, sy = 0;
      orientedSource(orientation_, src.width, src.height, u, v, sx, sy);
      std::copy_n(src.pixel(sx, sy), src.channels, out.pixel(u, v));
    }
  auto img = create(std::move(out), scale_, ImageOrientation::Up);
  img->name_ = name_;
  return img;
}

std::shared_ptr<Image> Image::scaledToPixelSize(int width, int height, Interpolation mode) const {
  if (width <= 0 || height <= 0) return nullptr;
  // The decoding limits bound what a redraw may allocate too.
  ImageDecodeLimits limits;
  if (width > limits.maxSide || height > limits.maxSide || static_cast<long long>(width) * height > limits.maxPixels)
    return nullptr;
  auto up = upright();
  const Bitmap& src = up->bitmap();
  Bitmap out(width, height);
  if (src.width > 0 && src.height > 0) {
    double sx = static_cast<double>(src.width) / width, sy = static_cast<double>(src.height) / height;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        double c[4];
        sampleBitmap(src, (x + 0.5) * sx, (y + 0.5) * sy, mode, c);
        std::uint8_t* p = out.pixel(x, y);
        p[3] = static_cast<std::uint8_t>(std::lround(c[3] * 255));
        for (int k = 0; k < 3; ++k)
          p[k] = c[3] > 0 ? static_cast<std::uint8_t>(std::lround(std::clamp(c[k] / c[3], 0.0, 1.0) * 255)) : 0;
      }
  }
  auto img = create(std::move(out), 1, ImageOrientation::Up);
  img->name_ = name_;
  return img;
}

std::shared_ptr<Image> Image::cropped(const Rect& pixelRect) const {
  Rect r = pixelRect.integral().intersection(Rect(0, 0, bitmap_->width, bitmap_->height));
  if (r.isEmpty()) return nullptr;
  int x0 = static_cast<int>(r.minX()), y0 = static_cast<int>(r.minY());
  int w = static_cast<int>(r.width()), h = static_cast<int>(r.height());
  // Bitmaps never change once made: a crop that keeps every pixel shares them instead of holding
  // a second copy (list pictures are clipped to views their own size).
  if (x0 == 0 && y0 == 0 && w == bitmap_->width && h == bitmap_->height) {
    auto img = create(bitmap_, 1, ImageOrientation::Up);
    img->name_ = name_;
    return img;
  }
  Bitmap out(w, h, bitmap_->channels);
  out.palette = bitmap_->palette;
  for (int y = 0; y < h; ++y)
    std::copy_n(bitmap_->pixel(x0, y0 + y), static_cast<std::size_t>(w) * bitmap_->channels, out.pixel(0, y));
  auto img = create(std::move(out), 1, ImageOrientation::Up);
  img->name_ = name_;
  return img;
}

namespace {
std::optional<Data> readFile(const std::filesystem::path& p) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(p, ec)) return std::nullopt;
  std::ifstream in(p, std::ios::binary);
  if (!in) return std::nullopt;
  return Data(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
}  // namespace

std::shared_ptr<Image> imageNamed(const std::string& folder, const std::string& name, double screenScale, Error* error) {
  std::string stem = name, ext = ".png";
  std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0 && name.find('/', dot) == std::string::npos) {
    stem = name.substr(0, dot);
    ext = name.substr(dot);
  }
  bool explicit2x = stem.size() >= 3 && stem.compare(stem.size() - 3, 3, "@2x") == 0;
  std::vector<std::pair<std::string, double>> candidates;
  if (explicit2x) {
    candidates.push_back({stem + ext, 2});
  } else {
    if (screenScale >= 2) candidates.push_back({stem + "@2x" + ext, 2});
    candidates.push_back({stem + ext, 1});
  }
  for (const auto& [file, scale] : candidates) {
    auto data = readFile(std::filesystem::path(folder) / file);
    if (!data) continue;
    ImageDecodeOptions opts;
    opts.scale = scale;
    auto img = decodeImage(*data, error, opts);
    if (!img) return nullptr;
    img->setName(name);
    return img;
  }
  if (error) *error = Error::withDescription(kImageErrorDomain, kImageErrorNotFound, "No image named " + name);
  return nullptr;
}

}  // namespace os
