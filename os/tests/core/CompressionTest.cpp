#include <gtest/gtest.h>

#include "os/core/Compression.h"

namespace os {
namespace {

Data pseudoText(std::size_t n) {
  Data d(n);
  std::uint32_t x = 2463534242u;
  for (auto& b : d) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    b = static_cast<std::uint8_t>('a' + x % 7);  // compressible but not trivially so
  }
  return d;
}

TEST(Compression, RoundTripsEveryWrapper) {
  for (std::size_t n : {std::size_t{0}, std::size_t{1} << 20}) {
    Data input = pseudoText(n);
    auto gz = gzipData(input);
    ASSERT_TRUE(gz);
    ASSERT_GE(gz->size(), 18u);
    EXPECT_EQ((*gz)[0], 0x1f);
    EXPECT_EQ((*gz)[1], 0x8b);
    EXPECT_EQ(inflateData(*gz, n), input) << n;
    EXPECT_EQ(inflateData(*gz, n, InflateFormat::Gzip), input);

    auto zl = deflateData(input, DeflateWrapper::Zlib, 9);
    ASSERT_TRUE(zl);
    EXPECT_EQ((*zl)[0] & 0x0f, 8);  // deflate method in the zlib header
    EXPECT_EQ(inflateData(*zl, n), input);

    auto raw = deflateData(input, DeflateWrapper::Raw);
    ASSERT_TRUE(raw);
    EXPECT_EQ(inflateData(*raw, n, InflateFormat::Raw), input);
    Error error;
    EXPECT_FALSE(inflateData(*raw, n, InflateFormat::Detect, &error)) << "raw data has no header to detect";
  }
  // Two gzip members one after another read as one body, as concatenated files do.
  Data both = *gzipData(dataFromString("ab"));
  Data second = *gzipData(dataFromString("cd"));
  both.insert(both.end(), second.begin(), second.end());
  EXPECT_EQ(inflateData(both, 100), dataFromString("abcd"));
  EXPECT_FALSE(deflateData({}, DeflateWrapper::Gzip, 42));
}

TEST(Compression, SmallBombStopsAtTheCap) {
  Data zeros(1100 * 1024, 0);
  Data bomb = *gzipData(zeros, 9);
  ASSERT_LE(bomb.size(), 1200u);  // about a kilobyte on the wire
  Error error;
  EXPECT_FALSE(inflateData(bomb, 1 << 20, InflateFormat::Detect, &error));
  EXPECT_EQ(error.domain, kCompressionErrorDomain);
  EXPECT_EQ(error.code, kCompressionTooLargeError);
  // The cap is inclusive: exactly the size fits.
  EXPECT_EQ(inflateData(bomb, zeros.size())->size(), zeros.size());
}

TEST(Compression, DamagedStreamsAreErrors) {
  Data input = pseudoText(5000);
  Data gz = *gzipData(input);
  Error error;

  Data noTrailer(gz.begin(), gz.end() - 8);
  EXPECT_FALSE(inflateData(noTrailer, 1 << 20, InflateFormat::Detect, &error));
  EXPECT_EQ(error.code, kCompressionTruncatedError);

  Data badCrc = gz;
  badCrc[badCrc.size() - 6] ^= 0x01;
  EXPECT_FALSE(inflateData(badCrc, 1 << 20, InflateFormat::Detect, &error));
  EXPECT_EQ(error.code, kCompressionCorruptError);

  Data badLength = gz;
  badLength[badLength.size() - 2] ^= 0x01;
  EXPECT_FALSE(inflateData(badLength, 1 << 20, InflateFormat::Gzip, &error));
  EXPECT_EQ(error.code, kCompressionCorruptError);

  Data zl = *deflateData(input, DeflateWrapper::Zlib);
  zl.back() ^= 0x80;  // Adler-32
  EXPECT_FALSE(inflateData(zl, 1 << 20, InflateFormat::Detect, &error));
  EXPECT_EQ(error.code, kCompressionCorruptError);

  Data trailing = gz;
  trailing.push_back('x');
  EXPECT_FALSE(inflateData(trailing, 1 << 20, InflateFormat::Detect, &error));
  EXPECT_EQ(error.code, kCompressionTrailingDataError);

  // Only gzip members run on into the next: a zlib or raw stream followed by a gzip member ends
  // where its own data ends, and the member is trailing data.
  for (auto [wrapper, format] : {std::pair{DeflateWrapper::Zlib, InflateFormat::Detect}, std::pair{DeflateWrapper::Zlib, InflateFormat::Zlib},
                                 std::pair{DeflateWrapper::Raw, InflateFormat::Raw}}) {
    Data stream = *deflateData(input, wrapper);
    stream.insert(stream.end(), gz.begin(), gz.end());
    EXPECT_FALSE(inflateData(stream, 1 << 20, format, &error)) << static_cast<int>(wrapper);
    EXPECT_EQ(error.code, kCompressionTrailingDataError) << static_cast<int>(wrapper);
  }

  EXPECT_FALSE(inflateData(dataFromString("plain text"), 1 << 20, InflateFormat::Detect, &error));
  EXPECT_EQ(error.code, kCompressionCorruptError);
  EXPECT_FALSE(inflateData({}, 1 << 20, InflateFormat::Detect, &error));
  EXPECT_EQ(error.code, kCompressionTruncatedError);
}

}  // namespace
}  // namespace os
