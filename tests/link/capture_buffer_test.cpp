#include "agent/link/capture_buffer.h"

#include <gtest/gtest.h>

#include <vector>

#include "agent/state/port.h"
#include "common/bytes.h"
#include "tests/support/link/recording_dispatcher.h"

namespace torvane {
namespace {

std::vector<uint8_t> Frame(size_t length, uint8_t first) {
  std::vector<uint8_t> f(length);
  for (size_t i = 0; i < length; ++i) f[i] = static_cast<uint8_t>(first + i);
  return f;
}

// Writes one record by hand, independent of AppendCaptureRecord: header of
// `hdrLen` bytes, then `present` bytes of the frame.
void PutRecord(ByteWriter& w, uint32_t capLen, uint32_t dataLen, uint16_t hdrLen,
               const std::vector<uint8_t>& bytes) {
  w.u32le(1700000000);
  w.u32le(123456);
  w.u32le(capLen);
  w.u32le(dataLen);
  w.u16le(hdrLen);
  w.zeros(hdrLen - 18);
  w.bytes(bytes.data(), bytes.size());
  while (w.size() % 4) w.u8(0xEE);
}

class CaptureRecords : public ::testing::Test {
 protected:
  Port port;
  RecordingDispatcher dispatcher;
  uint8_t buffer[4096] = {};
};

TEST_F(CaptureRecords, AppendWritesHeaderFieldsAndAlignsNextRecord) {
  size_t used = 0;
  auto a = Frame(61, 0x10);
  auto b = Frame(300, 0x80);
  ASSERT_TRUE(AppendCaptureRecord(buffer, sizeof buffer, used, 7, 8, a.data(), 61, 61));
  EXPECT_EQ(used, 84u);  // 20 + 61 = 81, padded to 84
  ASSERT_TRUE(AppendCaptureRecord(buffer, sizeof buffer, used, 9, 10, b.data(), 300, 2000));
  EXPECT_EQ(used, 84u + 320u);

  ByteReader r(buffer, used);
  EXPECT_EQ(r.u32le(), 7u);
  EXPECT_EQ(r.u32le(), 8u);
  EXPECT_EQ(r.u32le(), 61u);
  EXPECT_EQ(r.u32le(), 61u);
  EXPECT_EQ(r.u16le(), 20u);
  r.skip(2);
  EXPECT_EQ(r.bytes(61)[60], a[60]);
  EXPECT_EQ(r.u8(), 0);  // padding is zeroed
  EXPECT_EQ(r.u8(), 0);
  EXPECT_EQ(r.u8(), 0);
  EXPECT_EQ(r.offset(), 84u);
  r.skip(8);
  EXPECT_EQ(r.u32le(), 300u);
  EXPECT_EQ(r.u32le(), 2000u);
}

TEST_F(CaptureRecords, AppendRefusesRecordThatDoesNotFitWhole) {
  size_t used = 0;
  auto f = Frame(100, 1);
  std::memset(buffer, 0xAB, sizeof buffer);
  EXPECT_FALSE(AppendCaptureRecord(buffer, 119, used, 0, 0, f.data(), 100, 100));
  EXPECT_EQ(used, 0u);
  EXPECT_EQ(buffer[0], 0xAB);
  EXPECT_TRUE(AppendCaptureRecord(buffer, 120, used, 0, 0, f.data(), 100, 100));
  EXPECT_EQ(used, 120u);
}

TEST_F(CaptureRecords, RoundTripHandsEveryFrameOnInOrder) {
  size_t used = 0;
  std::vector<std::vector<uint8_t>> sent;
  for (size_t len : {60u, 61u, 62u, 63u, 64u, 1514u}) {
    sent.push_back(Frame(len, static_cast<uint8_t>(len)));
    ASSERT_TRUE(AppendCaptureRecord(buffer, sizeof buffer, used, 0, 0, sent.back().data(),
                                    static_cast<uint32_t>(len), static_cast<uint32_t>(len)));
  }
  EXPECT_EQ(DispatchBuffer(port, buffer, used, dispatcher), sent.size());
  auto got = dispatcher.Frames();
  ASSERT_EQ(got.size(), sent.size());
  for (size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(got[i].bytes, sent[i]) << "frame " << i;
    EXPECT_EQ(got[i].port, &port);
  }
}

TEST_F(CaptureRecords, FramesStartOnFourByteBoundariesAfterOddLengths) {
  ByteWriter w(buffer, sizeof buffer);
  PutRecord(w, 61, 61, 20, Frame(61, 0x01));
  size_t second = w.size();
  EXPECT_EQ(second, 84u);
  PutRecord(w, 60, 60, 20, Frame(60, 0x50));
  DispatchBuffer(port, buffer, w.size(), dispatcher);
  auto got = dispatcher.Frames();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].bytes.front(), 0x50);
  EXPECT_EQ(got[1].bytes.size(), 60u);
}

