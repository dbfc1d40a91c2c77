// The image cache and image decoding against plain baselines in the same run:
// - memory-tier hits over 1,000 keys, beside a mutex-guarded hash map of the same images;
// - disk-tier hits over 1,000 keys (read, decode, force-decode), beside reading the same files
//   and decoding them with libpng directly;
// - decoding a set of PNG and JPEG pictures made here (thumbnail, list and full-screen sizes)
//   through the loader's decoding, beside plain libpng / libjpeg decoding into RGBA.
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench/ProcessCpu.h"
#include "os/graphics/ImageCodec.h"
#include "os/store/FileManager.h"
#include "os/testing/TestSandbox.h"
#include "ui/images/BNImageCache.h"
#include "ui/images/ImageDecoding.h"

namespace {

constexpr int kKeys = 1000;

// A picture with smooth gradients and some grain, so the encoders work about as hard as on a photo.
os::Bitmap photo(int w, int h, unsigned seed) {
  os::Bitmap bitmap(w, h);
  unsigned state = seed * 2654435761u + 1;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      state = state * 1664525u + 1013904223u;
      int grain = static_cast<int>((state >> 24) & 15) - 8;
      auto* p = bitmap.pixel(x, y);
      p[0] = static_cast<std::uint8_t>(std::clamp(x * 255 / w + grain, 0, 255));
      p[1] = static_cast<std::uint8_t>(std::clamp(y * 255 / h + grain, 0, 255));
      p[2] = static_cast<std::uint8_t>(std::clamp(((x + y) * 127 / (w + h)) + 64 + grain, 0, 255));
      p[3] = 255;
    }
  return bitmap;
}

std::string keyFor(int i) { return "http://img.example.com/news/pic/" + std::to_string(i) + ".jpg"; }

struct Fixture {
  os::TestSandbox sandbox;
  std::shared_ptr<BNImageCache> cache = BNImageCache::initWithNamespace("bench");
  std::vector<std::string> keys;
  std::vector<BNImagePtr> images;

