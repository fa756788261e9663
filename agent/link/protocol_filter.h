// The protocol filters loaded into the kernel at port open: classic BPF programs
// that keep LLDP and CDP frames and drop everything else before it reaches the
// receive thread. They are constant data, passed to the kernel unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace torvane {

// One classic BPF instruction, in the kernel's sock_filter layout.
struct BpfInstruction {
  uint16_t code;
  uint8_t jt;
  uint8_t jf;
  uint32_t k;
};
static_assert(sizeof(BpfInstruction) == 8);
static_assert(offsetof(BpfInstruction, code) == 0);
static_assert(offsetof(BpfInstruction, jt) == 2);
static_assert(offsetof(BpfInstruction, jf) == 3);
static_assert(offsetof(BpfInstruction, k) == 4);

// Bytes of a frame the filters keep (MAC header and a full 1500-byte payload).
constexpr uint32_t kCaptureSnapLength = 1514;

// LLDP, or CDP right behind the MAC header (9 instructions, 72 bytes).
extern const BpfInstruction kPlainProtocolFilter[9];
// LLDP, or CDP in group-addressed frames either right behind the MAC header or
// behind a second SNAP header, as some wireless drivers deliver it (18
// instructions, 144 bytes). It does not look at the 802.3 length field.
extern const BpfInstruction kBugProtocolFilter[18];

// The program selected by the BugFilter setting (nonzero: the second one).
std::span<const BpfInstruction> ProtocolFilter(uint32_t bugFilter);

}  // namespace torvane
