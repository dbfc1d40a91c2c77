#include "os/graphics/ImageCodec.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <gif_lib.h>
#include <jpeglib.h>
#include <jerror.h>
#include <png.h>

namespace os {

namespace {

void setError(Error* error, long code, const std::string& message) {
  if (error) *error = Error::withDescription(kImageErrorDomain, code, message);
}

// Checked before any pixel memory is taken, so a hostile header costs nothing.
bool checkDimensions(long long w, long long h, const ImageDecodeLimits& limits, Error* error) {
  if (w <= 0 || h <= 0) {
    setError(error, kImageErrorCorrupt, "Image has no pixels");
    return false;
  }
  if (w > limits.maxSide || h > limits.maxSide || w * h > limits.maxPixels) {
    setError(error, kImageErrorTooLarge,
             "Image of " + std::to_string(w) + "x" + std::to_string(h) + " pixels exceeds the decoding limits");
    return false;
  }
  return true;
}

}  // namespace

ImageFormat sniffImageFormat(const Data& d) {
  auto starts = [&](std::initializer_list<int> bytes) {
    if (d.size() < bytes.size()) return false;
    std::size_t i = 0;
    for (int b : bytes)
      if (d[i++] != b) return false;
    return true;
  };
  if (starts({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) return ImageFormat::PNG;
  if (starts({0xFF, 0xD8, 0xFF})) return ImageFormat::JPEG;
  if (starts({'G', 'I', 'F', '8', '7', 'a'}) || starts({'G', 'I', 'F', '8', '9', 'a'})) return ImageFormat::GIF;
  if (starts({'I', 'I', 0x2A, 0x00}) || starts({'M', 'M', 0x00, 0x2A})) return ImageFormat::TIFF;
  if (d.size() >= 12 && starts({'R', 'I', 'F', 'F'}) && std::memcmp(d.data() + 8, "WEBP", 4) == 0) return ImageFormat::WebP;
  return ImageFormat::Unknown;
}

std::string mimeTypeForImageFormat(ImageFormat f) {
  switch (f) {
    case ImageFormat::PNG: return "image/png";
    case ImageFormat::JPEG: return "image/jpeg";
    case ImageFormat::GIF: return "image/gif";
    case ImageFormat::TIFF: return "image/tiff";
    case ImageFormat::WebP: return "image/webp";
    case ImageFormat::Unknown: break;
  }
  return "";
}

std::shared_ptr<Image> decodeImage(const Data& data, Error* error, const ImageDecodeOptions& options) {
  switch (sniffImageFormat(data)) {
    case ImageFormat::PNG: return decodePNG(data, error, options);
    case ImageFormat::JPEG: return decodeJPEG(data, error, options);
    case ImageFormat::GIF: return decodeGIF(data, error, options);
    default: break;
  }
  setError(error, kImageErrorUnknownFormat, "Data is not a PNG, JPEG or GIF image");
  return nullptr;
}

// ---------------------------------------------------------------- PNG

namespace {

struct PngIO {
  const Data* data = nullptr;
  std::size_t pos = 0;
  Data* out = nullptr;
  char message[200] = {0};
  const ImageDecodeLimits* limits = nullptr;
  bool tooLarge = false;
};

void pngError(png_structp png, png_const_charp msg) {
  auto* io = static_cast<PngIO*>(png_get_error_ptr(png));
  std::snprintf(io->message, sizeof io->message, "%s", msg);
  png_longjmp(png, 1);
}
void pngWarning(png_structp, png_const_charp) {}

void pngRead(png_structp png, png_bytep dst, png_size_t n) {
  auto* io = static_cast<PngIO*>(png_get_io_ptr(png));
  if (io->data->size() - io->pos < n) png_error(png, "Truncated PNG data");
  std::memcpy(dst, io->data->data() + io->pos, n);
  io->pos += n;
}

void pngWrite(png_structp png, png_bytep src, png_size_t n) {
  auto* io = static_cast<PngIO*>(png_get_io_ptr(png));
  io->out->insert(io->out->end(), src, src + n);
}
void pngFlush(png_structp) {}

// What a decode fills; owned by the caller, so no C++ object lives across the longjmp.
struct PngDecodeState {
  Bitmap bitmap;
  Bitmap widened;
  std::vector<png_bytep> rows;
  std::vector<std::uint8_t> row;
};

bool rowIsOpaque(const std::uint8_t* rgba, png_uint_32 width) {
  for (png_uint_32 x = 0; x < width; ++x)
    if (rgba[x * 4 + 3] != 255) return false;
  return true;
}

// Copies a row of R, G, B, A as R, G, B; false when some pixel of it is not opaque.
bool packOpaqueRow(const std::uint8_t* rgba, std::uint8_t* rgb, png_uint_32 width) {
  std::uint8_t all = 255;
  for (png_uint_32 x = 0; x < width; ++x) {
    rgb[x * 3] = rgba[x * 4];
    rgb[x * 3 + 1] = rgba[x * 4 + 1];
    rgb[x * 3 + 2] = rgba[x * 4 + 2];
    all &= rgba[x * 4 + 3];
  }
  return all == 255;
}

// A bitmap's pixels as colour rows, for the writers, which take no palette: its own, or a palette
// bitmap expanded into `storage`.
const Bitmap& colourRows(const Bitmap& bitmap, Bitmap& storage) {
  if (bitmap.channels != 1) return bitmap;
  return storage = Bitmap::unpaletted(bitmap);
}

bool pngDecodeInto(png_structp png, png_infop info, PngIO* io, PngDecodeState* st) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_read_fn(png, io, pngRead);
  png_read_info(png, info);
  png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
  ImageDecodeLimits lim = *io->limits;
  if (w == 0 || h == 0 || w > static_cast<png_uint_32>(lim.maxSide) || h > static_cast<png_uint_32>(lim.maxSide) ||
      static_cast<long long>(w) * h > lim.maxPixels) {
    io->tooLarge = true;
    std::snprintf(io->message, sizeof io->message, "Image of %ux%u pixels exceeds the decoding limits", w, h);
    return false;
  }
  // Without an alpha channel or a transparent colour every pixel is opaque: read as R, G, B.
  const bool opaque = !(png_get_color_type(png, info) & PNG_COLOR_MASK_ALPHA) && !png_get_valid(png, info, PNG_INFO_tRNS);
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  if (!opaque) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const int channels = opaque ? 3 : 4;
  if (png_get_rowbytes(png, info) != static_cast<png_size_t>(w) * channels) png_error(png, "Unexpected PNG row layout");
  const int width = static_cast<int>(w), height = static_cast<int>(h);
  if (opaque || passes > 1) {
    // Straight into the bitmap; interlaced passes revisit every row, so those are read whole and
    // then packed if opaque.
    st->bitmap = Bitmap(width, height, channels);
    st->rows.resize(h);
    for (png_uint_32 y = 0; y < h; ++y) st->rows[y] = st->bitmap.pixel(0, static_cast<int>(y));
    png_read_image(png, st->rows.data());
    png_read_end(png, nullptr);
    if (!opaque) st->bitmap = Bitmap::withoutOpaqueAlpha(st->bitmap);
    return true;
  }
  // An alpha channel, row by row: opaque rows go straight into a bitmap without alpha (most
  // pictures stored with one are opaque all the same); the first row that is not opaque widens
  // the rows before it.
  st->row.resize(static_cast<std::size_t>(w) * 4);
  for (int y = 0; y < height; ++y) {
    png_read_row(png, st->row.data(), nullptr);
    const std::uint8_t* rgba = st->row.data();
    if (y == 0) st->bitmap = Bitmap(width, height, rowIsOpaque(rgba, w) ? 3 : 4);
    if (st->bitmap.channels == 3) {
      if (packOpaqueRow(rgba, st->bitmap.pixel(0, y), w)) continue;
      st->widened = Bitmap(width, height);
      for (int above = 0; above < y; ++above)
        for (int x = 0; x < width; ++x) {
          std::memcpy(st->widened.pixel(x, above), st->bitmap.pixel(x, above), 3);
          st->widened.pixel(x, above)[3] = 255;
        }
      st->bitmap = std::move(st->widened);
    }
    std::memcpy(st->bitmap.pixel(0, y), rgba, static_cast<std::size_t>(w) * 4);
  }
  png_read_end(png, nullptr);
  return true;
}

bool pngEncodeFrom(png_structp png, png_infop info, PngIO* io, const Bitmap* bm, std::vector<png_bytep>* rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, io, pngWrite, pngFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(bm->width), static_cast<png_uint_32>(bm->height), 8,
               bm->hasAlpha() ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  rows->resize(static_cast<std::size_t>(bm->height));
  for (int y = 0; y < bm->height; ++y) (*rows)[static_cast<std::size_t>(y)] = const_cast<png_bytep>(bm->pixel(0, y));
  png_write_image(png, rows->data());
  png_write_end(png, info);
  return true;
}

}  // namespace

std::shared_ptr<Image> decodePNG(const Data& data, Error* error, const ImageDecodeOptions& options) {
  // The header's size is judged before libpng reads on, so a lone hostile header is refused as such.
  if (data.size() >= 24 && std::memcmp(data.data() + 12, "IHDR", 4) == 0) {
    auto be32 = [&](std::size_t o) {
      return (static_cast<long long>(data[o]) << 24) | (data[o + 1] << 16) | (data[o + 2] << 8) | data[o + 3];
    };
    if (!checkDimensions(be32(16), be32(20), options.limits, error)) return nullptr;
  }
  PngIO io;
  io.data = &data;
  io.limits = &options.limits;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &io, pngError, pngWarning);
  if (!png) {
    setError(error, kImageErrorCorrupt, "Cannot start PNG decoding");
    return nullptr;
  }
  png_infop info = png_create_info_struct(png);
  PngDecodeState state;
  bool ok = info && pngDecodeInto(png, info, &io, &state);
  png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  if (!ok) {
    setError(error, io.tooLarge ? kImageErrorTooLarge : kImageErrorCorrupt,
             std::string("PNG decoding failed: ") + io.message);
    return nullptr;
  }
  return Image::create(std::move(state.bitmap), options.scale);
}

std::optional<Data> encodePNG(const Image& image, Error* error) {
  auto up = image.upright();
  Bitmap expanded;
  const Bitmap& bm = colourRows(up->bitmap(), expanded);
  if (bm.width <= 0 || bm.height <= 0) {
    setError(error, kImageErrorEncode, "Cannot encode an empty image");
    return std::nullopt;
  }
  Data out;
  PngIO io;
  io.out = &out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &io, pngError, pngWarning);
  if (!png) {
    setError(error, kImageErrorEncode, "Cannot start PNG encoding");
    return std::nullopt;
  }
  png_infop info = png_create_info_struct(png);
  std::vector<png_bytep> rows;
  bool ok = info && pngEncodeFrom(png, info, &io, &bm, &rows);
  png_destroy_write_struct(&png, info ? &info : nullptr);
  if (!ok) {
    setError(error, kImageErrorEncode, std::string("PNG encoding failed: ") + io.message);
    return std::nullopt;
  }
  return out;
}

