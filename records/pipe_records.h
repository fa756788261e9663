// The records of the query pipe, shared by the agent's server, nbrlist and the
// SNMP subagent. Every message is one SOCK_SEQPACKET datagram of at most 2048
// bytes: an 8-byte header (request code or reply status, data length) and data.
// All integers are little-endian, IPv4 addresses 4 bytes in network order.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "records/address_table.h"
#include "records/agent_settings.h"
#include "records/neighbor.h"

namespace torvane {

static_assert(std::endian::native == std::endian::little,
              "the pipe records are little-endian images");

// Largest message either side sends or accepts.
constexpr size_t kPipeMessageMax = 2048;

struct RequestHeader {
  uint32_t code;    // request code in a request, status in a reply
  uint32_t length;  // data length (or a parameter, per code)
};
static_assert(sizeof(RequestHeader) == 8);
static_assert(offsetof(RequestHeader, code) == 0);
static_assert(offsetof(RequestHeader, length) == 4);

constexpr size_t kPipeHeaderSize = sizeof(RequestHeader);
// A status-only reply: the status word alone.
constexpr size_t kPipeStatusOnlySize = 4;

enum PipeCode : uint32_t {
  kPipeGetSettings = 1,
  kPipeSetSettings = 2,      // needs the write right
  kPipeClearNeighbors = 5,   // needs the write right
  kPipeGetAddress = 6,
  kPipeNextAddress = 7,
  kPipeSetAddress = 8,       // needs the write right
  kPipeGetNeighbor = 10,
  kPipeNeighborAt = 11,
  kPipeNextNeighbor = 12,
  kPipeRemoveNeighbor = 13,  // needs the write right
  kPipeGetPort = 14,
  kPipeNextPort = 15,
  kPipeSetPort = 16,         // needs the write right
  kPipeWriteRegistry = 17,   // needs the write right
};

// Reply status values. Any other value is the request code handed back: refused
// (wrong data length, no such record, no match).
enum PipeStatus : uint32_t {
  kPipeDone = 0,
  kPipeUnknownCode = 1,
  kPipeNoWriteRight = 2,
};

constexpr size_t kSettingsImageSize = sizeof(AgentSettings);
constexpr size_t kNeighborImageSize = sizeof(Neighbor);
constexpr size_t kAddressEntrySize = sizeof(AddressEntry);
static_assert(kSettingsImageSize == 672);
static_assert(kNeighborImageSize == 704);
static_assert(kAddressEntrySize == 32);

// A local port as the pipe describes it (codes 14 to 16).
struct LocalPortRecord {
  uint32_t number;         // 1-based
  uint32_t adminStatus;    // 1 transmit, 2 receive, 3 both
  uint32_t always2;
  uint8_t tlvsTxEnable;    // 0x80 port descr, 0x40 sys name, 0x20 sys descr, 0x10 caps
  uint8_t zero1;
  uint8_t unused1[2];
  uint32_t vlanId;
  uint32_t mauType;
  uint32_t maxFrameSize;
  uint32_t portIdSubtype;  // always 3 (MAC address)
  uint8_t portIdLength;    // always 6
  uint8_t macAddress[6];
  uint8_t unused2[61];
  char portDescription[128];
};
static_assert(sizeof(LocalPortRecord) == 228);
static_assert(offsetof(LocalPortRecord, number) == 0);
static_assert(offsetof(LocalPortRecord, adminStatus) == 4);
static_assert(offsetof(LocalPortRecord, always2) == 8);
static_assert(offsetof(LocalPortRecord, tlvsTxEnable) == 12);
static_assert(offsetof(LocalPortRecord, zero1) == 13);
static_assert(offsetof(LocalPortRecord, unused1) == 14);
static_assert(offsetof(LocalPortRecord, vlanId) == 16);
static_assert(offsetof(LocalPortRecord, mauType) == 20);
static_assert(offsetof(LocalPortRecord, maxFrameSize) == 24);
static_assert(offsetof(LocalPortRecord, portIdSubtype) == 28);
static_assert(offsetof(LocalPortRecord, portIdLength) == 32);
static_assert(offsetof(LocalPortRecord, macAddress) == 33);
static_assert(offsetof(LocalPortRecord, unused2) == 39);
static_assert(offsetof(LocalPortRecord, portDescription) == 100);
constexpr size_t kLocalPortRecordSize = sizeof(LocalPortRecord);

// Request data of code 12: the cursor (time mark, port, list position, time base)
// and, in the 20-byte form, a management address.
struct NeighborCursor {
  uint32_t timeMark;
  uint32_t port;
  uint32_t position;
  uint32_t timeBase;
  uint8_t address[4];
};
static_assert(sizeof(NeighborCursor) == 20);
static_assert(offsetof(NeighborCursor, timeMark) == 0);
static_assert(offsetof(NeighborCursor, port) == 4);
static_assert(offsetof(NeighborCursor, position) == 8);
static_assert(offsetof(NeighborCursor, timeBase) == 12);
static_assert(offsetof(NeighborCursor, address) == 16);
constexpr size_t kCursorSize = 16;
constexpr size_t kCursorWithAddressSize = 20;

// Whole messages that carry each record, for buffer sizing.
static_assert(kPipeHeaderSize + kNeighborImageSize <= kPipeMessageMax);
static_assert(kPipeHeaderSize + kSettingsImageSize <= kPipeMessageMax);

}  // namespace torvane
