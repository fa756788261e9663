// Facts about the host that the settings and the log need.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "platform/local_time.h"

namespace torvane {

class SystemFacts : public LocalTimeSource {
 public:
  // Host name by format 0..7: 0 and 4 the first label upper case (at most 15
  // characters), 1 and 5 the first label, 2 and 6 the DNS domain, 3 and 7 the
  // fully qualified name.
  virtual std::string HostName(uint32_t format) = 0;
  virtual std::string CpuModel() = 0;        // /proc/cpuinfo "model name", may be empty
  virtual std::string OsName() = 0;          // PRETTY_NAME of /etc/os-release, else "Linux"
  virtual std::string KernelRelease() = 0;   // uname release, e.g. "6.1.0-18-amd64"
  // The volume-serial stand-in: the first 8 hex digits of /etc/machine-id, else of
  // /var/lib/dbus/machine-id, as one 32-bit number; nullopt when neither has them.
  virtual std::optional<uint32_t> VolumeSerial() = 0;
  // The agent's own executable path (readlink of /proc/self/exe).
  virtual std::optional<std::string> ExecutablePath() = 0;
};

std::unique_ptr<SystemFacts> MakeLinuxSystemFacts();
// The same, reading /proc/cpuinfo, the os-release files and the machine-id files
// under `fileRoot` instead of "/" (tests point it at a folder of their own).
std::unique_ptr<SystemFacts> MakeLinuxSystemFacts(std::string fileRoot);

// Fixed answers for tests.
class FakeSystemFacts : public SystemFacts {
 public:
  std::string HostName(uint32_t format) override;
  std::string CpuModel() override { return cpu; }
  std::string OsName() override { return os; }
  std::string KernelRelease() override { return kernel; }
  std::optional<uint32_t> VolumeSerial() override { return serial; }
  std::optional<std::string> ExecutablePath() override { return exe; }
  bool LocalTime(time_t t, std::tm& out, long& gmtoffSeconds) override;

  std::string host = "testhost";
  std::string domain = "example.test";
  std::string cpu = "Test CPU @ 1.00GHz";
  std::string os = "Debian GNU/Linux 12 (bookworm)";
  std::string kernel = "6.1.0-18-amd64";
  std::optional<uint32_t> serial = 0x12345678u;
  std::optional<std::string> exe = std::string("/opt/torvane/lldp");
  long gmtoff = 3600;  // +0100, no daylight saving
};

}  // namespace torvane
