// Every request code of the query pipe over a fixture agent state, without a
// socket: replies byte for byte where their layout matters, refusals by their
// exact status, and what each write leaves in the settings, the ports, the
// address lists, the neighbour table and the store.
#include "agent/store/pipe_handler.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent/frames/lldp_builder.h"
#include "agent/frames/wire_format.h"
#include "agent/link/adapter_discovery.h"
#include "records/pipe_records.h"
#include "records/text_forms.h"
#include "common/bytes.h"
#include "tests/support/link/fake_net_host.h"
#include "tests/support/runtime/pipe_fixture.h"

namespace torvane {
namespace {

using pipetest::AgentFixture;
using pipetest::MakeNeighbor;
using Bytes = std::vector<uint8_t>;

Bytes U32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes U64(uint64_t v) {
  Bytes b = U32(uint32_t(v));
  Bytes h = U32(uint32_t(v >> 32));
  b.insert(b.end(), h.begin(), h.end());
  return b;
}
Bytes Ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) { return {a, b, c, d}; }
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
template <class T>
Bytes Image(const T& record) {
  const auto* p = reinterpret_cast<const uint8_t*>(&record);
  return Bytes(p, p + sizeof record);
}

class PipeHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override { f.Populate(); }

  Bytes Ask(uint32_t code, uint32_t lengthField, const Bytes& data = {}, bool mayWrite = true) {
    uint8_t buffer[kPipeMessageMax] = {};
    ByteWriter w(buffer, sizeof buffer);
    w.u32le(code);
    w.u32le(lengthField);
    w.bytes(data);
    size_t n = HandleRequest(f.state, buffer, w.size(), mayWrite);
    return Bytes(buffer, buffer + n);
  }
  // Data with the length field saying its size.
  Bytes AskData(uint32_t code, const Bytes& data, bool mayWrite = true) {
    return Ask(code, static_cast<uint32_t>(data.size()), data, mayWrite);
  }
  static uint32_t Status(const Bytes& reply) {
    ByteReader r(reply.data(), reply.size());
    return r.u32le();
  }
  static uint32_t LengthField(const Bytes& reply) {
    ByteReader r(reply.data(), reply.size());
    r.u32le();
    return r.u32le();
  }
  template <class T>
  static T Record(const Bytes& reply) {
    T out{};
    EXPECT_EQ(reply.size(), 8 + sizeof(T));
    if (reply.size() >= 8 + sizeof(T)) std::memcpy(&out, reply.data() + 8, sizeof(T));
    return out;
  }
  static Bytes StatusOnly(uint32_t status) { return U32(status); }

  Neighbor First() {
    Neighbor n{};
    f.table.CopyFirstNeighbor(n);
    return n;
  }
  std::string IniText() { return f.profile.files.count("/opt/torvane/lldp.ini") ? f.profile.files["/opt/torvane/lldp.ini"] : "<none>"; }

  AgentFixture f;
};

// --- codes without a meaning, and messages too short for a header ---

TEST_F(PipeHandlerTest, UnassignedCodesAnswerStatusOne) {
  for (uint32_t code : {0u, 3u, 4u, 9u, 18u, 0xFFFFFFFFu}) EXPECT_EQ(Ask(code, 0), StatusOnly(1)) << code;
  uint8_t tiny[kPipeMessageMax] = {1, 0};
  EXPECT_EQ(HandleRequest(f.state, tiny, 2, true), 4u);
  EXPECT_EQ(tiny[0], 1);
}

// --- code 1 and 2: the settings block ---

TEST_F(PipeHandlerTest, SettingsCarryTheTablesCounters) {
  f.clock.now = 1700000500;
  f.table.RemoveNeighbor(First().selfHandle);
  Bytes reply = Ask(kPipeGetSettings, 0);
  ASSERT_EQ(reply.size(), 8u + 672u);
  EXPECT_EQ(Status(reply), 0u);
  EXPECT_EQ(LengthField(reply), 672u);
  auto s = Record<AgentSettings>(reply);
  EXPECT_EQ(s.remTablesInserts, 3u);
  EXPECT_EQ(s.remTablesDeletes, 1u);
  EXPECT_EQ(s.remTablesLastChange, 1700000500u);
  EXPECT_EQ(s.txInterval, 30u);
  EXPECT_EQ(std::string(s.systemName), "TESTHOST");
  EXPECT_EQ(std::string(s.Directory), "/opt/torvane/");
}

