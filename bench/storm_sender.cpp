// storm_sender: a crowd of LLDP neighbours on one interface, for measuring what a
// receiver pays for a storm. Each of N senders has its own locally administered
// source MAC (02:5b:...) and its own valid LLDPDU (chassis ID = that MAC, port ID,
// TTL, system name); the frames go out round robin at a fixed rate, paced against
// absolute deadlines, until the count or the duration runs out, whichever is first.
//
//   storm_sender -i IF [-n SENDERS] [-r FRAMES_PER_SECOND] [-d SECONDS] [-c COUNT]
//                [-t TTL] [-q]
//
// Only ever run it inside a network namespace made for the measurement.
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace {

using torvane::ByteWriter;

constexpr uint8_t kNearestBridge[6] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x0E};
constexpr uint32_t kMaxSenders = 1u << 20;  // three octets of the MAC hold the index
constexpr uint64_t kMaxRate = 1000000;
constexpr uint64_t kMaxSeconds = 3600;
// After this many failed sends in a row the interface is gone: stop.
constexpr uint64_t kMaxErrorsInRow = 10000;

struct Options {
  std::string interfaceName;
  uint32_t senders = 1000;
  uint64_t rate = 2000;     // frames per second
  uint64_t seconds = 20;
  uint64_t count = 0;       // 0: rate x seconds
  uint16_t ttl = 120;
  bool quiet = false;
};

void Usage() {
  std::fprintf(stderr,
               "usage: storm_sender -i IF [-n SENDERS] [-r FRAMES_PER_SECOND] [-d SECONDS] "
               "[-c COUNT] [-t TTL] [-q]\n");
}

bool ParseNumber(const char* text, uint64_t low, uint64_t high, uint64_t& out) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(text, &end, 10);
  if (errno || *end || text[0] == '-' || v < low || v > high) return false;
  out = v;
  return true;
}

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-q") {
      o.quiet = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    const char* v = argv[++i];
    uint64_t n = 0;
    if (a == "-i") {
      o.interfaceName = v;
    } else if (a == "-n") {
      if (!ParseNumber(v, 1, kMaxSenders, n)) return false;
      o.senders = static_cast<uint32_t>(n);
    } else if (a == "-r") {
      if (!ParseNumber(v, 1, kMaxRate, o.rate)) return false;
    } else if (a == "-d") {
      if (!ParseNumber(v, 1, kMaxSeconds, o.seconds)) return false;
    } else if (a == "-c") {
      if (!ParseNumber(v, 1, kMaxRate * kMaxSeconds, o.count)) return false;
    } else if (a == "-t") {
      if (!ParseNumber(v, 1, 65535, n)) return false;
      o.ttl = static_cast<uint16_t>(n);
    } else {
      return false;
    }
  }
  return !o.interfaceName.empty();
}

void Tlv(ByteWriter& w, unsigned type, const void* value, size_t length) {
  w.u16be(static_cast<uint16_t>((type << 9) | (length & 0x1FF)));
  w.bytes(value, length);
}

// One sender's frame: Chassis ID (MAC), Port ID (local), TTL, System Name, End.
std::vector<uint8_t> BuildFrame(uint32_t index, uint16_t ttl) {
  uint8_t mac[6] = {0x02, 0x5B, 0x00, static_cast<uint8_t>(index >> 16),
                    static_cast<uint8_t>(index >> 8), static_cast<uint8_t>(index)};
  std::vector<uint8_t> frame(128);
  ByteWriter w(frame.data(), frame.size());
  w.bytes(kNearestBridge, 6);
  w.bytes(mac, 6);
  w.u16be(0x88CC);

  uint8_t chassis[7] = {4};  // subtype 4: MAC address
  std::memcpy(chassis + 1, mac, 6);
  Tlv(w, 1, chassis, sizeof chassis);

  char text[32];
  int n = std::snprintf(text + 1, sizeof text - 1, "storm%u", index);
  text[0] = 7;  // subtype 7: locally assigned
  Tlv(w, 2, text, static_cast<size_t>(n) + 1);

  uint8_t ttlValue[2] = {static_cast<uint8_t>(ttl >> 8), static_cast<uint8_t>(ttl)};
  Tlv(w, 3, ttlValue, sizeof ttlValue);

  n = std::snprintf(text, sizeof text, "storm-host-%05u", index);
  Tlv(w, 5, text, static_cast<size_t>(n));

  Tlv(w, 0, nullptr, 0);
  if (!w.ok()) return {};
  // Ethernet's minimum frame (without the check sequence) is 60 octets.
  frame.resize(w.size() < 60 ? 60 : w.size());
  return frame;
}

