#include "tests/support/netns_lab.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/bytes.h"

namespace torvane {
namespace {

std::atomic<int> labCounter{0};

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

}  // namespace

// ---- NetnsLab ----

NetnsLab::NetnsLab() {
  tag_ = std::to_string(getpid() % 100000) + "x" + std::to_string(labCounter++);
}

NetnsLab::~NetnsLab() {
  for (pid_t pid : pids_)
    if (pid > 0) Stop(pid, SIGKILL, std::chrono::milliseconds(2000));
  for (auto it = namespaces_.rbegin(); it != namespaces_.rend(); ++it)
    Sh("ip netns del " + *it);
  for (const std::string& d : dirs_) {
    std::error_code ec;
    std::filesystem::remove_all(d, ec);
  }
}

std::string NetnsLab::Unavailable() {
  if (geteuid() != 0) return "needs root (it creates network namespaces)";
  if (std::system("command -v ip >/dev/null 2>&1") != 0) return "no ip command";
  return {};
}

bool NetnsLab::Sh(const std::string& command) {
  std::string line = "timeout 20 sh -c " + Quote(command) + " >/dev/null 2>&1";
  int status = std::system(line.c_str());
  if (status != 0) std::fprintf(stderr, "netns lab: failed: %s\n", command.c_str());
  return status == 0;
}

bool NetnsLab::ShIn(const std::string& ns, const std::string& command) {
  return Sh("ip netns exec " + ns + " sh -c " + Quote(command));
}

std::string NetnsLab::Capture(const std::string& ns, const std::string& command) {
  std::string line = "timeout 20 ip netns exec " + ns + " sh -c " + Quote(command) + " 2>/dev/null";
  FILE* p = popen(line.c_str(), "r");
  if (!p) return {};
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

std::string NetnsLab::AddNamespace(const std::string& suffix) {
  std::string name = "tvl" + tag_ + suffix;
  if (!Sh("ip netns add " + name)) return {};
  namespaces_.push_back(name);
  ShIn(name, "ip link set lo up");
  return name;
}

bool NetnsLab::AddVeth(const std::string& nsA, const std::string& ifA, const std::string& addrA,
                       const std::string& nsB, const std::string& ifB, const std::string& addrB) {
  return Sh("ip link add " + ifA + " netns " + nsA + " type veth peer name " + ifB + " netns " +
            nsB) &&
         Sh("ip -n " + nsA + " addr add " + addrA + " dev " + ifA) &&
         Sh("ip -n " + nsB + " addr add " + addrB + " dev " + ifB) &&
         Sh("ip -n " + nsA + " link set " + ifA + " up") &&
         Sh("ip -n " + nsB + " link set " + ifB + " up");
}

pid_t NetnsLab::Spawn(const std::string& ns, const std::vector<std::string>& argv,
                      const std::vector<std::string>& env, const std::string& logFile) {
  std::vector<std::string> args = {"ip", "netns", "exec", ns};
  args.insert(args.end(), argv.begin(), argv.end());
  std::vector<char*> cargs;
  for (auto& a : args) cargs.push_back(a.data());
  cargs.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    // The child starts with no blocked signals whatever the test blocked.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    setpgid(0, 0);
    int out = open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (in >= 0) dup2(in, 0);
    for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
    execvp("ip", cargs.data());
    _exit(127);
  }
  pids_.push_back(pid);
  return pid;
}

bool NetnsLab::Running(pid_t pid) {
  int status = 0;
  return waitpid(pid, &status, WNOHANG) == 0;
}

std::optional<int> NetnsLab::Stop(pid_t pid, int signal, std::chrono::milliseconds limit) {
  bool ours = false;
  for (pid_t& p : pids_)
    if (p == pid) {
      ours = true;
      p = -1;  // reaped here, never signalled again
    }
  if (!ours || pid <= 0) return std::nullopt;
  kill(pid, signal);
  auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return status;
    if (r < 0) return std::nullopt;
    if (std::chrono::steady_clock::now() > end) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  return std::nullopt;
}

std::string NetnsLab::TempDir() {
  char templ[] = "/tmp/tvlab.XXXXXX";
  char* d = mkdtemp(templ);
  if (!d) return {};
  dirs_.push_back(d);
  return d;
}

// ---- NamespaceThread ----

NamespaceThread::NamespaceThread(const std::string& ns, bool ownSysfs) {
  thread_ = std::thread([this, ns, ownSysfs] { Run(ns, ownSysfs); });
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait_for(lock, std::chrono::seconds(10), [&] { return started_; });
}

NamespaceThread::~NamespaceThread() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void NamespaceThread::Run(std::string ns, bool ownSysfs) {
  bool entered = false;
  int fd = open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    entered = setns(fd, CLONE_NEWNET) == 0;
    close(fd);
  }
  if (entered && ownSysfs) {
    // As "ip netns exec" does: a mount namespace of this thread's own (nothing
    // propagates back to the host) whose /sys belongs to the new namespace.
    entered = unshare(CLONE_NEWNS) == 0 &&
              mount(nullptr, "/", nullptr, MS_REC | MS_SLAVE, nullptr) == 0 &&
              umount2("/sys", MNT_DETACH) == 0 &&
              mount("sysfs", "/sys", "sysfs", 0, nullptr) == 0;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ok_ = entered;
    started_ = true;
  }
  cv_.notify_all();
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      cv_.wait(lock, [&] { return quit_ || !tasks_.empty(); });
      if (tasks_.empty()) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    if (entered) task();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++done_;
    }
    cv_.notify_all();
  }
}