TEST_F(PipeHandlerTest, SettingsWriteSavesReloadsAndKeepsDerivedFields) {
  AgentSettings block = Record<AgentSettings>(Ask(kPipeGetSettings, 0));
  const AgentSettings before = f.agent.settings.Get();
  block.txInterval = 60;
  block.txCdp = 1;
  CopyText(block.systemName, "forged-name");
  CopyText(block.systemDescription, "forged description");
  block.chassisId.length = 3;
  std::memcpy(block.chassisId.bytes, "abc", 3);
  EXPECT_EQ(AskData(kPipeSetSettings, Image(block)), StatusOnly(0));

  const AgentSettings after = f.agent.settings.Get();
  EXPECT_EQ(after.txInterval, 60u);
  EXPECT_EQ(after.txCdp, 1u);
  EXPECT_EQ(std::string(after.systemName), std::string(before.systemName));
  EXPECT_EQ(std::string(after.systemDescription), std::string(before.systemDescription));
  EXPECT_EQ(Image(after.chassisId), Image(before.chassisId));
  std::string ini = IniText();
  EXPECT_NE(ini.find("txInterval=60"), std::string::npos) << ini;
  EXPECT_EQ(ini.find("forged"), std::string::npos) << ini;
}

TEST_F(PipeHandlerTest, SettingsWriteWithoutTheRightChangesNothing) {
  AgentSettings block = f.agent.settings.Get();
  block.txInterval = 90;
  EXPECT_EQ(AskData(kPipeSetSettings, Image(block), false), StatusOnly(2));
  EXPECT_EQ(f.agent.settings.Get().txInterval, 30u);
  EXPECT_EQ(IniText(), "<none>");  // lldp.ini untouched
}

TEST_F(PipeHandlerTest, SettingsWriteRefusals) {
  AgentSettings block = f.agent.settings.Get();
  block.txInterval = 90;
  // Another length field, or a block cut short.
  EXPECT_EQ(Ask(kPipeSetSettings, 671, Image(block)), StatusOnly(2));
  Bytes cut = Image(block);
  cut.resize(600);
  EXPECT_EQ(Ask(kPipeSetSettings, 672, cut), StatusOnly(2));
  // A directory without its terminator, or with a line break in it.
  AgentSettings noNul = block;
  std::memset(noNul.Directory, 'a', sizeof noNul.Directory);
  EXPECT_EQ(AskData(kPipeSetSettings, Image(noNul)), StatusOnly(2));
  AgentSettings injected = block;
  CopyText(injected.Directory, "/tmp/\n[lldp]\ntxInterval=5");
  EXPECT_EQ(AskData(kPipeSetSettings, Image(injected)), StatusOnly(2));
  // lldp.ini cannot be written.
  f.profile.failWrites = true;
  EXPECT_EQ(AskData(kPipeSetSettings, Image(block)), StatusOnly(2));
  EXPECT_EQ(f.agent.settings.Get().txInterval, 30u);
  EXPECT_EQ(IniText(), "<none>");
}

TEST_F(PipeHandlerTest, SettingsWriteTurningOnLldpMedStartsFastStart) {
  f.agent.tickCounter = 7;
  f.agent.wake.TryTake();
  AgentSettings block = f.agent.settings.Get();
  block.MedDevType = 1;
  EXPECT_EQ(AskData(kPipeSetSettings, Image(block)), StatusOnly(0));
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(f.agent.ports[i].medActive.load(), 1) << i;
    EXPECT_EQ(f.agent.ports[i].fastStartCount.load(), 4) << i;  // MedFastStartRepeatCount
  }
  EXPECT_EQ(f.agent.tickCounter.load(), 0u);
  EXPECT_TRUE(f.agent.wake.TryTake());

  // Endpoint to endpoint: no new fast start.
  f.agent.ports[0].fastStartCount = 0;
  f.agent.tickCounter = 5;
  block.MedDevType = 3;
  EXPECT_EQ(AskData(kPipeSetSettings, Image(block)), StatusOnly(0));
  EXPECT_EQ(f.agent.ports[0].fastStartCount.load(), 0);
  EXPECT_EQ(f.agent.tickCounter.load(), 5u);
  EXPECT_FALSE(f.agent.wake.TryTake());

  block.MedDevType = 0;
  EXPECT_EQ(AskData(kPipeSetSettings, Image(block)), StatusOnly(0));
  EXPECT_EQ(f.agent.ports[0].medActive.load(), 0);
}

