// The receive path's costs: parsing a typical switch's LLDP and CDP frames, and
// the whole dispatch of a frame that refreshes one of 10,000 known neighbours.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "agent/frames/cdp_builder.h"
#include "agent/frames/cdp_parser.h"
#include "agent/frames/lldp_parser.h"
#include "tests/support/store/receive_rig.h"

namespace torvane {
namespace {

using Bytes = std::vector<uint8_t>;

void Tlv(Bytes& f, unsigned type, const Bytes& v) {
  f.push_back(static_cast<uint8_t>((type << 1) | ((v.size() >> 8) & 1)));
  f.push_back(static_cast<uint8_t>(v.size()));
  f.insert(f.end(), v.begin(), v.end());
}
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// What an access switch sends on one of its ports.
Bytes SwitchLldpFrame(const uint8_t source[6]) {
  static constexpr uint8_t kNearestBridge[6] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x0E};
  Bytes f(14);
  std::memcpy(f.data(), kNearestBridge, 6);
  std::memcpy(f.data() + 6, source, 6);
  f[12] = 0x88;
  f[13] = 0xCC;
  Tlv(f, 1, {0x04, 0x00, 0x1b, 0x54, 0xaa, 0xbb, 0xcc});
  Tlv(f, 2, Text("\x05" "Gi1/0/24"));
  Tlv(f, 3, {0x00, 0x78});
  Tlv(f, 4, Text("GigabitEthernet1/0/24"));
  Tlv(f, 5, Text("sw-access-01.example.net"));
  Tlv(f, 6, Text("Access switch operating system, version 4.2.1 (build 311), support: "
                 "https://support.example.com/switches, compiled 2020-03-31"));
  Tlv(f, 7, {0x00, 0x14, 0x00, 0x04});
  Tlv(f, 8, {0x05, 0x01, 10, 1, 0, 2, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00});
  Tlv(f, 127, {0x00, 0x80, 0xC2, 0x01, 0x00, 0x0A});
  Tlv(f, 127, {0x00, 0x12, 0x0F, 0x01, 0x03, 0x6C, 0x00, 0x00, 0x1E});
  Tlv(f, 127, {0x00, 0x12, 0x0F, 0x04, 0x05, 0xEE});
  Tlv(f, 127, {0x00, 0x12, 0xBB, 0x01, 0x00, 0x0F, 0x04});
  f.insert(f.end(), {0x00, 0x00});
  return f;
}

void CdpTlv(Bytes& f, uint16_t type, const Bytes& v) {
  size_t n = v.size() + 4;
  f.insert(f.end(), {static_cast<uint8_t>(type >> 8), static_cast<uint8_t>(type),
                     static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
  f.insert(f.end(), v.begin(), v.end());
}

Bytes SwitchCdpFrame() {
  Bytes f = {0x01, 0x00, 0x0C, 0xCC, 0xCC, 0xCC, 0x00, 0x1b, 0x54, 0xaa, 0xbb, 0x98,
             0x00, 0x00, 0xAA, 0xAA, 0x03, 0x00, 0x00, 0x0C, 0x20, 0x00, 0x02, 0xB4, 0x00, 0x00};
  CdpTlv(f, 1, Text("sw-access-01.example.net"));
  CdpTlv(f, 2, {0x00, 0x00, 0x00, 0x01, 0x01, 0x01, 0xCC, 0x00, 0x04, 10, 1, 0, 2});
  CdpTlv(f, 3, Text("GigabitEthernet1/0/24"));
  CdpTlv(f, 4, {0x00, 0x00, 0x00, 0x28});
  CdpTlv(f, 5, Text("Access switch operating system, version 4.2.1 (build 311)\nSupport: "
                    "https://support.example.com/switches\nCompiled 2020-03-31 by the release team"));
  CdpTlv(f, 6, Text("access switch AX-2400-48P"));
  CdpTlv(f, 10, {0x00, 0x0A});
  CdpTlv(f, 11, {0x01});
  size_t l = f.size() - 14;
  f[12] = static_cast<uint8_t>(l >> 8);
  f[13] = static_cast<uint8_t>(l);
  for (uint32_t field = 0; field <= 0xFFFF; ++field) {
    f[24] = static_cast<uint8_t>(field >> 8);
    f[25] = static_cast<uint8_t>(field);
    if (CdpChecksum(f.data() + 22, f.size() - 22) == 0) break;
  }
  return f;
}

struct ParseSetup {
  ParseSetup() {
    port.number = 1;
    port.ifIndex = 2;
    std::memcpy(port.interfaceName, "eth0", 5);
    for (uint8_t i = 0; i < 4; ++i) {
      AddressEntry& e = addresses.entries[addresses.count++];
      e.ifIndex = 2 + (i % 2);
      e.address = MakeIpv4(10, i, 0, 10);
      e.mask = MakeIpv4(255, 255, 255, 0);
    }
    settings.MedDevType = 4;
    context.settings = &settings;
    context.addresses = &addresses;
  }
  ReceivingPort port;
  AgentSettings settings{};
  AddressTable addresses;
  ParseContext context;
};

void BM_ParseLldpFrame(benchmark::State& state) {
  ParseSetup s;
  const uint8_t source[6] = {0x00, 0x1b, 0x54, 0xaa, 0xbb, 0x98};
  Bytes frame = SwitchLldpFrame(source);
  Neighbor record{};
  uint32_t now = 1700000000;
  if (ParseLldpFrame(s.port, record, frame.data(), frame.size(), now, s.context) != kParseStored)
    state.SkipWithError("frame not stored");
  for (auto _ : state) {
    ParseResult r = ParseLldpFrame(s.port, record, frame.data(), frame.size(), now, s.context);
    benchmark::DoNotOptimize(r);
    benchmark::DoNotOptimize(record);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * frame.size()));
}
BENCHMARK(BM_ParseLldpFrame);

void BM_ParseCdpFrame(benchmark::State& state) {
  ParseSetup s;
  Bytes frame = SwitchCdpFrame();
  size_t length = (size_t{frame[12]} << 8 | frame[13]) + 14;
  Neighbor record{};
  uint32_t now = 1700000000;
  if (ParseCdpFrame(s.port, record, frame.data(), length, now, s.context) != kParseStored)
    state.SkipWithError("frame not stored");
  for (auto _ : state) {
    ParseResult r = ParseCdpFrame(s.port, record, frame.data(), length, now, s.context);
    benchmark::DoNotOptimize(r);
    benchmark::DoNotOptimize(record);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * length));
}
BENCHMARK(BM_ParseCdpFrame);

constexpr uint32_t kBenchPorts = 8;

// The shared receive side with eight ports, for 10,000 neighbours.
struct DispatchSetup : nbrtest::ReceiveRig {
  explicit DispatchSetup(uint32_t maxPerPort) : ReceiveRig(kBenchPorts) {
    settings.Update([&](AgentSettings& s, OutsideSettings& o) {
      s.rxCdp = 1;
      s.Log = 0;
      o.MaxNeighbors = maxPerPort;
    });
  }
  static void SetSource(Bytes& frame, uint32_t i) {
    frame[6] = 0x02;
    frame[7] = 0x42;
    frame[8] = static_cast<uint8_t>(i >> 24);
    frame[9] = static_cast<uint8_t>(i >> 16);
    frame[10] = static_cast<uint8_t>(i >> 8);
    frame[11] = static_cast<uint8_t>(i);
  }
  Port& PortAt(uint32_t i) { return portTable[i]; }
};

void BM_DispatchRefresh(benchmark::State& state) {
  const uint32_t known = static_cast<uint32_t>(state.range(0));
  DispatchSetup s(2048);
  const uint8_t zero[6] = {};
  Bytes frame = SwitchLldpFrame(zero);
  for (uint32_t i = 0; i < known; ++i) {
    DispatchSetup::SetSource(frame, i);
    s.dispatch->DispatchFrame(s.PortAt(i % kBenchPorts), frame.data(), frame.size());
  }
  if (s.table->Count() != known) state.SkipWithError("neighbours not all stored");
  // Visit the neighbours in a scattered order, as frames from many senders arrive.
  uint32_t i = 0;
  for (auto _ : state) {
    i = (i + 7919) % known;
    DispatchSetup::SetSource(frame, i);
    s.dispatch->DispatchFrame(s.PortAt(i % kBenchPorts), frame.data(), frame.size());
  }
  if (s.table->Count() != known || s.table->Counters().inserts != known)
    state.SkipWithError("a refresh inserted or removed");
}
// One of 10,000 known neighbours (the target), and of 100 for comparison.
BENCHMARK(BM_DispatchRefresh)->Arg(10000)->Arg(100);

// A flood of invented senders on a port that is already full.
void BM_DispatchNewSenderOnFullPort(benchmark::State& state) {
  DispatchSetup s(16);
  const uint8_t zero[6] = {};
  Bytes frame = SwitchLldpFrame(zero);
  for (uint32_t i = 0; i < 16; ++i) {
    DispatchSetup::SetSource(frame, i * kBenchPorts);
    s.dispatch->DispatchFrame(s.PortAt(0), frame.data(), frame.size());
  }
  uint32_t i = 1000000;
  for (auto _ : state) {
    DispatchSetup::SetSource(frame, ++i);
    s.dispatch->DispatchFrame(s.PortAt(0), frame.data(), frame.size());
  }
  if (s.table->Count() != 16) state.SkipWithError("the cap let a sender in");
}
BENCHMARK(BM_DispatchNewSenderOnFullPort);

}  // namespace
}  // namespace torvane
