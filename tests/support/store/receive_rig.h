// The receive side wired to fakes, as the dispatch and neighbour tests, the
// receive benchmarks and the dispatch fuzz target all use it, and the small fakes
// of the neighbour table and event log tests.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/state/console_trace.h"
#include "agent/state/interface_tables.h"
#include "agent/state/port.h"
#include "agent/state/settings_store.h"
#include "agent/store/event_log.h"
#include "agent/store/frame_dispatch.h"
#include "agent/store/neighbor_table.h"
#include "agent/store/worker_interfaces.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/system_facts.h"
#include "tests/support/frames/frame_makers.h"

namespace torvane::nbrtest {

// A clock that moves only when told.
class ManualClock : public Clock {
 public:
  explicit ManualClock(uint32_t start = 1000) : now_(start) {}
  uint32_t Now() override { return now_.load(); }
  void Sleep(std::chrono::milliseconds) override {}
  bool Wait(WakeEvent& event, std::chrono::milliseconds) override { return event.TryTake(); }
  void Set(uint32_t t) { now_ = t; }
  void Advance(uint32_t s) { now_ += s; }

 private:
  std::atomic<uint32_t> now_;
};

// Local time at a fixed offset east of UTC, with no daylight saving.
class FixedZoneFacts : public SystemFacts {
 public:
  explicit FixedZoneFacts(long offsetSeconds = 3600) : offset(offsetSeconds) {}
  std::string HostName(uint32_t) override { return "testhost"; }
  std::string CpuModel() override { return "Test CPU"; }
  std::string OsName() override { return "Linux"; }
  std::string KernelRelease() override { return "6.1.0"; }
  std::optional<uint32_t> VolumeSerial() override { return 0x12345678u; }
  std::optional<std::string> ExecutablePath() override { return std::string("/opt/lldp"); }
  bool LocalTime(time_t t, std::tm& out, long& gmtoffSeconds) override;

  long offset;
};

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }
  // The folder with its trailing '/', as the Directory key holds it.
  std::string directory() const { return path_.string() + "/"; }

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::filesystem::path& file);
// All regular files of a folder, by name.
std::vector<std::string> FileNames(const std::filesystem::path& dir);


// What the receive side asked of the worker.
class CycleRecorder : public CycleRequests {
 public:
  void RunCycleNow() override {
    if (onRequest) onRequest();
    ++runs;
  }
  std::atomic<int> runs{0};
  std::function<void()> onRequest;  // runs at the request, on the receiving thread
};

// The whole receive side wired to fakes: one settings store, a port table with
// `ports` connected gigabit ports (numbers 1.., MACs 00:11:22:33:44:5x, ifIndex
// 2..), the table, the log and the dispatcher. Trace lines are kept in `console`
// unless `keepTrace` is false (long fuzzing runs).
struct ReceiveRig {
  explicit ReceiveRig(uint32_t ports = 1, long zoneOffset = 3600, bool keepTrace = true);
  ~ReceiveRig();

  Port& port(size_t i = 0) { return portTable[i]; }
  // Hands the frame over in a buffer of exactly its size, so that a read past it
  // is caught under the address sanitizer.
  void Dispatch(const Bytes& frame, size_t portIndex = 0);
  // The record for (port, MAC), copied under tableLock.
  std::optional<Neighbor> Find(size_t portIndex, const uint8_t mac[6]);
  std::optional<Neighbor> Find(size_t portIndex, std::initializer_list<uint8_t> mac);
  // Turns the log on into a fresh temporary folder; returns its file's text.
  void EnableLog();
  std::string LogText();

  ManualClock clock{100000};
  FixedZoneFacts facts;
  CaptureConsole console;
  NullConsole dropped;
  SettingsStore settings;
  PublishedLists lists;
  PortTable portTable;
  CycleRecorder cycles;
  std::mutex logLock;
  std::atomic<int> debugLevel{0};
  ConsoleTrace trace;
  std::unique_ptr<TempDir> logDir;
  std::unique_ptr<EventLog> log;
  std::unique_ptr<NeighborTable> table;
  std::unique_ptr<FrameDispatch> dispatch;
};

}  // namespace torvane::nbrtest
