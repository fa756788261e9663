// A whole agent state for the query pipe's tests, fuzz target and benchmark:
// settings loaded from an in-memory lldp.ini, two ports, an address table, a
// neighbour table with an event log that stays off. Header-only, so that the fuzz
// target and the benchmark (which link only the agent library) can use it too.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "agent/runtime/agent.h"
#include "agent/runtime/settings.h"
#include "agent/store/event_log.h"
#include "agent/store/neighbor_table.h"
#include "agent/store/pipe_handler.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/profile.h"
#include "platform/registry_store.h"
#include "platform/system_facts.h"

namespace torvane::pipetest {

class StepClock : public Clock {
 public:
  uint32_t Now() override { return now.load(); }
  void Sleep(std::chrono::milliseconds) override {}
  bool Wait(WakeEvent& event, std::chrono::milliseconds) override { return event.TryTake(); }
  std::atomic<uint32_t> now{1700000000};
};

inline void SetId(IdField& field, std::string_view bytes) {
  field = IdField{};
  field.length = static_cast<uint8_t>(bytes.size() < 67 ? bytes.size() : 67);
  std::memcpy(field.bytes, bytes.data(), field.length);
}

// A neighbour heard by LLDP with one management address, unless changed after.
inline Neighbor MakeNeighbor(uint32_t port, uint8_t macLast, std::string_view systemName,
                             uint32_t discovered) {
  Neighbor n{};
  n.localPort = port;
  std::memcpy(n.interfaceName, "eth0", 5);
  if (port == 2) std::memcpy(n.interfaceName, "eth1", 5);
  const uint8_t mac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, macLast};
  std::memcpy(n.sourceMac, mac, 6);
  n.chassisIdSubtype = 4;
  const uint8_t chassis[6] = {0x02, 0x00, 0x00, 0x00, 0xAA, macLast};
  n.chassisId.length = 6;
  std::memcpy(n.chassisId.bytes, chassis, 6);
  n.portIdSubtype = 5;
  SetId(n.portId, "ge-0/0/" + std::to_string(macLast));
  std::string descr = "uplink " + std::to_string(macLast);
  std::memcpy(n.portDescription, descr.data(), descr.size());
  n.ttl = 120;
  n.discovered = discovered;
  n.lastUpdate = discovered + 30;
  std::memcpy(n.systemName, systemName.data(), systemName.size() < 63 ? systemName.size() : 63);
  std::memcpy(n.systemDescription, "Switch OS 1.0", 14);
  n.capSupported = 0x14;  // bridge, router
  n.capEnabled = 0x04;
  n.manAddrCount = 1;
  const uint8_t addr[4] = {10, 0, 0, macLast};
  std::memcpy(n.manAddr[0], addr, 4);
  n.manAddrIfSubtype[0] = 2;
  n.manAddrIfNumber[0] = 7;
  n.portVlanId = 100;
  n.mauType = 30;
  n.maxFrameSize = 1522;
  n.mode = 3 * 2 + 1;
  return n;
}

struct AgentFixture {
  // registry: the store to use; an in-memory one when null.
  explicit AgentFixture(std::unique_ptr<RegistryStore> store = nullptr)
      : registryOwner(store ? std::move(store) : std::make_unique<MemoryRegistry>()),
        registry(*registryOwner),
        agent(SettingsHost{profile, registry, facts}, clock, console),
        log(agent.settings, facts, clock, agent.logLock),
        table(log, clock),
        state{agent.settings, agent.ports, agent.lists, registry, agent, agent, table} {
    agent.settings.Update([](AgentSettings&, OutsideSettings& o) { CopyText(o.moduleDirectory, "/opt/torvane/"); });
    auto lists = agent.lists.Get();
    LoadSettings(agent.settings, agent.host, *lists, "lldp");
  }

  // Two ports: 1 eth0 (ifIndex 2), 2 eth1 (ifIndex 3).
  void AddPorts() {
    struct PortDef {
      const char* name;
      const char* description;
      uint8_t macLast;
      uint32_t ifIndex;
      uint8_t admin;
      uint8_t tlvs;
    };
    const PortDef defs[] = {{"eth0", "Intel 82574L Gigabit", 0x01, 2, 3, 0xF0},
                          {"eth1", "Realtek RTL8111", 0x02, 3, 1, 0x80}};
    uint32_t i = 0;
    for (const PortDef& s : defs) {
      Port& p = agent.ports[i];
      p.number = i + 1;
      p.SetConnectionName(s.name);
      p.SetDescription(s.description);
      p.SetDeviceName(s.name);
      const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, s.macLast};
      p.macAddress.store(mac);
      p.ifIndex = s.ifIndex;
      p.adminStatus = s.admin;
      p.tlvsTxEnable = s.tlvs;
      p.vlanId = 10 * (i + 1);
      p.mauType = 30;
      p.maxFrameSize = 1518;
      p.state = kPortReady;
      ++i;
    }
    agent.ports.portCount = i;
  }

  // 127.0.0.1 (ifIndex 1), 10.0.0.5 (2), 192.168.1.1 (3), 10.0.0.2 (9, no port).
  void AddAddresses() {
    InterfaceLists lists = *agent.lists.Get();
    const Ipv4 addresses[] = {MakeIpv4(127, 0, 0, 1), MakeIpv4(10, 0, 0, 5), MakeIpv4(192, 168, 1, 1),
                              MakeIpv4(10, 0, 0, 2)};
    const uint32_t ifIndexes[] = {1, 2, 3, 9};
    for (uint32_t i = 0; i < 4; ++i) {
      AddressEntry& e = lists.addresses.entries[i];
      e = AddressEntry{};
      e.ifIndex = ifIndexes[i];
      e.address = addresses[i];
      e.mask = MakeIpv4(255, 255, 255, 0);
      e.portListLength = 16;
      e.portList[0] = static_cast<uint8_t>(0x80 >> i);
    }
    lists.addresses.count = 4;
    agent.lists.Publish(lists);
  }

  uint64_t AddNeighbor(const Neighbor& n, int kind = kNeighborLldp) { return table.InsertNeighbor(n, kind); }

  // Ports, addresses and three neighbours (two on port 1, one on port 2).
  void Populate() {
    AddPorts();
    AddAddresses();
    AddNeighbor(MakeNeighbor(1, 0x11, "switch-a", 1000));
    AddNeighbor(MakeNeighbor(2, 0x12, "switch-b", 900));
    AddNeighbor(MakeNeighbor(1, 0x13, "switch-c", 900));
  }

  MemoryProfile profile;
  FakeSystemFacts facts;
  StepClock clock;
  CaptureConsole console;
  std::unique_ptr<RegistryStore> registryOwner;
  RegistryStore& registry;
  Agent agent;
  EventLog log;
  NeighborTable table;
  PipeState state;
};

}  // namespace torvane::pipetest
