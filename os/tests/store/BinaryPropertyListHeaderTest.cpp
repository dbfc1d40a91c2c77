// A binary property list whose object table points into its 8-byte header: the header bytes
// "bplist00" read as UTF-16 text from offsets 0 and 3, so only the offset check keeps them out.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "os/store/PropertyList.h"

namespace {

// One object, a 14-character ASCII string at offset 8, listed at the given offset.
os::Data listWithObjectAt(std::uint8_t offset) {
  std::string bytes = "bplist00";
  bytes += '\x5E';
  bytes += "abcdefghijklmn";
  const std::uint64_t tableOffset = bytes.size();
  bytes += static_cast<char>(offset);
  os::Data d(bytes.begin(), bytes.end());
  auto be = [&](std::uint64_t v, int n) {
    for (int i = n - 1; i >= 0; --i) d.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  be(0, 6);
  d.push_back(1);  // offset size
  d.push_back(1);  // reference size
  be(1, 8);        // objects
  be(0, 8);        // top object
  be(tableOffset, 8);
  return d;
}

TEST(BinaryPropertyList, AnObjectOffsetInsideTheHeaderIsRefused) {
  auto fine = os::PropertyList::read(listWithObjectAt(8));
  ASSERT_TRUE(fine);
  EXPECT_EQ(fine->stringOr(), "abcdefghijklmn");
  for (std::uint8_t offset : {0, 3, 7}) {
    os::Error error;
    EXPECT_FALSE(os::PropertyList::read(listWithObjectAt(offset), nullptr, &error)) << int(offset);
    EXPECT_FALSE(error.domain.empty()) << int(offset);
  }
}

}  // namespace
