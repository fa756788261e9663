// The neighbour record. Its 704-byte little-endian image goes over the query pipe
// byte for byte, so every offset is pinned.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "records/agent_settings.h"

namespace torvane {

static_assert(std::endian::native == std::endian::little);

struct Neighbor {
  uint32_t localPort;
  char interfaceName[64];
  uint8_t interfaceAddress[4];
  uint8_t sourceMac[6];
  uint8_t zero1[2];
  uint32_t chassisIdSubtype;
  uint32_t portIdSubtype;
  IdField chassisId;
  IdField portId;
  char portDescription[128];
  uint32_t ttl;
  uint32_t lastUpdate;
  uint32_t discovered;
  char systemName[64];
  char systemDescription[128];
  uint32_t capSupported;
  uint32_t capEnabled;
  uint8_t portAddress[4];
  uint32_t manAddrCount;
  uint8_t manAddr[8][4];
  uint32_t manAddrIfSubtype[8];
  uint32_t manAddrIfNumber[8];
  uint32_t portVlanId;
  uint32_t mauType;
  uint32_t maxFrameSize;
  uint32_t mode;
  uint8_t zero2[4];
  uint64_t selfHandle;
  uint64_t nextHandle;
};

static_assert(sizeof(Neighbor) == 704);
static_assert(offsetof(Neighbor, localPort) == 0);
static_assert(offsetof(Neighbor, interfaceName) == 4);
static_assert(offsetof(Neighbor, interfaceAddress) == 68);
static_assert(offsetof(Neighbor, sourceMac) == 72);
static_assert(offsetof(Neighbor, chassisIdSubtype) == 80);
static_assert(offsetof(Neighbor, portIdSubtype) == 84);
static_assert(offsetof(Neighbor, chassisId) == 88);
static_assert(offsetof(Neighbor, portId) == 156);
static_assert(offsetof(Neighbor, portDescription) == 224);
static_assert(offsetof(Neighbor, ttl) == 352);
static_assert(offsetof(Neighbor, lastUpdate) == 356);
static_assert(offsetof(Neighbor, discovered) == 360);
static_assert(offsetof(Neighbor, systemName) == 364);
static_assert(offsetof(Neighbor, systemDescription) == 428);
static_assert(offsetof(Neighbor, capSupported) == 556);
static_assert(offsetof(Neighbor, capEnabled) == 560);
static_assert(offsetof(Neighbor, portAddress) == 564);
static_assert(offsetof(Neighbor, manAddrCount) == 568);
static_assert(offsetof(Neighbor, manAddr) == 572);
static_assert(offsetof(Neighbor, manAddrIfSubtype) == 604);
static_assert(offsetof(Neighbor, manAddrIfNumber) == 636);
static_assert(offsetof(Neighbor, portVlanId) == 668);
static_assert(offsetof(Neighbor, mauType) == 672);
static_assert(offsetof(Neighbor, maxFrameSize) == 676);
static_assert(offsetof(Neighbor, mode) == 680);
static_assert(offsetof(Neighbor, selfHandle) == 688);
static_assert(offsetof(Neighbor, nextHandle) == 696);

}  // namespace torvane
