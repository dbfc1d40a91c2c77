#include "os/core/Compression.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <string>

namespace os {
namespace {

// zlib counts in uInt; larger buffers go through in slices of this size.
constexpr std::size_t kSlice = std::size_t{1} << 30;

void fail(Error* error, long code, std::string description) {
  if (error) *error = Error::withDescription(kCompressionErrorDomain, code, std::move(description));
}

int windowBits(DeflateWrapper wrapper) {
  switch (wrapper) {
    case DeflateWrapper::Gzip: return MAX_WBITS + 16;
    case DeflateWrapper::Zlib: return MAX_WBITS;
    case DeflateWrapper::Raw: return -MAX_WBITS;
  }
  return MAX_WBITS;
}

int windowBits(InflateFormat format) {
  switch (format) {
    case InflateFormat::Detect: return MAX_WBITS + 32;
    case InflateFormat::Gzip: return MAX_WBITS + 16;
    case InflateFormat::Zlib: return MAX_WBITS;
    case InflateFormat::Raw: return -MAX_WBITS;
  }
  return MAX_WBITS + 32;
}

bool startsGzipMember(const std::uint8_t* p, std::size_t n) { return n >= 2 && p[0] == 0x1f && p[1] == 0x8b; }

}  // namespace

std::optional<Data> deflateData(const Data& input, DeflateWrapper wrapper, int level, Error* error) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, windowBits(wrapper), 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    fail(error, kCompressionStartError, "The compressor could not start.");
    return std::nullopt;
  }
  Data out;
  // One slice's bound is enough for the usual body; larger inputs grow the buffer as they go.
  out.resize(deflateBound(&z, static_cast<uLong>(std::min(input.size(), kSlice))));
  std::size_t consumed = 0, produced = 0;
  int ret = Z_OK;
  while (ret != Z_STREAM_END) {
    if (z.avail_in == 0 && consumed < input.size()) {
      std::size_t n = std::min(input.size() - consumed, kSlice);
      z.next_in = const_cast<Bytef*>(input.data() + consumed);
      z.avail_in = static_cast<uInt>(n);
      consumed += n;
    }
    if (produced == out.size()) out.resize(out.size() + std::max<std::size_t>(out.size() / 2, 1024));
    std::size_t room = std::min(out.size() - produced, kSlice);
    z.next_out = out.data() + produced;
    z.avail_out = static_cast<uInt>(room);
    ret = deflate(&z, consumed == input.size() ? Z_FINISH : Z_NO_FLUSH);
    produced += room - z.avail_out;
    if (ret != Z_OK && ret != Z_STREAM_END && ret != Z_BUF_ERROR) {
      deflateEnd(&z);
      fail(error, kCompressionStartError, "The compressor failed.");
      return std::nullopt;
    }
  }
  deflateEnd(&z);
  out.resize(produced);
  return out;
}

std::optional<Data> inflateData(const Data& input, std::size_t maxOutput, InflateFormat format, Error* error) {
  z_stream z{};
  if (inflateInit2(&z, windowBits(format)) != Z_OK) {
    fail(error, kCompressionStartError, "The decompressor could not start.");
    return std::nullopt;
  }
  // Concatenated members are a gzip feature only; a zlib or raw stream ends where it ends.
  const bool gzipBody = format == InflateFormat::Gzip ||
                        (format == InflateFormat::Detect && startsGzipMember(input.data(), input.size()));
  Data out;
  out.reserve(std::min(maxOutput, std::max<std::size_t>(input.size() * 2, 256)));
  std::uint8_t chunk[32 * 1024];
  std::size_t consumed = 0;
  auto refill = [&] {
    if (z.avail_in == 0 && consumed < input.size()) {
      std::size_t n = std::min(input.size() - consumed, kSlice);
      z.next_in = const_cast<Bytef*>(input.data() + consumed);
      z.avail_in = static_cast<uInt>(n);
      consumed += n;
    }
  };
  auto finish = [&](long code, const char* description) -> std::optional<Data> {
    inflateEnd(&z);
    fail(error, code, description);
    return std::nullopt;
  };
  for (;;) {
    refill();
    z.next_out = chunk;
    z.avail_out = sizeof chunk;
    int ret = inflate(&z, Z_NO_FLUSH);
    std::size_t have = sizeof chunk - z.avail_out;
    if (have > maxOutput - out.size()) return finish(kCompressionTooLargeError, "The decompressed data is too large.");
    out.insert(out.end(), chunk, chunk + have);
    switch (ret) {
      case Z_STREAM_END: {
        refill();
        if (z.avail_in == 0) {
          inflateEnd(&z);
          return out;
        }
        if (gzipBody && startsGzipMember(z.next_in, z.avail_in)) {
          inflateReset(&z);
          continue;
        }
        return finish(kCompressionTrailingDataError, "The compressed data has bytes after its end.");
      }
      case Z_OK:
        // Output room left and no input left: the stream stopped short of its end.
        if (z.avail_out != 0 && z.avail_in == 0 && consumed == input.size())
          return finish(kCompressionTruncatedError, "The compressed data ends early.");
        continue;
      case Z_BUF_ERROR:
        return finish(kCompressionTruncatedError, "The compressed data ends early.");
      case Z_MEM_ERROR:
        return finish(kCompressionStartError, "The decompressor ran out of memory.");
      default:  // Z_DATA_ERROR (bad header, block or check value), Z_NEED_DICT, Z_STREAM_ERROR
        return finish(kCompressionCorruptError, z.msg ? z.msg : "The compressed data is corrupt.");
    }
  }
}

}  // namespace os