bool NamespaceThread::Call(std::function<void()> fn, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!ok_) return false;
  tasks_.push_back(std::move(fn));
  uint64_t mine = ++posted_;
  cv_.notify_all();
  return cv_.wait_for(lock, limit, [&] { return done_ >= mine; });
}

// ---- RawPort ----

RawPort::RawPort(const std::string& ifName) {
  ifIndex_ = static_cast<int>(if_nametoindex(ifName.c_str()));
  if (ifIndex_ == 0) return;
  fd_ = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL));
  if (fd_ < 0) return;
  sockaddr_ll at{};
  at.sll_family = AF_PACKET;
  at.sll_protocol = htons(ETH_P_ALL);
  at.sll_ifindex = ifIndex_;
  if (bind(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
    close(fd_);
    fd_ = -1;
  }
}

RawPort::~RawPort() {
  if (fd_ >= 0) close(fd_);
}

bool RawPort::Send(const Bytes& frame) {
  sockaddr_ll to{};
  to.sll_family = AF_PACKET;
  to.sll_ifindex = ifIndex_;
  to.sll_halen = 6;
  std::memcpy(to.sll_addr, frame.data(), 6);
  return sendto(fd_, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
         static_cast<ssize_t>(frame.size());
}

std::optional<Bytes> RawPort::Receive(std::chrono::milliseconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
    Bytes buf(65536);
    sockaddr_ll from{};
    socklen_t len = sizeof from;
    ssize_t n = recvfrom(fd_, buf.data(), buf.size(), MSG_DONTWAIT,
                         reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) continue;
    if (from.sll_pkttype == PACKET_OUTGOING) continue;
    buf.resize(static_cast<size_t>(n));
    return buf;
  }
}

// ---- TapDevice ----

TapDevice::TapDevice(const std::string& name) {
  fd_ = open("/dev/net/tun", O_RDWR | O_CLOEXEC);
  if (fd_ < 0) return;
  ifreq ifr{};
  ifr.ifr_flags = IFF_TAP | IFF_NO_PI;
  std::snprintf(ifr.ifr_name, IFNAMSIZ, "%s", name.c_str());
  if (ioctl(fd_, TUNSETIFF, &ifr) != 0) {
    close(fd_);
    fd_ = -1;
  }
}

