#pragma once
// Encoded test pictures and a way to wait on the main run loop.
#include <gif_lib.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "os/core/Data.h"
#include "os/graphics/Image.h"
#include "os/graphics/ImageCodec.h"
#include "os/runtime/RunLoop.h"
#include "os/testing/Waits.h"

namespace imagetest {

inline os::Bitmap solid(int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 255) {
  os::Bitmap bitmap(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      auto* p = bitmap.pixel(x, y);
      p[0] = r, p[1] = g, p[2] = b, p[3] = a;
    }
  return bitmap;
}

inline os::Data png(int w, int h, std::uint8_t r = 200, std::uint8_t g = 10, std::uint8_t b = 10) {
  return os::encodePNG(*os::Image::create(solid(w, h, r, g, b))).value();
}

inline os::Data jpeg(int w, int h) { return os::encodeJPEG(*os::Image::create(solid(w, h, 10, 200, 10)), 0.9).value(); }

inline std::string text(const os::Data& data) { return std::string(data.begin(), data.end()); }

inline int gifWrite(GifFileType* gif, const GifByteType* bytes, int n) {
  auto* out = static_cast<os::Data*>(gif->UserData);
  out->insert(out->end(), bytes, bytes + n);
  return n;
}

// A w × h GIF of full-size frames, frame i in palette colour i % 4 (red, green, blue, white);
// a delay below 0 writes no control block for that frame.
inline os::Data gif(int w, int h, const std::vector<int>& delaysCs) {
  os::Data out;
  int err = 0;
  GifFileType* file = EGifOpen(&out, gifWrite, &err);
  GifColorType colors[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  ColorMapObject* map = GifMakeMapObject(4, colors);
  EGifSetGifVersion(file, true);
  EGifPutScreenDesc(file, w, h, 8, 0, map);
  for (std::size_t i = 0; i < delaysCs.size(); ++i) {
    if (delaysCs[i] >= 0) {
      GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, delaysCs[i], NO_TRANSPARENT_COLOR};
      GifByteType ext[4];
      size_t n = EGifGCBToExtension(&gcb, ext);
      EGifPutExtension(file, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(n), ext);
    }
    EGifPutImageDesc(file, 0, 0, w, h, false, nullptr);
    std::vector<GifPixelType> line(static_cast<std::size_t>(w), static_cast<GifPixelType>(i % 4));
    for (int y = 0; y < h; ++y) EGifPutLine(file, line.data(), w);
  }
  EGifCloseFile(file, &err);
  GifFreeMapObject(map);
  return out;
}

using os::testing::runUntil;

// Lets queued main-thread work (and work other threads hand back) settle.
inline void settle() {
  for (int i = 0; i < 5; ++i) os::RunLoop::main()->runUntil([] { return false; }, 0.02);
}

}  // namespace imagetest
