// Fakes and frame makers for the neighbour table, event log, parser and
// dispatcher tests.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/frames/frame_dispatch.h"
#include "agent/runtime/port.h"
#include "agent/runtime/settings.h"
#include "agent/store/event_log.h"
#include "agent/store/neighbor_table.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/system_facts.h"

namespace torvane::nbrtest {

using Bytes = std::vector<uint8_t>;

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
Bytes ReadFixture(std::string_view name);  // tests/fixtures/<name>

// An LLDP frame, TLV by TLV. Source 02:00:00:00:00:01 to the nearest-bridge
// address unless told otherwise.
class LldpFrame {
 public:
  LldpFrame();
  LldpFrame& Destination(std::initializer_list<uint8_t> mac);
  LldpFrame& Source(const uint8_t mac[6]);
  LldpFrame& Source(std::initializer_list<uint8_t> mac);
  LldpFrame& Tlv(unsigned type, const Bytes& value);
  LldpFrame& Tlv(unsigned type, std::string_view text);
  LldpFrame& Chassis(uint8_t subtype, std::string_view id);
  LldpFrame& PortId(uint8_t subtype, std::string_view id);
  LldpFrame& Ttl(uint16_t seconds);
  // The three mandatory TLVs: chassis "chassis-1" (local), port "ge-0/0/1"
  // (interface name), TTL.
  LldpFrame& Mandatory(uint16_t ttl = 120);
  LldpFrame& ManagementIpv4(std::initializer_list<uint8_t> address, uint8_t ifSubtype = 2,
                            uint32_t ifNumber = 7);
  LldpFrame& Org(std::initializer_list<uint8_t> oui, uint8_t subtype, const Bytes& data);
  LldpFrame& End();
  LldpFrame& Raw(const Bytes& bytes);
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

// A CDP frame: 802.3 length and checksum filled in by Seal. Source
// 02:00:00:00:00:01, like LldpFrame's, unless told otherwise.
class CdpFrame {
 public:
  explicit CdpFrame(uint8_t version = 2, uint8_t ttl = 180);
  CdpFrame& Source(std::initializer_list<uint8_t> mac);
  CdpFrame& Tlv(uint16_t type, const Bytes& value);
  CdpFrame& Tlv(uint16_t type, std::string_view text);
  CdpFrame& Raw(const Bytes& bytes);
  // Fills the 802.3 length and a checksum field that makes the check over the
  // PDU come out as `result` (0 for a correctly summed frame).
  Bytes Seal(uint16_t result = 0) const;
  // Fills the length and leaves the checksum field as it is.
  Bytes Unsealed() const;

 private:
  Bytes bytes_;
};

// An address record of a CDP Addresses TLV.
Bytes CdpIpv4Record(std::initializer_list<uint8_t> address);
Bytes CdpIpv6Record(const uint8_t address[16]);
Bytes CdpAddresses(uint32_t count, const std::vector<Bytes>& records);

// Sets the checksum field of a CDP frame so that the check gives `result`.
void SealCdpChecksum(Bytes& frame, uint16_t result);

// The whole receive side wired to fakes: one settings store, a port table with
// `ports` connected gigabit ports (numbers 1.., MACs 00:11:22:33:44:5x, ifIndex
// 2..), the table, the log and the dispatcher.
struct ReceiveRig {
  explicit ReceiveRig(uint32_t ports = 1, long zoneOffset = 3600);
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
  SettingsStore settings;
  PublishedLists lists;
  PortTable portTable;
  WakeEvent wake;
  std::mutex logLock;
  std::atomic<int> debugLevel{0};
  std::unique_ptr<TempDir> logDir;
  std::unique_ptr<EventLog> log;
  std::unique_ptr<NeighborTable> table;
  std::unique_ptr<FrameDispatch> dispatch;
};

}  // namespace torvane::nbrtest
