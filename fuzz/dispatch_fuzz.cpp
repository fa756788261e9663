// Arbitrary captured frames through the dispatcher: LLDP and CDP (plain and the
// wireless double-SNAP form) through one entry, into a small neighbour table.
// Input: one control byte (bit 0 the receiving port, bit 1 the CDP checksum
// trace, bits 4..7 seconds to move the clock on), then the frame as captured.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "tests/support/store/receive_rig.h"

namespace torvane {
namespace {

// The shared receive side, answering LLDP-MED endpoints and an extra multicast
// address, with a table kept small for the fuzzer's memory.
struct FuzzRig : nbrtest::ReceiveRig {
  FuzzRig() : ReceiveRig(2, 3600, false) {
    clock.Set(1700000000);
    settings.Update([](AgentSettings& s, OutsideSettings& o) {
      s.rxCdp = 1;
      s.MedDevType = 4;
      s.MedFastStartRepeatCount = 3;
      const uint8_t mcast[6] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x03};
      std::memcpy(s.txMcast, mcast, 6);
      o.MaxNeighbors = 8;
    });
  }
  uint32_t calls = 0;
};

}  // namespace
}  // namespace torvane

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace torvane;
  static FuzzRig rig;
  if (size < 1) return 0;
  const uint8_t control = data[0];
  rig.clock.Advance(control >> 4);
  rig.debugLevel = (control & 2) ? 1 : 0;
  // Dispatch copies the frame into a buffer of its own exact size, so that any
  // read past the captured bytes is caught.
  rig.Dispatch(nbrtest::Bytes(data + 1, data + size), control & 1);
  if ((++rig.calls & 63) == 0) rig.table->AgeNeighbors();
  return 0;
}
