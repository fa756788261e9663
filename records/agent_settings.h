// The settings record. Its 672-byte little-endian image is what pipe codes 1 and 2
// carry, so the layout below is an external format: every offset is pinned.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace torvane {

static_assert(std::endian::native == std::endian::little,
              "the settings and pipe records are little-endian images");

// Length byte followed by up to 67 bytes (chassis and port IDs).
struct IdField {
  uint8_t length;
  uint8_t bytes[67];
};
static_assert(sizeof(IdField) == 68);

struct AgentSettings {
  uint32_t txInterval;
  uint32_t txHoldMultiplier;
  uint32_t ReinitDelay;
  uint32_t txDelay;
  uint32_t NotificationInterval;
  uint32_t txCname;
  uint32_t txPname;
  uint32_t txPIDname;
  uint8_t txMcast[6];
  uint8_t txBcSrc[6];
  uint32_t chassisIdSubtype;
  IdField chassisId;
  char systemName[64];
  char systemDescription[128];
  uint32_t CapSupported;
  uint32_t CapEnabled;
  uint32_t remTablesLastChange;
  uint32_t remTablesInserts;
  uint32_t remTablesDeletes;
  uint32_t remTablesDrops;
  uint32_t remTablesAgeouts;
  uint8_t MedFastStartRepeatCount;
  uint8_t MedDevType;
  uint8_t reserved1[2];
  uint32_t MedPolicy[8];
  uint8_t reserved2;
  uint8_t MedPowerState;
  uint16_t MedPowerValue;
  uint32_t adminStatusDefault;
  uint32_t rxCdp;
  uint32_t txCdp;
  uint32_t ioctl;
  uint32_t Duplex;
  uint32_t ieee80211;
  uint32_t Packet;
  uint8_t rxOui[4];
  uint32_t Log;
  char Directory[260];
};

static_assert(sizeof(AgentSettings) == 672);
static_assert(offsetof(AgentSettings, txInterval) == 0);
static_assert(offsetof(AgentSettings, txHoldMultiplier) == 4);
static_assert(offsetof(AgentSettings, ReinitDelay) == 8);
static_assert(offsetof(AgentSettings, txDelay) == 12);
static_assert(offsetof(AgentSettings, NotificationInterval) == 16);
static_assert(offsetof(AgentSettings, txCname) == 20);
static_assert(offsetof(AgentSettings, txPname) == 24);
static_assert(offsetof(AgentSettings, txPIDname) == 28);
static_assert(offsetof(AgentSettings, txMcast) == 32);
static_assert(offsetof(AgentSettings, txBcSrc) == 38);
static_assert(offsetof(AgentSettings, chassisIdSubtype) == 44);
static_assert(offsetof(AgentSettings, chassisId) == 48);
static_assert(offsetof(AgentSettings, systemName) == 116);
static_assert(offsetof(AgentSettings, systemDescription) == 180);
static_assert(offsetof(AgentSettings, CapSupported) == 308);
static_assert(offsetof(AgentSettings, CapEnabled) == 312);
static_assert(offsetof(AgentSettings, remTablesLastChange) == 316);
static_assert(offsetof(AgentSettings, remTablesInserts) == 320);
static_assert(offsetof(AgentSettings, remTablesDeletes) == 324);
static_assert(offsetof(AgentSettings, remTablesDrops) == 328);
static_assert(offsetof(AgentSettings, remTablesAgeouts) == 332);
static_assert(offsetof(AgentSettings, MedFastStartRepeatCount) == 336);
static_assert(offsetof(AgentSettings, MedDevType) == 337);
static_assert(offsetof(AgentSettings, MedPolicy) == 340);
static_assert(offsetof(AgentSettings, MedPowerState) == 373);
static_assert(offsetof(AgentSettings, MedPowerValue) == 374);
static_assert(offsetof(AgentSettings, adminStatusDefault) == 376);
static_assert(offsetof(AgentSettings, rxCdp) == 380);
static_assert(offsetof(AgentSettings, txCdp) == 384);
static_assert(offsetof(AgentSettings, ioctl) == 388);
static_assert(offsetof(AgentSettings, Duplex) == 392);
static_assert(offsetof(AgentSettings, ieee80211) == 396);
static_assert(offsetof(AgentSettings, Packet) == 400);
static_assert(offsetof(AgentSettings, rxOui) == 404);
static_assert(offsetof(AgentSettings, Log) == 408);
static_assert(offsetof(AgentSettings, Directory) == 412);

}  // namespace torvane