// --- code 5: clear ---

TEST_F(PipeHandlerTest, ClearNeedsTheRight) {
  EXPECT_EQ(Ask(kPipeClearNeighbors, 0, {}, false), StatusOnly(2));
  EXPECT_EQ(f.table.Count(), 3u);
  EXPECT_EQ(Ask(kPipeClearNeighbors, 0), StatusOnly(0));
  EXPECT_EQ(f.table.Count(), 0u);
}

// --- codes 6, 7, 8: the address table ---

TEST_F(PipeHandlerTest, AddressLookupNamesThePort) {
  auto e = Record<AddressEntry>(AskData(kPipeGetAddress, Ip(192, 168, 1, 1)));
  EXPECT_EQ(e.ifIndex, 2u);  // port 2 has ifIndex 3
  EXPECT_EQ(FormatIpv4(e.address), "192.168.1.1");
  EXPECT_EQ(e.portList[0], 0x20);
  auto unmatched = Record<AddressEntry>(AskData(kPipeGetAddress, Ip(10, 0, 0, 2)));
  EXPECT_EQ(unmatched.ifIndex, 0u);  // no port has ifIndex 9
  EXPECT_EQ(AskData(kPipeGetAddress, Ip(10, 9, 9, 9)), StatusOnly(0));
}

TEST_F(PipeHandlerTest, AddressWalkGoesByValueAndSkipsLoopback) {
  std::vector<std::string> seen;
  Bytes at = Ip(0, 0, 0, 0);
  for (int i = 0; i < 10; ++i) {
    Bytes reply = AskData(kPipeNextAddress, at);
    if (reply.size() == 4) {
      EXPECT_EQ(reply, StatusOnly(0));
      break;
    }
    auto e = Record<AddressEntry>(reply);
    seen.push_back(FormatIpv4(e.address));
    at = Bytes(reinterpret_cast<uint8_t*>(&e.address), reinterpret_cast<uint8_t*>(&e.address) + 4);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"10.0.0.2", "10.0.0.5", "192.168.1.1"}));
  auto past = Record<AddressEntry>(AskData(kPipeNextAddress, Ip(127, 0, 0, 0)));
  EXPECT_EQ(FormatIpv4(past.address), "192.168.1.1");
  EXPECT_EQ(AskData(kPipeNextAddress, Ip(255, 255, 255, 255)), StatusOnly(0));
}

TEST_F(PipeHandlerTest, AddressPortListWriteStoresEveryEntry) {
  AddressEntry e = Record<AddressEntry>(AskData(kPipeGetAddress, Ip(10, 0, 0, 5)));
  e.portListLength = 2;
  std::memset(e.portList, 0, sizeof e.portList);
  e.portList[0] = 0xC0;
  e.portList[1] = 0x01;
  EXPECT_EQ(AskData(kPipeSetAddress, Image(e), false), StatusOnly(2));
  EXPECT_EQ(AskData(kPipeSetAddress, Image(e)), StatusOnly(0));

  auto& store = static_cast<MemoryRegistry&>(f.registry).keys["lldp"];
  ASSERT_EQ(store.size(), 4u);
  const RegValue& v = store["10.0.0.5"];
  EXPECT_EQ(v.type, RegType::kBinary);
  ASSERT_EQ(v.data.size(), 17u);
  EXPECT_EQ(uint8_t(v.data[0]), 2);
  EXPECT_EQ(uint8_t(v.data[1]), 0xC0);
  EXPECT_EQ(uint8_t(v.data[2]), 0x01);
  EXPECT_EQ(store["127.0.0.1"].data.size(), 17u);
  // The agent's lists carry the change at once.
  auto again = Record<AddressEntry>(AskData(kPipeGetAddress, Ip(10, 0, 0, 5)));
  EXPECT_EQ(again.portListLength, 2);
  EXPECT_EQ(again.portList[0], 0xC0);
}

