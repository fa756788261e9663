// What the frame builders and parsers know of a port: plain values that their
// caller copies from the port's record, so that protocol code touches no shared
// state and can be tested, fuzzed and benchmarked with nothing but data.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/mac.h"

namespace torvane {

// The port a frame is built for.
struct PortFacts {
  Mac mac{};
  uint32_t ifIndex = 0;
  // The texts stay owned by the caller for the call.
  std::string_view connectionName;
  std::string_view description;
  uint8_t adminStatus = 0;   // bit 0 transmit, bit 1 receive
  uint8_t tlvsTxEnable = 0;  // 0x80 port descr, 0x40 sys name, 0x20 sys descr, 0x10 caps
  uint32_t linkSpeed = 0;    // units of 100 bit/s
  uint32_t duplex = 0;       // 0 unknown, 1 half, 2 full
  uint32_t autoNeg = 0;
  uint32_t vlanId = 0;
  uint32_t maxFrameSize = 0;
  uint32_t ifType = 0;
  uint8_t medActive = 0;
  uint32_t medEndpointSeen = 0;  // when an LLDP-MED endpoint was last heard; 0 never
};

// The port a frame arrived on, as the neighbour record names it.
struct ReceivingPort {
  uint32_t number = 0;
  uint32_t ifIndex = 0;
  char interfaceName[64] = {};
};

}  // namespace torvane
