// The receive path's dispatcher until frame dispatch and the parsers are wired
// in: it counts the frames each run of the agent received.
#pragma once

#include <atomic>
#include <cstdint>

#include "agent/link/link_layer.h"

namespace torvane {

class CountingDispatcher : public FrameDispatcher {
 public:
  void DispatchFrame(Port&, const uint8_t*, size_t length) override {
    ++frames;
    bytes += length;
  }
  std::atomic<uint64_t> frames{0};
  std::atomic<uint64_t> bytes{0};
};

}  // namespace torvane