uint64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

void SleepUntil(uint64_t deadlineNs) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(deadlineNs / 1000000000ull);
  ts.tv_nsec = static_cast<long>(deadlineNs % 1000000000ull);
  // Bounded: a signal interrupts at most a few times before the deadline passes.
  for (int tries = 0; tries < 100; ++tries)
    if (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != EINTR) return;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, o)) {
    Usage();
    return 2;
  }
  const unsigned ifindex = if_nametoindex(o.interfaceName.c_str());
  if (ifindex == 0) {
    std::fprintf(stderr, "storm_sender: no interface %s\n", o.interfaceName.c_str());
    return 1;
  }

  std::vector<std::vector<uint8_t>> frames;
  frames.reserve(o.senders);
  for (uint32_t i = 0; i < o.senders; ++i) {
    frames.push_back(BuildFrame(i, o.ttl));
    if (frames.back().empty()) {
      std::fprintf(stderr, "storm_sender: frame %u does not fit\n", i);
      return 1;
    }
  }

  // Protocol 0: this socket only sends, nothing is queued to it.
  int fd = socket(AF_PACKET, SOCK_RAW, 0);
  if (fd < 0) {
    std::fprintf(stderr, "storm_sender: packet socket: %s\n", std::strerror(errno));
    return 1;
  }
  sockaddr_ll to{};
  to.sll_family = AF_PACKET;
  to.sll_protocol = htons(0x88CC);
  to.sll_ifindex = static_cast<int>(ifindex);
  to.sll_halen = 6;
  std::memcpy(to.sll_addr, kNearestBridge, 6);

  const uint64_t total = o.count ? o.count : o.rate * o.seconds;
  const uint64_t intervalNs = 1000000000ull / o.rate;
  const uint64_t start = NowNs();
  const uint64_t end = start + o.seconds * 1000000000ull;
  uint64_t sent = 0, errors = 0, errorsInRow = 0, late = 0;
  uint64_t k = 0;
  for (; k < total; ++k) {
    const uint64_t deadline = start + k * intervalNs;
    if (deadline >= end) break;
    uint64_t now = NowNs();
    if (now < deadline)
      SleepUntil(deadline);
    else if (now - deadline > intervalNs)
      ++late;
    if (NowNs() >= end) break;
    const auto& f = frames[k % o.senders];
    ssize_t r = sendto(fd, f.data(), f.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (r == static_cast<ssize_t>(f.size())) {
      ++sent;
      errorsInRow = 0;
    } else {
      ++errors;
      if (++errorsInRow >= kMaxErrorsInRow) {
        std::fprintf(stderr, "storm_sender: %" PRIu64 " failed sends in a row (%s); stopping\n",
                     errorsInRow, std::strerror(errno));
        break;
      }
    }
  }
  const double elapsed = static_cast<double>(NowNs() - start) / 1e9;
  close(fd);
  if (!o.quiet)
    std::printf("storm_sender: %s senders=%u sent=%" PRIu64 " errors=%" PRIu64 " late=%" PRIu64
                " elapsed=%.2fs rate=%.0f/s\n",
                o.interfaceName.c_str(), o.senders, sent, errors, late, elapsed,
                elapsed > 0 ? static_cast<double>(sent) / elapsed : 0.0);
  return sent > 0 ? 0 : 1;
}
