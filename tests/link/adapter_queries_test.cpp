// The adapter property queries: the OID answers of the Linux host, the packet
// driver path and the adapter device path, their stores, sizes and traces.
#include "agent/link/adapter_queries.h"

#include <gtest/gtest.h>
#include <net/if.h>

#include <cstring>
#include <map>
#include <vector>

#include "agent/link/adapter_discovery.h"
#include "common/bytes.h"
#include "common/text.h"
#include "tests/support/link/fake_net_host.h"

namespace torvane {
namespace {

constexpr std::array<uint8_t, 6> kMac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};

std::vector<uint8_t> U32(uint32_t v) {
  std::vector<uint8_t> b(4);
  ByteWriter w(b.data(), b.size());
  w.u32le(v);
  return b;
}

// NDIS_LINK_STATE answer of `size` bytes (40 = whole).
std::vector<uint8_t> LinkState(uint32_t connect, uint32_t duplex, uint64_t xmit, uint64_t rcv,
                               uint32_t autoNeg, size_t size = 40) {
  std::vector<uint8_t> b(40);
  ByteWriter w(b.data(), b.size());
  w.u8(0x80);
  w.u8(1);
  w.u16le(40);
  w.u32le(connect);
  w.u32le(duplex);
  w.u32le(0);
  w.u64le(xmit);
  w.u64le(rcv);
  w.u32le(0);
  w.u32le(autoNeg);
  b.resize(size);
  return b;
}

uint32_t ReadU32(const uint8_t* p) {
  ByteReader r(p, 4);
  return r.u32le();
}

// Answers scripted per OID (absent = the request fails); records every request.
class ScriptedDriver : public OidRequester {
 public:
  bool AdapterRequest(Port&, bool set, PacketOidData& request) override {
    if (set) {
      sets.emplace_back(request.Oid,
                        std::vector<uint8_t>(request.Data, request.Data + request.Length));
      return acceptSets;
    }
    queries.push_back(request.Oid);
    auto it = answers.find(request.Oid);
    if (it == answers.end() || it->second.size() > request.Length) return false;
    std::memcpy(request.Data, it->second.data(), it->second.size());
    request.Length = static_cast<uint32_t>(it->second.size());
    return true;
  }
  bool Asked(uint32_t oid) const {
    return std::find(queries.begin(), queries.end(), oid) != queries.end();
  }
  std::map<uint32_t, std::vector<uint8_t>> answers;
  std::vector<uint32_t> queries;
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> sets;
  bool acceptSets = true;
};

class ScriptedDevice : public AdapterDevice {
 public:
  bool QueryGlobalStats(uint32_t oid, uint8_t* out, uint32_t room, uint32_t& returned) override {
    auto it = answers.find(oid);
    if (it == answers.end() || it->second.size() > room) return false;
    std::memcpy(out, it->second.data(), it->second.size());
    returned = static_cast<uint32_t>(it->second.size());
    return true;
  }
  std::map<uint32_t, std::vector<uint8_t>> answers;
};

// ---- the host's answers ----

class OidAnswers : public ::testing::Test {
 protected:
  OidAnswers() { host.AddEthernet("eth0", 2, kMac, 1500); }
  std::vector<uint8_t> Ask(uint32_t oid, uint32_t room = 256, bool* ok = nullptr) {
    std::vector<uint8_t> data(room);
    uint32_t length = 0;
    bool answered = AnswerOidQuery(host, "eth0", oid, data.data(), room, length);
    if (ok) *ok = answered;
    EXPECT_TRUE(ok || answered) << std::hex << oid;
    data.resize(length);
    return data;
  }
  FakeNetHost host;
};

TEST_F(OidAnswers, AnswersHaveTheirRecordSizes) {
  EXPECT_EQ(Ask(OID_802_3_CURRENT_ADDRESS), std::vector<uint8_t>(kMac.begin(), kMac.end()));
  EXPECT_EQ(Ask(OID_GEN_MEDIA_IN_USE), U32(0));
  EXPECT_EQ(Ask(OID_GEN_HARDWARE_STATUS), U32(0));
  EXPECT_EQ(Ask(OID_GEN_LINK_SPEED), U32(10000000));  // 1 Gbit/s in 100 bit/s
  EXPECT_EQ(Ask(OID_GEN_MAXIMUM_TOTAL_SIZE), U32(1514));
  EXPECT_EQ(Ask(OID_GEN_MAXIMUM_LOOKAHEAD), U32(1500));
  EXPECT_EQ(Ask(OID_GEN_MEDIA_CONNECT_STATUS), U32(0));
  EXPECT_EQ(Ask(OID_GEN_MEDIA_DUPLEX_STATE), U32(2));
  EXPECT_EQ(Ask(OID_GEN_MAC_OPTIONS), U32(kNdisMacOptionFullDuplex));
  EXPECT_EQ(Ask(OID_GEN_PHYSICAL_MEDIUM), U32(kNdisPhysicalMedium802_3));
  EXPECT_EQ(Ask(OID_GEN_VLAN_ID), U32(0));
  EXPECT_EQ(Ask(OID_GEN_CURRENT_PACKET_FILTER), U32(0x0B));  // directed, multicast, broadcast
  EXPECT_EQ(Ask(OID_GEN_LINK_STATE), LinkState(1, 2, 1000000000, 1000000000, 7));
  auto description = Ask(OID_GEN_VENDOR_DESCRIPTION);
  EXPECT_EQ(std::string(description.begin(), description.end()), std::string("e1000e\0", 7));
}

TEST_F(OidAnswers, UnknownSpeedAndDuplex) {
  host.interfaces["eth0"].link = EthtoolLink{};  // speed -1, duplex 255, autoneg off
  EXPECT_EQ(Ask(OID_GEN_LINK_SPEED), U32(0));
  EXPECT_EQ(Ask(OID_GEN_MEDIA_DUPLEX_STATE), U32(0));
  EXPECT_EQ(Ask(OID_GEN_MAC_OPTIONS), U32(0));
  EXPECT_EQ(Ask(OID_GEN_LINK_STATE), LinkState(1, 0, kNdisLinkSpeedUnknown, kNdisLinkSpeedUnknown, 0));
  host.interfaces["eth0"].link.reset();  // no ethtool at all
  EXPECT_EQ(Ask(OID_GEN_LINK_SPEED), U32(0));
  EXPECT_EQ(Ask(OID_GEN_LINK_STATE), LinkState(1, 0, kNdisLinkSpeedUnknown, kNdisLinkSpeedUnknown, 0));
}

TEST_F(OidAnswers, SpeedsSaturateInsteadOfWrapping) {
  host.interfaces["eth0"].link->speedMbps = 800000;  // 800 Gbit/s: 8e9 units of 100 bit/s
  EXPECT_EQ(Ask(OID_GEN_LINK_SPEED), U32(0xFFFFFFFF));
  // The link state carries 64-bit bit/s and needs no saturation.
  EXPECT_EQ(Ask(OID_GEN_LINK_STATE), LinkState(1, 2, 800000000000, 800000000000, 7));
  EthtoolLink veth;
  veth.speedMbps = 10000;
  EXPECT_EQ(SpeedBitsPerSecond(veth), 0xFFFFFFFFu);
  veth.speedMbps = 100;
  EXPECT_EQ(SpeedBitsPerSecond(veth), 100000000u);
  veth.speedMbps = EthtoolLink::kUnknownSpeed;
  EXPECT_EQ(SpeedBitsPerSecond(veth), 0u);
}

TEST_F(OidAnswers, DownInterfaceIsNotReadyAndDisconnected) {
  host.interfaces["eth0"].flags = IFF_BROADCAST | IFF_MULTICAST;
  EXPECT_EQ(Ask(OID_GEN_HARDWARE_STATUS), U32(kNdisHardwareStatusNotReady));
  EXPECT_EQ(Ask(OID_GEN_MEDIA_CONNECT_STATUS), U32(1));
  EXPECT_EQ(Ask(OID_GEN_CURRENT_PACKET_FILTER), U32(0));
  EXPECT_EQ(ReadU32(Ask(OID_GEN_LINK_STATE).data() + 4), 2u);
  host.interfaces["eth0"].flags = IFF_UP | IFF_BROADCAST | IFF_PROMISC | IFF_ALLMULTI;
  EXPECT_EQ(Ask(OID_GEN_MEDIA_CONNECT_STATUS), U32(1));  // up without carrier
  EXPECT_EQ(Ask(OID_GEN_CURRENT_PACKET_FILTER), U32(0x01 | 0x08 | 0x04 | 0x20));
}

TEST_F(OidAnswers, WirelessVlanAndOtherMedia) {
  host.interfaces["eth0"].entries.insert("phy80211");
  host.interfaces["eth0"].vlanId = 100;
  EXPECT_EQ(Ask(OID_GEN_PHYSICAL_MEDIUM), U32(kNdisPhysicalMediumNative802_11));
  EXPECT_EQ(Ask(OID_GEN_MEDIA_IN_USE), U32(kNdisMedium802_3));  // wireless still frames as 802.3
  EXPECT_EQ(Ask(OID_GEN_VLAN_ID), U32(100));
  host.interfaces["eth0"].attributes["type"] = "772";
  EXPECT_NE(ReadU32(Ask(OID_GEN_MEDIA_IN_USE).data()), kNdisMedium802_3);
}

TEST_F(OidAnswers, RefusesWhatDoesNotFitOrIsNotAsked) {
  bool ok = true;
  std::vector<std::array<uint8_t, 6>> many(43, std::array<uint8_t, 6>{0x01, 0x00, 0x5e, 0, 0, 1});
  host.interfaces["eth0"].multicast = many;  // 258 bytes
  Ask(OID_802_3_MULTICAST_LIST, 256, &ok);
  EXPECT_FALSE(ok);
  many.pop_back();
  host.interfaces["eth0"].multicast = many;  // 252 bytes
  EXPECT_EQ(Ask(OID_802_3_MULTICAST_LIST, 256, &ok).size(), 252u);
  EXPECT_TRUE(ok);
  Ask(OID_802_3_CURRENT_ADDRESS, 4, &ok);
  EXPECT_FALSE(ok);
  Ask(0x00010101 /* OID_GEN_SUPPORTED_LIST */, 256, &ok);
  EXPECT_FALSE(ok);
  uint8_t data[8];
  uint32_t length = 99;
  EXPECT_FALSE(AnswerOidQuery(host, "eth9", OID_GEN_LINK_SPEED, data, 8, length));
  EXPECT_EQ(length, 0u);
}

TEST_F(OidAnswers, LookaheadSetUpToTheMtuOnly) {
  auto at = [&](uint32_t oid, uint32_t v) {
    auto b = U32(v);
    return AnswerOidSet(host, "eth0", oid, b.data(), 4);
  };
  EXPECT_TRUE(at(OID_GEN_CURRENT_LOOKAHEAD, 1500));
  EXPECT_FALSE(at(OID_GEN_CURRENT_LOOKAHEAD, 1501));
  EXPECT_FALSE(at(OID_GEN_CURRENT_PACKET_FILTER, 0x0B));  // the packet back-end's to set
}

// ---- the packet driver path ----

class PacketDriverQueries : public ::testing::Test {
 protected:
  PacketDriverQueries() { port.SetDeviceName("eth0"); }
  Port port;
  CaptureTrace trace;
  ScriptedDriver driver;
  QueryPath q{driver, trace};
};

TEST_F(PacketDriverQueries, OpenSequenceOverTheHostFillsThePort) {
  FakeNetHost host;
  host.AddEthernet("eth0", 2, kMac, 9000);
  host.interfaces["eth0"].multicast = {{0x01, 0x00, 0x5e, 0x00, 0x00, 0x01}};
  HostOidRequester requester(host);
  QueryPath hq{requester, trace};
  uint8_t mac[6];
  uint32_t v = 0;
  ASSERT_TRUE(QueryMacAddress(hq, port, mac));
  port.macAddress.store(mac);
  ASSERT_TRUE(QueryMediaInUse(hq, port, v));
  port.mediaSupported = v;
  ASSERT_TRUE(QueryHardwareStatus(hq, port, v));
  port.state = v;
  QueryMissingPortFacts(hq, port);
  EXPECT_TRUE(RefreshLinkProperties(hq, port));
  EXPECT_TRUE(SetMaxLookahead(hq, port));

  EXPECT_TRUE(port.macAddress.equals(kMac.data()));
  EXPECT_EQ(port.mediaSupported, 1u);
  EXPECT_EQ(port.state, kPortReady);
  EXPECT_EQ(port.packetFilter, 0x0Bu);
  EXPECT_EQ(port.maxFrameSize, 9018u);  // MTU + 14 + 4
  EXPECT_EQ(port.vlanId, 0u);
  EXPECT_EQ(port.ifType, 6u);
  EXPECT_EQ(port.multicastListLen, 6u);
  EXPECT_EQ(port.linkStatus, kLinkConnected);
  EXPECT_EQ(port.duplex, 2u);
  EXPECT_EQ(port.linkSpeed, 10000000u);
  EXPECT_EQ(port.autoNeg, 7u);
  EXPECT_EQ(trace.text,
            "MAC address: 02:00:00:00:00:01\n"
            "MediaList: 0\n"
            "HardwareStatus: 0\n"
            "Filter: b\n"
            "Max.Size: 9014\n"
            "VlanID: 0\n"
            "Phys.Medium: e\n"
            "MulticastList: 01005e000001\n"
            "LinkState:\n"
            "  Media 1\n"
            "  Duplex 2\n"
            "  XmitSpeed 1000000000B/s\n"
            "  RcvSpeed 1000000000B/s\n"
            "  PauseFunction 0\n"
            "  AutoNeg 7\n"
            "SetMaxLookahead: 9000\n");
}

TEST_F(PacketDriverQueries, VanishedAdapterTracesEveryFailureAndStoresNothing) {
  FakeNetHost host;
  HostOidRequester requester(host);
  QueryPath hq{requester, trace};
  uint8_t mac[6] = {9, 9, 9, 9, 9, 9};
  char text[8] = "x";
  uint32_t v = 77;
  EXPECT_FALSE(QueryMacAddress(hq, port, mac));
  EXPECT_FALSE(QueryVendorDescription(hq, port, text, sizeof text));
  EXPECT_FALSE(QueryMediaInUse(hq, port, v));
  EXPECT_FALSE(QueryHardwareStatus(hq, port, v));
  EXPECT_FALSE(RefreshLinkProperties(hq, port));
  EXPECT_FALSE(SetMaxLookahead(hq, port));
  EXPECT_EQ(mac[0], 9);
  EXPECT_EQ(text[0], 0);  // emptied first
  EXPECT_EQ(v, 77u);
  EXPECT_EQ(trace.text,
            "MAC address failed\nAdapter Desc failed\nMediaList failed\nHardwareStatus failed\n"
            "LinkState failed\nMediaStatus failed\nSetMaxLookahead failed\n");
  EXPECT_EQ(port.linkStatus, kLinkUnknown);
}

TEST_F(PacketDriverQueries, NothingIsTracedWhileTracingIsOff) {
  trace.on = false;
  driver.answers[OID_GEN_LINK_SPEED] = U32(1000);
  uint32_t v = 0;
  EXPECT_TRUE(QueryLinkSpeed(q, port, v));
  EXPECT_FALSE(QueryDuplex(q, port, v));
  EXPECT_EQ(trace.text, "");
}

TEST_F(PacketDriverQueries, UnknownReceiveSpeedLeavesTheSpeed) {
  driver.answers[OID_GEN_LINK_STATE] = LinkState(1, 1, kNdisLinkSpeedUnknown, kNdisLinkSpeedUnknown, 0);
  uint32_t connect = 0, duplex = 0, speed = 1234, autoNeg = 5;
  ASSERT_TRUE(QueryLinkState(q, port, connect, duplex, speed, autoNeg));
  EXPECT_EQ(speed, 1234u);
  EXPECT_EQ(connect, 1u);
  EXPECT_EQ(duplex, 1u);
  EXPECT_EQ(autoNeg, 0u);
  EXPECT_NE(trace.text.find("  RcvSpeed -1B/s\n"), std::string::npos);
  // The refresh then asks the speed itself.
  driver.answers[OID_GEN_LINK_SPEED] = U32(1000000);
  EXPECT_TRUE(RefreshLinkProperties(q, port));
  EXPECT_EQ(port.linkSpeed, 1000000u);
  EXPECT_EQ(port.duplex, 1u);  // half, as only the link state reports it
  EXPECT_NE(trace.text.find("LinkSpeed: 100000KB/s\n"), std::string::npos);
}

TEST_F(PacketDriverQueries, ReceiveSpeedSaturatesInHundredBitUnits) {
  driver.answers[OID_GEN_LINK_STATE] = LinkState(1, 2, 0, 800000000000, 0);
  uint32_t connect = 0, duplex = 0, speed = 0, autoNeg = 0;
  ASSERT_TRUE(QueryLinkState(q, port, connect, duplex, speed, autoNeg));
  EXPECT_EQ(speed, 0xFFFFFFFFu);
}

TEST_F(PacketDriverQueries, RefreshFillsOnlyFieldsThatAreZero) {
  driver.answers[OID_GEN_LINK_STATE] = LinkState(2, 1, 100000000, 100000000, 7);
  port.linkStatus = kLinkConnected;
  port.duplex = 2;
  port.linkSpeed = 10000000;
  EXPECT_TRUE(RefreshLinkProperties(q, port));
  EXPECT_EQ(port.linkStatus, kLinkConnected);
  EXPECT_EQ(port.duplex, 2u);
  EXPECT_EQ(port.linkSpeed, 10000000u);
  EXPECT_EQ(port.autoNeg, 7u);
  EXPECT_FALSE(driver.Asked(OID_GEN_MEDIA_DUPLEX_STATE));
  EXPECT_FALSE(driver.Asked(OID_GEN_LINK_SPEED));
}

TEST_F(PacketDriverQueries, DuplexStateMapsHalfToFullAndZeroSkipsMacOptions) {
  uint32_t v = 9;
  driver.answers[OID_GEN_MEDIA_DUPLEX_STATE] = U32(1);
  ASSERT_TRUE(QueryDuplex(q, port, v));
  EXPECT_EQ(v, 2u);
  EXPECT_EQ(trace.text, "Duplex: 1\n");

  driver.answers[OID_GEN_MEDIA_DUPLEX_STATE] = U32(0);
  driver.answers[OID_GEN_MEDIA_CONNECT_STATUS] = U32(0);
  driver.answers[OID_GEN_MAC_OPTIONS] = U32(kNdisMacOptionFullDuplex);
  EXPECT_TRUE(RefreshLinkProperties(q, port));  // link state fails, connect status answers
  EXPECT_EQ(port.linkStatus, kLinkConnected);
  EXPECT_EQ(port.duplex, 0u);
  EXPECT_FALSE(driver.Asked(OID_GEN_MAC_OPTIONS));

  driver.answers.erase(OID_GEN_MEDIA_DUPLEX_STATE);
  // Connected already: neither the link state nor the connect status answers.
  EXPECT_FALSE(RefreshLinkProperties(q, port));
  EXPECT_EQ(port.duplex, 2u);  // from the MAC options' full-duplex bit
}

TEST_F(PacketDriverQueries, DisconnectedLinkStopsBeforeDuplexAndSpeed) {
  driver.answers[OID_GEN_MEDIA_CONNECT_STATUS] = U32(1);
  driver.answers[OID_GEN_MEDIA_DUPLEX_STATE] = U32(2);
  driver.answers[OID_GEN_LINK_SPEED] = U32(1000);
  EXPECT_TRUE(RefreshLinkProperties(q, port));
  EXPECT_EQ(port.linkStatus, kLinkDisconnected);
  EXPECT_EQ(port.duplex, 0u);
  EXPECT_EQ(port.linkSpeed, 0u);
  EXPECT_EQ(trace.text, "LinkState failed\nMediaStatus: 1\n");
}

TEST_F(PacketDriverQueries, MediaListWithoutEthernetMakesThePortUnusable) {
  std::vector<uint8_t> media = U32(3);
  auto loop = U32(17);
  media.insert(media.end(), loop.begin(), loop.end());
  driver.answers[OID_GEN_MEDIA_IN_USE] = media;
  uint32_t v = 0;
  ASSERT_TRUE(QueryMediaInUse(q, port, v));
  EXPECT_EQ(v, 2u);
  EXPECT_EQ(trace.text, "MediaList: 3 17\n");
}

TEST_F(PacketDriverQueries, MulticastListTraceGroupsSixBytes) {
  driver.answers[OID_802_3_MULTICAST_LIST] = {0x01, 0x80, 0xc2, 0, 0, 0x0e, 0x01, 0x00, 0x0c, 0xcc, 0xcc, 0xcc};
  uint32_t v = 0;
  ASSERT_TRUE(QueryMulticastList(q, port, v));
  EXPECT_EQ(v, 12u);
  driver.answers[OID_802_3_MULTICAST_LIST] = {1, 2, 3, 4};
  ASSERT_TRUE(QueryMulticastList(q, port, v));
  EXPECT_EQ(v, 4u);
  EXPECT_EQ(trace.text, "MulticastList: 0180c200000e 01000ccccccc\nMulticastList:\n");
}

TEST_F(PacketDriverQueries, PhysicalMediumMapsWirelessToItsInterfaceType) {
  uint32_t v = 0;
  for (uint32_t medium : {1u, 9u}) {
    driver.answers[OID_GEN_PHYSICAL_MEDIUM] = U32(medium);
    ASSERT_TRUE(QueryPhysicalMedium(q, port, v));
    EXPECT_EQ(v, 71u);
  }
  driver.answers[OID_GEN_PHYSICAL_MEDIUM] = U32(14);
  ASSERT_TRUE(QueryPhysicalMedium(q, port, v));
  EXPECT_EQ(v, 6u);
  EXPECT_EQ(trace.text, "Phys.Medium: 1\nPhys.Medium: 9\nPhys.Medium: e\n");
}

TEST_F(PacketDriverQueries, VendorDescriptionIsCutToTheCallersRoom) {
  std::string text = "Intel Ethernet";
  driver.answers[OID_GEN_VENDOR_DESCRIPTION] = std::vector<uint8_t>(text.begin(), text.end());
  char out[6];
  ASSERT_TRUE(QueryVendorDescription(q, port, out, sizeof out));
  EXPECT_STREQ(out, "Intel");
}

TEST_F(PacketDriverQueries, MulticastListSetIsCutToTwentyAddresses) {
  std::vector<uint8_t> list(132);
  for (size_t i = 0; i < list.size(); ++i) list[i] = static_cast<uint8_t>(i);
  EXPECT_TRUE(SetMulticastList(q, port, list.data(), list.size()));
  ASSERT_EQ(driver.sets.size(), 1u);
  EXPECT_EQ(driver.sets[0].first, OID_802_3_MULTICAST_LIST);
  EXPECT_EQ(driver.sets[0].second, std::vector<uint8_t>(list.begin(), list.begin() + 120));
  driver.acceptSets = false;
  EXPECT_FALSE(SetMulticastList(q, port, list.data(), 12));
  EXPECT_EQ(trace.text, "SetMulticastList failed\n");
}

TEST_F(PacketDriverQueries, MaxLookaheadIsSetToTheQueriedMaximum) {
  driver.answers[OID_GEN_MAXIMUM_LOOKAHEAD] = U32(1500);
  EXPECT_TRUE(SetMaxLookahead(q, port));
  ASSERT_EQ(driver.sets.size(), 1u);
  EXPECT_EQ(driver.sets[0].first, OID_GEN_CURRENT_LOOKAHEAD);
  EXPECT_EQ(driver.sets[0].second, U32(1500));
  driver.acceptSets = false;
  EXPECT_FALSE(SetMaxLookahead(q, port));
  EXPECT_EQ(trace.text, "SetMaxLookahead: 1500\nSetMaxLookahead failed\n");
}

TEST_F(PacketDriverQueries, MissingFactsAreAskedOnlyWhenZero) {
  port.packetFilter = 0x20;
  port.maxFrameSize = 1518;
  port.vlanId = 7;
  port.ifType = 71;
  port.multicastListLen = 6;
  QueryMissingPortFacts(q, port);
  EXPECT_TRUE(driver.queries.empty());
  EXPECT_EQ(trace.text, "");
}

// ---- the adapter device path ----

class AdapterDeviceQueries : public ::testing::Test {
 protected:
  AdapterDeviceQueries() {
    port.SetDeviceName("eth0");
    std::string desc = "Intel(R) PRO/1000";
    desc.push_back('\0');
    device.answers[OID_802_3_CURRENT_ADDRESS] = {0x00, 0x1b, 0x21, 0x0a, 0x0b, 0x0c};
    device.answers[OID_GEN_VENDOR_DESCRIPTION] = std::vector<uint8_t>(desc.begin(), desc.end());
    device.answers[OID_GEN_MEDIA_IN_USE] = U32(0);
    device.answers[OID_GEN_HARDWARE_STATUS] = U32(0);
    device.answers[OID_GEN_CURRENT_PACKET_FILTER] = U32(0x0B);
    device.answers[OID_GEN_MAXIMUM_TOTAL_SIZE] = U32(1514);
    device.answers[OID_GEN_VLAN_ID] = U32(42);
    device.answers[OID_GEN_PHYSICAL_MEDIUM] = U32(9);
    device.answers[OID_802_3_MULTICAST_LIST] = {0x01, 0x80, 0xc2, 0, 0, 0x0e};
  }
  Port port;
  CaptureTrace trace;
  ScriptedDevice device;
};

TEST_F(AdapterDeviceQueries, GeneralPropertiesFillThePortAndTrace) {
  EXPECT_EQ(QueryAdapterDevice(device, trace, port), 1);
  const uint8_t mac[6] = {0x00, 0x1b, 0x21, 0x0a, 0x0b, 0x0c};
  EXPECT_TRUE(port.macAddress.equals(mac));
  EXPECT_EQ(port.Description(), "Intel(R) PRO/1000");
  EXPECT_EQ(port.mediaSupported, 1u);
  EXPECT_EQ(port.state, kPortReady);
  EXPECT_EQ(port.packetFilter, 0x0Bu);
  EXPECT_EQ(port.maxFrameSize, 1518u);
  EXPECT_EQ(port.vlanId, 42u);
  EXPECT_EQ(port.ifType, 71u);
  EXPECT_EQ(port.multicastListLen, 6u);
  EXPECT_EQ(trace.text,
            "MAC: 6, 00:1b:21:0a:0b:0c\n"
            "Adapter Desc: 18, Intel(R) PRO/1000\n"
            "MediaList: 4, 0\n"
            "HardwareStatus: 4, 0\n"
            "Filter: 4, b\n"
            "MaxSize: 4, 1514\n"
            "VlanID: 4, 42\n"
            "Phys.Medium: 4, 9\n"
            "MulticastList: 6, 0180c200000e\n");
}

TEST_F(AdapterDeviceQueries, AnswersOfAnotherSizeLeaveTheirFields) {
  device.answers[OID_802_3_CURRENT_ADDRESS] = {1, 2, 3, 4, 5};
  device.answers[OID_GEN_VLAN_ID] = {42, 0};
  device.answers[OID_GEN_MAXIMUM_TOTAL_SIZE] = {0xEA, 0x05, 0, 0, 0};
  device.answers[OID_GEN_HARDWARE_STATUS] = U32(4);
  port.vlanId = 3;
  port.state = kPortUnusable;  // set only while 0
  QueryAdapterDevice(device, trace, port);
  EXPECT_TRUE(port.macAddress.zero());
  EXPECT_EQ(port.vlanId, 3u);
  EXPECT_EQ(port.maxFrameSize, 0u);
  EXPECT_EQ(port.state, kPortUnusable);
  EXPECT_NE(trace.text.find("VlanID: 2, 42\n"), std::string::npos);
}

TEST_F(AdapterDeviceQueries, MicrosoftDescriptionOnlyFillsAnEmptyOne) {
  std::string ms = "Microsoft";
  device.answers[OID_GEN_VENDOR_DESCRIPTION] = std::vector<uint8_t>(ms.begin(), ms.end());
  port.SetDescription("veth");
  QueryAdapterDevice(device, trace, port);
  EXPECT_EQ(port.Description(), "veth");
  port.SetDescription("");
  QueryAdapterDevice(device, trace, port);
  EXPECT_EQ(port.Description(), "Microsoft");
  std::string longer = "Microsoft Hyper-V Network Adapter";
  device.answers[OID_GEN_VENDOR_DESCRIPTION] = std::vector<uint8_t>(longer.begin(), longer.end());
  port.SetDescription("veth");
  QueryAdapterDevice(device, trace, port);
  EXPECT_EQ(port.Description(), longer);
}

TEST_F(AdapterDeviceQueries, LinkStateReplacesKnownValues) {
  device.answers[OID_GEN_LINK_STATE] = LinkState(1, 1, 100000000, 100000000, 0);
  port.linkStatus = kLinkDisconnected;
  port.duplex = 2;
  port.linkSpeed = 10000000;
  port.autoNeg = 7;
  EXPECT_TRUE(QueryAdapterDeviceLink(device, trace, port));
  EXPECT_EQ(port.linkStatus, kLinkConnected);
  EXPECT_EQ(port.duplex, 1u);
  EXPECT_EQ(port.linkSpeed, 1000000u);
  EXPECT_EQ(port.autoNeg, 0u);
  EXPECT_EQ(trace.text,
            "LinkState: 40\n  Media 1\n  Duplex 1\n  XmitSpeed 100000000B/s\n"
            "  RcvSpeed 100000000B/s\n  PauseFunction 0\n  AutoNeg 0\n");
}

TEST_F(AdapterDeviceQueries, ShortLinkStateStoresNothingButCountsAndFallsBack) {
  device.answers[OID_GEN_LINK_STATE] = LinkState(1, 2, 1000, 1000, 7, 39);
  device.answers[OID_GEN_MEDIA_CONNECT_STATUS] = U32(0);
  device.answers[OID_GEN_MEDIA_DUPLEX_STATE] = U32(0);
  device.answers[OID_GEN_LINK_SPEED] = U32(1000000);
  EXPECT_TRUE(QueryAdapterDeviceLink(device, trace, port));
  EXPECT_EQ(port.linkStatus, kLinkConnected);
  EXPECT_EQ(port.duplex, 1u);  // the device path reads a duplex state of 0 as half
  EXPECT_EQ(port.linkSpeed, 1000000u);
  EXPECT_EQ(port.autoNeg, 0u);
  EXPECT_EQ(trace.text,
            "LinkState: 39\nMediaStatus: 4, 0\nDuplex: 4, 0\nLinkSpeed: 4, 100000KB/s\n");
}

TEST_F(AdapterDeviceQueries, UnknownReceiveSpeedLeavesTheSpeedAndAsksForIt) {
  device.answers[OID_GEN_LINK_STATE] =
      LinkState(1, 2, kNdisLinkSpeedUnknown, kNdisLinkSpeedUnknown, 0);
  device.answers[OID_GEN_LINK_SPEED] = U32(1000000);
  port.linkSpeed = 0;
  EXPECT_TRUE(QueryAdapterDeviceLink(device, trace, port));
  EXPECT_EQ(port.linkSpeed, 1000000u);
  port.linkSpeed = 55;
  EXPECT_TRUE(QueryAdapterDeviceLink(device, trace, port));
  EXPECT_EQ(port.linkSpeed, 55u);
}

TEST_F(AdapterDeviceQueries, FailedLinkQueriesTraceAndMacOptionsGiveFullDuplex) {
  device.answers[OID_GEN_MEDIA_CONNECT_STATUS] = U32(0);
  device.answers[OID_GEN_MAC_OPTIONS] = U32(0x10);
  EXPECT_TRUE(QueryAdapterDeviceLink(device, trace, port));
  EXPECT_EQ(port.duplex, 2u);
  EXPECT_EQ(trace.text,
            "LinkState - failed\nMediaStatus: 4, 0\nDuplex - failed\nMAC options: 4, 10\n"
            "LinkSpeed - failed\n");
  trace.text.clear();
  device.answers.clear();
  Port other;
  EXPECT_TRUE(QueryAdapterDeviceLink(device, trace, other));  // asked the connect status
  EXPECT_EQ(other.linkStatus, kLinkUnknown);
  EXPECT_EQ(trace.text, "LinkState - failed\nMediaStatus - failed\n");
}

TEST(LinkFactsRefresh, FollowsTheQueryModeOverTheHost) {
  FakeNetHost host;
  host.AddEthernet("veth0", 5, kMac);
  host.interfaces["veth0"].link->speedMbps = 10000;
  host.interfaces["veth0"].link->autoneg = false;
  HostOidRequester requester(host);
  CaptureTrace trace;
  QueryPath q{requester, trace};

  Port byDevice;
  byDevice.SetDeviceName("veth0");
  byDevice.queryMode = 1;
  EXPECT_TRUE(RefreshLinkFacts(q, host, byDevice));
  EXPECT_EQ(byDevice.linkSpeed, 100000000u);
  EXPECT_EQ(byDevice.duplex, 2u);

  Port byDriver;
  byDriver.SetDeviceName("\\Device\\NPF_veth0");
  byDriver.queryMode = 2;
  EXPECT_TRUE(RefreshLinkFacts(q, host, byDriver));
  EXPECT_EQ(byDriver.linkSpeed, 100000000u);
  EXPECT_EQ(byDriver.linkStatus, kLinkConnected);

  Port none;
  none.SetDeviceName("veth0");
  EXPECT_FALSE(RefreshLinkFacts(q, host, none));

  Port gone;
  gone.SetDeviceName("eth9");
  gone.queryMode = 1;
  trace.text.clear();
  EXPECT_FALSE(RefreshLinkFacts(q, host, gone));
  EXPECT_EQ(trace.text, "Cannot open driver \\\\.\\eth9\n");
}

// The largest frame is at most 65535 (a 16-bit field on the wire) whichever way
// a port learns it: the interface table, the packet driver's query, or the
// adapter's own device. Pipe codes 14 and 15 report what the port holds.
TEST(MaxFrameSize, SaturatesOnEveryPath) {
  for (uint32_t mtu : {1500u, 65535u}) {
    const uint32_t expected = mtu == 1500 ? 1518 : 65535;
    FakeNetHost host;
    host.AddEthernet("veth0", 5, kMac, mtu);
    HostOidRequester requester(host);
    CaptureTrace trace;
    QueryPath q{requester, trace};

    InterfaceTable table{};
    table.count = 1;
    CopyText(table.entries[0].ifName, "veth0");
    table.entries[0].ifMtu = mtu;
    Port fromTable;
    fromTable.SetDeviceName("veth0");
    FactsFromInterface(table, fromTable);
    EXPECT_EQ(fromTable.maxFrameSize, expected) << "interface table, MTU " << mtu;

    Port fromDriver;
    fromDriver.SetDeviceName("veth0");
    QueryMissingPortFacts(q, fromDriver);
    EXPECT_EQ(fromDriver.maxFrameSize, expected) << "packet driver, MTU " << mtu;

    Port fromDevice;
    fromDevice.SetDeviceName("veth0");
    std::unique_ptr<AdapterDevice> device = OpenAdapterDevice(host, trace, fromDevice);
    ASSERT_TRUE(device);
    QueryAdapterDevice(*device, trace, fromDevice);
    EXPECT_EQ(fromDevice.maxFrameSize, expected) << "adapter device, MTU " << mtu;
  }
}

}  // namespace
}  // namespace torvane
