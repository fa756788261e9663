// The served objects of the LLDP-MIB (below lldpObjects, 1.0.8802.1.1.2.1), the
// search of that table for a binding, the GET/GETNEXT/SET dispatch and the
// conversion between the values stored in the reply buffers and SNMP values.
#pragma once

#include <cstddef>
#include <cstdint>

#include "nbrmib/mib_context.h"
#include "nbrmib/snmp_extension.h"

namespace torvane {

// The internal action "serve the first instance of this entry", passed to the
// handlers next to the three request types.
constexpr BYTE kActionFirst = 14;

// Stored syntax: the SNMP type code, or the capability map (a 32-bit number
// served as the shortest big-endian OCTET STRING).
constexpr BYTE kSyntaxCapabilities = 3;

enum class MibAccess : uint8_t { kReadOnly = 0, kWriteOnly = 1, kReadWrite = 2 };

// Where a value lives: a field of one of the reply buffers, or a constant.
enum class MibStorage : uint8_t { kSettings, kPort, kAddress, kNeighbor, kConstant };

struct MibEntry;
using MibHandler = int (*)(MibContext& ctx, BYTE action, const MibEntry& entry, UINT fullLength,
                           SnmpVarBind* binding);

struct MibEntry {
  UINT suffix[8];       // relative to the view; scalars end in their 0
  uint8_t suffixLength;
  const char* name;     // the LLDP-MIB object name, for traces and tests
  MibStorage storage;
  uint16_t offset;      // byte offset in the buffer, or which constant
  BYTE syntax;
  // Numbers: the smallest value a SET may write. Strings: 1 = a length byte
  // before the bytes, 0 = NUL-terminated.
  int32_t minOrCounted;
  // Numbers: the largest value a SET may write. Strings: the field's size with
  // the length byte or the terminator.
  uint32_t max;
  MibAccess access;
  MibHandler handler;
  int next;             // the entry GETNEXT moves on to; -1 after the last
  bool getOnly;         // left out of the GETNEXT chain: answers GET only
};

constexpr size_t kMibEntries = 45;
extern const MibEntry MibTable[kMibEntries];

// lldpObjects, 1.0.8802.1.1.2.1.
constexpr UINT kViewPrefixLength = 7;
extern const UINT kViewPrefix[kViewPrefixLength];

// The constants served as values.
constexpr uint16_t kConstManAddrLen = 0;      // 5: a subtype byte and four address bytes
constexpr uint16_t kConstManAddrIfSubtype = 1; // 2: ifIndex
constexpr uint16_t kConstManAddrOid = 2;      // 1.3.6

// The entry's full identifier (view prefix and suffix) into ids (room for 16);
// returns its length.
UINT EntryIdentifier(const MibEntry& entry, UINT* ids);
// Replaces the binding's name with the entry's full identifier; 0 on allocation failure.
int SetNameToEntry(SnmpVarBind* binding, const MibEntry& entry);

// Finds the entry for the binding's name and calls its handler: the status.
int FindAndDispatch(MibContext& ctx, SnmpVarBind* binding, BYTE request);
// Stored value -> binding (0, or 5 on an unknown syntax or failed allocation).
int EncodeValue(MibContext& ctx, const MibEntry& entry, SnmpVarBind* binding);
// Binding -> stored value (0, 3 out of range or too long, 5 unknown syntax). The
// handler has already found the binding's type to be the entry's.
int DecodeValue(MibContext& ctx, const MibEntry& entry, const SnmpVarBind* binding);

// The type a binding of this entry carries on the wire.
BYTE WireType(const MibEntry& entry);

// Moves a GETNEXT on to the entry after `entry` (action "first"); 2 after the last.
int MoveToNext(MibContext& ctx, const MibEntry& entry, SnmpVarBind* binding);

// The whole query over one context: what SnmpExtensionQuery does.
BOOL MibQuery(MibContext& ctx, BYTE requestType, SnmpVarBindList* bindings, AsnInteger32* errorStatus,
              AsnInteger32* errorIndex);
// Writes back every record the current SET wrote, newest first, and forgets them.
void RestoreSnapshots(MibContext& ctx);
// Ends a SET: undoes it when asked, then forgets its records either way.
void EndSet(MibContext& ctx, bool undo);

// A pointer to the entry's value in its buffer (or constant), with `size` bytes
// of room behind it; null for constants of another kind.
uint8_t* StoragePointer(MibContext& ctx, const MibEntry& entry, size_t& size);

}  // namespace torvane
