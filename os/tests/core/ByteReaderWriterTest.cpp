#include <gtest/gtest.h>

#include "os/core/ByteReader.h"
#include "os/core/ByteWriter.h"

namespace os {
namespace {

TEST(ByteReaderWriter, FrameRoundTripsBigEndian) {
  ByteWriter w(16);
  w.u16(0).u8(0xAB).u16(0x0102).u32(0xDEADBEEF).u64(0x0102030405060708ull).text("hi");
  w.putU16(0, static_cast<std::uint16_t>(w.size()));
  const Data frame = w.data();
  EXPECT_EQ(frame, (Data{0x00, 0x13, 0xAB, 0x01, 0x02, 0xDE, 0xAD, 0xBE, 0xEF,
                         1, 2, 3, 4, 5, 6, 7, 8, 'h', 'i'}));
  EXPECT_THROW(w.putU32(w.size() - 3, 1), Exception);

  ByteReader r(frame);
  EXPECT_EQ(r.u16(), 19);
  EXPECT_EQ(r.u8(), 0xAB);
  EXPECT_EQ(r.u16(), 0x0102);
  EXPECT_EQ(r.u32(), 0xDEADBEEFu);
  EXPECT_EQ(r.u64(), 0x0102030405060708ull);
  EXPECT_EQ(r.text(2), "hi");
  EXPECT_TRUE(r.atEnd());
  EXPECT_FALSE(r.ranShort());
}

TEST(ByteReaderWriter, ShortReadsAreReportedAndReadNothing) {
  const Data three{0x01, 0x02, 0x03};
  ByteReader r(three);
  EXPECT_EQ(r.u8(), 1);
  EXPECT_EQ(r.u32(), std::nullopt);  // two bytes left: no partial value
  EXPECT_TRUE(r.ranShort());
  EXPECT_EQ(r.position(), 1u);
  EXPECT_EQ(r.bytes(3), std::nullopt);
  EXPECT_EQ(r.text(SIZE_MAX), std::nullopt);  // a hostile count does not wrap
  EXPECT_FALSE(r.skip(SIZE_MAX));
  EXPECT_FALSE(r.seek(4));
  EXPECT_EQ(r.u16(), 0x0203);
  EXPECT_EQ(r.u8(), std::nullopt);
  ByteReader empty(nullptr, 0);
  EXPECT_EQ(empty.u8(), std::nullopt);
}

}  // namespace
}  // namespace os
