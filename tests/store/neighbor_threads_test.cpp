// ctest-labels: unit;threaded
// Receive threads dispatching to one table on their own ports while the worker
// ages it, a pipe client lists, copies, deletes and clears records, and another
// reads records by position and by cursor through the pipe's request handler
// (codes 11 and 12 walk the list itself). Run under the tsan preset; here it
// checks that the table, its indexes, the counters and the log still agree
// afterwards.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "agent/store/pipe_handler.h"
#include "common/bytes.h"
#include "common/text.h"
#include "platform/registry_store.h"
#include "records/pipe_records.h"
#include "tests/support/store/receive_rig.h"

namespace torvane {
namespace {

using nbrtest::Bytes;
using nbrtest::CdpFrame;
using nbrtest::LldpFrame;
using nbrtest::ReceiveRig;
using SteadyClock = std::chrono::steady_clock;

constexpr uint32_t kPorts = 4;
constexpr uint32_t kSendersPerPort = 80;
constexpr uint32_t kMaxPerPort = 64;
constexpr int kFramesPerThread = 3000;
constexpr auto kDeadline = std::chrono::seconds(60);

std::vector<Bytes> FramesFor(uint32_t port) {
  std::vector<Bytes> frames;
  for (uint32_t s = 0; s < kSendersPerPort; ++s) {
    uint8_t a = static_cast<uint8_t>(port), b = static_cast<uint8_t>(s);
    frames.push_back(LldpFrame()
                         .Source({0x02, 0x10, 0x00, 0x00, a, b})
                         .Mandatory(120)
                         .Tlv(5, "peer-" + std::to_string(s))
                         .ManagementIpv4({10, 1, 0, b})
                         .End()
                         .bytes());
    frames.push_back(LldpFrame().Source({0x02, 0x10, 0x00, 0x00, a, b}).Mandatory(0).End().bytes());
    CdpFrame cdp;
    cdp.Source({0x02, 0x20, 0x00, 0x00, a, b}).Tlv(1, "cdp-" + std::to_string(s));
    frames.push_back(cdp.Seal());
  }
  return frames;
}

// Codes 11 and 12 read no settings file.
class NoSettingsFile : public SettingsWriter {
 public:
  bool SaveSettings(const AgentSettings&) override { return false; }
  void ReloadSettings() override {}
};

// One request through the handler; the reply's record, when it carries one.
std::optional<Neighbor> AskRecord(PipeState& state, uint32_t code, const Bytes& data) {
  uint8_t message[kPipeMessageMax] = {};
  ByteWriter w(message, sizeof message);
  w.u32le(code);
  w.u32le(static_cast<uint32_t>(data.size()));
  w.bytes(data);
  size_t n = HandleRequest(state, message, w.size(), false);
  if (n != kPipeHeaderSize + sizeof(Neighbor)) return std::nullopt;
  Neighbor r;
  std::memcpy(&r, message + kPipeHeaderSize, sizeof r);
  return r;
}

TEST(NeighborThreads, ReceiversAgerAndReaderNeverSeeABrokenTable) {
  ReceiveRig rig(kPorts);
  rig.EnableLog();
  rig.settings.Update([](AgentSettings&, OutsideSettings& o) { o.MaxNeighbors = kMaxPerPort; });
  const auto start = SteadyClock::now();
  auto inTime = [&] { return SteadyClock::now() - start < kDeadline; };

  std::vector<std::vector<Bytes>> frames;
  for (uint32_t p = 0; p < kPorts; ++p) frames.push_back(FramesFor(p));

  std::vector<std::thread> threads;
  std::atomic<uint32_t> receiving{kPorts};
  for (uint32_t p = 0; p < kPorts; ++p) {
    threads.emplace_back([&, p] {
      const auto& mine = frames[p];
      for (int i = 0; i < kFramesPerThread && inTime(); ++i) {
        // Mostly refreshes and new senders, some shutdowns, some CDP.
        size_t pick = (static_cast<size_t>(i) * 7 + p) % mine.size();
        if (pick % 3 == 1 && i % 5 != 0) pick -= 1;
        rig.Dispatch(mine[pick], p);
      }
      --receiving;
    });
  }
  threads.emplace_back([&] {  // the worker's aging passes
    for (int i = 0; i < 300 && inTime(); ++i) {
      rig.clock.Advance(1);
      rig.table->AgeNeighbors();
      std::this_thread::yield();
    }
  });
  std::atomic<int> badRecords{0};
  threads.emplace_back([&] {  // a pipe client walking, deleting and clearing
    for (int i = 0; i < 400 && inTime(); ++i) {
      Neighbor r;
      int steps = 0;
      if (rig.table->CopyFirstNeighbor(r)) {
        uint64_t first = r.selfHandle;
        do {
          if (r.selfHandle == 0 || r.localPort < 1 || r.localPort > kPorts)
            ++badRecords;
        } while (++steps < 10000 && rig.table->CopyNextNeighbor(r.selfHandle, r));
        if (i % 10 == 0) rig.table->RemoveNeighbor(first);
      }
      if (i == 200) rig.table->ClearNeighbors();
      AgentSettings image{};
      rig.table->FillCounters(image);
    }
  });
  MemoryRegistry registry;
  NoSettingsFile settingsFile;
  PipeState pipe{rig.settings, rig.portTable, rig.lists, registry, settingsFile, rig.cycles, *rig.table};
  std::atomic<int> positionReads{0};
  threads.emplace_back([&] {  // a pipe client reading by position and by cursor
    for (int i = 0; (i < 600 || receiving > 0) && inTime(); ++i) {
      const uint32_t position = static_cast<uint32_t>(i % 70) + 1;
      Bytes at = {uint8_t(position), 0, 0, 0};
      Bytes cursor(16, 0);
      cursor[4] = uint8_t(i % kPorts);  // port
      cursor[8] = uint8_t(i % 20);      // list position
      for (const auto& r : {AskRecord(pipe, kPipeNeighborAt, at), AskRecord(pipe, kPipeNextNeighbor, cursor)}) {
        if (!r) continue;
        ++positionReads;
        if (r->localPort < 1 || r->localPort > kPorts) ++badRecords;
      }
    }
  });
  for (auto& t : threads) t.join();
  ASSERT_TRUE(inTime()) << "the run did not finish within its deadline";

  EXPECT_EQ(badRecords.load(), 0);
  EXPECT_GT(positionReads.load(), 0);
  RemoteTableCounters c = rig.table->Counters();
  EXPECT_GT(c.inserts, 0u);
  EXPECT_GT(c.deletes, 0u);
  EXPECT_GT(c.drops, 0u);  // senders beyond the cap
  EXPECT_EQ(c.inserts - c.deletes, rig.table->Count());

  // Walk the list and check it against the key index and the cap.
  size_t walked = 0;
  std::vector<size_t> perPort(kPorts + 1, 0);
  Neighbor r;
  if (rig.table->CopyFirstNeighbor(r)) {
    do {
      ++walked;
      ++perPort[r.localPort];
      std::lock_guard<std::mutex> lock(rig.table->tableLock);
      Neighbor* found = rig.table->FindNeighbor(r.localPort, r.sourceMac);
      ASSERT_NE(found, nullptr);
      EXPECT_EQ(found->selfHandle, r.selfHandle);
    } while (rig.table->CopyNextNeighbor(r.selfHandle, r));
  }
  EXPECT_EQ(walked, rig.table->Count());
  for (uint32_t p = 1; p <= kPorts; ++p) EXPECT_LE(perPort[p], kMaxPerPort);

  // Every line whole, one per insertion and one per removal.
  std::istringstream log(rig.LogText());
  std::string line;
  size_t added = 0, expired = 0, lines = 0;
  while (std::getline(log, line)) {
    ++lines;
    ASSERT_EQ(line.rfind("1970-01-0", 0), 0u) << line;
    ASSERT_EQ(line.back(), ' ') << line;
    if (line.find(" event=expired ") != std::string::npos) ++expired;
    if (line.find(" event=lldp ") != std::string::npos || line.find(" event=cdp ") != std::string::npos)
      ++added;
  }
  EXPECT_EQ(added, c.inserts);
  EXPECT_EQ(expired, c.deletes);
  EXPECT_EQ(lines, added + expired);
}

}  // namespace
}  // namespace torvane