TapDevice::~TapDevice() {
  if (fd_ >= 0) close(fd_);
}

std::optional<Bytes> TapDevice::Read(std::chrono::milliseconds limit) {
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, static_cast<int>(limit.count())) <= 0) return std::nullopt;
  Bytes buf(65536);
  ssize_t n = read(fd_, buf.data(), buf.size());
  if (n <= 0) return std::nullopt;
  buf.resize(static_cast<size_t>(n));
  return buf;
}

// ---- frames ----

Bytes MacBytes(const std::string& text) {
  Bytes mac;
  unsigned v[6];
  if (std::sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) ==
      6)
    for (unsigned b : v) mac.push_back(static_cast<uint8_t>(b));
  return mac;
}

Bytes EthernetFrame(const Bytes& dst, const Bytes& src, uint16_t typeOrLength,
                    const Bytes& payload, size_t minimum) {
  Bytes f(dst);
  f.insert(f.end(), src.begin(), src.end());
  f.push_back(static_cast<uint8_t>(typeOrLength >> 8));
  f.push_back(static_cast<uint8_t>(typeOrLength));
  f.insert(f.end(), payload.begin(), payload.end());
  if (f.size() < minimum) f.resize(minimum, 0);
  return f;
}

Bytes LldpFrame(const Bytes& dst, const Bytes& src, const std::string& portId, size_t minimum) {
  Bytes t;
  auto tlv = [&t](unsigned type, const Bytes& body) {
    t.push_back(static_cast<uint8_t>((type << 1) | (body.size() >> 8)));
    t.push_back(static_cast<uint8_t>(body.size()));
    t.insert(t.end(), body.begin(), body.end());
  };
  Bytes chassis = {4};
  chassis.insert(chassis.end(), src.begin(), src.end());
  tlv(1, chassis);
  Bytes port = {7};
  port.insert(port.end(), portId.begin(), portId.end());
  tlv(2, port);
  tlv(3, {0, 120});
  tlv(0, {});
  return EthernetFrame(dst, src, 0x88CC, t, minimum);
}

Bytes CdpFrame(const Bytes& dst, const Bytes& src, const std::string& deviceId) {
  Bytes p = {0xAA, 0xAA, 0x03, 0x00, 0x00, 0x0C, 0x20, 0x00, 0x02, 0xB4, 0x00, 0x00};
  uint16_t len = static_cast<uint16_t>(4 + deviceId.size());
  p.insert(p.end(), {0x00, 0x01, static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len)});
  p.insert(p.end(), deviceId.begin(), deviceId.end());
  return EthernetFrame(dst, src, static_cast<uint16_t>(p.size()), p);
}

std::optional<Bytes> LldpTlv(const Bytes& frame, unsigned type, uint32_t oui, uint8_t subtype) {
  ByteReader r(frame.data(), frame.size());
  r.skip(12);
  if (r.u16be() != 0x88CC) return std::nullopt;
  while (r.ok() && !r.empty()) {
    uint16_t header = r.u16be();
    unsigned t = header >> 9;
    ByteReader body = r.sub(header & 0x1FF);
    if (!r.ok() || t == 0) break;
    if (t != type) continue;
    if (type == 127) {
      uint32_t o = (uint32_t{body.u8()} << 16) | (uint32_t{body.u8()} << 8) | body.u8();
      uint8_t s = body.u8();
      if (!body.ok() || o != oui || s != subtype) continue;
    }
    auto rest = body.rest();
    return Bytes(rest.begin(), rest.end());
  }
  return std::nullopt;
}

bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

bool LldpdResumed(const std::string& outputFile, std::chrono::milliseconds limit) {
  return Eventually(
      [&] {
        std::ifstream in(outputFile);
        std::string line;
        while (std::getline(in, line))
          if (line.find("lldpd should resume operations") != std::string::npos) return true;
        return false;
      },
      limit);
}

}  // namespace torvane