// A port list set by code 8 holds: the worker's next reload keeps it, the frames
// built from the lists follow it, a later change of another address does not
// write the old list back to the store, and a restart reads it from the store.
TEST_F(PipeHandlerTest, AddressPortListChangeHoldsAcrossReloadsAndARestart) {
  FakeNetHost host;
  host.AddEthernet("eth0", 2, {0x00, 0x11, 0x22, 0x33, 0x44, 0x01});
  host.addresses = std::vector<HostIpv4>{{"eth0", 2, MakeIpv4(10, 0, 0, 5), MakeIpv4(255, 255, 255, 0)},
                                         {"eth0", 2, MakeIpv4(10, 0, 1, 5), MakeIpv4(255, 255, 255, 0)}};
  CaptureTrace trace;
  InterfaceLists working;  // the worker's own copy
  auto reload = [&] { ASSERT_TRUE(LoadInterfaceLists(host, trace, f.registry, working, &f.agent.lists)); };
  auto advertised = [&] {  // the management addresses of eth0's next LLDP frame
    PortFacts port;
    port.ifIndex = 2;
    uint8_t frame[kFrameBufferSize];
    size_t n = BuildLldpFrame(port, f.agent.settings.Get(), f.agent.lists.Get()->addresses, 1,
                              frame, sizeof frame, 0);
    std::vector<std::string> out;
    for (size_t at = 14; at + 2 <= n;) {
      size_t type = frame[at] >> 1, length = ((frame[at] & 1u) << 8) | frame[at + 1];
      if (type == kLldpManagementAddress) out.push_back(FormatIpv4(frame + at + 4));
      at += 2 + length;
    }
    return out;
  };
  reload();
  EXPECT_EQ(advertised(), (std::vector<std::string>{"10.0.0.5", "10.0.1.5"}));

  AddressEntry e = Record<AddressEntry>(AskData(kPipeGetAddress, Ip(10, 0, 0, 5)));
  e.portListLength = 0;  // advertised on no port
  ASSERT_EQ(AskData(kPipeSetAddress, Image(e)), StatusOnly(0));
  reload();  // the next port cycle
  EXPECT_EQ(Record<AddressEntry>(AskData(kPipeGetAddress, Ip(10, 0, 0, 5))).portListLength, 0);
  EXPECT_EQ(advertised(), (std::vector<std::string>{"10.0.1.5"}));

  AddressEntry other = Record<AddressEntry>(AskData(kPipeGetAddress, Ip(10, 0, 1, 5)));
  other.portList[1] = 0x01;
  ASSERT_EQ(AskData(kPipeSetAddress, Image(other)), StatusOnly(0));
  reload();
  auto& store = static_cast<MemoryRegistry&>(f.registry).keys["lldp"];
  EXPECT_EQ(uint8_t(store["10.0.0.5"].data[0]), 0) << "the first change is not written back";
  EXPECT_EQ(uint8_t(store["10.0.1.5"].data[2]), 0x01);

  InterfaceLists afterRestart;
  PublishedLists published;
  ASSERT_TRUE(LoadInterfaceLists(host, trace, f.registry, afterRestart, &published));
  EXPECT_EQ(published.Get()->addresses.entries[0].portListLength, 0);
  EXPECT_EQ(published.Get()->addresses.entries[1].portList[1], 0x01);
}

TEST_F(PipeHandlerTest, AddressPortListWriteRefusals) {
  AddressEntry e = Record<AddressEntry>(AskData(kPipeGetAddress, Ip(10, 0, 0, 5)));
  EXPECT_EQ(Ask(kPipeSetAddress, 31, Image(e)), StatusOnly(8));
  AddressEntry tooLong = e;
  tooLong.portListLength = 17;
  EXPECT_EQ(AskData(kPipeSetAddress, Image(tooLong)), StatusOnly(8));
  AddressEntry unknown = e;
  unknown.address = MakeIpv4(10, 1, 1, 1);
  EXPECT_EQ(AskData(kPipeSetAddress, Image(unknown)), StatusOnly(8));
  EXPECT_TRUE(static_cast<MemoryRegistry&>(f.registry).keys["lldp"].empty());
}

// --- code 10: records by handle ---

TEST_F(PipeHandlerTest, FirstRecordAndPagingByHandle) {
  auto first = Record<Neighbor>(Ask(kPipeGetNeighbor, 0));
  EXPECT_EQ(std::string(first.systemName), "switch-a");
  auto second = Record<Neighbor>(Ask(kPipeGetNeighbor, 8, U64(first.nextHandle)));
  EXPECT_EQ(std::string(second.systemName), "switch-b");
  auto third = Record<Neighbor>(Ask(kPipeGetNeighbor, 8, U64(second.nextHandle)));
  EXPECT_EQ(std::string(third.systemName), "switch-c");
  EXPECT_EQ(third.nextHandle, 0u);
  EXPECT_EQ(Ask(kPipeGetNeighbor, 8, U64(0x7777)), StatusOnly(0));
}

