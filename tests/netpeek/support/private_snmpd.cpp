#include "tests/netpeek/support/private_snmpd.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "netpeek/ber_codec.h"
#include "netpeek/snmp_text.h"

namespace torvane::netpeek::testing {

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// A high UDP port that was free a moment ago (snmpd binds it next; start()
// tries another when that fails).
uint16_t FreeUdpPort() {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  uint16_t port = 0;
  if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  if (fd >= 0) ::close(fd);
  return port;
}

}  // namespace

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> out;
  std::string piece;
  std::istringstream in(text);
  while (std::getline(in, piece, separator)) out.push_back(piece);
  if (!text.empty() && text.back() == separator) out.push_back("");
  return out;
}

std::string find_program(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(std::string(path ? path : "/usr/bin:/bin") + ":/usr/sbin:/sbin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

RunResult run_program(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      const std::string& cwd, int timeout_s) {
  RunResult result;
  ScratchDir capture;
  const std::string outPath = capture / "out", errPath = capture / "err";
  auto started = Clock::now();
  pid_t pid = ::fork();
  if (pid < 0) return result;
  if (pid == 0) {
    int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int in = ::open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
    for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  bool ended = false;
  while (SecondsSince(started) < timeout_s) {
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      ended = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!ended) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  result.seconds = SecondsSince(started);
  if (ended && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  result.out = read_file(outPath);
  result.err = read_file(errPath);
  return result;
}

std::string normal_hex(const std::string& text) {
  std::istringstream in(text);
  std::string byte, out;
  while (in >> byte) {
    for (char& c : byte) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    out += (out.empty() ? "" : " ") + byte;
  }
  return out;
}

std::string hex_to_bytes(const std::string& normalised_hex) {
  std::istringstream in(normalised_hex);
  std::string byte, out;
  while (in >> byte) out += static_cast<char>(std::stoul(byte, nullptr, 16));
  return out;
}

std::string bytes_to_hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::vector<NetSnmpObject> parse_net_snmp(const std::string& output) {
  std::vector<NetSnmpObject> out;
  std::istringstream in(output);
  std::string line;
  while (std::getline(in, line)) {
    // Long Hex-STRINGs go on over the following lines.
    if (!line.empty() && line[0] != '.') {
      if (!out.empty()) out.back().value = normal_hex(out.back().value + " " + line);
      continue;
    }
    size_t eq = line.find(" = ");
    if (eq == std::string::npos) continue;
    NetSnmpObject o;
    o.oid = line.substr(1, eq - 1);
    std::string rest = line.substr(eq + 3);
    if (rest == "\"\"") {
      o.type = "Hex-STRING";
      out.push_back(o);
      continue;
    }
    size_t colon = rest.find(": ");
    o.type = rest.substr(0, colon);
    std::string v = colon == std::string::npos ? "" : rest.substr(colon + 2);
    if (o.type == "Hex-STRING") v = normal_hex(v);
    if (o.type == "OID" && !v.empty() && v[0] == '.') v = v.substr(1);
    if (o.type == "Timeticks") v = v.substr(1, v.find(')') - 1);
    if (o.type == "INTEGER") v = std::to_string(static_cast<uint32_t>(std::stol(v)));
    o.value = v;
    out.push_back(o);
  }
  return out;
}

RunResult PrivateSnmpd::net_snmp(const std::string& tool, const std::vector<std::string>& objects,
                                 const std::vector<std::string>& extra_options) const {
  std::vector<std::string> args = {find_program(tool), "-v1", "-c", kCommunity, "-On", "-Ox"};
  args.insert(args.end(), extra_options.begin(), extra_options.end());
  args.push_back(address());
  args.insert(args.end(), objects.begin(), objects.end());
  return run_program(args, tool_env());
}

PrivateSnmpd::PrivateSnmpd(std::string extra_config) : extra_(std::move(extra_config)) {}

PrivateSnmpd::~PrivateSnmpd() { stop(); }

std::vector<std::string> PrivateSnmpd::tool_env() const {
  return {"MIBS=", "SNMP_PERSISTENT_DIR=" + dir() + "/tools", "SNMPCONFPATH=" + dir() + "/tools"};
}

bool PrivateSnmpd::Answers(int timeout_ms) const {
  // One GetRequest of sysDescr, built by our codec; any GetResponse will do.
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(port_);
  VarBind b;
  b.name = oid_from_text("1.3.6.1.2.1.1.1.0");
  Pdu pdu;
  pdu.type = asn::kGetRequest;
  pdu.request_id = 77;
  pdu.bindings = {&b, 1};
  uint8_t message[kSnmpDatagramMax];
  size_t length = 0;
  BerLog log;
  bool ok = false;
  if (snmp_build_request(pdu, kCommunity, 0, message, length, log) == 0 &&
      ::sendto(fd, message, length, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) > 0) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) > 0) ok = ::recv(fd, message, sizeof message, 0) > 0;
  }
  ::close(fd);
  return ok;
}

bool PrivateSnmpd::start(std::string* why) {
  const std::string snmpd = find_program("snmpd");
  if (snmpd.empty()) {
    if (why) *why = "snmpd is not installed";
    return false;
  }
  const std::string conf = dir() + "/snmpd.conf";
  write_file(conf, "view all included .1\nrocommunity " + std::string(kCommunity) + " 127.0.0.1 -V all\n" + extra_);
  ::mkdir((dir() + "/tools").c_str(), 0700);
  write_file(dir() + "/tools/snmp.conf", "");  // the tools read no other configuration
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = FreeUdpPort();
    const std::string pidFile = dir() + "/snmpd.pid";
    const std::string logFile = dir() + "/snmpd.log";
    ::unlink(pidFile.c_str());
    pid_t pid = ::fork();
    if (pid < 0) break;
    if (pid == 0) {
      int out = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      int in = ::open("/dev/null", O_RDONLY);
      if (out >= 0) {
        ::dup2(out, 1);
        ::dup2(out, 2);
      }
      if (in >= 0) ::dup2(in, 0);
      ::setenv("MIBS", "", 1);
      ::setenv("SNMP_PERSISTENT_DIR", (dir() + "/persist").c_str(), 1);
      std::string endpoint = "udp:127.0.0.1:" + std::to_string(port_);
      const char* args[] = {snmpd.c_str(), "-f", "-Lo", "-C", "-I", "-smux", "-c", conf.c_str(),
                            "-p", pidFile.c_str(), endpoint.c_str(), nullptr};
      ::execv(args[0], const_cast<char* const*>(args));
      ::_exit(127);
    }
    child_ = pid;
    auto started = Clock::now();
    while (SecondsSince(started) < 10) {
      int status = 0;
      if (::waitpid(child_, &status, WNOHANG) == child_) {  // it ended: port taken, or bad config
        child_ = -1;
        break;
      }
      if (Answers(100)) return true;
    }
    stop();
  }
  if (why) *why = "snmpd did not answer; its log:\n" + read_file(dir() + "/snmpd.log");
  return false;
}

void PrivateSnmpd::stop() {
  if (child_ < 0) return;
  // Stopped by the PID it wrote; the child is the same process (it runs in the
  // foreground), which is reaped here.
  pid_t pid = -1;
  {
    std::ifstream in(dir() + "/snmpd.pid");
    long value = -1;
    if (in >> value && value > 0) pid = static_cast<pid_t>(value);
  }
  if (pid > 0) ::kill(pid, SIGTERM);
  if (pid != child_) ::kill(child_, SIGTERM);  // no PID file yet
  auto started = Clock::now();
  int status = 0;
  while (::waitpid(child_, &status, WNOHANG) == 0) {
    if (SecondsSince(started) > 5) {
      ::kill(child_, SIGKILL);
      ::waitpid(child_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  child_ = -1;
}

}  // namespace torvane::netpeek::testing
