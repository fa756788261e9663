// Where a receive thread hands each captured frame: link access calls it, the
// neighbour store implements it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "agent/state/port.h"

namespace torvane {

class FrameDispatcher {
 public:
  virtual ~FrameDispatcher() = default;
  // `length` is the number of bytes captured.
  virtual void DispatchFrame(Port& port, const uint8_t* frame, size_t length) = 0;
};

}  // namespace torvane
