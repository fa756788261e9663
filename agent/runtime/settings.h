// The agent's settings: lldp.ini beside the executable (section "lldp"), the
// derived chassis ID, system name and description.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "agent/state/interface_tables.h"
#include "agent/state/settings_store.h"
#include "records/agent_settings.h"
#include "platform/profile.h"
#include "platform/registry_store.h"
#include "platform/registry_values.h"
#include "platform/system_facts.h"

namespace torvane {

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

}  // namespace torvane