TEST_F(PipeHandlerTest, PagingEndsWhenTheNextRecordWentAway) {
  auto first = Record<Neighbor>(Ask(kPipeGetNeighbor, 0));
  f.table.RemoveNeighbor(first.nextHandle);  // aged out between two requests
  EXPECT_EQ(Ask(kPipeGetNeighbor, 8, U64(first.nextHandle)), StatusOnly(0));
}

TEST_F(PipeHandlerTest, FirstRecordOfAnEmptyTable) {
  f.table.ClearNeighbors();
  EXPECT_EQ(Ask(kPipeGetNeighbor, 0), StatusOnly(0));
}

// --- code 11: records by position ---

TEST_F(PipeHandlerTest, RecordByPosition) {
  auto zero = Record<Neighbor>(AskData(kPipeNeighborAt, U32(0)));
  EXPECT_EQ(std::string(zero.systemName), "switch-a");
  EXPECT_EQ(zero.selfHandle & 0xFFFFFFFF, 1u);
  auto two = Record<Neighbor>(AskData(kPipeNeighborAt, U32(2)));
  EXPECT_EQ(std::string(two.systemName), "switch-b");
  EXPECT_EQ(two.selfHandle & 0xFFFFFFFF, 2u);
  EXPECT_EQ(AskData(kPipeNeighborAt, U32(4)), StatusOnly(0));
}

TEST_F(PipeHandlerTest, RecordByPositionAndManagementAddress) {
  Neighbor n = MakeNeighbor(2, 0x21, "multi", 500);
  n.manAddrCount = 3;
  const uint8_t second[4] = {172, 16, 0, 9};
  std::memcpy(n.manAddr[2], second, 4);
  n.manAddrIfSubtype[2] = 3;
  n.manAddrIfNumber[2] = 42;
  f.AddNeighbor(n);
  auto r = Record<Neighbor>(AskData(kPipeNeighborAt, U32(4) + Ip(172, 16, 0, 9)));
  EXPECT_EQ(FormatIpv4(r.manAddr[0]), "172.16.0.9");
  EXPECT_EQ(r.manAddrIfSubtype[0], 3u);
  EXPECT_EQ(r.manAddrIfNumber[0], 42u);
  EXPECT_EQ(AskData(kPipeNeighborAt, U32(4) + Ip(172, 16, 0, 8)), StatusOnly(0));
  EXPECT_EQ(Ask(kPipeNeighborAt, 8, U32(4)), StatusOnly(11));  // address missing
}

// --- code 12: GETNEXT in (time mark, port, position) order ---

