#include "agent/link/net_host.h"

#include <dirent.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/ethtool.h>
#include <linux/if_vlan.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

namespace torvane {
namespace {

// An interface name as it may appear in a path: one plain component that fits
// the kernel's name field.
bool PlainName(std::string_view name) {
  if (name.empty() || name.size() >= IFNAMSIZ || name == "." || name == "..") return false;
  return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

std::string_view Trim(std::string_view s) {
  s = TrimRight(s);
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

// A whole small file; nullopt when it cannot be opened or read.
std::optional<std::string> ReadSmallFile(const std::string& path, size_t limit = 65536) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text;
  char chunk[4096];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    text.append(chunk, static_cast<size_t>(n));
    if (text.size() >= limit) break;
  }
  ::close(fd);
  return text;
}

std::optional<int64_t> ParseInteger(std::string_view s, int base = 10) {
  s = Trim(s);
  if (base == 16 && s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
  int64_t v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
  return v;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "aa:bb:cc:dd:ee:ff" into bytes; the count, or 0 when the text is not that form.
size_t ParseColonHex(std::string_view s, uint8_t* out, size_t room) {
  size_t n = 0;
  size_t i = 0;
  while (i < s.size()) {
    if (n == room || i + 2 > s.size()) return 0;
    int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
    if (hi < 0 || lo < 0) return 0;
    out[n++] = static_cast<uint8_t>(hi * 16 + lo);
    i += 2;
    if (i < s.size()) {
      if (s[i] != ':') return 0;
      ++i;
      if (i == s.size()) return 0;
    }
  }
  return n;
}

// A socket for the interface ioctls, made in the calling thread's network
// namespace; closed on scope exit.
class IoctlSocket {
 public:
  IoctlSocket() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  }
  ~IoctlSocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  IoctlSocket(const IoctlSocket&) = delete;
  IoctlSocket& operator=(const IoctlSocket&) = delete;
  bool Call(unsigned long request, void* arg) const { return fd_ >= 0 && ::ioctl(fd_, request, arg) == 0; }

 private:
  int fd_ = -1;
};

void SetName(ifreq& ifr, std::string_view name) {
  std::memset(&ifr, 0, sizeof ifr);
  std::memcpy(ifr.ifr_name, name.data(), std::min(name.size(), sizeof ifr.ifr_name - 1));
}

class LinuxNetHost : public NetHost {
 public:
  explicit LinuxNetHost(NetHostRoots roots) : roots_(std::move(roots)) {}

  std::optional<std::vector<std::string>> InterfaceNames() override {
    std::vector<std::string> names;
    DIR* dir = ::opendir(roots_.classNet.c_str());
    if (!dir) return std::nullopt;
    while (dirent* e = ::readdir(dir)) {
      std::string_view name = e->d_name;
      if (!PlainName(name)) continue;
      // The folder also holds plain files (bonding_masters): only folders, or
      // links to them, are interfaces.
      struct stat st;
      std::string path = roots_.classNet + "/" + std::string(name);
      if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) names.emplace_back(name);
    }
    ::closedir(dir);
    return names;
  }

  std::optional<std::string> ReadAttribute(std::string_view ifName,
                                           std::string_view attribute) override {
    if (!PlainName(ifName) || attribute.empty() || attribute.find("..") != std::string_view::npos)
      return std::nullopt;
    auto text = ReadSmallFile(roots_.classNet + "/" + std::string(ifName) + "/" + std::string(attribute));
    if (!text) return std::nullopt;
    return std::string(TrimRight(*text));
  }

  bool HasEntry(std::string_view ifName, std::string_view entry) override {
    if (!PlainName(ifName) || entry.empty() || entry.find("..") != std::string_view::npos) return false;
    struct stat st;
    std::string path = roots_.classNet + "/" + std::string(ifName) + "/" + std::string(entry);
    return ::lstat(path.c_str(), &st) == 0;
  }

  std::optional<uint32_t> InterfaceFlags(std::string_view ifName) override {
    if (!PlainName(ifName)) return std::nullopt;
    if (roots_.kernelCalls) {
      IoctlSocket sock;
      ifreq ifr{};
      SetName(ifr, ifName);
      if (!sock.Call(SIOCGIFFLAGS, &ifr)) return std::nullopt;
      return static_cast<uint32_t>(static_cast<uint16_t>(ifr.ifr_flags));
    }
    // sysfs "flags" never shows IFF_RUNNING: the carrier stands in for it.
    auto text = ReadAttribute(ifName, "flags");
    if (!text) return std::nullopt;
    auto flags = ParseInteger(*text, 16);
    if (!flags || *flags < 0) return std::nullopt;
    uint32_t v = static_cast<uint32_t>(*flags) & ~uint32_t{IFF_RUNNING};
    auto carrier = ReadAttribute(ifName, "carrier");
    if ((v & IFF_UP) && carrier && Trim(*carrier) == "1") v |= IFF_RUNNING;
    return v;
  }

  std::optional<HardwareAddress> HardwareAddressOf(std::string_view ifName) override {
    if (!PlainName(ifName)) return std::nullopt;
    HardwareAddress hw{};
    auto addrLen = ReadAttribute(ifName, "addr_len");
    // A plain number, not an optional: g++ 12 at -O1 and above warns falsely
    // about an optional read here.
    long len = -1;
    if (addrLen) {
      if (auto parsed = ParseInteger(*addrLen)) len = static_cast<long>(*parsed);
    }
    if (roots_.kernelCalls) {
      IoctlSocket sock;
      ifreq ifr{};
      SetName(ifr, ifName);
      if (!sock.Call(SIOCGIFHWADDR, &ifr)) return std::nullopt;
      hw.family = ifr.ifr_hwaddr.sa_family;
      size_t n = sizeof ifr.ifr_hwaddr.sa_data;  // 14
      if (len >= 0 && static_cast<size_t>(len) < n) n = static_cast<size_t>(len);
      else if (hw.family == kArpEther) n = 6;
      hw.length = static_cast<uint8_t>(n);
      std::memcpy(hw.bytes, ifr.ifr_hwaddr.sa_data, n);
      return hw;
    }
    auto type = ReadAttribute(ifName, "type");
    auto family = type ? ParseInteger(*type) : std::nullopt;
    auto text = ReadAttribute(ifName, "address");
    if (!family || !text) return std::nullopt;
    hw.family = static_cast<uint32_t>(*family);
    hw.length = static_cast<uint8_t>(ParseColonHex(Trim(*text), hw.bytes, 14));
    return hw;
  }

  std::optional<EthtoolLink> LinkSettings(std::string_view ifName) override {
    if (!PlainName(ifName)) return std::nullopt;
    if (roots_.kernelCalls) return EthtoolLinkSettings(ifName);
    // sysfs fails these reads on a link that is down: unknown, not an error.
    auto speed = ReadAttribute(ifName, "speed");
    auto duplex = ReadAttribute(ifName, "duplex");
    if (!speed && !duplex) return std::nullopt;
    EthtoolLink link;
    if (speed) {
      auto v = ParseInteger(*speed);
      if (v && *v > 0 && *v < 0xFFFFFFFF) link.speedMbps = static_cast<uint32_t>(*v);
    }
    if (duplex) {
      std::string_view d = Trim(*duplex);
      if (d == "full") link.duplex = EthtoolLink::kFull;
      else if (d == "half") link.duplex = EthtoolLink::kHalf;
    }
    return link;
  }

  std::optional<DriverInfo> DriverInfoOf(std::string_view ifName) override {
    if (!PlainName(ifName)) return std::nullopt;
    if (roots_.kernelCalls) {
      IoctlSocket sock;
      ifreq ifr{};
      SetName(ifr, ifName);
      ethtool_drvinfo info;
      std::memset(&info, 0, sizeof info);
      info.cmd = ETHTOOL_GDRVINFO;
      ifr.ifr_data = reinterpret_cast<char*>(&info);
      if (!sock.Call(SIOCETHTOOL, &ifr)) return std::nullopt;
      DriverInfo out;
      out.driver.assign(info.driver, strnlen(info.driver, sizeof info.driver));
      out.busInfo.assign(info.bus_info, strnlen(info.bus_info, sizeof info.bus_info));
      return out;
    }
    // Without the ioctl: the name of the driver the device is bound to.
    char target[512];
    std::string path = roots_.classNet + "/" + std::string(ifName) + "/device/driver";
    ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    if (n <= 0) return std::nullopt;
    std::string_view link(target, static_cast<size_t>(n));
    size_t slash = link.rfind('/');
    DriverInfo out;
    out.driver = std::string(slash == std::string_view::npos ? link : link.substr(slash + 1));
    return out;
  }

  std::optional<uint32_t> VlanIdOf(std::string_view ifName) override {
    if (!PlainName(ifName)) return std::nullopt;
    // The VLAN module lists its devices per namespace; without that list there
    // are no VLAN devices, and the ioctl is not tried (it would ask the kernel to
    // load the module).
    auto config = ReadSmallFile(roots_.procNet + "/vlan/config");
    if (!config) return std::nullopt;
    std::string_view rest = *config;
    while (!rest.empty()) {
      size_t eol = rest.find('\n');
      std::string_view line = rest.substr(0, eol);
      rest = eol == std::string_view::npos ? std::string_view{} : rest.substr(eol + 1);
      size_t bar = line.find('|');
      if (bar == std::string_view::npos || Trim(line.substr(0, bar)) != ifName) continue;
      std::string_view tail = line.substr(bar + 1);
      auto id = ParseInteger(tail.substr(0, tail.find('|')));
      if (id && *id >= 0 && *id < 4096) return static_cast<uint32_t>(*id);
    }
    if (roots_.kernelCalls) {
      IoctlSocket sock;
      vlan_ioctl_args args;
      std::memset(&args, 0, sizeof args);
      args.cmd = GET_VLAN_VID_CMD;
      std::memcpy(args.device1, ifName.data(), std::min(ifName.size(), sizeof args.device1 - 1));
      if (sock.Call(SIOCGIFVLAN, &args) && args.u.VID >= 0 && args.u.VID < 4096)
        return static_cast<uint32_t>(args.u.VID);
    }
    return std::nullopt;
  }

  std::optional<std::vector<std::array<uint8_t, 6>>> MulticastAddresses(
      std::string_view ifName) override {
    if (!PlainName(ifName)) return std::nullopt;
    auto text = ReadSmallFile(roots_.procNet + "/dev_mcast", 1 << 20);
    if (!text) return std::nullopt;
    std::vector<std::array<uint8_t, 6>> list;
    std::string_view rest = *text;
    while (!rest.empty()) {
      size_t eol = rest.find('\n');
      std::string_view line = rest.substr(0, eol);
      rest = eol == std::string_view::npos ? std::string_view{} : rest.substr(eol + 1);
      // index name users global-users address
      std::string_view fields[5];
      size_t count = 0;
      while (count < 5) {
        line = Trim(line);
        if (line.empty()) break;
        size_t end = line.find_first_of(" \t");
        fields[count++] = line.substr(0, end);
        line = end == std::string_view::npos ? std::string_view{} : line.substr(end);
      }
      if (count < 5 || fields[1] != ifName || fields[4].size() != 12) continue;
      std::array<uint8_t, 6> mac{};
      bool good = true;
      for (size_t i = 0; i < 6 && good; ++i) {
        int hi = HexDigit(fields[4][2 * i]), lo = HexDigit(fields[4][2 * i + 1]);
        good = hi >= 0 && lo >= 0;
        mac[i] = static_cast<uint8_t>(hi * 16 + lo);
      }
      if (good) list.push_back(mac);
    }
    return list;
  }

  std::optional<std::string> UdevModel(uint32_t ifIndex) override {
    auto text = ReadSmallFile(roots_.udevData + "/n" + std::to_string(ifIndex));
    if (!text) return std::nullopt;
    constexpr std::string_view kKey = "E:ID_MODEL_FROM_DATABASE=";
    std::string_view rest = *text;
    while (!rest.empty()) {
      size_t eol = rest.find('\n');
      std::string_view line = rest.substr(0, eol);
      rest = eol == std::string_view::npos ? std::string_view{} : rest.substr(eol + 1);
      if (line.substr(0, kKey.size()) == kKey) {
        std::string_view model = Trim(line.substr(kKey.size()));
        if (!model.empty()) return std::string(model);
      }
    }
    return std::nullopt;
  }

  std::optional<std::vector<HostIpv4>> Ipv4Addresses() override {
    std::vector<HostIpv4> list;
    if (!roots_.kernelCalls) return list;
    ifaddrs* all = nullptr;
    if (::getifaddrs(&all) != 0) return std::nullopt;
    for (ifaddrs* a = all; a; a = a->ifa_next) {
      if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || !a->ifa_name) continue;
      HostIpv4 row;
      row.ifName = a->ifa_name;
      row.ifIndex = ::if_nametoindex(a->ifa_name);
      std::memcpy(&row.address, &reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr, 4);
      if (a->ifa_netmask)
        std::memcpy(&row.mask, &reinterpret_cast<const sockaddr_in*>(a->ifa_netmask)->sin_addr, 4);
      list.push_back(std::move(row));
    }
    ::freeifaddrs(all);
    return list;
  }

