#include "nbrmib/oid.h"

#include <cstring>

namespace torvane {

int OidCopy(AsnObjectIdentifier* dst, const AsnObjectIdentifier* src) {
  dst->idLength = 0;
  dst->ids = nullptr;
  UINT n = src->ids ? src->idLength : 0;
  auto* ids = static_cast<UINT*>(SnmpUtilMemAlloc(sizeof(UINT) * n));
  if (!ids) return 0;
  if (n) std::memcpy(ids, src->ids, sizeof(UINT) * n);
  dst->ids = ids;
  dst->idLength = n;
  return 1;
}

int OidAppend(AsnObjectIdentifier* dst, const AsnObjectIdentifier* src) {
  UINT a = dst->ids ? dst->idLength : 0;
  UINT b = src->ids ? src->idLength : 0;
  if (a > 0xFFFFu || b > 0xFFFFu) return 0;
  auto* ids = static_cast<UINT*>(SnmpUtilMemAlloc(sizeof(UINT) * (a + b)));
  if (!ids) return 0;
  if (a) std::memcpy(ids, dst->ids, sizeof(UINT) * a);
  if (b) std::memcpy(ids + a, src->ids, sizeof(UINT) * b);
  SnmpUtilMemFree(dst->ids);
  dst->ids = ids;
  dst->idLength = a + b;
  return 1;
}

void OidFree(AsnObjectIdentifier* oid) { SnmpUtilOidFree(oid); }

int OidCompare(const AsnObjectIdentifier* a, const AsnObjectIdentifier* b, UINT n) {
  UINT la = a->ids ? a->idLength : 0;
  UINT lb = b->ids ? b->idLength : 0;
  if (la > n) la = n;
  if (lb > n) lb = n;
  UINT common = la < lb ? la : lb;
  for (UINT i = 0; i < common; ++i) {
    if (a->ids[i] < b->ids[i]) return -1;
    if (a->ids[i] > b->ids[i]) return 1;
  }
  if (la < lb) return -1;
  if (la > lb) return 1;
  return 0;
}

UINT OidPad(AsnObjectIdentifier* name, UINT base, UINT count) {
  UINT have = name->ids ? name->idLength : 0;
  if (count > 8) count = 8;
  UINT want = base + count;
  if (have >= want) return have;
  UINT add = want - have;
  if (add > 8) add = 8;
  UINT pad[8] = {};
  AsnObjectIdentifier zeros{add, pad};
  if (!OidAppend(name, &zeros)) return 0;
  return name->idLength;
}

}  // namespace torvane