struct Row {
  uint32_t mark, port, position;
  std::string name;
  std::string address;
  bool operator==(const Row&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Row& r) {
  return o << "(" << r.mark << "," << r.port << "," << r.position << "," << r.name << "," << r.address << ")";
}

class NextNeighborTest : public PipeHandlerTest {
 protected:
  void SetUp() override {
    f.AddPorts();
    // list order: positions 1..5
    f.AddNeighbor(MakeNeighbor(2, 0x01, "p2-late", 700));
    f.AddNeighbor(MakeNeighbor(1, 0x02, "p1-early-a", 300));
    f.AddNeighbor(MakeNeighbor(2, 0x03, "p2-early", 300));
    f.AddNeighbor(MakeNeighbor(1, 0x04, "p1-early-b", 300));
    Neighbor old = MakeNeighbor(1, 0x05, "before-base", 100);
    old.manAddrCount = 3;
    const uint8_t a1[4] = {10, 0, 0, 200}, a2[4] = {10, 0, 0, 7};
    std::memcpy(old.manAddr[1], a1, 4);
    std::memcpy(old.manAddr[2], a2, 4);
    old.manAddrIfNumber[2] = 77;
    f.AddNeighbor(old);
  }
  std::vector<Row> Walk(uint32_t base, bool byAddress) {
    std::vector<Row> rows;
    uint32_t t = 0, p = 0, i = 0;
    Bytes a = Ip(0, 0, 0, 0);
    for (int step = 0; step < 20; ++step) {
      Bytes data = U32(t) + U32(p) + U32(i) + U32(base);
      if (byAddress) data = data + a;
      Bytes reply = AskData(kPipeNextNeighbor, data);
      if (reply.size() == 4) {
        EXPECT_EQ(reply, StatusOnly(0));
        break;
      }
      auto n = Record<Neighbor>(reply);
      t = n.discovered;
      p = n.localPort;
      i = static_cast<uint32_t>(n.selfHandle & 0xFFFFFFFF);
      a = Bytes(n.manAddr[0], n.manAddr[0] + 4);
      rows.push_back({t, p, i, n.systemName, byAddress ? FormatIpv4(n.manAddr[0]) : ""});
    }
    return rows;
  }
};

TEST_F(NextNeighborTest, FirstIsSmallestDiscoveredThenLowestPortThenListOrder) {
  auto n = Record<Neighbor>(AskData(kPipeNextNeighbor, U32(0) + U32(0) + U32(0) + U32(0)));
  EXPECT_EQ(std::string(n.systemName), "before-base");
  EXPECT_EQ(n.discovered, 100u);
  EXPECT_EQ(n.selfHandle & 0xFFFFFFFF, 5u);
}

TEST_F(NextNeighborTest, WalkOrdersByMarkPortAndPosition) {
  EXPECT_EQ(Walk(0, false), (std::vector<Row>{{100, 1, 5, "before-base", ""},
                                              {300, 1, 2, "p1-early-a", ""},
                                              {300, 1, 4, "p1-early-b", ""},
                                              {300, 2, 3, "p2-early", ""},
                                              {700, 2, 1, "p2-late", ""}}));
}

TEST_F(NextNeighborTest, TimeBaseFoldsEarlierRecordsIntoMarkZero) {
  // With base 300 the marks are 0 for everything discovered up to then.
  EXPECT_EQ(Walk(300, false), (std::vector<Row>{{0, 1, 2, "p1-early-a", ""},
                                                {0, 1, 4, "p1-early-b", ""},
                                                {0, 1, 5, "before-base", ""},
                                                {0, 2, 3, "p2-early", ""},
                                                {400, 2, 1, "p2-late", ""}}));
}

TEST_F(NextNeighborTest, AddressWalkVisitsEachAddressInValueOrder) {
  auto rows = Walk(0, true);
  ASSERT_GE(rows.size(), 3u);
  EXPECT_EQ(rows[0], (Row{100, 1, 5, "before-base", "10.0.0.5"}));
  EXPECT_EQ(rows[1], (Row{100, 1, 5, "before-base", "10.0.0.7"}));
  EXPECT_EQ(rows[2], (Row{100, 1, 5, "before-base", "10.0.0.200"}));
  EXPECT_EQ(rows[3], (Row{300, 1, 2, "p1-early-a", "10.0.0.2"}));
  EXPECT_EQ(rows.size(), 7u);
  auto n = Record<Neighbor>(AskData(kPipeNextNeighbor, U32(100) + U32(1) + U32(5) + U32(0) + Ip(10, 0, 0, 5)));
  EXPECT_EQ(n.manAddrIfNumber[0], 77u);  // the entry moved to the front with its address
}

TEST_F(NextNeighborTest, ShortCursorIsRefused) {
  EXPECT_EQ(Ask(kPipeNextNeighbor, 16, U32(0) + U32(0)), StatusOnly(12));
}

// --- code 13: delete ---

TEST_F(PipeHandlerTest, DeleteByHandle) {
  uint64_t h = First().selfHandle;
  EXPECT_EQ(Ask(kPipeRemoveNeighbor, 8, U64(h), false), StatusOnly(2));
  EXPECT_EQ(Ask(kPipeRemoveNeighbor, 0, U64(h)), StatusOnly(13));
  EXPECT_EQ(Ask(kPipeRemoveNeighbor, 8, U64(h)), StatusOnly(0));
  EXPECT_EQ(Ask(kPipeRemoveNeighbor, 8, U64(h)), StatusOnly(13));
  EXPECT_EQ(f.table.Count(), 2u);
}

// --- codes 14, 15, 16: local ports ---

TEST_F(PipeHandlerTest, PortRecordLayout) {
  Bytes reply = AskData(kPipeGetPort, U32(1));
  ASSERT_EQ(reply.size(), 8u + 228u);
  const uint8_t* d = reply.data() + 8;
  ByteReader r(d, 228);
  EXPECT_EQ(r.u32le(), 1u);     // number
  EXPECT_EQ(r.u32le(), 3u);     // adminStatus
  EXPECT_EQ(r.u32le(), 2u);     // always 2
  EXPECT_EQ(r.u8(), 0xF0);      // tlvsTxEnable
  EXPECT_EQ(r.u8(), 0);
  r.skip(2);
  EXPECT_EQ(r.u32le(), 10u);    // vlanId
  EXPECT_EQ(r.u32le(), 30u);    // mauType
  EXPECT_EQ(r.u32le(), 1518u);  // maxFrameSize
  EXPECT_EQ(r.u32le(), 3u);     // port ID subtype: MAC
  EXPECT_EQ(r.u8(), 6);
  const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x01};
  EXPECT_EQ(std::memcmp(d + 33, mac, 6), 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(d + 100), "Intel 82574L Gigabit");
}

