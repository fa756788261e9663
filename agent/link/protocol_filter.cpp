#include "agent/link/protocol_filter.h"

#include <linux/filter.h>

namespace torvane {

static_assert(sizeof(BpfInstruction) == sizeof(sock_filter));
static_assert(offsetof(BpfInstruction, k) == offsetof(sock_filter, k));

// Jump offsets count from the next instruction.
const BpfInstruction kPlainProtocolFilter[9] = {
    {0x28, 0, 0, 0x0000000C},  // ldh [12]: EtherType or 802.3 length
    {0x15, 5, 0, 0x000088CC},  // LLDP: accept
    {0x25, 5, 0, 0x000005DC},  // above 1500: another EtherType, reject
    {0x20, 0, 0, 0x0000000E},  // ld [14]
    {0x15, 0, 3, 0xAAAA0300},  // LLC AA-AA-03 and OUI byte 00, else reject
    {0x20, 0, 0, 0x00000012},  // ld [18]
    {0x15, 0, 1, 0x000C2000},  // OUI 00-00-0C, PID 0x2000 (CDP): accept, else reject
    {0x06, 0, 0, 0x000005EA},  // accept 1514 bytes
    {0x06, 0, 0, 0x00000000},  // reject
};

const BpfInstruction kBugProtocolFilter[18] = {
    {0x28, 0, 0, 0x0000000C},   // ldh [12]
    {0x15, 14, 0, 0x000088CC},  // LLDP: accept
    {0x30, 0, 0, 0x00000000},   // ldb [0]: first destination byte
    {0x45, 0, 13, 0x00000001},  // group bit, else reject
    {0x80, 0, 0, 0x00000000},   // ld len
    {0x35, 0, 11, 0x00000018},  // at least 24 bytes, else reject
    {0x20, 0, 0, 0x0000000E},   // ld [14]
    {0x15, 0, 9, 0xAAAA0300},   // SNAP header at 14, else reject
    {0x20, 0, 0, 0x00000012},   // ld [18]
    {0x15, 6, 0, 0x000C2000},   // CDP right behind it: accept
    {0x80, 0, 0, 0x00000000},   // ld len
    {0x35, 0, 5, 0x00000020},   // at least 32 bytes, else reject
    {0x20, 0, 0, 0x00000016},   // ld [22]
    {0x15, 0, 3, 0xAAAA0300},   // second SNAP header at 22, else reject
    {0x20, 0, 0, 0x0000001A},   // ld [26]
    {0x15, 0, 1, 0x000C2000},   // CDP behind the second header: accept, else reject
    {0x06, 0, 0, 0x000005EA},   // accept 1514 bytes
    {0x06, 0, 0, 0x00000000},   // reject
};

std::span<const BpfInstruction> ProtocolFilter(uint32_t bugFilter) {
  if (bugFilter) return kBugProtocolFilter;
  return kPlainProtocolFilter;
}

}  // namespace torvane
