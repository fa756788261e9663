// Test hosts in network namespaces: the namespaces, veth pairs and tap devices a
// test makes, threads that work inside a namespace, programs started in one, and
// raw frames sent and read there. Everything is made inside namespaces that the
// lab creates, and the lab removes all of it (and stops every process it started,
// by PID) when it goes, also when a test fails. Every wait is bounded.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace torvane {

using Bytes = std::vector<uint8_t>;

class NetnsLab {
 public:
  NetnsLab();
  ~NetnsLab();
  NetnsLab(const NetnsLab&) = delete;
  NetnsLab& operator=(const NetnsLab&) = delete;

  // Empty when the lab can run here; otherwise why not (not root, no ip command).
  static std::string Unavailable();

  // A new namespace named "<prefix><tag><suffix>" with its loopback up; returns its name.
  std::string AddNamespace(const std::string& suffix);
  // A veth pair, each end in its namespace, with an IPv4 address (a/len) and up.
  bool AddVeth(const std::string& nsA, const std::string& ifA, const std::string& addrA,
               const std::string& nsB, const std::string& ifB, const std::string& addrB);
  // Runs a shell command (under a 20-second timeout); true on exit status 0.
  bool Sh(const std::string& command);
  // Same, inside a namespace.
  bool ShIn(const std::string& ns, const std::string& command);
  // The output of a command run in a namespace.
  std::string Capture(const std::string& ns, const std::string& command);

  // Starts argv[0] with its arguments inside the namespace (ip netns exec, which
  // runs the program under the same PID), with extra environment entries and
  // standard output and error into `logFile`. Returns the PID, or -1.
  pid_t Spawn(const std::string& ns, const std::vector<std::string>& argv,
              const std::vector<std::string>& env, const std::string& logFile);
  // Sends `signal`, then waits up to `limit` for the process to end; kills it
  // when it does not. The exit status (as waitpid gives it), or nullopt when it
  // had to be killed.
  std::optional<int> Stop(pid_t pid, int signal, std::chrono::milliseconds limit);
  bool Running(pid_t pid);

  // A private folder that the lab removes at the end.
  std::string TempDir();

  const std::string& tag() const { return tag_; }

 private:
  std::string tag_;
  std::vector<std::string> namespaces_;
  std::vector<pid_t> pids_;
  std::vector<std::string> dirs_;
};

// A thread that entered a network namespace (and, with ownSysfs, a mount
// namespace of its own whose /sys shows that network namespace, as a program
// started there sees it). Threads it starts inherit both.
class NamespaceThread {
 public:
  NamespaceThread(const std::string& ns, bool ownSysfs);
  ~NamespaceThread();
  NamespaceThread(const NamespaceThread&) = delete;
  NamespaceThread& operator=(const NamespaceThread&) = delete;

  bool ok() const { return ok_; }
  // Runs fn on the thread and waits for it (at most `limit`; false when it did
  // not finish in time or the thread could not enter the namespace).
  bool Call(std::function<void()> fn, std::chrono::milliseconds limit = std::chrono::seconds(10));

 private:
  void Run(std::string ns, bool ownSysfs);

  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> tasks_;
  bool started_ = false;
  bool ok_ = false;
  bool quit_ = false;
  uint64_t done_ = 0;
  uint64_t posted_ = 0;
  std::thread thread_;
};

// A raw packet socket on one interface; create it on a thread inside the
// interface's namespace.
class RawPort {
 public:
  explicit RawPort(const std::string& ifName);
  ~RawPort();
  bool ok() const { return fd_ >= 0; }
  bool Send(const Bytes& frame);
  // The next frame that came in from the wire (not one this host sent) within
  // `limit`; nullopt when none did.
  std::optional<Bytes> Receive(std::chrono::milliseconds limit);

 private:
  int fd_ = -1;
  int ifIndex_ = 0;
};

// A tap device held open (it has carrier only while held); create it on a
// thread inside the namespace it belongs in.
class TapDevice {
 public:
  explicit TapDevice(const std::string& name);
  ~TapDevice();
  bool ok() const { return fd_ >= 0; }
  // The next frame the host sent out through the tap within `limit`.
  std::optional<Bytes> Read(std::chrono::milliseconds limit);

 private:
  int fd_ = -1;
};

// Frame pieces for the tests.
Bytes MacBytes(const std::string& text);  // "aa:bb:cc:dd:ee:ff"
Bytes EthernetFrame(const Bytes& dst, const Bytes& src, uint16_t typeOrLength,
                    const Bytes& payload, size_t minimum = 60);
// An LLDP frame whose port ID is `portId` (chassis ID = source MAC, TTL 120).
Bytes LldpFrame(const Bytes& dst, const Bytes& src, const std::string& portId,
                size_t minimum = 60);
// A CDP frame (802.3 length, SNAP 00-00-0C 0x2000) with device ID `deviceId`.
Bytes CdpFrame(const Bytes& dst, const Bytes& src, const std::string& deviceId);

// The body of the first LLDP TLV of `type` (and, for type 127, of OUI and
// subtype); nullopt when the frame holds none.
std::optional<Bytes> LldpTlv(const Bytes& frame, unsigned type, uint32_t oui = 0,
                             uint8_t subtype = 0);

// Waits (polling every few milliseconds) until done() or the limit.
bool Eventually(const std::function<bool()>& done,
                std::chrono::milliseconds limit = std::chrono::seconds(5));

// lldpd starts paused and runs lldpcli on its configuration files, which resumes
// it at the end. An lldpcli command that changes the configuration (update,
// configure ...) sends back the whole configuration it read first: run before
// that resume, it can write the paused state back after it and leave lldpd
// paused for good, silent on the wire. So a test waits for this first: lldpd's
// output (it runs with -d) says that its own lldpcli resumed it.
bool LldpdResumed(const std::string& outputFile,
                  std::chrono::milliseconds limit = std::chrono::seconds(10));

}  // namespace torvane