// ---------------------------------------------------------------- JPEG

namespace {

struct JpegErr {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX] = {0};
  bool truncated = false;
};

void jpegErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<JpegErr*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

void jpegEmit(j_common_ptr cinfo, int level) {
  // A warning about data ending early means the picture is partly grey: count it as corrupt.
  if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) reinterpret_cast<JpegErr*>(cinfo->err)->truncated = true;
}
void jpegOutput(j_common_ptr) {}

// A progressive file can hold any number of scans, each one a pass over the whole picture;
// real files have a dozen or so.
constexpr int kMaxJpegScans = 256;
void jpegProgress(j_common_ptr cinfo) {
  if (cinfo->is_decompressor && reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxJpegScans) {
    cinfo->err->msg_code = JERR_BAD_SCAN_SCRIPT;  // a stand-in code; the message below is ours
    auto* err = reinterpret_cast<JpegErr*>(cinfo->err);
    std::snprintf(err->message, sizeof err->message, "JPEG has more than %d scans", kMaxJpegScans);
    std::longjmp(err->jump, 1);
  }
}

struct JpegDecodeState {
  const Data* data;
  const ImageDecodeLimits* limits;
  Bitmap bitmap;
  std::vector<std::uint8_t> row;
  bool tooLarge = false;
  jpeg_progress_mgr progress{nullptr, 0, 0, 0, 0};
};

