// Arbitrary captured frames through the dispatcher: LLDP and CDP (plain and the
// wireless double-SNAP form) through one entry, into a small neighbour table.
// Input: one control byte (bit 0 the receiving port, bit 1 the CDP checksum
// trace, bits 4..7 seconds to move the clock on), then the frame as captured.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>

#include "agent/frames/frame_dispatch.h"
#include "agent/store/event_log.h"
#include "agent/store/neighbor_table.h"
#include "common/text.h"

namespace torvane {
namespace {

class FuzzClock : public Clock {
 public:
  uint32_t Now() override { return now; }
  void Sleep(std::chrono::milliseconds) override {}
  bool Wait(WakeEvent& event, std::chrono::milliseconds) override { return event.TryTake(); }
  uint32_t now = 1700000000;
};

struct Rig {
  Rig() {
    settings.Update([](AgentSettings& s, OutsideSettings& o) {
      s.Log = 0;
      s.rxCdp = 1;
      s.MedDevType = 4;
      s.MedFastStartRepeatCount = 3;
      const uint8_t mcast[6] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x03};
      std::memcpy(s.txMcast, mcast, 6);
      o.MaxNeighbors = 8;  // keeps the table, and the fuzzer's memory, small
    });
    InterfaceLists l;
    for (uint32_t i = 0; i < 2; ++i) {
      Port& p = ports[i];
      p.number = i + 1;
      p.ifIndex = 2 + i;
      p.SetConnectionName(i ? "eth1" : "eth0");
      p.macAddress.store(Mac{0x00, 0x11, 0x22, 0x33, 0x44, static_cast<uint8_t>(0x50 + i)});
      p.adminStatus = 3;
      p.linkStatus = kLinkConnected;
      AddressEntry& e = l.addresses.entries[l.addresses.count++];
      e.ifIndex = 2 + i;
      e.address = MakeIpv4(10, 77, static_cast<uint8_t>(i), 5);
      e.mask = MakeIpv4(255, 255, 255, 0);
    }
    ports.portCount = 2;
    lists.Publish(l);
    log = std::make_unique<EventLog>(settings, facts, clock, logLock);
    table = std::make_unique<NeighborTable>(*log, clock);
    dispatch = std::make_unique<FrameDispatch>(
        DispatchParts{ports, settings, lists, *table, clock, wake, logLock, console, debugLevel});
  }

  FuzzClock clock;
  FakeSystemFacts facts;
  NullConsole console;
  SettingsStore settings;
  PublishedLists lists;
  PortTable ports;
  WakeEvent wake;
  std::mutex logLock;
  std::atomic<int> debugLevel{0};
  std::unique_ptr<EventLog> log;
  std::unique_ptr<NeighborTable> table;
  std::unique_ptr<FrameDispatch> dispatch;
  uint32_t calls = 0;
};

}  // namespace
}  // namespace torvane

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace torvane;
  static Rig rig;
  if (size < 1) return 0;
  const uint8_t control = data[0];
  rig.clock.now += control >> 4;
  rig.debugLevel = (control & 2) ? 1 : 0;
  // The frame in a buffer of its own exact size, so that any read past the
  // captured bytes is caught.
  std::unique_ptr<uint8_t[]> frame(new uint8_t[size - 1 ? size - 1 : 1]);
  if (size > 1) std::memcpy(frame.get(), data + 1, size - 1);
  rig.dispatch->DispatchFrame(rig.ports[control & 1], frame.get(), size - 1);
  rig.wake.TryTake();
  if ((++rig.calls & 63) == 0) rig.table->AgeNeighbors();
  return 0;
}
