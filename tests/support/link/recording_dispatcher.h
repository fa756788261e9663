// A frame dispatcher for tests of the receive path: keeps a copy of every frame
// handed to it, in order, with the port it arrived on, and lets a test wait
// (bounded) for a number of frames.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "agent/link/link_layer.h"

namespace torvane {

class RecordingDispatcher : public FrameDispatcher {
 public:
  struct Frame {
    const Port* port;
    std::vector<uint8_t> bytes;
  };

  void DispatchFrame(Port& port, const uint8_t* frame, size_t length) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      frames_.push_back({&port, std::vector<uint8_t>(frame, frame + length)});
    }
    cv_.notify_all();
  }

  std::vector<Frame> Frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
  }
  size_t Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_.size();
  }
  // True when at least n frames arrived within the timeout.
  bool WaitFor(size_t n, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, timeout, [&] { return frames_.size() >= n; });
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Frame> frames_;
};

}  // namespace torvane
