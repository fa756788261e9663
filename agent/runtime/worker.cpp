#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "agent/frames/cdp_builder.h"
#include "agent/frames/lldp_builder.h"
#include "agent/frames/wire_format.h"
#include "agent/link/link_layer.h"
#include "agent/runtime/agent.h"
#include "records/text_forms.h"
#include "common/mac.h"
#include "common/text.h"

namespace torvane {

namespace {

constexpr size_t kModuleDirectorySize = 260;
constexpr size_t kDiscoveryBufferSize = 8192;


// Per-port switches fall back to this when the registry holds no value for the
// port: every optional TLV on, plus the default transmit/receive bits.
constexpr uint32_t kAllTlvsEnabled = 0xF000;

PortFacts FactsOf(const Port& port) {
  PortFacts f;
  f.mac = port.macAddress.load();
  f.ifIndex = port.ifIndex;
  f.connectionName = FieldText(port.connectionName);
  f.description = FieldText(port.description);
  f.adminStatus = port.adminStatus;
  f.tlvsTxEnable = port.tlvsTxEnable;
  f.linkSpeed = port.linkSpeed;
  f.duplex = port.duplex;
  f.autoNeg = port.autoNeg;
  f.vlanId = port.vlanId;
  f.maxFrameSize = port.maxFrameSize;
  f.ifType = port.ifType;
  f.medActive = port.medActive;
  f.medEndpointSeen = port.medEndpointSeen;
  return f;
}

bool IsMedEndpoint(uint8_t devType) { return devType >= 1 && devType <= 3; }

// Takes one from the port's fast-start count unless the receive path or the pipe
// emptied it in the meantime; true when one was taken.
bool TakeFastStart(Port& port) {
  uint8_t n = port.fastStartCount.load();
  while (n > 0) {
    if (port.fastStartCount.compare_exchange_weak(n, static_cast<uint8_t>(n - 1))) return true;
  }
  return false;
}

// The LLDP frame of a cycle, plus the copies to the extra multicast address and,
// on the one configured adapter, to the broadcast address. The copies differ from
// the frame only in their two addresses, are not traced and their sends are not
// looked at.
void SendLldp(Agent& agent, Port& port, PortFacts& facts, const AgentSettings& s,
              const InterfaceLists& lists, int mode, uint8_t* frame, uint32_t now) {
  LldpBuildNotes notes;
  size_t length = BuildLldpFrame(facts, s, lists.addresses, mode, frame, kFrameBufferSize, now, &notes);
  // An endpoint gone quiet is forgotten, unless the receive thread has just heard
  // it again: then the frame is built anew with that time.
  if (notes.medEndpointExpired &&
      !port.medEndpointSeen.compare_exchange_strong(facts.medEndpointSeen, 0)) {
    length = BuildLldpFrame(facts, s, lists.addresses, mode, frame, kFrameBufferSize, now, &notes);
  }
  if (notes.mauTypeSet) port.mauType = notes.mauType;
  if (length < 14) return;
  if (agent.link->SendFrame(port, frame, length) && agent.debugLevel)
    TracePort(agent, port, "lldp sent");

  Mac mac = port.macAddress.load();
  if (!IsAllZero(s.txMcast, 6)) {
    std::memcpy(frame, s.txMcast, 6);
    std::memcpy(frame + 6, mac.data(), 6);
    agent.link->SendFrame(port, frame, length);
  }
  if (!IsAllZero(s.txBcSrc, 6) && std::memcmp(s.txBcSrc, mac.data(), 6) == 0) {
    std::memcpy(frame, kBroadcastMac.data(), 6);
    std::memcpy(frame + 6, mac.data(), 6);
    agent.link->SendFrame(port, frame, length);
  }
}

// CDP goes out always (txCdp 1) or, in answer mode (txCdp 3), while a CDP frame
// was heard on the port: a cycle that finds the last one older than 255 seconds
// forgets it but still sends this once. The shutdown cycle (mode 0) sends it with
// hold time 0: a stopping agent must not renew its entry in the peers' tables.
// Peers differ (one drops us at once, another discards the frame and lets our
// entry run out), but none keeps us longer than it would without the frame.
void SendCdp(Agent& agent, Port& port, const PortFacts& facts, const AgentSettings& s,
             const OutsideSettings& o, const InterfaceLists& lists, int mode, uint8_t* frame,
             uint32_t now) {
  uint32_t seen = port.cdpSeen.load();
  if (!(s.txCdp == 1 || (s.txCdp == 3 && seen != 0))) return;
  if (seen < now - 255u) {
    // A frame that arrives meanwhile keeps its fresh time.
    port.cdpSeen.compare_exchange_strong(seen, 0);
  }
  size_t length = BuildCdpFrame(facts, s, FieldText(o.osVersionText), lists.addresses, frame,
                                kFrameBufferSize, mode);
  if (length < 14) return;
  if (agent.link->SendFrame(port, frame, length) && agent.debugLevel)
    TracePort(agent, port, "cdp sent");
}

bool ChangeDirectory(Agent& agent, const char* directory) {
  if (agent.changeDirectory) return agent.changeDirectory(directory);
  return ::chdir(directory) == 0;
}

// Makes the executable's directory the module directory, records it as "Path"
// and makes it current. False when it cannot be had.
bool SetUpModuleDirectory(Agent& agent) {
  std::optional<std::string> exe = agent.host.facts.ExecutablePath();
  if (!exe) return false;
  char directory[kModuleDirectorySize];
  if (ModuleDirectoryOf(*exe, directory, sizeof directory) == 0) return false;
  agent.settings.Update(
      [&](AgentSettings&, OutsideSettings& o) { CopyText(o.moduleDirectory, directory); });
  RegWriteValue(agent.host.registry, "lldp", "Path", reinterpret_cast<const uint8_t*>(directory),
                -1);
  // The settings file and the log are reached by full paths, so a directory that
  // cannot be entered does not stop the agent.
  ChangeDirectory(agent, directory);
  return true;
}

// Brings packet access up: the packet driver, else the packet library. False
// when neither can be had.
bool StartPacketAccess(Agent& agent) {
  if (agent.link->StartPacketDriver()) return true;
  bool available;
  if (agent.settings.Get().Packet & 1) {
    available = agent.usePacketLibrary;
  } else {
    if (!agent.usePacketLibrary) agent.usePacketLibrary = agent.link->LoadPacketLibrary();
    available = agent.usePacketLibrary;
  }
  if (!available) return false;
  agent.link->StartPacketDriver();
  return true;
}

// The last cycle sends LLDP frames with time-to-live 0 so that neighbours forget
// us at once; then every port and the packet access close.
int Shutdown(Agent& agent) {
  agent.stopping = true;
  PortCycle(agent, agent.ports.portCount, 0);
  agent.link->CloseAllPorts(agent.ports);
  agent.link->StopPacketDriver();
  if (agent.pipe) agent.pipe->Stop();
  return 1;
}

}  // namespace

void Agent::RunCycleNow() {
  tickCounter = 0;
  wake.Set();
}

bool Agent::SaveSettings(const AgentSettings& block) {
  return torvane::SaveSettings(block, settings.GetOutside(), host.profile, "lldp") != 0;
}

void Agent::ReloadSettings() { LoadSettings(settings, host, *lists.Get(), "lldp"); }

int RunAgent(Agent& agent, int argc, char** argv) {
  if (!agent.link) return 0;
  if (argc > 1 && argv[1] && EqualsNoCase(argv[1], "-debug")) agent.debugLevel = 1;

  if (!SetUpModuleDirectory(agent)) return 0;
  // What settings and store writes left behind when the agent was killed in the middle.
  agent.host.profile.RemoveLeftovers(SettingsFileName(agent.settings.GetOutside(), "lldp"));
  agent.host.registry.RemoveLeftovers();
  LoadSettings(agent.settings, agent.host, *agent.lists.Get(), "lldp");
  if (agent.neighbors) agent.neighbors->InitNeighborTable();
  if (WindowsVersion() <= 4) return 0;

  if (agent.settings.Get().Packet & 1) agent.usePacketLibrary = agent.link->LoadPacketLibrary();
  if (agent.pipe) agent.pipe->Start();
  agent.clock.Sleep(agent.timing.startup);

  // Discovery's work buffer lives as long as the worker, so that no pass allocates.
  auto discoveryBuffer = std::make_unique<uint8_t[]>(kDiscoveryBufferSize);
  agent.tickCounter = 0;
  if (agent.stopRequested) return Shutdown(agent);

  for (;;) {
    if (!StartPacketAccess(agent)) {
      agent.stopping = true;
      if (agent.pipe) agent.pipe->Stop();
      return 0;
    }
    // Every port was closed before a restart came back here.
    agent.ports.Reset();
    if (agent.stopRequested) return Shutdown(agent);

    for (;;) {
      if (agent.debugLevel) agent.Trace(TimestampText(agent.host.facts, agent.clock.Now()) + "\n");
      uint32_t t = agent.tickCounter.fetch_add(1);
      uint32_t ready = 1;
      if (t == 0) {
        uint32_t count = agent.link->DiscoverAdapters(agent.ports, agent.ports.portCount,
                                                      discoveryBuffer.get(), kDiscoveryBufferSize);
        agent.ports.portCount = count < kMaxPorts ? count : static_cast<uint32_t>(kMaxPorts);
        agent.link->LoadInterfaceLists();
        ready = PortCycle(agent, agent.ports.portCount, 1);
      }
      // A cycle runs on every pass whose counter is 0: every txInterval seconds.
      uint32_t limit = agent.settings.Get().txInterval / 10;
      if (agent.tickCounter >= limit) agent.tickCounter = 0;

      if (agent.neighbors) agent.neighbors->AgeNeighbors();
      agent.clock.Wait(agent.wake, agent.timing.pass);
      if (agent.stopRequested) return Shutdown(agent);
      if (ready) continue;

      // No port is ready: close everything and bring packet access up again. The
      // counter runs on, so the next discovery waits for it to come round to 0.
      agent.link->CloseAllPorts(agent.ports);
      agent.link->StopPacketDriver();
      if (agent.stopRequested) return Shutdown(agent);
      break;
    }
  }
}

void RequestStop(Agent& agent) {
  agent.stopRequested = true;
  agent.wake.Set();
  agent.clock.Sleep(agent.timing.stopDelay);
}

uint32_t PortCycle(Agent& agent, uint32_t count, int mode) {
  uint32_t now = agent.clock.Now();
  if (agent.settings.chassisIdPending)
    ComputeChassisId(agent.settings, agent.host.facts, *agent.lists.Get());
  // One consistent copy of the settings and of the interface lists for the whole
  // cycle, whatever the pipe writes meanwhile.
  const AgentSettings s = agent.settings.Get();
  const OutsideSettings o = agent.settings.GetOutside();
  const std::shared_ptr<const InterfaceLists> lists = agent.lists.Get();
  LinkLayer& link = *agent.link;
  // Every frame of the cycle is built here.
  uint8_t frame[kFrameBufferSize];

  if (count > kMaxPorts) count = kMaxPorts;
  uint32_t ready = 0;
  for (uint32_t i = 0; i < count; ++i) {
    Port& port = agent.ports[i];
    if (!link.RefreshConnectionName(port)) continue;
    if (link.IsAdapterOpen(port) && link.AdapterAddressChanged(port)) {
      // The adapter took a new address with its link up, as bonds and VLAN
      // parents do. The port opens again below and learns the new address, so
      // that its frames, its port ID, its switches and the pipe follow the adapter.
      link.ClosePort(port);
      port.macAddress.store(Mac{});
    }
    if (port.state == kPortUnusable) continue;

    if (port.state == kPortClosed && !link.IsAdapterOpen(port)) {
      if (!link.OpenPort(port, 3, kPortMulticastList.data(), kPortMulticastList.size())) {
        if (agent.debugLevel && !port.macAddress.zero()) {
          uint32_t entry = 0;
          link.MatchInterface(port, &entry);
          TracePort(agent, port, "failed");
        }
        continue;
      }
      uint32_t switches = RegReadNumber(agent.host.registry, "lldp",
                                        FormatMac(port.macAddress.load()),
                                        s.adminStatusDefault | kAllTlvsEnabled);
      port.adminStatus = static_cast<uint8_t>(switches);
      port.tlvsTxEnable = static_cast<uint8_t>(switches >> 8);
      port.medActive = IsMedEndpoint(s.MedDevType) ? 1 : 0;
    } else if (TakeFastStart(port)) {
      // LLDP-MED fast start: the next pass runs a cycle again.
      agent.tickCounter = 0;
    }

    if (!link.RefreshFromInterface(port)) link.QueryLinkFacts(port);

    if (port.state != kPortReady) {
      if (agent.debugLevel) TracePort(agent, port, "stopped");
      continue;
    }
    ++ready;
    if (port.linkStatus != kLinkConnected) continue;

    // The worker is the only writer of the port's texts: the facts view them in place.
    PortFacts facts = FactsOf(port);
    if (port.adminStatus & 1) SendLldp(agent, port, facts, s, *lists, mode, frame, now);
    SendCdp(agent, port, facts, s, o, *lists, mode, frame, now);
  }
  return ready;
}

void TracePort(Agent& agent, Port& port, std::string_view word) {
  std::string line;
  char piece[64];
  std::snprintf(piece, sizeof piece, "%8x  ", static_cast<unsigned>(port.number.load()));
  line += piece;
  std::string name = port.ConnectionName();
  std::snprintf(piece, sizeof piece, "%-16.16s  ", name.c_str());
  line += piece;
  line += FormatMac(port.macAddress.load());
  line += ' ';

  uint32_t ifIndex = port.ifIndex;
  if (ifIndex != 0) {
    std::shared_ptr<const InterfaceLists> lists = agent.lists.Get();
    const AddressTable& table = lists->addresses;
    for (uint32_t i = 0; i < table.count && i < kMaxAddresses; ++i) {
      const AddressEntry& e = table.entries[i];
      if (e.ifIndex != ifIndex) continue;
      uint8_t a[4];
      std::memcpy(a, &e.address, 4);
      char dotted[20];
      std::snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
      std::snprintf(piece, sizeof piece, "%-16.16s ", dotted);
      line += piece;
    }
  }

  std::snprintf(piece, sizeof piece, " %d %d ", static_cast<int>(port.state.load()),
                static_cast<int>(port.linkStatus.load()));
  line += piece;
  line += word;
  line += '\n';

  agent.trace.WriteAlways(line);
}

uint32_t WindowsVersion() {
  // Linux stands in for an NT-class system of the current generation.
  static const uint32_t version = 10;
  return version;
}

size_t ModuleDirectoryOf(std::string_view path, char* buffer, size_t size) {
  if (!buffer || size == 0) return 0;
  buffer[0] = '\0';
  size_t end = path.find('\0');
  if (end != std::string_view::npos) path = path.substr(0, end);
  // A path that leaves no room for its terminator would have to be cut: refuse.
  if (path.size() >= size) return 0;
  size_t slash = path.rfind('/');
  if (slash == std::string_view::npos || slash == 0) return 0;
  std::memcpy(buffer, path.data(), slash + 1);
  buffer[slash + 1] = '\0';
  return slash + 1;
}

std::string TimestampText(SystemFacts& facts, time_t t) { return FormatLocalTime(facts, t); }

}  // namespace torvane
