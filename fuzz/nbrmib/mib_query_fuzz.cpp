// SnmpExtensionQuery with any names, types and values, over a pipe whose replies
// are as random as the request: nothing may read or write out of bounds or leak,
// every answer must be a status the interface knows with an index inside the
// list, and every GETNEXT answer must be the end of the view or lie after the
// name it was asked for and before that end (else a manager's walk could loop).
//
// Input: request kind, binding count, the bindings (name, value type, value),
// then the agent's replies, one per transaction, until the input ends (after
// which the agent is gone).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/bytes.h"
#include "nbrmib/mib_table.h"
#include "records/pipe_records.h"

using namespace torvane;

namespace {

class RandomAgent : public MibTransport {
 public:
  explicit RandomAgent(ByteReader& input) : in_(input) {}
  long Transact(const uint8_t*, size_t, uint8_t* reply, size_t capacity, bool& timedOut) override {
    timedOut = false;
    const uint8_t mode = in_.u8();
    if (!in_.ok()) return -1;
    switch (mode % 4) {
      case 0:
        return -1;
      case 1:
        timedOut = true;
        return -1;
      case 2: {
        // Raw bytes, whatever they say.
        size_t n = std::min<size_t>(in_.u16le(), kPipeMessageMax + 16);
        auto bytes = in_.bytes(std::min(n, in_.remaining()));
        if (bytes.size() > capacity) return static_cast<long>(bytes.size());  // as MSG_TRUNC reports it
        if (!bytes.empty()) std::memcpy(reply, bytes.data(), bytes.size());
        return static_cast<long>(bytes.size());
      }
      default: {
        // A well-formed reply with random data, so that the handlers get past
        // the acceptance test.
        size_t n = std::min<size_t>(in_.u16le(), kPipeMessageMax - kPipeHeaderSize);
        ByteWriter w(reply, capacity);
        w.u32le(kPipeDone);
        w.u32le(static_cast<uint32_t>(n));
        auto bytes = in_.bytes(std::min(n, in_.remaining()));
        w.bytes(bytes);
        w.zeros(n - bytes.size());
        return w.ok() ? static_cast<long>(w.size()) : -1;
      }
    }
  }

 private:
  ByteReader& in_;
};

void* Alloc(size_t n) { return SnmpUtilMemAlloc(n); }

SnmpVarBind ReadBinding(ByteReader& in) {
  SnmpVarBind vb{};
  std::vector<UINT> name;
  const uint8_t shape = in.u8();
  if (shape & 1) {
    // Under an entry of the table, so that the handlers see plausible names.
    const MibEntry& e = MibTable[in.u8() % kMibEntries];
    UINT ids[16];
    UINT n = EntryIdentifier(e, ids);
    name.assign(ids, ids + n);
  }
  const size_t extra = in.u8() % 16;
  for (size_t i = 0; i < extra && in.ok(); ++i) name.push_back(in.u8() & 0x80 ? in.u32le() : in.u8());
  vb.name.idLength = static_cast<UINT>(name.size());
  vb.name.ids = static_cast<UINT*>(Alloc(sizeof(UINT) * name.size()));
  if (!name.empty()) std::memcpy(vb.name.ids, name.data(), sizeof(UINT) * name.size());

  static const BYTE kTypes[] = {ASN_NULL, ASN_INTEGER, ASN_OCTETSTRING, ASN_OBJECTIDENTIFIER,
                                ASN_COUNTER32, ASN_GAUGE32, ASN_TIMETICKS, ASN_IPADDRESS};
  vb.value.asnType = kTypes[in.u8() % (sizeof kTypes)];
  switch (vb.value.asnType) {
    case ASN_OCTETSTRING:
    case ASN_IPADDRESS: {
      size_t n = in.u8();
      auto bytes = in.bytes(std::min(n, in.remaining()));
      auto* copy = static_cast<BYTE*>(Alloc(bytes.size()));
      if (!bytes.empty()) std::memcpy(copy, bytes.data(), bytes.size());
      vb.value.asnValue.string = {copy, static_cast<UINT>(bytes.size()), 1};
      break;
    }
    case ASN_OBJECTIDENTIFIER: {
      size_t n = in.u8() % 8;
      auto* ids = static_cast<UINT*>(Alloc(sizeof(UINT) * n));
      for (size_t i = 0; i < n; ++i) ids[i] = in.u8();
      vb.value.asnValue.object = {static_cast<UINT>(n), ids};
      break;
    }
    case ASN_NULL:
      break;
    default:
      vb.value.asnValue.unsigned32 = in.u32le();
      break;
  }
  return vb;
}

std::vector<UINT> NameOf(const SnmpVarBind& vb) {
  return vb.name.ids ? std::vector<UINT>(vb.name.ids, vb.name.ids + vb.name.idLength) : std::vector<UINT>{};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  static const BYTE kRequests[] = {SNMP_PDU_GET, SNMP_PDU_GETNEXT, SNMP_PDU_SET, 0xA5};
  const uint8_t first = in.u8();
  const BYTE request = kRequests[first % 4];
  const size_t count = 1 + in.u8() % 4;
  std::vector<SnmpVarBind> list;
  for (size_t i = 0; i < count; ++i) list.push_back(ReadBinding(in));
  std::vector<std::vector<UINT>> asked;
  for (const SnmpVarBind& vb : list) asked.push_back(NameOf(vb));

  RandomAgent agent(in);
  MibContext ctx(agent);
  ctx.startTime = 1700000000;
  ctx.hostBeginsRequests = (first & 0x10) != 0;
  SnmpVarBindList l{list.data(), static_cast<UINT>(list.size())};
  AsnInteger32 status = -1, index = -1;
  if (MibQuery(ctx, request, &l, &status, &index) != 1) std::abort();
  if (status != 0 && status != 2 && status != 3 && status != 5) std::abort();
  if (index < 0 || index > static_cast<AsnInteger32>(list.size())) std::abort();
  // A failing binding is named, except for a request type the interface does not serve.
  if (request != 0xA5 && (status != 0) != (index != 0)) std::abort();

  if (request == SNMP_PDU_GETNEXT) {
    const std::vector<UINT> end = {1, 0, 8802, 1, 1, 2, 2};
    const size_t answered = status == 0 ? list.size() : static_cast<size_t>(index - 1);
    for (size_t i = 0; i < answered; ++i) {
      std::vector<UINT> got = NameOf(list[i]);
      if (got == end) continue;  // the end of the view, whatever was asked
      if (!std::lexicographical_compare(asked[i].begin(), asked[i].end(), got.begin(), got.end())) std::abort();
      if (!std::lexicographical_compare(got.begin(), got.end(), end.begin(), end.end())) std::abort();
    }
  }
  if (request == SNMP_PDU_SET) EndSet(ctx, first & 0x20);
  for (SnmpVarBind& vb : list) SnmpUtilVarBindFree(&vb);
  return 0;
}
