// A read's buffer walked as capture records, whatever it holds: every frame
// handed on must lie inside the buffer (the sanitizers check each byte read).
#include <cstddef>
#include <cstdint>

#include "agent/link/capture_buffer.h"
#include "agent/link/link_layer.h"

namespace {

class TouchingDispatcher : public torvane::FrameDispatcher {
 public:
  void DispatchFrame(torvane::Port&, const uint8_t* frame, size_t length) override {
    for (size_t i = 0; i < length; ++i) sum += frame[i];
  }
  unsigned sum = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static torvane::Port port;
  TouchingDispatcher dispatcher;
  // A copy of exactly `size` bytes, so that a read past the end is caught.
  uint8_t* copy = new uint8_t[size ? size : 1];
  for (size_t i = 0; i < size; ++i) copy[i] = data[i];
  torvane::DispatchBuffer(port, copy, size, dispatcher);
  delete[] copy;
  return 0;
}
