#include "tests/support/peer_lab.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/temp_dir.h"

namespace torvane {

using namespace std::chrono_literals;

PeerLab::~PeerLab() { StopAll(); }

std::string PeerLab::Unavailable(const std::vector<std::string>& programs) {
  std::string why = NetnsLab::Unavailable();
  if (!why.empty()) return why;
  std::string missing;
  for (const std::string& p : programs)
    if (std::system(("command -v " + p + " >/dev/null 2>&1").c_str()) != 0)
      missing += (missing.empty() ? "" : ", ") + p;
  return missing.empty() ? std::string() : "needs " + missing;
}

std::string PeerLab::Built(const std::string& relative) { return std::string(LLDP_BINARY_DIR) + "/" + relative; }

std::string PeerLab::Unbuilt(const std::vector<std::string>& relatives) {
  std::string missing;
  for (const std::string& r : relatives)
    if (!std::filesystem::exists(Built(r))) missing += Built(r) + " is not built\n";
  return missing;
}

std::string PeerLab::Open(const LabLink& l) {
  link = l;
  ours = AddNamespace(link.ourSuffix);
  peer = AddNamespace(link.peerSuffix);
  if (ours.empty() || peer.empty()) return "cannot add the namespaces";
  if (!Relink()) return "cannot add the veth pair";
  files.root = TempDir();
  if (files.root.empty()) return "cannot make the scratch folder";
  std::error_code ec;
  const auto reachable = std::filesystem::perms(0755);
  std::filesystem::permissions(files.root, reachable, ec);
  for (const std::string& sub : {files.AgentDir(), files.Registry(), files.root + "/lldpd", files.root + "/snmp",
                                 files.SnmpdState(), files.SnmpClient(), files.Work()}) {
    std::filesystem::create_directory(sub, ec);
    std::filesystem::permissions(sub, reachable, ec);
    if (ec) return "cannot make " + sub + ": " + ec.message();
  }
  std::ofstream(files.LldpdConfig());
  return std::filesystem::exists(files.LldpdConfig()) ? std::string() : "cannot write " + files.LldpdConfig();
}

bool PeerLab::Relink() {
  if (!AddVeth(ours, link.ourIf, link.ourAddress + "/24", peer, link.peerIf, link.peerAddress + "/24"))
    return false;
  if (link.mtu == 0) return true;
  const std::string mtu = " mtu " + std::to_string(link.mtu);
  return ShIn(ours, "ip link set " + link.ourIf + mtu) && ShIn(peer, "ip link set " + link.peerIf + mtu);
}

std::string PeerLab::MacOf(const std::string& ns, const std::string& ifName) {
  return Trimmed(Capture(ns, "cat /sys/class/net/" + ifName + "/address"));
}

// ---- output files ----

std::string PeerLab::NewLog(const std::string& name) {
  return files / (name + std::to_string(++runs_[name]) + ".out");
}

std::string PeerLab::LastLog(const std::string& name) const {
  auto it = runs_.find(name);
  return files / (name + std::to_string(it == runs_.end() ? 0 : it->second) + ".out");
}

std::string PeerLab::LastLogText(const std::string& name) const { return testing::ReadFileText(LastLog(name)); }

std::string PeerLab::LogsOf(const std::vector<std::string>& names) const {
  std::string out;
  for (const std::string& name : names) out += "--- " + name + "\n" + LastLogText(name) + "\n";
  return out;
}

std::vector<std::string> PeerLab::LogFiles() const {
  std::vector<std::string> logs;
  std::error_code ec;
  if (!files.root.empty())
    for (const auto& e : std::filesystem::directory_iterator(files.root, ec))
      if (e.path().extension() == ".out") logs.push_back(e.path());
  std::sort(logs.begin(), logs.end());
  return logs;
}

// ---- the programs ----

pid_t PeerLab::Track(pid_t pid, int signal, std::chrono::milliseconds limit) {
  if (pid > 0) started_.push_back({pid, signal, limit});
  return pid;
}

void PeerLab::StopAll() {
  // Stop() leaves alone what a test stopped already: the lab no longer owns it.
  for (auto it = started_.rbegin(); it != started_.rend(); ++it) Stop(it->pid, it->signal, it->limit);
  started_.clear();
}

pid_t PeerLab::StartLldpd(const std::string& ns, const std::string& ifName, const std::string& name,
                          const std::vector<std::string>& options) {
  std::vector<std::string> argv = {"lldpd", "-d"};
  argv.insert(argv.end(), options.begin(), options.end());
  for (const std::string& a : {std::string("-O"), files.LldpdConfig(), std::string("-u"), files.LldpdSocket(name),
                               std::string("-I"), ifName})
    argv.push_back(a);
  // SIGTERM, so that its privilege-separated child ends with it.
  const std::string log = NewLog(name);
  const pid_t pid = Track(Spawn(ns, argv, {}, log), SIGTERM, 10s);
  // Nothing may configure it before its own lldpcli resumed it (see LldpdResumed).
  if (pid > 0 && !LldpdResumed(log)) return -1;
  return pid;
}

std::string PeerLab::Lldpcli(const std::string& ns, const std::string& name, const std::string& command) {
  return Capture(ns, "lldpcli -u " + files.LldpdSocket(name) + " -f keyvalue " + command);
}

bool PeerLab::LldpcliDo(const std::string& ns, const std::string& name, const std::string& command) {
  return ShIn(ns, "lldpcli -u " + files.LldpdSocket(name) + " " + command);
}

bool PeerLab::LldpdReady(const std::string& ns, const std::string& name, const std::string& ifName,
                         std::chrono::milliseconds limit) {
  return Eventually([&] { return Lldpcli(ns, name, "show interfaces").find(ifName) != std::string::npos; }, limit);
}

bool PeerLab::ConfigureLldpd(const std::string& ns, const std::string& name, const std::string& ifName,
                             const LldpdIdentity& identity) {
  return LldpcliDo(ns, name, "configure system hostname " + identity.hostname) &&
         LldpcliDo(ns, name, "configure system description '" + identity.description + "'") &&
         LldpcliDo(ns, name, "configure ports " + ifName + " lldp portidsubtype local " + identity.portId +
                                 " description " + identity.portDescription) &&
         LldpcliDo(ns, name, "configure system capabilities enabled " + identity.capabilities);
}

bool PeerLab::InstallAgent(const std::string& ini) {
  std::error_code ec;
  std::filesystem::copy_file(Built("agent/lldp"), files.Agent(), std::filesystem::copy_options::overwrite_existing,
                             ec);
  if (ec) return false;
  std::ofstream(files.AgentIni()) << ini;
  return std::filesystem::exists(files.AgentIni()) && testing::ReadFileText(files.AgentIni()) == ini;
}

pid_t PeerLab::StartAgent(const std::string& ns, int passMs) {
  std::vector<std::string> env = {"TORVANE_REGISTRY=" + files.Registry(), "TORVANE_PIPE=" + files.Pipe()};
  if (passMs > 0) env.push_back("TORVANE_PASS_MS=" + std::to_string(passMs));
  // SIGINT, as Ctrl+C stops `lldp -debug`.
  return Track(Spawn(ns, {files.Agent(), "-debug"}, env, NewLog("agent")), SIGINT, 10s);
}

pid_t PeerLab::StartSnmpd(const std::string& ns, const std::string& config, const std::string& port,
                          const std::vector<std::string>& env, const std::vector<std::string>& launcherEnv) {
  std::ofstream(files.SnmpdConfig()) << config;
  std::vector<std::string> argv;
  if (!launcherEnv.empty()) {
    argv.push_back("env");
    argv.insert(argv.end(), launcherEnv.begin(), launcherEnv.end());
  }
  for (const std::string& a : {std::string("snmpd"), std::string("-f"), std::string("-Lo"), std::string("-C"),
                               std::string("-I"), std::string("-smux"), std::string("-c"), files.SnmpdConfig(),
                               std::string("-p"), files.SnmpdPidFile(), "udp:127.0.0.1:" + port})
    argv.push_back(a);
  std::vector<std::string> all = {"MIBS=", "SNMP_PERSISTENT_DIR=" + files.SnmpdState()};
  all.insert(all.end(), env.begin(), env.end());
  return Track(Spawn(ns, argv, all, NewLog("snmpd")), SIGTERM, 10s);
}

bool PeerLab::AgentxSocketReady(std::chrono::milliseconds limit) {
  return Eventually([&] { return std::filesystem::exists(files.AgentxSocket()); }, limit);
}

std::string PeerLab::SnmpTool(const std::string& ns, const std::string& commandLine) {
  return Capture(ns, "MIBS= SNMP_PERSISTENT_DIR=" + files.SnmpClient() + " " + commandLine);
}

pid_t PeerLab::StartSubagent(const std::string& ns, const std::string& library) {
  return Track(Spawn(ns, {Built("nbrmib/nbrmib-agentx"), "-x", files.AgentxSocket(), "-l", library, "-p", "1"},
                     {"TORVANE_PIPE=" + files.Pipe(), "SNMP_PERSISTENT_DIR=" + files.SnmpClient()},
                     NewLog("subagent")),
               SIGTERM, 5s);
}

// ---- the programs' text output ----

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) out.push_back(line);
  return out;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

