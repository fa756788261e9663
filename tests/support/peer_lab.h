// The lab the end-to-end tests share: our side and a peer's, each a namespace,
// joined by a veth pair, with one scratch folder laid out for the programs they
// run there (lldpd, our agent, a private snmpd, the AgentX subagent). Each
// program is started by one call that returns its PID; the lab stops them all,
// each with the signal its user would send, newest first, and keeps every run's
// output for the report of a failed test. SNMP servers listen on the
// namespace's own 127.0.0.1 only.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "tests/support/netns_lab.h"

namespace torvane {

// The veth pair between the two namespaces.
struct LabLink {
  std::string ourSuffix = "o";  // the namespaces' name suffixes
  std::string peerSuffix = "p";
  std::string ourIf, peerIf;
  std::string ourAddress, peerAddress;  // IPv4, in one /24
  int mtu = 0;                          // 0: the veth's own
};

// Where each program keeps its files below the lab's scratch folder. Every folder
// is mode 0755: lldpd drops to a user of its own, and other users reach the
// agent's pipe and the AgentX socket.
struct LabFiles {
  std::string root;

  std::string operator/(const std::string& name) const { return root + "/" + name; }
  // A copy of the agent, with its lldp.ini (and the event logs it is told to
  // write) beside it: the agent finds its settings beside its program.
  std::string AgentDir() const { return root + "/agent"; }
  std::string Agent() const { return AgentDir() + "/lldp"; }
  std::string AgentIni() const { return AgentDir() + "/lldp.ini"; }
  std::string Registry() const { return root + "/registry"; }
  std::string Pipe() const { return root + "/pipe"; }
  // An empty configuration file, so that nothing comes from /etc.
  std::string LldpdConfig() const { return root + "/lldpd/empty.conf"; }
  std::string LldpdSocket(const std::string& name) const { return root + "/lldpd/" + name + ".socket"; }
  std::string SnmpdConfig() const { return root + "/snmp/snmpd.conf"; }
  std::string SnmpdPidFile() const { return root + "/snmp/snmpd.pid"; }
  std::string AgentxSocket() const { return root + "/snmp/agentx.sock"; }
  std::string SnmpdState() const { return root + "/snmp/state"; }
  // The persistent folder of the net-snmp tools and of the subagent.
  std::string SnmpClient() const { return root + "/snmp/client"; }
  // A folder for what a program under test writes where it is run.
  std::string Work() const { return root + "/work"; }
};

// What lldpd is told to advertise of itself.
struct LldpdIdentity {
  std::string hostname;
  std::string description;
  std::string portId;  // locally assigned
  std::string portDescription;
  std::string capabilities;  // enabled, as lldpcli names them ("router")
};

class PeerLab : public NetnsLab {
 public:
  PeerLab() = default;
  ~PeerLab();

  // Empty when the lab and each of `programs` can run here; otherwise why not.
  static std::string Unavailable(const std::vector<std::string>& programs = {});
  // A file of the build tree ("agent/lldp").
  static std::string Built(const std::string& relative);
  // Empty when each of these files of the build tree exists; otherwise which not.
  static std::string Unbuilt(const std::vector<std::string>& relatives);

  // Both namespaces, the veth pair and the scratch folder; empty, or what failed.
  std::string Open(const LabLink& link);
  // The veth pair again, as Open made it (after a test deleted it).
  bool Relink();
  // An interface's MAC address as Linux prints it ("aa:bb:cc:dd:ee:ff").
  std::string MacOf(const std::string& ns, const std::string& ifName);

  // A new output file for a run of `name` ("<name><run>.out"), and the last one.
  std::string NewLog(const std::string& name);
  std::string LastLog(const std::string& name) const;
  std::string LastLogText(const std::string& name) const;
  // "--- <name>\n<output>\n" of the last run of each.
  std::string LogsOf(const std::vector<std::string>& names) const;
  // Every output file of the lab, sorted.
  std::vector<std::string> LogFiles() const;

  // lldpd on one interface with its own socket (LabFiles::LldpdSocket(name)),
  // sending LLDP only unless `options` say more; returns once its start-up
  // configuration resumed it (-1 when that did not come, the run's output tells
  // why).
  pid_t StartLldpd(const std::string& ns, const std::string& ifName, const std::string& name,
                   const std::vector<std::string>& options = {});
  // lldpcli against that lldpd: its keyvalue output, or whether a command took.
  std::string Lldpcli(const std::string& ns, const std::string& name, const std::string& command);
  bool LldpcliDo(const std::string& ns, const std::string& name, const std::string& command);
  // Until lldpd lists `ifName` as its interface.
  bool LldpdReady(const std::string& ns, const std::string& name, const std::string& ifName,
                  std::chrono::milliseconds limit);
  bool ConfigureLldpd(const std::string& ns, const std::string& name, const std::string& ifName,
                      const LldpdIdentity& identity);

  // Copies the built agent into its folder and writes its lldp.ini.
  bool InstallAgent(const std::string& ini);
  // The copy as `lldp -debug`, with the lab's registry and pipe; passMs is the
  // worker's pass (0 leaves the agent's own).
  pid_t StartAgent(const std::string& ns, int passMs);

  // snmpd in the foreground on udp:127.0.0.1:<port> with `config` as its whole
  // configuration. `launcherEnv` is set for snmpd alone (not for the ip command
  // that enters the namespace), `env` for both.
  pid_t StartSnmpd(const std::string& ns, const std::string& config, const std::string& port,
                   const std::vector<std::string>& env = {},
                   const std::vector<std::string>& launcherEnv = {});
  bool AgentxSocketReady(std::chrono::milliseconds limit);
  // A net-snmp tool's command line run in the namespace: its standard output.
  std::string SnmpTool(const std::string& ns, const std::string& commandLine);
  // The built AgentX subagent serving `library`, connecting to the lab's snmpd.
  pid_t StartSubagent(const std::string& ns, const std::string& library);

  // Stops every program started here that still runs, newest first, each as its
  // user would; what does not end in time is killed.
  void StopAll();

  std::string ours, peer;  // the namespaces
  LabLink link;
  LabFiles files;

 private:
  struct Started {
    pid_t pid;
    int signal;
    std::chrono::milliseconds limit;
  };
  pid_t Track(pid_t pid, int signal, std::chrono::milliseconds limit);

  std::vector<Started> started_;
  std::map<std::string, int> runs_;
};

// ---- the programs' text output ----

// The non-empty lines.
std::vector<std::string> Lines(const std::string& text);
// Without trailing newlines and blanks.
std::string Trimmed(std::string text);
size_t CountOf(const std::string& text, const std::string& needle);

// The value of the first "<...>.<key>=value" (or "<key>=value") line of
// lldpcli's keyvalue output.
std::string LldpcliValue(const std::string& text, const std::string& key);

// lldpcli's capability names ("chassis.<name>.enabled=on|off") with the letter
// our agent writes for each and its bit in the LLDP capabilities field.
struct LldpcliCapability {
  const char* name;
  char letter;
  unsigned bit;
};
extern const LldpcliCapability kLldpcliCapabilities[8];
// The letters as our agent writes them: upper case when enabled, lower case when
// only supported.
std::string CapabilityLetters(const std::string& lldpcliText);

// The system name our agent advertises with nameFormat 0: the host's first name
// label in upper case, at most 15 characters.
std::string AgentSystemName();

}  // namespace torvane