TEST_F(PipeHandlerTest, PortDescriptionFollowsTxPname) {
  f.agent.settings.Update([](AgentSettings& s, OutsideSettings&) { s.txPname = 1; });
  auto r = Record<LocalPortRecord>(AskData(kPipeGetPort, U32(1)));
  EXPECT_STREQ(r.portDescription, "eth0");
}

TEST_F(PipeHandlerTest, PortNumbersOutsideTheTable) {
  EXPECT_EQ(AskData(kPipeGetPort, U32(0)), StatusOnly(0));
  EXPECT_EQ(AskData(kPipeGetPort, U32(3)), StatusOnly(0));
  EXPECT_EQ(Record<LocalPortRecord>(AskData(kPipeNextPort, U32(0))).number, 1u);
  EXPECT_EQ(Record<LocalPortRecord>(AskData(kPipeNextPort, U32(1))).number, 2u);
  EXPECT_EQ(AskData(kPipeNextPort, U32(2)), StatusOnly(0));
  EXPECT_EQ(AskData(kPipeNextPort, U32(0xFFFFFFFF)), StatusOnly(0));
}

TEST_F(PipeHandlerTest, PortWriteSetsSwitchesAndStoresThem) {
  auto r = Record<LocalPortRecord>(AskData(kPipeGetPort, U32(2)));
  r.adminStatus = 2;
  r.tlvsTxEnable = 0x50;
  EXPECT_EQ(AskData(kPipeSetPort, Image(r), false), StatusOnly(2));
  EXPECT_EQ(f.agent.ports[1].adminStatus.load(), 1);
  EXPECT_EQ(AskData(kPipeSetPort, Image(r)), StatusOnly(0));
  EXPECT_EQ(f.agent.ports[1].adminStatus.load(), 2);
  EXPECT_EQ(f.agent.ports[1].tlvsTxEnable.load(), 0x50);
  auto& store = static_cast<MemoryRegistry&>(f.registry).keys["lldp"];
  EXPECT_EQ(store["00:11:22:33:44:02"], (RegValue{RegType::kString, std::to_string(0x5002)}));

  // Back to the default (both directions, all four TLVs): the value goes.
  r.adminStatus = 3;
  r.tlvsTxEnable = 0xF0;
  EXPECT_EQ(AskData(kPipeSetPort, Image(r)), StatusOnly(0));
  EXPECT_EQ(store.count("00:11:22:33:44:02"), 0u);
}

TEST_F(PipeHandlerTest, PortWriteRefusals) {
  auto r = Record<LocalPortRecord>(AskData(kPipeGetPort, U32(1)));
  r.adminStatus = 1;
  LocalPortRecord wrongMac = r;
  wrongMac.macAddress[5] = 0x02;  // port 2's MAC on port 1
  EXPECT_EQ(AskData(kPipeSetPort, Image(wrongMac)), StatusOnly(16));
  LocalPortRecord noPort = r;
  noPort.number = 3;
  EXPECT_EQ(AskData(kPipeSetPort, Image(noPort)), StatusOnly(16));
  EXPECT_EQ(Ask(kPipeSetPort, 227, Image(r)), StatusOnly(16));
  EXPECT_EQ(f.agent.ports[0].adminStatus.load(), 3);  // nothing changed
  EXPECT_TRUE(static_cast<MemoryRegistry&>(f.registry).keys["lldp"].empty());
}

// --- code 17: store values ---

Bytes Texts(const std::string& key, const std::string& name, const std::string& text, bool withNuls = true) {
  Bytes out;
  for (const std::string* s : {&key, &name, &text}) {
    size_t n = s->size() + (withNuls && !s->empty() ? 1 : 0);
    out.push_back(static_cast<uint8_t>(n));
    out.insert(out.end(), s->begin(), s->end());
    if (withNuls && !s->empty()) out.push_back(0);
  }
  return out;
}

