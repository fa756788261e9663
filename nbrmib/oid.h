// Object identifier helpers over the extension interface's identifiers. Every
// `ids` array made or replaced here comes from SnmpUtilMemAlloc, so that the host
// can free what it is handed.
#pragma once

#include "nbrmib/snmp_extension.h"

namespace torvane {

// dst becomes a new copy of src; 0 when the allocation fails (dst then empty).
int OidCopy(AsnObjectIdentifier* dst, const AsnObjectIdentifier* src);
// dst is replaced by dst followed by src; on allocation failure dst is unchanged
// and the result is 0.
int OidAppend(AsnObjectIdentifier* dst, const AsnObjectIdentifier* src);
// Releases ids and leaves the identifier empty.
void OidFree(AsnObjectIdentifier* oid);
// Compares over the first min(n, length) sub-identifiers of each: the first
// difference decides (-1 or 1); when all are equal the shorter of the two cut
// lengths is the smaller.
int OidCompare(const AsnObjectIdentifier* a, const AsnObjectIdentifier* b, UINT n);
// Pads name with zeros to base + count sub-identifiers (at most 8 added) when it
// is shorter; returns the resulting length, or 0 when the allocation failed.
UINT OidPad(AsnObjectIdentifier* name, UINT base, UINT count);

}  // namespace torvane