size_t CountOf(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

std::string LldpcliValue(const std::string& text, const std::string& key) {
  for (const std::string& line : Lines(text)) {
    size_t eq = line.find('=');
    if (eq != std::string::npos && eq >= key.size() && line.compare(eq - key.size(), key.size(), key) == 0 &&
        (eq == key.size() || line[eq - key.size() - 1] == '.'))
      return line.substr(eq + 1);
  }
  return {};
}

const LldpcliCapability kLldpcliCapabilities[8] = {
    {"Other", 'O', 0x01},  {"Repeater", 'E', 0x02}, {"Bridge", 'B', 0x04}, {"Wlan", 'A', 0x08},
    {"Router", 'R', 0x10}, {"Tel", 'T', 0x20},      {"Docsis", 'C', 0x40}, {"Station", 'S', 0x80}};

std::string CapabilityLetters(const std::string& lldpcliText) {
  std::string letters;
  for (const LldpcliCapability& c : kLldpcliCapabilities) {
    const std::string state = LldpcliValue(lldpcliText, std::string("chassis.") + c.name + ".enabled");
    if (state == "on") letters += c.letter;
    if (state == "off") letters += static_cast<char>(std::tolower(static_cast<unsigned char>(c.letter)));
  }
  return letters;
}

std::string AgentSystemName() {
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  std::string name(host);
  name = name.substr(0, name.find('.'));
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name.substr(0, 15);
}

}  // namespace torvane
