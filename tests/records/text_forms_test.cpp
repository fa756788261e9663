// The text forms that the event log, the traces and every program print records
// with: IDs, capability letters, modes, addresses, zone offsets, and the
// replacement of control characters from the wire.
#include "records/text_forms.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>

#include "common/mac.h"

namespace torvane {
namespace {

TEST(TextForms, ZeroLengthIdGivesEmptyValueAndOversizedLengthIsBounded) {
  IdField id{};
  EXPECT_EQ(FormatIdField(id, false), "");
  EXPECT_EQ(FormatIdField(id, true), "");
  id.length = 255;  // a record image from elsewhere: never read past the field
  std::memset(id.bytes, 'a', sizeof id.bytes);
  EXPECT_EQ(FormatIdField(id, true).size(), 67u);
  EXPECT_EQ(FormatIdField(id, false).size(), 134u);
  id.length = 3;
  std::memcpy(id.bytes, "a\0b", 3);
  EXPECT_EQ(FormatIdField(id, true), "a");
  EXPECT_EQ(FormatIdField(id, false), "610062");
}

TEST(TextForms, CapabilityLetters) {
  EXPECT_EQ(CapabilityLetters(0x14, 0x04), "Br");
  EXPECT_EQ(CapabilityLetters(0xFF, 0xFF), "OEBARTCS");
  EXPECT_EQ(CapabilityLetters(0xFF, 0x00), "oebartcs");
  EXPECT_EQ(CapabilityLetters(0x80, 0x80), "S");
  EXPECT_EQ(CapabilityLetters(0xFF00, 0xFF00), "");  // bits above 7 are not shown
  EXPECT_EQ(CapabilityLetters(0, 0x04), "B");        // enabled without supported
}

TEST(TextForms, ModeText) {
  EXPECT_EQ(ModeText(0), "");
  EXPECT_EQ(ModeText(1), "FD");
  EXPECT_EQ(ModeText(2), "10M ");
  EXPECT_EQ(ModeText(3), "10M FD");
  EXPECT_EQ(ModeText(5), "100M FD");
  EXPECT_EQ(ModeText(6), "1000M ");
  EXPECT_EQ(ModeText(7), "1000M FD");
}

TEST(TextForms, AddressesAndZoneOffsets) {
  const uint8_t a[4] = {10, 0, 255, 1};
  EXPECT_EQ(FormatIpv4(a), "10.0.255.1");
  const uint8_t zero[4] = {};
  EXPECT_EQ(FormatIpv4(zero), "0.0.0.0");
  EXPECT_EQ(FormatIpv4OrEmpty(zero), "");
  const uint8_t mac[6] = {0x00, 0x1b, 0x54, 0xAA, 0x0b, 0xFF};
  EXPECT_EQ(FormatMac(mac), "00:1b:54:aa:0b:ff");
  EXPECT_EQ(ZoneOffsetText(0), " +0000");
  EXPECT_EQ(ZoneOffsetText(3600), " +0100");
  EXPECT_EQ(ZoneOffsetText(20700), " +0545");
  EXPECT_EQ(ZoneOffsetText(-12600), " -0330");
  EXPECT_EQ(ZoneOffsetText(-36000), " -1000");
}

TEST(TextForms, SanitizerKeepsValidUtf8AndReplacesControls) {
  EXPECT_EQ(SanitizeText("plain \"text\""), "plain \"text\"");
  EXPECT_EQ(SanitizeText(std::string("a\0b\tc\rd", 7)), "a?b?c?d");
  EXPECT_EQ(SanitizeText("\xC2\x80\xC2\x9F\xC2\xA0"), "??\xC2\xA0");
  EXPECT_EQ(SanitizeText("\x80\x9F\xA0\xFF"), "??\xA0\xFF");
  EXPECT_EQ(SanitizeText("\xC2"), "\xC2");  // cut sequence: the lead byte is no control
  EXPECT_EQ(SanitizeText("\xE2\x82\xAC \xF0\x9F\x98\x80"), "\xE2\x82\xAC \xF0\x9F\x98\x80");
  // An overlong or surrogate form is no valid sequence: its 0x80..0x9F bytes go.
  EXPECT_EQ(SanitizeText("\xE0\x80\x80"), "\xE0??");
  EXPECT_EQ(SanitizeText("\xED\xA0\x80"), "\xED\xA0?");
}

// The local time of a record with the zone offset in effect then.
class FixedZone : public LocalTimeSource {
 public:
  explicit FixedZone(long offset) : offset_(offset) {}
  bool LocalTime(time_t t, std::tm& out, long& gmtoffSeconds) override {
    if (t < 0) return false;
    time_t local = t + offset_;
    gmtoffSeconds = offset_;
    const std::tm* utc = std::gmtime(&local);  // one thread here
    if (!utc) return false;
    out = *utc;
    return true;
  }

 private:
  long offset_;
};

TEST(TextForms, TimestampsCarryTheirZoneOffset) {
  FixedZone cet(3600);
  EXPECT_EQ(FormatLocalTime(cet, 1668765925), "2022-11-18 11:05:25");
  EXPECT_EQ(FormatTimestamp(cet, 1668765925), "2022-11-18 11:05:25 +0100");
  FixedZone newfoundland(-12600);
  EXPECT_EQ(FormatTimestamp(newfoundland, 86400), "1970-01-01 20:30:00 -0330");
  EXPECT_EQ(FormatLocalTime(cet, -1), "");  // no conversion: no text
}

}  // namespace
}  // namespace torvane
