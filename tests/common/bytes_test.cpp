// The checked reader and writer: running out is a state, never a read or write
// outside the bytes given.
#include "common/bytes.h"

#include <gtest/gtest.h>

#include <array>

namespace torvane {
namespace {

TEST(ByteReaderTest, ReadsBothByteOrdersAndFailsForGoodWhenShort) {
  const uint8_t data[] = {0x12, 0x34, 0x56, 0x78, 0x9A};
  ByteReader r(data, sizeof data);
  EXPECT_EQ(r.u16be(), 0x1234);
  EXPECT_EQ(r.u16le(), 0x7856);
  EXPECT_EQ(r.remaining(), 1u);
  EXPECT_EQ(r.u32be(), 0u);  // 1 byte left: refused, position kept
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.offset(), 4u);
  EXPECT_EQ(r.u8(), 0u);  // once failed, stays failed
  EXPECT_FALSE(r.ok());
}

TEST(ByteReaderTest, SubReaderEndsAtItsDeclaredLength) {
  const uint8_t data[] = {3, 0xAA, 0xBB, 0xCC, 0xDD};
  ByteReader r(data, sizeof data);
  ByteReader body = r.sub(r.u8());
  EXPECT_EQ(body.u16be(), 0xAABB);
  EXPECT_EQ(body.u16be(), 0u);  // 0xCCDD lies past the body
  EXPECT_FALSE(body.ok());
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.u8(), 0xDD);
  ByteReader tooLong = r.sub(1);
  EXPECT_FALSE(tooLong.ok());
  EXPECT_FALSE(r.ok());
}

TEST(ByteReaderTest, HugeLengthsNeitherWrapNorRead) {
  const uint8_t data[] = {1, 2, 3, 4};
  for (size_t n : {size_t{5}, SIZE_MAX, SIZE_MAX - 2}) {
    ByteReader r(data, sizeof data);
    r.u8();
    EXPECT_TRUE(r.bytes(n).empty()) << n;
    EXPECT_FALSE(r.ok()) << n;
    ByteReader s(data, sizeof data);
    s.u8();
    EXPECT_FALSE(s.skip(n)) << n;
    EXPECT_EQ(s.offset(), 1u) << n;
  }
  ByteReader none(nullptr, 100);  // no data: nothing to read, whatever the size says
  EXPECT_EQ(none.remaining(), 0u);
}

TEST(ByteWriterTest, StopsAtCapacityAndPatchesOnlyWhatWasWritten) {
  std::array<uint8_t, 8> out{};
  out.fill(0xEE);
  ByteWriter w(out.data(), 6);
  size_t length = w.reserve(2);
  w.u32be(0x01020304);
  w.u8(5);  // seventh byte: refused
  EXPECT_FALSE(w.ok());
  EXPECT_EQ(w.size(), 6u);
  w.patch_u16be(length, 0xBEEF);
  w.patch_u16be(5, 0x1111);  // would end past what was written
  EXPECT_EQ(out, (std::array<uint8_t, 8>{0xBE, 0xEF, 1, 2, 3, 4, 0xEE, 0xEE}));
  w.truncate(2);  // take back a field that did not fit whole
  EXPECT_TRUE(w.ok());
  w.u16le(0x0A0B);
  EXPECT_EQ(w.size(), 4u);
  EXPECT_EQ(out[2], 0x0B);
  EXPECT_EQ(out[3], 0x0A);
}

}  // namespace
}  // namespace torvane
