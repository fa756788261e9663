// Link access: walking a read's batch of capture records, and one send through
// the packet-socket back-end on a veth pair inside a namespace of its own.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "agent/link/capture_buffer.h"
#include "agent/link/link_layer.h"
#include "agent/link/packet_socket.h"
#include "agent/state/port.h"

namespace torvane {
namespace {

class CountingReader : public FrameDispatcher {
 public:
  void DispatchFrame(Port&, const uint8_t* frame, size_t length) override {
    ++frames;
    bytes += length + frame[12];
  }
  uint64_t frames = 0;
  uint64_t bytes = 0;
};

void BM_DispatchBuffer(benchmark::State& state) {
  const size_t frameLength = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> buffer(32768);
  std::vector<uint8_t> frame(frameLength, 0x5A);
  frame[12] = 0x88;
  frame[13] = 0xCC;
  size_t used = 0;
  size_t perBatch = 0;
  while (AppendCaptureRecord(buffer.data(), buffer.size(), used, 0, 0, frame.data(),
                             static_cast<uint32_t>(frameLength), static_cast<uint32_t>(frameLength)))
    ++perBatch;
  Port port;
  CountingReader reader;
  for (auto _ : state) {
    benchmark::DoNotOptimize(DispatchBuffer(port, buffer.data(), used, reader));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * perBatch));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * used));
  state.counters["frames_per_batch"] = static_cast<double>(perBatch);
}
BENCHMARK(BM_DispatchBuffer)->Arg(300)->Arg(64)->Arg(1514);

// A namespace with a veth pair (both ends up), made once and removed at exit.
struct VethLab {
  std::string ns;
  std::string error;
  std::unique_ptr<PacketBackend> backend;
  std::unique_ptr<PortLink> link;

  VethLab() {
    if (geteuid() != 0) {
      error = "needs root";
      return;
    }
    ns = "tvbench" + std::to_string(getpid());
    std::string setup = "ip netns add " + ns + " && ip -n " + ns +
                        " link add tvbn0 type veth peer name tvbn1 && ip -n " + ns +
                        " link set tvbn0 up && ip -n " + ns + " link set tvbn1 up";
    if (std::system(("timeout 20 sh -c '" + setup + "' >/dev/null 2>&1").c_str()) != 0) {
      error = "no namespace";
      return;
    }
    backend = MakePacketSocketBackend();
    // The socket belongs to the namespace of the thread that creates it.
    std::thread inside([this] {
      int fd = open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) {
        if (fd >= 0) close(fd);
        return;
      }
      close(fd);
      OpenFailure why;
      link = backend->OpenAdapter("tvbn0", why);
      if (link) backend->SetProtocolFilter(*link, ProtocolFilter(1));
    });
    inside.join();
    if (!link) error = "cannot open tvbn0";
  }
  ~VethLab() {
    if (link) backend->CloseAdapter(*link);
    if (!ns.empty())
      (void)std::system(("timeout 20 ip netns del " + ns + " >/dev/null 2>&1").c_str());
  }
};

void BM_SendFrameDevice(benchmark::State& state) {
  static VethLab lab;
  if (!lab.error.empty()) {
    state.SkipWithError(lab.error.c_str());
    return;
  }
  std::vector<uint8_t> frame(static_cast<size_t>(state.range(0)), 0);
  const uint8_t head[14] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x0E, 0x02, 0, 0, 0, 0, 1, 0x88, 0xCC};
  std::copy(head, head + 14, frame.begin());
  std::unique_ptr<Packet> packet = lab.backend->AllocatePacket();
  InitPacket(*packet, frame.data(), static_cast<uint32_t>(frame.size()));
  int64_t failed = 0;
  for (auto _ : state)
    if (!lab.backend->WritePacket(*lab.link, *packet)) ++failed;
  state.SetItemsProcessed(state.iterations());
  state.counters["failed"] = static_cast<double>(failed);
}
BENCHMARK(BM_SendFrameDevice)->Arg(300)->Arg(60);

}  // namespace
}  // namespace torvane
