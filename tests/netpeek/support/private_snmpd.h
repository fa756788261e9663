// A private net-snmp snmpd on 127.0.0.1 for tests, benchmarks and captures: its own
// configuration (community "tarlow" from 127.0.0.1, a view of .1, plus any lines
// given), its own persistent folder in a scratch folder, a free high port, and
// stopped by the PID in its PID file. Needs no root; several may run at once.
// Also: running a program with a time limit and capturing what it prints.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace torvane::netpeek::testing {

// A scratch folder removed with everything in it, and whole files: the suite's.
using ScratchDir = torvane::testing::TempDir;
inline std::string read_file(const std::string& path) { return torvane::testing::ReadFileText(path); }
inline void write_file(const std::string& path, const std::string& text) {
  torvane::testing::WriteFileText(path, text);
}
// The pieces of text between separators ("a\t" gives "a" and "").
std::vector<std::string> split(const std::string& text, char separator);
// The full path of a program on PATH (or in /usr/sbin, /sbin), "" when missing.
std::string find_program(const std::string& name);

struct RunResult {
  int exit_code = -1;  // -1 when it did not end by itself within the limit
  std::string out;
  std::string err;
  double seconds = 0;
};
// Runs argv[0] with argv (env entries "NAME=value" added to the environment, cwd
// when not empty); kills it after timeout_s.
RunResult run_program(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                      const std::string& cwd = "", int timeout_s = 60);

inline constexpr char kCommunity[] = "tarlow";

// One object as net-snmp's tools print it with -On -Ox: the identifier without
// its leading dot, net-snmp's type word ("INTEGER", "Hex-STRING", ...), and the
// value normalised: INTEGER as its unsigned 32 bits in decimal, Timeticks as the
// raw hundredths, OID without its leading dot, octets as lower-case hex bytes
// "6c 6f" (an empty string is a Hex-STRING ""), anything else as printed.
struct NetSnmpObject {
  std::string oid;
  std::string type;
  std::string value;
};
std::vector<NetSnmpObject> parse_net_snmp(const std::string& output);
// Hex bytes "6C 6F " or "6c 6f " as "6c 6f".
std::string normal_hex(const std::string& text);
// "6c 6f" as the bytes "lo".
std::string hex_to_bytes(const std::string& normalised_hex);
// The bytes "lo" as "6c6f", as the view writes an octet string it cannot print.
std::string bytes_to_hex(const std::string& bytes);

class PrivateSnmpd {
 public:
  explicit PrivateSnmpd(std::string extra_config = "");
  ~PrivateSnmpd();
  PrivateSnmpd(const PrivateSnmpd&) = delete;
  PrivateSnmpd& operator=(const PrivateSnmpd&) = delete;

  // Starts snmpd and waits until it answers; false (with the reason) otherwise.
  bool start(std::string* why);
  void stop();
  uint16_t port() const { return port_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  const std::string& dir() const { return dir_.path(); }
  // The environment the net-snmp tools need to leave the host's files alone.
  std::vector<std::string> tool_env() const;
  // Runs one of net-snmp's tools (snmpwalk, snmpget) with -v1, the community,
  // -On -Ox, this agent and the objects (extra_options before the agent).
  RunResult net_snmp(const std::string& tool, const std::vector<std::string>& objects,
                     const std::vector<std::string>& extra_options = {}) const;

 private:
  bool Answers(int timeout_ms) const;
  std::string extra_;
  ScratchDir dir_;
  uint16_t port_ = 0;
  pid_t child_ = -1;
};

}  // namespace torvane::netpeek::testing
