#pragma once
// Deflate compression on zlib: gzip, zlib and raw streams out, and an inflater that finds the wrapper
// itself. Everything inflated from outside carries a caller-given output cap, so a small hostile body
// that expands without end fails with an error instead of eating the memory.
#include <cstddef>
#include <optional>

#include "os/core/Data.h"
#include "os/core/Error.h"

namespace os {

inline constexpr const char* kCompressionErrorDomain = "os.compression";
enum CompressionErrorCode : long {
  kCompressionStartError = 1,      // zlib would not start (bad level, out of memory)
  kCompressionCorruptError = 2,    // not a stream of the expected kind, or damaged (bad check value)
  kCompressionTruncatedError = 3,  // the input ended before the stream did (no trailer)
  kCompressionTooLargeError = 4,   // the output would pass the caller's cap
  kCompressionTrailingDataError = 5,  // bytes after the end of the stream
};

enum class DeflateWrapper {
  Gzip,  // RFC 1952: header, deflate data, CRC-32 and length
  Zlib,  // RFC 1950: two-byte header, deflate data, Adler-32
  Raw,   // RFC 1951: the deflate data alone
};

enum class InflateFormat {
  Detect,  // gzip or zlib, told apart by the first bytes
  Gzip,
  Zlib,
  Raw,
};

inline constexpr int kDefaultCompressionLevel = -1;  // zlib's own default (6)

// Compresses `input` in one pass. Empty input gives a valid empty stream (20 bytes of gzip).
// Level -1 is zlib's default, else 0 (stored) to 9.
std::optional<Data> deflateData(const Data& input, DeflateWrapper wrapper, int level = kDefaultCompressionLevel,
                                Error* error = nullptr);
inline std::optional<Data> gzipData(const Data& input, int level = kDefaultCompressionLevel, Error* error = nullptr) {
  return deflateData(input, DeflateWrapper::Gzip, level, error);
}

// Inflates a whole stream. Succeeds only when the stream ends cleanly: a gzip body without its
// trailer, with a wrong CRC or length, or a zlib body with a wrong Adler-32 is an error. Gzip members
// written one after another (as concatenated files are) inflate as one; any other bytes after the
// end are an error. Output beyond `maxOutput` bytes stops the work with kCompressionTooLargeError.
std::optional<Data> inflateData(const Data& input, std::size_t maxOutput, InflateFormat format = InflateFormat::Detect,
                                Error* error = nullptr);

}  // namespace os