TEST_F(PipeHandlerTest, StoreValueWriteAndDelete) {
  auto& keys = static_cast<MemoryRegistry&>(f.registry).keys;
  Bytes ok = U32(0) + U32(1);
  Bytes failed = U32(0) + U32(0);
  EXPECT_EQ(AskData(kPipeWriteRegistry, Texts("nbrmib", "Community", "public")), ok);
  EXPECT_EQ(keys["nbrmib"]["Community"], (RegValue{RegType::kString, "public"}));
  EXPECT_EQ(AskData(kPipeWriteRegistry, Texts("nbrmib", "Community", "")), ok);  // deletes
  EXPECT_EQ(keys["nbrmib"].count("Community"), 0u);
  EXPECT_EQ(AskData(kPipeWriteRegistry, Texts("nbrmib", "Community", "")), failed);  // nothing to delete
  // Texts without their NUL are taken up to their length.
  EXPECT_EQ(AskData(kPipeWriteRegistry, Texts("nbrmib", "Location", "lab", false)), ok);
  EXPECT_EQ(keys["nbrmib"]["Location"].data, "lab");
  EXPECT_EQ(AskData(kPipeWriteRegistry, Texts("nbrmib", "x", "y"), false), StatusOnly(2));
}

TEST_F(PipeHandlerTest, StoreValueSubkeyMustBeOnePlainName) {
  Bytes failed = U32(0) + U32(0);
  for (const char* key : {"../etc", ".", "..", "a/b", "", ".hidden"})
    EXPECT_EQ(AskData(kPipeWriteRegistry, Texts(key, "v", "1")), failed) << key;
  EXPECT_TRUE(static_cast<MemoryRegistry&>(f.registry).keys.empty());
}

TEST_F(PipeHandlerTest, StoreValueLengthsPastTheMessageAreRefused) {
  Bytes good = Texts("lldp", "Used", "1");
  // Each length byte in turn made to point past the end.
  const size_t lengthAt[] = {0, 6, 12};
  for (size_t at : lengthAt) {
    Bytes bad = good;
    bad[at] = 200;
    EXPECT_EQ(AskData(kPipeWriteRegistry, bad), StatusOnly(17)) << at;
  }
  Bytes cut(good.begin(), good.end() - 1);
  EXPECT_EQ(AskData(kPipeWriteRegistry, cut), StatusOnly(17));
  EXPECT_EQ(AskData(kPipeWriteRegistry, {}), StatusOnly(17));
  EXPECT_TRUE(static_cast<MemoryRegistry&>(f.registry).keys.empty());
}

// --- any request cut at any length: the reply depends only on bytes received ---

TEST_F(PipeHandlerTest, ShortRequestsNeverReadPastWhatWasReceived) {
  AgentSettings block = f.agent.settings.Get();
  const Bytes full[] = {
      U32(1) + U32(0),
      U32(2) + U32(672) + Image(block),
      U32(6) + U32(4) + Ip(10, 0, 0, 5),
      U32(7) + U32(4) + Ip(0, 0, 0, 0),
      U32(8) + U32(32) + Bytes(32, 0),
      U32(10) + U32(8) + U64(1),
      U32(11) + U32(8) + U32(1) + Ip(10, 0, 0, 17),
      U32(12) + U32(20) + U32(0) + U32(0) + U32(0) + U32(0) + Ip(0, 0, 0, 0),
      U32(13) + U32(8) + U64(99),
      U32(14) + U32(4) + U32(1),
      U32(16) + U32(228) + Bytes(228, 0),
      U32(17) + U32(0) + Texts("k", "n", "t"),
  };
  for (const Bytes& request : full) {
    for (size_t cut = 0; cut <= request.size(); ++cut) {
      // The same prefix over two different fillers must give the same reply.
      Bytes replies[2];
      for (int fill = 0; fill < 2; ++fill) {
        uint8_t buffer[kPipeMessageMax];
        std::memset(buffer, fill ? 0xFF : 0x00, sizeof buffer);
        std::memcpy(buffer, request.data(), cut);
        size_t n = HandleRequest(f.state, buffer, cut, false);
        ASSERT_GE(n, 4u);
        ASSERT_LE(n, kPipeMessageMax);
        replies[fill].assign(buffer, buffer + n);
      }
      EXPECT_EQ(replies[0], replies[1]) << "code " << request[0] << " cut at " << cut;
    }
  }
}

}  // namespace
}  // namespace torvane