bool jpegDecodeInto(jpeg_decompress_struct* cinfo, JpegErr* err, JpegDecodeState* st) {
  if (setjmp(err->jump)) return false;
  jpeg_create_decompress(cinfo);  // clears every field but the error manager
  cinfo->progress = &st->progress;
  jpeg_mem_src(cinfo, st->data->data(), static_cast<unsigned long>(st->data->size()));
  if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK) return false;
  long long w = cinfo->image_width, h = cinfo->image_height;
  if (w <= 0 || h <= 0 || w > st->limits->maxSide || h > st->limits->maxSide || w * h > st->limits->maxPixels) {
    st->tooLarge = true;
    std::snprintf(err->message, sizeof err->message, "Image of %lldx%lld pixels exceeds the decoding limits", w, h);
    return false;
  }
  bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
  // A JPEG is opaque: its pixels are kept as R, G, B.
  cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  jpeg_start_decompress(cinfo);
  if (cinfo->output_components != (cmyk ? 4 : 3)) {
    std::snprintf(err->message, sizeof err->message, "Unsupported JPEG colour layout");
    return false;
  }
  st->bitmap = Bitmap(static_cast<int>(cinfo->output_width), static_cast<int>(cinfo->output_height), 3);
  if (cmyk) st->row.resize(static_cast<std::size_t>(cinfo->output_width) * 4);
  bool inverted = cinfo->saw_Adobe_marker;
  while (cinfo->output_scanline < cinfo->output_height) {
    int y = static_cast<int>(cinfo->output_scanline);
    JSAMPROW rowPtr = cmyk ? st->row.data() : st->bitmap.pixel(0, y);
    if (jpeg_read_scanlines(cinfo, &rowPtr, 1) != 1) {
      std::snprintf(err->message, sizeof err->message, "JPEG data ended early");
      return false;
    }
    if (cmyk) {
      for (JDIMENSION x = 0; x < cinfo->output_width; ++x) {
        const std::uint8_t* s = st->row.data() + x * 4;
        std::uint8_t* p = st->bitmap.pixel(static_cast<int>(x), y);
        int c = s[0], m = s[1], yy = s[2], k = s[3];
        if (!inverted) c = 255 - c, m = 255 - m, yy = 255 - yy, k = 255 - k;
        p[0] = static_cast<std::uint8_t>(c * k / 255);
        p[1] = static_cast<std::uint8_t>(m * k / 255);
        p[2] = static_cast<std::uint8_t>(yy * k / 255);
      }
    }
  }
  jpeg_finish_decompress(cinfo);
  return !err->truncated;
}

