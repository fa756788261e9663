// The agent's settings: lldp.ini beside the executable (section "lldp"), the
// derived chassis ID, system name and description, and the registry operations.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "agent/link/interface_tables.h"
#include "records/agent_settings.h"
#include "platform/profile.h"
#include "platform/registry_store.h"
#include "platform/system_facts.h"

namespace torvane {

// The settings block shared by the worker, the receive threads and the pipe.
// Readers take a consistent copy; writers go through Update. The lock is
// innermost: nothing else is locked while it is held. The remote-table counters
// live with the neighbour table, not here: Get() returns them as zero.
class SettingsStore {
 public:
  AgentSettings Get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_;
  }
  OutsideSettings GetOutside() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return outside_;
  }
  template <class F>
  void Update(F&& change) {
    std::lock_guard<std::mutex> lock(mutex_);
    change(settings_, outside_);
  }
  std::atomic<bool> chassisIdPending{false};

 private:
  mutable std::mutex mutex_;
  AgentSettings settings_{};
  OutsideSettings outside_{};
};

// What the settings code reaches of the host.
struct SettingsHost {
  Profile& profile;
  RegistryStore& registry;
  SystemFacts& facts;
};

// lldp.ini's path: moduleDirectory + section + ".ini".
std::string SettingsFileName(const OutsideSettings& outside, std::string_view section);

// Reads every key, derives the computed fields and the chassis ID.
void LoadSettings(SettingsStore& store, SettingsHost& host, const InterfaceLists& lists,
                  std::string_view section);
// Writes the changeable keys back as one file replacement; 0 when the file could
// not be written.
int SaveSettings(const AgentSettings& settings, const OutsideSettings& outside, Profile& profile,
                 std::string_view section);
int WriteIniNumber(Profile& profile, const std::string& file, std::string_view section,
                   std::string_view key, uint32_t value, uint32_t def);
int ParseMacText(std::string_view text, uint8_t out[6]);
int ParseOuiText(std::string_view text, uint8_t out[3]);
// Fills chassisIdSubtype and chassisId from the txCname choice; sets or clears
// chassisIdPending as the MAC and address choices find an interface or not.
void ComputeChassisId(SettingsStore& store, SystemFacts& facts, const InterfaceLists& lists);

// Registry operations on subkeys of the agent's key.
size_t RegReadValue(RegistryStore& reg, std::string_view subkey, std::string_view name,
                    std::string_view def, uint8_t* buffer, size_t size);
int RegWriteValue(RegistryStore& reg, std::string_view subkey, std::string_view name,
                  const uint8_t* data, long length);  // data null = delete; length -1 = text
uint32_t RegReadNumber(RegistryStore& reg, std::string_view subkey, std::string_view name,
                       uint32_t def);
// Writes "%u" of the number; a number equal to the default deletes the value (a
// value already absent is a success: it reads as the default).
int RegWriteNumber(RegistryStore& reg, std::string_view subkey, std::string_view name,
                   uint32_t number, uint32_t def);

}  // namespace torvane