 private:
  // ETHTOOL_GLINKSETTINGS in its two calls (the first, with no mask words, makes
  // the kernel report how many it wants, as a negative count), else ETHTOOL_GSET.
  std::optional<EthtoolLink> EthtoolLinkSettings(std::string_view ifName) {
    IoctlSocket sock;
    // The settings record is followed by three masks of link_mode_masks_nwords
    // words each; the record is copied in and out of a buffer large enough for
    // the most the kernel can ask (127 words per mask).
    alignas(8) uint8_t buffer[sizeof(ethtool_link_settings) + 3 * 127 * sizeof(uint32_t)];
    ethtool_link_settings settings;
    std::memset(&settings, 0, sizeof settings);
    settings.cmd = ETHTOOL_GLINKSETTINGS;
    std::memset(buffer, 0, sizeof buffer);
    std::memcpy(buffer, &settings, sizeof settings);
    ifreq ifr{};
    SetName(ifr, ifName);
    ifr.ifr_data = reinterpret_cast<char*>(buffer);
    if (sock.Call(SIOCETHTOOL, &ifr)) {
      std::memcpy(&settings, buffer, sizeof settings);
      if (settings.link_mode_masks_nwords < 0) {
        int8_t words = static_cast<int8_t>(-settings.link_mode_masks_nwords);
        std::memset(&settings, 0, sizeof settings);
        settings.cmd = ETHTOOL_GLINKSETTINGS;
        settings.link_mode_masks_nwords = words;
        std::memset(buffer, 0, sizeof buffer);
        std::memcpy(buffer, &settings, sizeof settings);
        SetName(ifr, ifName);
        ifr.ifr_data = reinterpret_cast<char*>(buffer);
        if (sock.Call(SIOCETHTOOL, &ifr)) {
          std::memcpy(&settings, buffer, sizeof settings);
          if (settings.link_mode_masks_nwords == words) {
            EthtoolLink link;
            link.speedMbps = settings.speed;
            link.duplex = settings.duplex;
            link.autoneg = settings.autoneg == AUTONEG_ENABLE;
            return link;
          }
        }
      }
    }
    ethtool_cmd cmd;
    std::memset(&cmd, 0, sizeof cmd);
    cmd.cmd = ETHTOOL_GSET;
    SetName(ifr, ifName);
    ifr.ifr_data = reinterpret_cast<char*>(&cmd);
    if (!sock.Call(SIOCETHTOOL, &ifr)) return std::nullopt;
    EthtoolLink link;
    link.speedMbps = ethtool_cmd_speed(&cmd);
    link.duplex = cmd.duplex;
    link.autoneg = cmd.autoneg == AUTONEG_ENABLE;
    return link;
  }