struct JpegEncodeState {
  const Bitmap* bitmap;
  int quality;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  std::vector<std::uint8_t> row;
};

bool jpegEncodeFrom(jpeg_compress_struct* cinfo, JpegErr* err, JpegEncodeState* st) {
  if (setjmp(err->jump)) return false;
  jpeg_create_compress(cinfo);
  jpeg_mem_dest(cinfo, &st->buffer, &st->size);
  cinfo->image_width = static_cast<JDIMENSION>(st->bitmap->width);
  cinfo->image_height = static_cast<JDIMENSION>(st->bitmap->height);
  cinfo->input_components = 3;
  cinfo->in_color_space = JCS_RGB;
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, st->quality, TRUE);
  jpeg_start_compress(cinfo, TRUE);
  st->row.resize(static_cast<std::size_t>(st->bitmap->width) * 3);
  while (cinfo->next_scanline < cinfo->image_height) {
    const std::uint8_t* src = st->bitmap->pixel(0, static_cast<int>(cinfo->next_scanline));
    const int channels = st->bitmap->channels;
    for (int x = 0; x < st->bitmap->width; ++x) std::memcpy(st->row.data() + x * 3, src + x * channels, 3);
    JSAMPROW rowPtr = st->row.data();
    jpeg_write_scanlines(cinfo, &rowPtr, 1);
  }
  jpeg_finish_compress(cinfo);
  return true;
}

}  // namespace

std::shared_ptr<Image> decodeJPEG(const Data& data, Error* error, const ImageDecodeOptions& options) {
  if (data.empty()) {
    setError(error, kImageErrorCorrupt, "Empty JPEG data");
    return nullptr;
  }
  jpeg_decompress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  JpegErr err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = jpegErrorExit;
  err.mgr.emit_message = jpegEmit;
  err.mgr.output_message = jpegOutput;
  JpegDecodeState st{&data, &options.limits, {}, {}};
  st.progress.progress_monitor = jpegProgress;
  bool ok = jpegDecodeInto(&cinfo, &err, &st);
  jpeg_destroy_decompress(&cinfo);
  if (!ok) {
    std::string msg = err.truncated ? "JPEG data ended early" : err.message;
    setError(error, st.tooLarge ? kImageErrorTooLarge : kImageErrorCorrupt, "JPEG decoding failed: " + msg);
    return nullptr;
  }
  return Image::create(std::move(st.bitmap), options.scale, orientationFromExif(jpegExifOrientation(data)));
}