TEST_F(CaptureRecords, HeaderLengthOtherThanTwentyIsHonoured) {
  // A driver may write an 18-byte header; the frame starts where hdrLen says.
  ByteWriter w(buffer, sizeof buffer);
  PutRecord(w, 62, 62, 18, Frame(62, 0x20));  // 18 + 62 = 80: next record at 80
  PutRecord(w, 60, 60, 24, Frame(60, 0x70));
  EXPECT_EQ(DispatchBuffer(port, buffer, w.size(), dispatcher), 2u);
  auto got = dispatcher.Frames();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].bytes, Frame(62, 0x20));
  EXPECT_EQ(got[1].bytes, Frame(60, 0x70));
}

TEST_F(CaptureRecords, CapLenBelowDataLenHandsOnOnlyCapturedBytes) {
  ByteWriter w(buffer, sizeof buffer);
  PutRecord(w, 1514, 9000, 20, Frame(1514, 3));
  PutRecord(w, 60, 60, 20, Frame(60, 9));
  EXPECT_EQ(DispatchBuffer(port, buffer, w.size(), dispatcher), 2u);
  auto got = dispatcher.Frames();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].bytes.size(), 1514u);
  EXPECT_EQ(got[1].bytes, Frame(60, 9));  // the walk advances by the captured bytes
}

TEST_F(CaptureRecords, DataLenBelowCapLenHandsOnTheWireLength) {
  ByteWriter w(buffer, sizeof buffer);
  PutRecord(w, 64, 60, 20, Frame(64, 3));
  PutRecord(w, 60, 60, 20, Frame(60, 9));
  DispatchBuffer(port, buffer, w.size(), dispatcher);
  auto got = dispatcher.Frames();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].bytes.size(), 60u);
  EXPECT_EQ(got[1].bytes, Frame(60, 9));
}

TEST_F(CaptureRecords, ShortReadCutsTheLastFrameAtTheBufferEnd) {
  ByteWriter w(buffer, sizeof buffer);
  PutRecord(w, 60, 60, 20, Frame(60, 1));
  PutRecord(w, 300, 300, 20, Frame(300, 2));
  size_t shortRead = 80 + 20 + 100;  // the second frame only partly present
  EXPECT_EQ(DispatchBuffer(port, buffer, shortRead, dispatcher), 2u);
  auto got = dispatcher.Frames();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].bytes.size(), 100u);
  EXPECT_EQ(got[1].bytes.front(), 2);
}

TEST_F(CaptureRecords, HeaderCutByTheBufferEndEndsTheWalk) {
  ByteWriter w(buffer, sizeof buffer);
  PutRecord(w, 60, 60, 20, Frame(60, 1));
  PutRecord(w, 60, 60, 20, Frame(60, 2));
  EXPECT_EQ(DispatchBuffer(port, buffer, 80 + 17, dispatcher), 1u);
  EXPECT_EQ(DispatchBuffer(port, buffer, 10, dispatcher), 0u);
  EXPECT_EQ(dispatcher.Count(), 1u);
}

TEST_F(CaptureRecords, HeaderLengthPastTheEndHandsOnNothing) {
  ByteWriter w(buffer, sizeof buffer);
  PutRecord(w, 60, 60, 20, Frame(60, 1));
  // hdrLen points past the bytes read.
  ByteWriter bad(buffer + 80, sizeof buffer - 80);
  bad.zeros(8);
  bad.u32le(10);
  bad.u32le(10);
  bad.u16le(400);
  EXPECT_EQ(DispatchBuffer(port, buffer, 80 + 40, dispatcher), 1u);
}

TEST_F(CaptureRecords, HeaderShorterThanItsFieldsEndsTheWalk) {
  // hdrLen 0 with caplen 0 would otherwise never move on.
  ByteWriter w(buffer, sizeof buffer);
  w.zeros(8);
  w.u32le(0);
  w.u32le(0);
  w.u16le(0);
  w.zeros(2);
  EXPECT_EQ(DispatchBuffer(port, buffer, 64, dispatcher), 0u);
}

TEST_F(CaptureRecords, HugeCapLenDoesNotWrapTheOffset) {
  ByteWriter w(buffer, sizeof buffer);
  PutRecord(w, 0xFFFFFFFFu, 0xFFFFFFFFu, 20, Frame(100, 5));
  PutRecord(w, 60, 60, 20, Frame(60, 6));
  EXPECT_EQ(DispatchBuffer(port, buffer, w.size(), dispatcher), 1u);
  auto got = dispatcher.Frames();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].bytes.size(), w.size() - 20);  // clipped to the buffer
}

}  // namespace
}  // namespace torvane
