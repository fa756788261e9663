#include "platform/system_facts.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstring>
#include <string_view>
#include <vector>

#include "platform/file_io.h"

namespace torvane {

namespace {

constexpr size_t kMaxFactFileBytes = 1u << 20;
constexpr size_t kMaxShortNameLength = 15;  // the old NetBIOS limit of format 0

std::string_view TrimBlanks(std::string_view s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == s.npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

std::string FirstLabel(const std::string& name) { return name.substr(0, name.find('.')); }

std::string UpperShortName(const std::string& name) {
  std::string label = FirstLabel(name).substr(0, kMaxShortNameLength);
  for (char& c : label)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return label;
}

// Each line of `text` as a string_view, without its line break.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    out.push_back(text.substr(pos, nl == text.npos ? text.npos : nl - pos));
    pos = nl == text.npos ? text.size() : nl + 1;
  }
  return out;
}

// A value of an os-release file: shell-like, optionally in double quotes (with
// backslash escapes) or single quotes.
std::string OsReleaseValue(std::string_view v) {
  v = TrimBlanks(v);
  std::string out;
  if (!v.empty() && v.front() == '\'') {
    size_t end = v.find('\'', 1);
    return std::string(v.substr(1, end == v.npos ? v.npos : end - 1));
  }
  if (!v.empty() && v.front() == '"') {
    for (size_t i = 1; i < v.size() && v[i] != '"'; ++i) {
      if (v[i] == '\\' && i + 1 < v.size()) ++i;
      out += v[i];
    }
    return out;
  }
  return std::string(v);
}

std::optional<uint32_t> SerialFromMachineId(const std::string& path) {
  std::string text;
  if (ReadWholeFile(path, text, kMaxFactFileBytes) != FileRead::kOk || text.size() < 8)
    return std::nullopt;
  uint32_t serial = 0;
  for (size_t i = 0; i < 8; ++i) {
    char c = text[i];
    uint32_t d;
    if (c >= '0' && c <= '9') d = static_cast<uint32_t>(c - '0');
    else if (c >= 'a' && c <= 'f') d = static_cast<uint32_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') d = static_cast<uint32_t>(c - 'A' + 10);
    else return std::nullopt;  // "uninitialized" early in boot, or damage
    serial = serial << 4 | d;
  }
  return serial;
}

class LinuxSystemFacts : public SystemFacts {
 public:
  explicit LinuxSystemFacts(std::string root) : root_(std::move(root)) {}

  std::string HostName(uint32_t format) override {
    std::string host = ShortHostName();
    switch (format) {
      case 1:
      case 5: return FirstLabel(host);
      case 2:
      case 6: {
        std::string fqdn = FullName(host);
        size_t dot = fqdn.find('.');
        return dot == fqdn.npos ? std::string() : fqdn.substr(dot + 1);
      }
      case 3:
      case 7: return FullName(host);
      default: return UpperShortName(host);
    }
  }

  std::string CpuModel() override {
    std::string text;
    if (ReadWholeFile(root_ + "/proc/cpuinfo", text, kMaxFactFileBytes) != FileRead::kOk) return {};
    // x86 names the processor "model name"; some other architectures say "cpu model".
    for (std::string_view wanted : {"model name", "cpu model", "Processor"}) {
      for (std::string_view line : Lines(text)) {
        size_t colon = line.find(':');
        if (colon == line.npos || TrimBlanks(line.substr(0, colon)) != wanted) continue;
        std::string_view value = TrimBlanks(line.substr(colon + 1));
        if (!value.empty()) return std::string(value);
      }
    }
    return {};
  }

  std::string OsName() override {
    for (const char* file : {"/etc/os-release", "/usr/lib/os-release"}) {
      std::string text;
      if (ReadWholeFile(root_ + file, text, kMaxFactFileBytes) != FileRead::kOk) continue;
      for (std::string_view line : Lines(text)) {
        if (line.substr(0, 12) != "PRETTY_NAME=") continue;
        std::string name = OsReleaseValue(line.substr(12));
        if (!name.empty()) return name;
      }
    }
    return "Linux";
  }

  std::string KernelRelease() override {
    struct utsname u {};
    if (::uname(&u) != 0) return {};
    return std::string(u.release, strnlen(u.release, sizeof u.release));
  }

  std::optional<uint32_t> VolumeSerial() override {
    if (auto serial = SerialFromMachineId(root_ + "/etc/machine-id")) return serial;
    return SerialFromMachineId(root_ + "/var/lib/dbus/machine-id");
  }

  std::optional<std::string> ExecutablePath() override {
    // readlink neither terminates nor says whether it cut: grow until it fits.
    for (size_t size = 256; size <= 65536; size *= 2) {
      std::vector<char> buffer(size);
      ssize_t n = ::readlink("/proc/self/exe", buffer.data(), size);
      if (n < 0) return std::nullopt;
      if (static_cast<size_t>(n) < size) return std::string(buffer.data(), static_cast<size_t>(n));
    }
    return std::nullopt;
  }

  bool LocalTime(time_t t, std::tm& out, long& gmtoffSeconds) override {
    if (!::localtime_r(&t, &out)) return false;
    gmtoffSeconds = out.tm_gmtoff;
    return true;
  }

 private:
  static std::string ShortHostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return std::string(name, strnlen(name, sizeof name));
  }

  static std::string FullName(const std::string& host) {
    if (host.empty()) return host;
    struct addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_CANONNAME;
    struct addrinfo* res = nullptr;
    std::string out = host;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &res) == 0 && res) {
      if (res->ai_canonname && *res->ai_canonname) out = res->ai_canonname;
      ::freeaddrinfo(res);
    }
    return out;
  }

  std::string root_;
};

}  // namespace

std::unique_ptr<SystemFacts> MakeLinuxSystemFacts() { return MakeLinuxSystemFacts(std::string()); }

std::unique_ptr<SystemFacts> MakeLinuxSystemFacts(std::string fileRoot) {
  while (!fileRoot.empty() && fileRoot.back() == '/') fileRoot.pop_back();
  return std::make_unique<LinuxSystemFacts>(std::move(fileRoot));
}

std::string FakeSystemFacts::HostName(uint32_t format) {
  switch (format) {
    case 1:
    case 5: return FirstLabel(host);
    case 2:
    case 6: return domain;
    case 3:
    case 7: return domain.empty() ? host : host + "." + domain;
    default: return UpperShortName(host);
  }
}

bool FakeSystemFacts::LocalTime(time_t t, std::tm& out, long& gmtoffSeconds) {
  time_t shifted = t + gmtoff;
  if (!::gmtime_r(&shifted, &out)) return false;
  out.tm_gmtoff = gmtoff;
  gmtoffSeconds = gmtoff;
  return true;
}

}  // namespace torvane