  Fixture() {
    for (int i = 0; i < kKeys; ++i) {
      keys.push_back(keyFor(i));
      images.push_back(os::Image::create(photo(64, 64, static_cast<unsigned>(i))));
      // PNG files of 64 × 64, as a list's small icons would be stored.
      cache->storeImage(images.back(), true, std::nullopt, keys.back(), true);
    }
    cache->getSize();  // waits for the disk queue to write them all
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

// ---------------------------------------------------------------- memory tier

void BM_MemoryHit_Cache(benchmark::State& state) {
  auto& f = fixture();
  for (int i = 0; i < kKeys; ++i) f.cache->storeImage(f.images[i], f.keys[i], false);
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(f.cache->imageFromMemoryCacheForKey(f.keys[i]));
    if (++i == kKeys) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MemoryHit_Cache);

void BM_MemoryHit_Baseline_HashMap(benchmark::State& state) {
  auto& f = fixture();
  std::mutex mutex;
  std::unordered_map<std::string, BNImagePtr> map;
  for (int i = 0; i < kKeys; ++i) map[f.keys[i]] = f.images[i];
  int i = 0;
  for (auto _ : state) {
    BNImagePtr found;
    {
      std::lock_guard lock(mutex);
      auto it = map.find(f.keys[i]);
      if (it != map.end()) found = it->second;
    }
    benchmark::DoNotOptimize(found);
    if (++i == kKeys) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MemoryHit_Baseline_HashMap);

// ---------------------------------------------------------------- plain decoders

bool plainPNG(const os::Data& data, std::vector<std::uint8_t>& out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data.data(), data.size())) return false;
  image.format = PNG_FORMAT_RGBA;
  out.resize(PNG_IMAGE_SIZE(image));
  bool ok = png_image_finish_read(&image, nullptr, out.data(), 0, nullptr) != 0;
  png_image_free(&image);
  return ok;
}

struct JpegFailure {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

bool plainJPEG(const os::Data& data, std::vector<std::uint8_t>& out) {
  jpeg_decompress_struct info{};
  JpegFailure failure{};
  info.err = jpeg_std_error(&failure.manager);
  failure.manager.error_exit = [](j_common_ptr common) { std::longjmp(reinterpret_cast<JpegFailure*>(common->err)->jump, 1); };
  if (setjmp(failure.jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data.data(), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&info, TRUE);
#ifdef JCS_EXTENSIONS
  info.out_color_space = JCS_EXT_RGBA;
#else
  info.out_color_space = JCS_RGB;
#endif
  jpeg_start_decompress(&info);
  std::size_t stride = static_cast<std::size_t>(info.output_width) * info.output_components;
  out.resize(stride * info.output_height);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = out.data() + stride * info.output_scanline;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

// ---------------------------------------------------------------- disk tier

void BM_DiskHit_Cache(benchmark::State& state) {
  auto& f = fixture();
  int i = 0;
  for (auto _ : state) {
    auto image = f.cache->diskImageForKey(f.keys[i]);
    if (!image) state.SkipWithError("disk miss");
    benchmark::DoNotOptimize(image);
    if (++i == kKeys) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DiskHit_Cache);

void BM_DiskHit_Baseline_ReadAndLibpng(benchmark::State& state) {
  auto& f = fixture();
  std::vector<std::string> paths;
  for (const auto& key : f.keys) paths.push_back(f.cache->defaultCachePathForKey(key));
  std::vector<std::uint8_t> pixels;
  int i = 0;
  for (auto _ : state) {
    std::FILE* file = std::fopen(paths[i].c_str(), "rb");
    os::Data data;
    if (file) {
      std::uint8_t buffer[16384];
      std::size_t n;
      while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) data.insert(data.end(), buffer, buffer + n);
      std::fclose(file);
    }
    if (!plainPNG(data, pixels)) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(pixels.data());
    if (++i == kKeys) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DiskHit_Baseline_ReadAndLibpng);

// ---------------------------------------------------------------- decode throughput

struct Encoded {
  std::vector<os::Data> files;
  std::size_t bytes = 0;
};

// Thumbnail, list-cell and full-screen sizes.
const Encoded& pictureSet(bool jpeg) {
  static Encoded sets[2];
  static std::once_flag once;
  std::call_once(once, [] {
    const int sizes[][2] = {{120, 90}, {240, 180}, {640, 480}, {1280, 720}};
    unsigned seed = 1;
    for (auto [w, h] : sizes)
      for (int copy = 0; copy < 2; ++copy) {
        auto image = os::Image::create(photo(w, h, seed++));
        sets[0].files.push_back(*os::encodePNG(*image));
        sets[1].files.push_back(*os::encodeJPEG(*image, 0.85));
      }
    for (auto& set : sets)
      for (const auto& file : set.files) set.bytes += file.size();
  });
  return sets[jpeg ? 1 : 0];
}

void decodeThroughLoader(benchmark::State& state, bool jpeg) {
  const auto& set = pictureSet(jpeg);
  for (auto _ : state)
    for (const auto& file : set.files) {
      auto image = decodedImageWithImage(sd_imageWithData(file));
      if (!image) state.SkipWithError("decode failed");
      benchmark::DoNotOptimize(image);
    }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * set.bytes));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * set.files.size()));
}

void decodePlain(benchmark::State& state, bool jpeg) {
  const auto& set = pictureSet(jpeg);
  std::vector<std::uint8_t> pixels;
  for (auto _ : state)
    for (const auto& file : set.files) {
      if (!(jpeg ? plainJPEG(file, pixels) : plainPNG(file, pixels))) state.SkipWithError("decode failed");
      benchmark::DoNotOptimize(pixels.data());
    }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * set.bytes));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * set.files.size()));
}

void BM_DecodePNG_Loader(benchmark::State& state) { decodeThroughLoader(state, false); }
void BM_DecodePNG_Baseline_Libpng(benchmark::State& state) { decodePlain(state, false); }
void BM_DecodeJPEG_Loader(benchmark::State& state) { decodeThroughLoader(state, true); }
void BM_DecodeJPEG_Baseline_Libjpeg(benchmark::State& state) { decodePlain(state, true); }
BENCHMARK(BM_DecodePNG_Loader)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodePNG_Baseline_Libpng)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeJPEG_Loader)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeJPEG_Baseline_Libjpeg)->Unit(benchmark::kMillisecond);

}  // namespace

NEWSREADER_BENCH_MAIN()
