// The dispatcher: every drop rule in its order, insert/refresh/remove decisions
// and their counting, the per-port cap, the wireless double-SNAP form, and real
// lldpd frames end to end into the table and the log.
#include "agent/store/frame_dispatch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/text.h"
#include "tests/support/store/receive_rig.h"

namespace torvane {
namespace {

using nbrtest::Bytes;
using nbrtest::CdpFrame;
using nbrtest::LldpFrame;
using nbrtest::ReceiveRig;

constexpr uint8_t kSender[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr uint8_t kLldpdMac[6] = {0x2e, 0x26, 0xb8, 0xcf, 0xc1, 0x75};

size_t CountOf(const std::string& text, const std::string& word) {
  size_t n = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

Bytes Lldp(uint16_t ttl = 120, std::string_view name = "peer") {
  return LldpFrame().Mandatory(ttl).Tlv(5, name).End().bytes();
}

// The wireless form of a CDP frame: a second SNAP header in front and the outer
// length least significant byte first.
Bytes DoubleSnap(const Bytes& cdp) {
  size_t inner = cdp.size() - 14;
  Bytes out(cdp.begin(), cdp.begin() + 12);
  out.push_back(static_cast<uint8_t>(inner + 8));
  out.push_back(static_cast<uint8_t>((inner + 8) >> 8));
  out.insert(out.end(), {0xAA, 0xAA, 0x03, 0x00, 0x00, 0x00});
  out.insert(out.end(), cdp.begin() + 12, cdp.end());
  return out;
}

class DispatchTest : public ::testing::Test {
 protected:
  DispatchTest() : rig(2) { rig.EnableLog(); }
  RemoteTableCounters Counters() { return rig.table->Counters(); }
  void Settings(void (*change)(AgentSettings&, OutsideSettings&)) { rig.settings.Update(change); }

  ReceiveRig rig;
};

// ---- insert, refresh, remove ----

TEST_F(DispatchTest, NewSenderIsInsertedAndLogged) {
  rig.Dispatch(Lldp(120, "peer-a"));
  auto r = rig.Find(0, kSender);
  ASSERT_TRUE(r);
  EXPECT_EQ(FieldText(r->systemName), "peer-a");
  EXPECT_NE(r->selfHandle, 0u);
  EXPECT_EQ(r->localPort, 1u);
  EXPECT_EQ(Counters().inserts, 1u);
  EXPECT_EQ(Counters().drops, 0u);
  EXPECT_EQ(CountOf(rig.LogText(), " event=lldp interface=\"eth0\" "), 1u);
}

TEST_F(DispatchTest, RefreshIsNeitherLoggedNorCounted) {
  rig.Dispatch(Lldp(120, "before"));
  uint64_t handle = rig.Find(0, kSender)->selfHandle;
  rig.clock.Advance(30);
  rig.Dispatch(Lldp(120, "after"));
  auto r = rig.Find(0, kSender);
  EXPECT_EQ(r->selfHandle, handle);
  EXPECT_EQ(FieldText(r->systemName), "after");
  EXPECT_EQ(r->lastUpdate, rig.clock.Now());
  EXPECT_EQ(Counters().inserts, 1u);
  EXPECT_EQ(Counters().drops, 0u);
  EXPECT_EQ(CountOf(rig.LogText(), " event="), 1u);
}

TEST_F(DispatchTest, ShutdownFrameRemovesAKnownSenderAtOnce) {
  rig.Dispatch(Lldp(120));
  rig.Dispatch(Lldp(0));
  EXPECT_FALSE(rig.Find(0, kSender));
  EXPECT_EQ(Counters().deletes, 1u);
  EXPECT_EQ(CountOf(rig.LogText(), " event=expired "), 1u);
}

TEST_F(DispatchTest, ShutdownFrameFromAStrangerIsIgnored) {
  rig.Dispatch(Lldp(0));
  EXPECT_EQ(rig.table->Count(), 0u);
  RemoteTableCounters c = Counters();
  EXPECT_EQ(c.drops + c.inserts + c.deletes, 0u);
  EXPECT_EQ(rig.LogText(), "");
}

TEST_F(DispatchTest, MalformedFrameFromANewSenderIsCountedNotStored) {
  rig.Dispatch(LldpFrame().Chassis(7, "chassis-1").Ttl(120).PortId(5, "ge-0/0/1").End().bytes());
  EXPECT_EQ(rig.table->Count(), 0u);
  EXPECT_EQ(Counters().drops, 1u);
  EXPECT_EQ(rig.LogText(), "");
}

TEST_F(DispatchTest, FrameWithoutTtlCountsUnlessTheRecordWasRefreshedThisSecond) {
  Bytes noTtl = LldpFrame().Chassis(7, "chassis-1").PortId(5, "ge-0/0/1").Tlv(5, "x").End().bytes();
  rig.Dispatch(noTtl);  // a stranger: nothing stored, nothing counted
  EXPECT_EQ(Counters().drops, 0u);
  rig.Dispatch(Lldp(120));
  rig.Dispatch(noTtl);
  EXPECT_EQ(Counters().drops, 0u);
  rig.clock.Advance(1);
  rig.Dispatch(noTtl);
  EXPECT_EQ(Counters().drops, 1u);
  EXPECT_EQ(rig.Find(0, kSender)->ttl, 120u);
}

TEST_F(DispatchTest, LldpAndCdpFromOneSenderShareOneRecord) {
  rig.Dispatch(CdpFrame().Tlv(1, "cdp-name").Seal());
  rig.Dispatch(Lldp(120, "lldp-name"));
  EXPECT_EQ(rig.table->Count(), 1u);
  auto r = rig.Find(0, kSender);
  EXPECT_EQ(FieldText(r->systemName), "lldp-name");
  EXPECT_EQ(r->chassisIdSubtype, 7u);
  EXPECT_EQ(CountOf(rig.LogText(), " event=cdp "), 1u);
  EXPECT_EQ(CountOf(rig.LogText(), " event=lldp "), 0u);
}

TEST_F(DispatchTest, SameSenderOnTwoPortsIsTwoNeighbours) {
  rig.Dispatch(Lldp(), 0);
  rig.Dispatch(Lldp(), 1);
  EXPECT_EQ(rig.table->Count(), 2u);
  EXPECT_EQ(rig.Find(1, kSender)->localPort, 2u);
  EXPECT_EQ(FieldText(rig.Find(1, kSender)->interfaceName), "eth1");
}

// ---- drop rules, in order ----

TEST_F(DispatchTest, OwnFramesAreDroppedFromAnyPort) {
  // Port 2's own address, looped back onto port 1.
  rig.Dispatch(LldpFrame().Source({0x00, 0x11, 0x22, 0x33, 0x44, 0x51}).Mandatory().End().bytes(), 0);
  CdpFrame cdp;
  cdp.Source({0x00, 0x11, 0x22, 0x33, 0x44, 0x50}).Tlv(1, "me");
  rig.Dispatch(cdp.Seal(), 1);
  EXPECT_EQ(rig.table->Count(), 0u);
  EXPECT_EQ(Counters().drops, 0u);
  EXPECT_EQ(rig.port(1).cdpSeen.load(), 0u);
}

TEST_F(DispatchTest, DisconnectedPortHearsNothing) {
  rig.port(0).linkStatus = kLinkDisconnected;
  rig.Dispatch(Lldp());
  rig.Dispatch(CdpFrame().Tlv(1, "x").Seal());
  EXPECT_EQ(rig.table->Count(), 0u);
  EXPECT_EQ(rig.port(0).cdpSeen.load(), 0u);
}

TEST_F(DispatchTest, RxOuiKeepsOnlyOneMakersAddressBlock) {
  Settings([](AgentSettings& s, OutsideSettings&) {
    s.rxOui[0] = 0x00;
    s.rxOui[1] = 0x12;
    s.rxOui[2] = 0x0F;
  });
  rig.Dispatch(Lldp());
  rig.Dispatch(CdpFrame().Tlv(1, "x").Seal());
  EXPECT_EQ(rig.table->Count(), 0u);
  EXPECT_EQ(rig.port(0).cdpSeen.load(), 0u);
  EXPECT_EQ(Counters().drops, 0u);
  rig.Dispatch(LldpFrame().Source({0x00, 0x12, 0x0F, 0x01, 0x02, 0x03}).Mandatory().End().bytes());
  EXPECT_EQ(rig.table->Count(), 1u);
}

TEST_F(DispatchTest, LldpToOtherGroupAddressesNeedsTxMcast) {
  rig.Dispatch(LldpFrame().Destination({0x01, 0x80, 0xC2, 0x00, 0x00, 0x03}).Mandatory().End().bytes());
  rig.Dispatch(LldpFrame().Destination({0x00, 0x11, 0x22, 0x33, 0x44, 0x50}).Mandatory().End().bytes());
  // No txMcast configured (six zero bytes): a zero destination is not let in.
  rig.Dispatch(LldpFrame().Destination({0, 0, 0, 0, 0, 0}).Mandatory().End().bytes());
  EXPECT_EQ(rig.table->Count(), 0u);

  Settings([](AgentSettings& s, OutsideSettings&) {
    const uint8_t mcast[6] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x03};
    std::memcpy(s.txMcast, mcast, 6);
  });
  rig.Dispatch(LldpFrame().Destination({0x01, 0x80, 0xC2, 0x00, 0x00, 0x03}).Mandatory().End().bytes());
  EXPECT_EQ(rig.table->Count(), 1u);
  rig.Dispatch(LldpFrame()
                   .Destination({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})
                   .Source({0x02, 0, 0, 0, 0, 2})
                   .Mandatory()
                   .End()
                   .bytes());
  EXPECT_EQ(rig.table->Count(), 2u);
}

TEST_F(DispatchTest, LldpNeedsTheReceiveBitButCdpDoesNot) {
  rig.port(0).adminStatus = 1;  // transmit only
  rig.Dispatch(Lldp());
  EXPECT_EQ(rig.table->Count(), 0u);
  rig.Dispatch(CdpFrame().Tlv(1, "x").Seal());
  EXPECT_EQ(rig.table->Count(), 1u);
}

// ---- CDP ----

TEST_F(DispatchTest, CdpFrameSetsCdpSeenAndIsLogged) {
  rig.Dispatch(CdpFrame().Tlv(1, "switch-1").Seal());
  EXPECT_EQ(rig.port(0).cdpSeen.load(), rig.clock.Now());
  auto r = rig.Find(0, kSender);
  ASSERT_TRUE(r);
  EXPECT_EQ(FieldText(r->systemName), "switch-1");
  EXPECT_EQ(CountOf(rig.LogText(), " event=cdp interface=\"eth0\" "), 1u);
}

TEST_F(DispatchTest, CdpNeedsItsDestinationAndRxCdp) {
  Bytes frame = CdpFrame().Tlv(1, "x").Seal();
  Bytes elsewhere = frame;
  elsewhere[5] = 0xCD;
  rig.Dispatch(elsewhere);
  Settings([](AgentSettings& s, OutsideSettings&) { s.rxCdp = 0; });
  rig.Dispatch(frame);
  EXPECT_EQ(rig.table->Count(), 0u);
  EXPECT_EQ(rig.port(0).cdpSeen.load(), 0u);
}

TEST_F(DispatchTest, CdpShorterThan24BytesIsDropped) {
  Bytes frame = CdpFrame().Seal();
  frame.resize(23);
  rig.Dispatch(frame);
  EXPECT_EQ(rig.port(0).cdpSeen.load(), 0u);
}

TEST_F(DispatchTest, CdpWithoutItsSnapHeaderIsDropped) {
  Bytes frame = CdpFrame().Tlv(1, "x").Seal();
  frame[21] = 0x01;  // another SNAP protocol of the same maker
  rig.Dispatch(frame);
  EXPECT_EQ(rig.port(0).cdpSeen.load(), 0u);
  EXPECT_EQ(Counters().drops, 0u);
}

TEST_F(DispatchTest, CdpPaddingBeyondThe8023LengthIsNotRead) {
  Bytes frame = CdpFrame().Tlv(1, "pad").Seal();
  frame.resize(60, 0x55);  // Ethernet minimum size; the checksum covers only the PDU
  rig.Dispatch(frame);
  ASSERT_TRUE(rig.Find(0, kSender));
  EXPECT_EQ(FieldText(rig.Find(0, kSender)->systemName), "pad");
}

TEST_F(DispatchTest, Cdp8023LengthPastEnd) {
  Bytes frame = CdpFrame().Tlv(1, "x").Seal();
  frame.resize(frame.size() - 3);
  rig.Dispatch(frame);
  EXPECT_EQ(rig.table->Count(), 0u);
  EXPECT_EQ(rig.port(0).cdpSeen.load(), 0u);
  EXPECT_EQ(Counters().drops, 0u);
}

TEST_F(DispatchTest, DoubleSnapFormIsReadLikeThePlainOne) {
  Bytes plain = CdpFrame().Tlv(1, "wireless-ap").Tlv(3, "radio0").Seal();
  ASSERT_GE((plain.size() - 14 + 8) & 0xFF, 6u);  // its swapped length reads above 1500
  rig.Dispatch(DoubleSnap(plain));
  auto r = rig.Find(0, kSender);
  ASSERT_TRUE(r);
  EXPECT_EQ(FieldText(r->systemName), "wireless-ap");
  EXPECT_EQ(FieldText(r->portDescription), "radio0");
  EXPECT_EQ(rig.port(0).cdpSeen.load(), rig.clock.Now());
}

TEST_F(DispatchTest, DoubleSnapLengthPastEnd) {
  Bytes frame = DoubleSnap(CdpFrame().Tlv(1, "wireless-ap").Seal());
  uint16_t l2 = static_cast<uint16_t>((frame[20] << 8 | frame[21]) + 40);  // claims 40 more
  frame[20] = static_cast<uint8_t>(l2 >> 8);
  frame[21] = static_cast<uint8_t>(l2);
  frame[12] = static_cast<uint8_t>(l2 + 8);
  frame[13] = static_cast<uint8_t>((l2 + 8) >> 8);
  rig.Dispatch(frame);
  EXPECT_EQ(rig.table->Count(), 0u);
  EXPECT_EQ(rig.port(0).cdpSeen.load(), 0u);
  EXPECT_EQ(Counters().drops, 0u);
}

TEST_F(DispatchTest, DoubleSnapOuterLengthMismatch) {
  Bytes frame = DoubleSnap(CdpFrame().Tlv(1, "wireless-ap").Seal());
  frame[12] ^= 0x01;
  rig.Dispatch(frame);
  EXPECT_EQ(rig.port(0).cdpSeen.load(), 0u);
}

TEST_F(DispatchTest, DoubleSnapWithoutTheInnerSnapHeader) {
  Bytes frame = DoubleSnap(CdpFrame().Tlv(1, "wireless-ap").Seal());
  frame[27] = 0x00;  // SNAP OUI 00-00-00 instead of the maker's
  rig.Dispatch(frame);
  EXPECT_EQ(rig.port(0).cdpSeen.load(), 0u);
}

TEST_F(DispatchTest, DoubleSnapCutBeforeItsInnerHeader) {
  Bytes frame = DoubleSnap(CdpFrame().Seal());
  frame.resize(25);
  rig.Dispatch(frame);
  EXPECT_EQ(rig.port(0).cdpSeen.load(), 0u);
}

// ---- the per-port cap ----

TEST_F(DispatchTest, FullPortDropsNewSendersBeforeParsingOrLogging) {
  Settings([](AgentSettings&, OutsideSettings& o) { o.MaxNeighbors = 3; });
  for (uint8_t i = 1; i <= 3; ++i)
    rig.Dispatch(LldpFrame().Source({0x02, 0, 0, 0, 0, i}).Mandatory().End().bytes());
  EXPECT_EQ(rig.table->Count(), 3u);
  std::string logBefore = rig.LogText();

  rig.Dispatch(LldpFrame().Source({0x02, 0, 0, 0, 0, 4}).Mandatory().End().bytes());
  CdpFrame cdp;
  cdp.Source({0x02, 0, 0, 0, 0, 5}).Tlv(1, "cdp-flood");
  rig.Dispatch(cdp.Seal());
  // A malformed frame from a new sender counts once, as a drop at the cap.
  rig.Dispatch(LldpFrame().Source({0x02, 0, 0, 0, 0, 6}).Ttl(9).End().Raw(Bytes(20, 0)).bytes());
  EXPECT_EQ(rig.table->Count(), 3u);
  EXPECT_EQ(Counters().drops, 3u);
  EXPECT_EQ(rig.LogText(), logBefore);

  // Known neighbours keep refreshing; other ports still take new ones.
  rig.clock.Advance(10);
  rig.Dispatch(LldpFrame().Source({0x02, 0, 0, 0, 0, 2}).Mandatory().End().bytes());
  EXPECT_EQ(rig.Find(0, {0x02, 0, 0, 0, 0, 2})->lastUpdate, rig.clock.Now());
  rig.Dispatch(LldpFrame().Source({0x02, 0, 0, 0, 0, 4}).Mandatory().End().bytes(), 1);
  EXPECT_EQ(rig.table->Count(), 4u);
  EXPECT_EQ(Counters().drops, 3u);
}

// ---- LLDP-MED and CDP answer ----

TEST_F(DispatchTest, HeardEndpointStartsFastStartOnceWithEverythingRecordedFirst) {
  Settings([](AgentSettings& s, OutsideSettings&) { s.MedDevType = 4; });
  Bytes endpoint = nbrtest::ReadFixture("lldpd_lldp_med_endpoint.bin");
  // What the cycle that the request starts would find on the port.
  uint32_t seen = 0, active = 0, count = 0;
  rig.cycles.onRequest = [&] {
    seen = rig.port(0).medEndpointSeen;
    active = rig.port(0).medActive;
    count = rig.port(0).fastStartCount;
  };
  rig.Dispatch(endpoint);
  EXPECT_EQ(rig.cycles.runs.load(), 1);
  EXPECT_EQ(seen, rig.clock.Now());
  EXPECT_EQ(active, 1u);
  EXPECT_EQ(count, 4u);
  rig.clock.Advance(5);
  rig.Dispatch(endpoint);
  EXPECT_EQ(rig.cycles.runs.load(), 1);
  EXPECT_EQ(rig.port(0).medEndpointSeen.load(), rig.clock.Now());
}

TEST_F(DispatchTest, RefusedCdpChecksumIsTracedOnlyWhenDebugging) {
  Bytes frame = CdpFrame().Tlv(1, "dev").Seal(0x1234);
  rig.Dispatch(frame);
  EXPECT_EQ(rig.console.Text(), "");
  rig.debugLevel = 1;
  rig.Dispatch(frame);
  EXPECT_EQ(rig.console.Text(), "cdp version 2, packet 11 checksum errror 1234\n");
  EXPECT_EQ(rig.table->Count(), 0u);
}

// ---- real lldpd frames end to end ----

TEST_F(DispatchTest, LldpdNeighbourIsLoggedThenRemovedByItsShutdownFrame) {
  rig.Dispatch(nbrtest::ReadFixture("lldpd_lldp_med_endpoint.bin"));
  ASSERT_TRUE(rig.Find(0, kLldpdMac));
  // 100000 s after 1970 is 1970-01-02 03:46:40 UTC, 04:46:40 at +0100.
  EXPECT_EQ(rig.LogText(),
            "1970-01-02 04:46:40 +0100 event=lldp interface=\"eth0\" interface-ip-addr=192.168.1.10 "
            "chassisId=\"2e26b8cfc175\" chassis=\"fixture-peer\" portId=\"2e26b8cfc175\" "
            "port=\"veth0\" port-ip-addr=10.77.0.1 lastUpdate=\"1970-01-02 04:46:40\" "
            "capabilities=barS discovered=\"1970-01-02 04:46:40\" "
            "description=\"Fixture system description\" mode=\"\" \n");

  // The CDP frame lldpd sends beside it changes nothing: LLDP's data is kept.
  rig.Dispatch(nbrtest::ReadFixture("lldpd_cdp.bin"));
  auto r = rig.Find(0, kLldpdMac);
  EXPECT_EQ(r->chassisIdSubtype, 4u);
  EXPECT_EQ(FieldText(r->systemDescription), "Fixture system description");
  EXPECT_EQ(rig.port(0).cdpSeen.load(), rig.clock.Now());
  EXPECT_EQ(Counters().drops, 0u);  // refreshed by LLDP this very second
  rig.clock.Advance(1);
  rig.Dispatch(nbrtest::ReadFixture("lldpd_cdp.bin"));
  EXPECT_EQ(Counters().drops, 1u);

  // The shutdown frame carries only the IDs and TTL 0: the log still says which
  // neighbour left, with everything it was known by.
  rig.Dispatch(nbrtest::ReadFixture("lldpd_lldp_shutdown.bin"));
  EXPECT_FALSE(rig.Find(0, kLldpdMac));
  const std::string log = rig.LogText();
  EXPECT_EQ(log.substr(log.find("\n") + 1),
            "1970-01-02 04:46:41 +0100 event=expired interface=\"eth0\" interface-ip-addr=192.168.1.10 "
            "chassisId=\"2e26b8cfc175\" chassis=\"fixture-peer\" portId=\"2e26b8cfc175\" "
            "port=\"veth0\" port-ip-addr=10.77.0.1 lastUpdate=\"1970-01-02 04:46:41\" "
            "capabilities=barS discovered=\"1970-01-02 04:46:40\" "
            "description=\"Fixture system description\" mode=\"\" \n");
}

TEST_F(DispatchTest, LldpdCdpAloneMakesACdpNeighbour) {
  rig.Dispatch(nbrtest::ReadFixture("lldpd_cdp.bin"));
  auto r = rig.Find(0, kLldpdMac);
  ASSERT_TRUE(r);
  EXPECT_EQ(FieldText(r->systemName), "fixture-peer");
  EXPECT_EQ(CountOf(rig.LogText(), " event=cdp "), 1u);
}

TEST_F(DispatchTest, LoggedValuesCannotBreakTheLine) {
  rig.Dispatch(Lldp(120, "evil\n1970-01-01 00:00:00 +0000 event=start \x1b[31m"));
  std::string text = rig.LogText();
  EXPECT_EQ(CountOf(text, "\n"), 1u);
  EXPECT_NE(text.find(" chassis=\"evil?1970-01-01 00:00:00 +0000 event=start ?[31m\" "),
            std::string::npos);
}

// Every prefix of real frames: whatever length is captured, nothing beyond it
// is read (checked by the address sanitizer) and nothing half-read is stored.
TEST_F(DispatchTest, EveryCapturedPrefixIsReadInBounds) {
  Settings([](AgentSettings& s, OutsideSettings&) { s.Log = 0; });
  const char* fixtures[] = {"lldpd_lldp_shutdown.bin", "lldpd_lldp_med_endpoint.bin",
                            "lldpd_lldp_med_network.bin", "lldpd_cdp.bin"};
  Bytes wireless = DoubleSnap(nbrtest::ReadFixture("lldpd_cdp.bin"));
  for (int k = 0; k < 5; ++k) {
    Bytes frame = k < 4 ? nbrtest::ReadFixture(fixtures[k]) : wireless;
    ASSERT_FALSE(frame.empty());
    for (size_t n = 0; n < frame.size(); ++n) rig.Dispatch(Bytes(frame.begin(), frame.begin() + n));
  }
  // Cut CDP frames fail their 802.3 length; cut LLDP frames that still hold their
  // TTL are whole enough to store.
  auto r = rig.Find(0, kLldpdMac);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->ttl, 20u);
}

}  // namespace
}  // namespace torvane