std::optional<Data> encodeJPEG(const Image& image, double quality, Error* error) {
  auto up = image.upright();
  Bitmap expanded;
  const Bitmap& bm = colourRows(up->bitmap(), expanded);
  if (bm.width <= 0 || bm.height <= 0) {
    setError(error, kImageErrorEncode, "Cannot encode an empty image");
    return std::nullopt;
  }
  jpeg_compress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  JpegErr err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = jpegErrorExit;
  err.mgr.output_message = jpegOutput;
  double q = std::isnan(quality) ? 1.0 : std::clamp(quality, 0.0, 1.0);
  JpegEncodeState st{&bm, std::max(1, static_cast<int>(std::lround(q * 100))), nullptr, 0, {}};
  bool ok = jpegEncodeFrom(&cinfo, &err, &st);
  jpeg_destroy_compress(&cinfo);
  std::optional<Data> out;
  if (ok && st.buffer) out = Data(st.buffer, st.buffer + st.size);
  std::free(st.buffer);
  if (!out) setError(error, kImageErrorEncode, std::string("JPEG encoding failed: ") + err.message);
  return out;
}

int jpegExifOrientation(const Data& d) {
  if (d.size() < 4 || d[0] != 0xFF || d[1] != 0xD8) return 0;
  std::size_t pos = 2;
  while (pos + 4 <= d.size()) {
    if (d[pos] != 0xFF) return 0;
    std::uint8_t marker = d[pos + 1];
    if (marker == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) return 0;  // image data or end: no more metadata
    std::size_t len = (static_cast<std::size_t>(d[pos + 2]) << 8) | d[pos + 3];
    if (len < 2 || pos + 2 + len > d.size()) return 0;
    const std::uint8_t* seg = d.data() + pos + 4;
    std::size_t segLen = len - 2;
    if (marker == 0xE1 && segLen >= 14 && std::memcmp(seg, "Exif\0\0", 6) == 0) {
      const std::uint8_t* t = seg + 6;
      std::size_t tl = segLen - 6;
      bool little = t[0] == 'I' && t[1] == 'I';
      if (!little && !(t[0] == 'M' && t[1] == 'M')) return 0;
      auto u16 = [&](std::size_t o) -> unsigned {
        return little ? t[o] | (t[o + 1] << 8) : (t[o] << 8) | t[o + 1];
      };
      auto u32 = [&](std::size_t o) -> std::size_t {
        return little ? (std::size_t(t[o]) | std::size_t(t[o + 1]) << 8 | std::size_t(t[o + 2]) << 16 | std::size_t(t[o + 3]) << 24)
                      : (std::size_t(t[o]) << 24 | std::size_t(t[o + 1]) << 16 | std::size_t(t[o + 2]) << 8 | std::size_t(t[o + 3]));
      };
      if (u16(2) != 42) return 0;
      std::size_t ifd = u32(4);
      if (ifd + 2 > tl) return 0;
      unsigned count = u16(ifd);
      for (unsigned i = 0; i < count; ++i) {
        std::size_t e = ifd + 2 + static_cast<std::size_t>(i) * 12;
        if (e + 12 > tl) return 0;
        if (u16(e) == 0x0112 && u16(e + 2) == 3) {
          unsigned v = u16(e + 8);
          return v >= 1 && v <= 8 ? static_cast<int>(v) : 0;
        }
      }
      return 0;
    }
    pos += 2 + len;
  }
  return 0;
}

// ---------------------------------------------------------------- GIF

namespace {

struct GifInput {
  const Data* data;
  std::size_t pos = 0;
};

int gifRead(GifFileType* gif, GifByteType* dst, int n) {
  auto* in = static_cast<GifInput*>(gif->UserData);
  if (n <= 0) return 0;
  std::size_t take = std::min<std::size_t>(static_cast<std::size_t>(n), in->data->size() - in->pos);
  std::memcpy(dst, in->data->data() + in->pos, take);
  in->pos += take;
  return static_cast<int>(take);
}

struct GifCloser {
  GifFileType* gif;
  ~GifCloser() {
    int e;
    if (gif) DGifCloseFile(gif, &e);
  }
};

std::string gifMessage(int code) {
  const char* s = GifErrorString(code);
  return s ? s : "GIF error " + std::to_string(code);
}

}  // namespace

