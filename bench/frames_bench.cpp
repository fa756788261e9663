// The default LLDP and CDP frames of a connected gigabit port with one IPv4 address.
#include <benchmark/benchmark.h>

#include <cstring>

#include "agent/frames/cdp_builder.h"
#include "agent/frames/lldp_builder.h"
#include "common/text.h"

namespace torvane {
namespace {

struct DefaultFrameInputs {
  DefaultFrameInputs() {
    settings.txInterval = 30;
    settings.txHoldMultiplier = 4;
    settings.chassisIdSubtype = 7;
    settings.chassisId.length = 8;
    std::memcpy(settings.chassisId.bytes, "Wq3Kvxqz", 8);
    CopyText(settings.systemName, "host1");
    CopyText(settings.systemDescription, "Intel64 Family 6 Model 85 Stepping 7 - Linux 6.1");
    settings.CapSupported = 128;
    settings.CapEnabled = 128;
    settings.MedFastStartRepeatCount = 4;
    for (auto& p : settings.MedPolicy) p = 0x8000;
    settings.adminStatusDefault = 3;
    settings.rxCdp = 1;
    settings.txCdp = 3;
    settings.ioctl = 7;
    settings.Duplex = 1;
    settings.ieee80211 = 71;

    port.description = "Intel PRO/1000 MT Network Connection";
    port.connectionName = "eth0";
    port.mac = Mac{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    port.adminStatus = 3;
    port.tlvsTxEnable = 0xF0;
    port.linkSpeed = 10000000;
    port.duplex = 2;
    port.autoNeg = 1;
    port.maxFrameSize = 1518;
    port.ifType = 6;
    port.ifIndex = 2;

    AddressEntry& e = addresses.entries[0];
    e.ifIndex = 2;
    const uint8_t ip[4] = {10, 0, 0, 5};
    std::memcpy(&e.address, ip, 4);
    e.portListLength = 1;
    e.portList[0] = 0x80;
    addresses.count = 1;
  }
  AgentSettings settings{};
  PortFacts port;
  AddressTable addresses;
  uint8_t frame[kFrameBufferSize];
};

void BM_BuildLldpFrame(benchmark::State& state) {
  DefaultFrameInputs in;
  for (auto _ : state) {
    size_t n = BuildLldpFrame(in.port, in.settings, in.addresses, 1, in.frame, sizeof in.frame,
                              1700000000);
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_BuildLldpFrame);

void BM_BuildCdpFrame(benchmark::State& state) {
  DefaultFrameInputs in;
  for (auto _ : state) {
    size_t n = BuildCdpFrame(in.port, in.settings, "Linux 6.1", in.addresses, in.frame,
                             sizeof in.frame);
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_BuildCdpFrame);

}  // namespace
}  // namespace torvane