  NetHostRoots roots_;
};

std::string DevTypeOf(NetHost& host, std::string_view ifName) {
  auto uevent = host.ReadAttribute(ifName, "uevent");
  if (!uevent) return {};
  std::string_view rest = *uevent;
  constexpr std::string_view kKey = "DEVTYPE=";
  while (!rest.empty()) {
    size_t eol = rest.find('\n');
    std::string_view line = rest.substr(0, eol);
    rest = eol == std::string_view::npos ? std::string_view{} : rest.substr(eol + 1);
    if (line.substr(0, kKey.size()) == kKey) return std::string(Trim(line.substr(kKey.size())));
  }
  return {};
}

std::optional<uint32_t> NumberAttribute(NetHost& host, std::string_view ifName, std::string_view attr) {
  auto text = host.ReadAttribute(ifName, attr);
  if (!text) return std::nullopt;
  auto v = ParseInteger(*text);
  if (!v || *v < 0 || *v > 0xFFFFFFFF) return std::nullopt;
  return static_cast<uint32_t>(*v);
}

}  // namespace

std::unique_ptr<NetHost> MakeLinuxNetHost(NetHostRoots roots) {
  return std::make_unique<LinuxNetHost>(std::move(roots));
}

std::optional<InterfaceFacts> ReadInterfaceFacts(NetHost& host, std::string_view ifName) {
  auto index = NumberAttribute(host, ifName, "ifindex");
  if (!index) return std::nullopt;
  InterfaceFacts f;
  f.name = std::string(ifName);
  f.ifIndex = *index;
  f.arpType = NumberAttribute(host, ifName, "type").value_or(0);
  f.mtu = NumberAttribute(host, ifName, "mtu").value_or(0);
  if (auto flags = host.InterfaceFlags(ifName)) {
    f.flags = *flags;
    f.flagsKnown = true;
  }
  if (auto hw = host.HardwareAddressOf(ifName)) f.hardware = *hw;
  f.link = host.LinkSettings(ifName);
  f.wireless = host.HasEntry(ifName, "wireless") || host.HasEntry(ifName, "phy80211");
  f.devType = DevTypeOf(host, ifName);
  return f;
}

uint32_t SpeedBitsPerSecond(const std::optional<EthtoolLink>& link) {
  if (!link || link->speedMbps == 0 || link->speedMbps == EthtoolLink::kUnknownSpeed) return 0;
  uint64_t bits = uint64_t{link->speedMbps} * 1000000u;
  return bits > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(bits);
}

}  // namespace torvane