std::shared_ptr<Image> decodeGIF(const Data& data, Error* error, const ImageDecodeOptions& options) {
  const ImageDecodeLimits& lim = options.limits;
  GifInput input{&data};
  int code = 0;
  GifFileType* gif = DGifOpen(&input, gifRead, &code);
  if (!gif) {
    setError(error, kImageErrorCorrupt, "GIF decoding failed: " + gifMessage(code));
    return nullptr;
  }
  GifCloser closer{gif};
  auto fail = [&](const std::string& what) {
    setError(error, kImageErrorCorrupt, "GIF decoding failed: " + what + " (" + gifMessage(gif->Error) + ")");
    return nullptr;
  };
  int cw = gif->SWidth, ch = gif->SHeight;
  if (!checkDimensions(cw, ch, lim, error)) return nullptr;
  // All composed frames are kept, so their total is bounded as well as their count.
  const long long totalBudget = std::max<long long>(lim.maxPixels * 2, 1);
  long long totalPixels = 0;

  Bitmap canvas(cw, ch);
  std::vector<std::shared_ptr<Image>> frames;
  std::vector<double> delays;
  GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
  std::vector<GifPixelType> line;

  for (;;) {
    GifRecordType type;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR) return fail("bad record");
    if (type == TERMINATE_RECORD_TYPE) break;
    if (type == EXTENSION_RECORD_TYPE) {
      int extCode = 0;
      GifByteType* ext = nullptr;
      if (DGifGetExtension(gif, &extCode, &ext) == GIF_ERROR) return fail("bad extension");
      if (extCode == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) DGifExtensionToGCB(ext[0], ext + 1, &gcb);
      while (ext) {
        if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) return fail("bad extension");
      }
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) continue;
    if (DGifGetImageDesc(gif) == GIF_ERROR) return fail("bad image descriptor");
    const GifImageDesc& desc = gif->Image;
    if (static_cast<int>(frames.size()) >= lim.maxFrames) {
      setError(error, kImageErrorTooManyFrames, "GIF has more than " + std::to_string(lim.maxFrames) + " frames");
      return nullptr;
    }
    totalPixels += static_cast<long long>(cw) * ch;
    if (totalPixels > totalBudget) {
      setError(error, kImageErrorTooLarge, "GIF frames exceed the decoding limits");
      return nullptr;
    }
    if (!checkDimensions(desc.Width, desc.Height, lim, error)) return nullptr;
    const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
    if (!map || !map->Colors) return fail("no colour table");

    Bitmap previous;
    if (gcb.DisposalMode == DISPOSE_PREVIOUS) previous = canvas;
    line.resize(static_cast<std::size_t>(desc.Width));
    auto drawRow = [&](int row) {
      int y = desc.Top + row;
      if (y < 0 || y >= ch) return;
      for (int i = 0; i < desc.Width; ++i) {
        int x = desc.Left + i;
        int idx = line[static_cast<std::size_t>(i)];
        if (x < 0 || x >= cw || idx == gcb.TransparentColor || idx >= map->ColorCount) continue;
        std::uint8_t* p = canvas.pixel(x, y);
        p[0] = map->Colors[idx].Red;
        p[1] = map->Colors[idx].Green;
        p[2] = map->Colors[idx].Blue;
        p[3] = 255;
      }
    };
    if (desc.Interlace) {
      static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4; ++pass)
        for (int row = kStart[pass]; row < desc.Height; row += kStep[pass]) {
          if (DGifGetLine(gif, line.data(), desc.Width) == GIF_ERROR) return fail("truncated image data");
          drawRow(row);
        }
    } else {
      for (int row = 0; row < desc.Height; ++row) {
        if (DGifGetLine(gif, line.data(), desc.Width) == GIF_ERROR) return fail("truncated image data");
        drawRow(row);
      }
    }
    frames.push_back(Image::create(Bitmap::packedCopy(canvas), options.scale));
    delays.push_back(gcb.DelayTime / 100.0);

    if (gcb.DisposalMode == DISPOSE_BACKGROUND) {
      for (int y = std::max(0, desc.Top); y < std::min(ch, desc.Top + desc.Height); ++y)
        for (int x = std::max(0, desc.Left); x < std::min(cw, desc.Left + desc.Width); ++x)
          std::memset(canvas.pixel(x, y), 0, 4);
    } else if (gcb.DisposalMode == DISPOSE_PREVIOUS) {
      canvas = std::move(previous);
    }
    gcb = GraphicsControlBlock{DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
  }
  if (frames.empty()) {
    setError(error, kImageErrorCorrupt, "GIF has no frames");
    return nullptr;
  }
  if (frames.size() == 1) return frames.front();
  double total = 0;
  for (double d : delays) total += d;
  return Image::animated(std::move(frames), total, std::move(delays));
}

}  // namespace os
