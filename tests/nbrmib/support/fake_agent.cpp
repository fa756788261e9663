#include "tests/nbrmib/support/fake_agent.h"

#include <cstring>

#include "common/bytes.h"
#include "common/text.h"

namespace torvane::mibtest {

namespace {

uint32_t AsNumber(const uint8_t a[4]) {
  return (uint32_t{a[0]} << 24) | (uint32_t{a[1]} << 16) | (uint32_t{a[2]} << 8) | uint32_t{a[3]};
}

size_t StatusOnly(uint8_t* message, uint32_t status) {
  ByteWriter w(message, 4);
  w.u32le(status);
  return 4;
}

size_t DataReply(uint8_t* message, const void* data, size_t size) {
  ByteWriter w(message, kPipeMessageMax);
  w.u32le(kPipeDone);
  w.u32le(static_cast<uint32_t>(size));
  w.bytes(data, size);
  return w.size();
}

void SetPosition(Neighbor& n, uint32_t k) { n.selfHandle = (n.selfHandle & ~0xFFFFFFFFull) | k; }

void AddressToFront(Neighbor& n, uint32_t i) {
  std::memcpy(n.manAddr[0], n.manAddr[i], 4);
  n.manAddrIfSubtype[0] = n.manAddrIfSubtype[i];
  n.manAddrIfNumber[0] = n.manAddrIfNumber[i];
}

Neighbor MakeNeighbor(uint32_t port, uint8_t id, uint32_t discovered, std::vector<std::vector<uint8_t>> addresses) {
  Neighbor n{};
  n.localPort = port;
  n.chassisIdSubtype = 4;
  n.chassisId.length = 6;
  const uint8_t mac[6] = {0x02, 0xAA, 0, 0, 0, id};
  std::memcpy(n.chassisId.bytes, mac, 6);
  n.portIdSubtype = 5;
  n.portId.length = 4;
  std::memcpy(n.portId.bytes, "ge-", 3);
  n.portId.bytes[3] = static_cast<uint8_t>('0' + id);
  CopyText(n.systemName, "switch-" + std::to_string(id));
  CopyText(n.systemDescription, "Switch OS");
  CopyText(n.portDescription, "uplink");
  n.capSupported = 0x14;
  n.capEnabled = 0x04;
  n.discovered = discovered;
  n.manAddrCount = static_cast<uint32_t>(addresses.size());
  for (size_t i = 0; i < addresses.size(); ++i) {
    std::memcpy(n.manAddr[i], addresses[i].data(), 4);
    n.manAddrIfSubtype[i] = 2;
    n.manAddrIfNumber[i] = 10 + static_cast<uint32_t>(i);
  }
  n.portVlanId = 100 + id;
  n.mauType = 30;
  n.maxFrameSize = 1522;
  n.selfHandle = 0xABCD000000000000ull | id;
  return n;
}

}  // namespace

FakeAgent::FakeAgent() = default;

void FakeAgent::Populate() {
  settings = AgentSettings{};
  settings.txInterval = 30;
  settings.txHoldMultiplier = 4;
  settings.ReinitDelay = 2;
  settings.txDelay = 2;
  settings.NotificationInterval = 5;
  settings.chassisIdSubtype = 7;
  settings.chassisId.length = 3;
  std::memcpy(settings.chassisId.bytes, "abc", 3);
  CopyText(settings.systemName, "HOST");
  CopyText(settings.systemDescription, "a host");
  settings.CapSupported = 0x80;
  settings.CapEnabled = 0x80;
  settings.remTablesLastChange = 1500;
  settings.remTablesInserts = 3;

  ports.clear();
  for (uint32_t p = 1; p <= 2; ++p) {
    LocalPortRecord r{};
    r.number = p;
    r.adminStatus = 3;
    r.always2 = 2;
    r.tlvsTxEnable = 0xF0;
    r.vlanId = 0;
    r.mauType = 16;
    r.maxFrameSize = 1518;
    r.portIdSubtype = 3;
    r.portIdLength = 6;
    const uint8_t mac[6] = {0x02, 0, 0, 0, 0, static_cast<uint8_t>(p)};
    std::memcpy(r.macAddress, mac, 6);
    CopyText(r.portDescription, "eth" + std::to_string(p - 1));
    ports.push_back(r);
  }
  addresses.clear();
  AddressEntry a{};
  a.ifIndex = 1;
  const uint8_t first[4] = {10, 1, 0, 5};
  std::memcpy(&a.address, first, 4);
  a.portListLength = 1;
  a.portList[0] = 0x80;
  addresses.push_back(a);
  const uint8_t second[4] = {192, 168, 7, 1};
  std::memcpy(&a.address, second, 4);
  a.ifIndex = 2;
  addresses.push_back(a);

  neighbors.clear();
  neighbors.push_back(MakeNeighbor(1, 1, 1000, {{10, 9, 0, 20}, {10, 9, 0, 3}}));
  neighbors.push_back(MakeNeighbor(1, 2, 1000, {}));
  neighbors.push_back(MakeNeighbor(2, 3, 2005, {{10, 9, 1, 1}}));
}

long FakeAgent::Transact(const uint8_t* request, size_t length, uint8_t* reply, size_t capacity,
                         bool& timedOut) {
  ++transactions;
  timedOut = false;
  if (state == State::kDown) return -1;
  if (state == State::kHung) {
    timedOut = true;
    return -1;
  }
  uint8_t message[kPipeMessageMax] = {};
  if (length > sizeof message) return -1;
  std::memcpy(message, request, length);
  size_t n = Handle(message, length);
  if (n > capacity) return -1;
  std::memcpy(reply, message, n);
  return static_cast<long>(n);
}

size_t FakeAgent::Handle(uint8_t* message, size_t length) {
  ByteReader r(message, length);
  const uint32_t code = r.u32le();
  const uint32_t lengthField = r.u32le();
  switch (code) {
    case kPipeGetSettings:
      return DataReply(message, &settings, sizeof settings);
    case kPipeSetSettings: {
      writes.push_back(code);
      AgentSettings block;
      if (lengthField != sizeof block || !r.copy(&block, sizeof block)) return StatusOnly(message, 2);
      // As the agent: the interval rounded up to the 10-second pass, and three
      // settings it does not store, which the reload takes back.
      const AgentSettings old = settings;
      settings = block;
      settings.txInterval = (block.txInterval + 9) / 10 * 10;
      settings.ReinitDelay = old.ReinitDelay;
      settings.txDelay = old.txDelay;
      settings.NotificationInterval = old.NotificationInterval;
      return StatusOnly(message, kPipeDone);
    }
    case kPipeGetAddress:
    case kPipeNextAddress: {
      uint8_t asked[4];
      if (!r.copy(asked, 4)) return StatusOnly(message, code);
      const AddressEntry* best = nullptr;
      for (const AddressEntry& a : addresses) {
        uint8_t b[4];
        std::memcpy(b, &a.address, 4);
        if (code == kPipeGetAddress ? AsNumber(b) == AsNumber(asked) : AsNumber(b) > AsNumber(asked)) {
          uint8_t c[4];
          if (best) std::memcpy(c, &best->address, 4);
          if (!best || AsNumber(b) < AsNumber(c)) best = &a;
        }
      }
      if (!best) return StatusOnly(message, kPipeDone);
      return DataReply(message, best, sizeof *best);
    }
    case kPipeSetAddress: {
      writes.push_back(code);
      AddressEntry e;
      if (lengthField != sizeof e || !r.copy(&e, sizeof e)) return StatusOnly(message, code);
      for (AddressEntry& a : addresses) {
        if (a.address != e.address) continue;
        a.portListLength = e.portListLength;
        std::memcpy(a.portList, e.portList, sizeof a.portList);
        return StatusOnly(message, kPipeDone);
      }
      return StatusOnly(message, code);
    }
    case kPipeNeighborAt: {
      uint32_t position = r.u32le();
      uint8_t address[4] = {};
      if (lengthField == 8) r.copy(address, 4);
      if (position == 0) position = 1;
      if (!r.ok() || position > neighbors.size()) return StatusOnly(message, kPipeDone);
      Neighbor n = neighbors[position - 1];
      if (lengthField == 8) {
        bool held = false;
        for (uint32_t i = 0; i < n.manAddrCount && i < 8 && !held; ++i)
          if (std::memcmp(n.manAddr[i], address, 4) == 0) {
            AddressToFront(n, i);
            held = true;
          }
        if (!held) return StatusOnly(message, kPipeDone);
      }
      SetPosition(n, position);
      return DataReply(message, &n, sizeof n);
    }
    case kPipeNextNeighbor: {
      NeighborCursor c{};
      c.timeMark = r.u32le();
      c.port = r.u32le();
      c.position = r.u32le();
      c.timeBase = r.u32le();
      const bool byAddress = lengthField == kCursorWithAddressSize;
      if (byAddress) r.copy(c.address, 4);
      if (!r.ok()) return StatusOnly(message, code);
      auto mark = [&](const Neighbor& n) { return n.discovered < c.timeBase ? 0 : n.discovered - c.timeBase; };
      int matched = -1, nextPort = -1, nextMark = -1, matchedAddress = -1;
      for (size_t i = 0; i < neighbors.size() && matched < 0; ++i) {
        const Neighbor& n = neighbors[i];
        const uint32_t k = static_cast<uint32_t>(i + 1);
        if (mark(n) == c.timeMark && n.localPort == c.port) {
          if (c.position < k) {
            matched = static_cast<int>(i);
          } else if (k == c.position && byAddress) {
            int best = -1;
            for (uint32_t a = 0; a < n.manAddrCount && a < 8; ++a)
              if (AsNumber(n.manAddr[a]) > AsNumber(c.address) &&
                  (best < 0 || AsNumber(n.manAddr[a]) < AsNumber(n.manAddr[best])))
                best = static_cast<int>(a);
            if (best >= 0) {
              matched = static_cast<int>(i);
              matchedAddress = best;
            }
          }
        } else if (mark(n) == c.timeMark && n.localPort > c.port) {
          if (nextPort < 0 || n.localPort < neighbors[nextPort].localPort) nextPort = static_cast<int>(i);
        } else if (mark(n) > c.timeMark) {
          if (nextMark < 0 || mark(n) < mark(neighbors[nextMark]) ||
              (mark(n) == mark(neighbors[nextMark]) && n.localPort < neighbors[nextMark].localPort))
            nextMark = static_cast<int>(i);
        }
      }
      int chosen = matched >= 0 ? matched : nextPort >= 0 ? nextPort : nextMark;
      if (chosen < 0) return StatusOnly(message, kPipeDone);
      Neighbor n = neighbors[chosen];
      n.discovered = mark(n);
      SetPosition(n, static_cast<uint32_t>(chosen + 1));
      if (matchedAddress > 0) AddressToFront(n, static_cast<uint32_t>(matchedAddress));
      return DataReply(message, &n, sizeof n);
    }
    case kPipeGetPort:
    case kPipeNextPort: {
      uint32_t number = r.u32le() + (code == kPipeNextPort ? 1 : 0);
      if (!r.ok() || number == 0 || number > ports.size()) return StatusOnly(message, kPipeDone);
      return DataReply(message, &ports[number - 1], sizeof ports[number - 1]);
    }
    case kPipeSetPort: {
      writes.push_back(code);
      LocalPortRecord p;
      if (refusePortWrites || lengthField != sizeof p || !r.copy(&p, sizeof p) || p.number == 0 ||
          p.number > ports.size() || std::memcmp(ports[p.number - 1].macAddress, p.macAddress, 6) != 0)
        return StatusOnly(message, code);
      ports[p.number - 1].adminStatus = p.adminStatus & 0xFF;
      ports[p.number - 1].tlvsTxEnable = p.tlvsTxEnable;
      return StatusOnly(message, kPipeDone);
    }
    default:
      return StatusOnly(message, kPipeUnknownCode);
  }
}

Bindings::Bindings(std::vector<std::vector<UINT>> names) : binds_(names.size()) {
  for (size_t i = 0; i < names.size(); ++i) {
    SnmpVarBind& vb = binds_[i];
    vb = SnmpVarBind{};
    vb.value.asnType = ASN_NULL;
    vb.name.idLength = static_cast<UINT>(names[i].size());
    vb.name.ids = static_cast<UINT*>(SnmpUtilMemAlloc(sizeof(UINT) * names[i].size()));
    if (!names[i].empty()) std::memcpy(vb.name.ids, names[i].data(), sizeof(UINT) * names[i].size());
  }
  list_.list = binds_.data();
  list_.len = static_cast<UINT>(binds_.size());
}

Bindings::~Bindings() {
  for (SnmpVarBind& vb : binds_) SnmpUtilVarBindFree(&vb);
}

std::vector<UINT> Bindings::Name(size_t i) const {
  const SnmpVarBind& vb = binds_[i];
  return std::vector<UINT>(vb.name.ids, vb.name.ids + vb.name.idLength);
}

void Bindings::SetInteger(size_t i, AsnInteger32 value) {
  SnmpUtilAsnAnyFree(&binds_[i].value);
  binds_[i].value.asnType = ASN_INTEGER;
  binds_[i].value.asnValue.number = value;
}

void Bindings::SetOctets(size_t i, const std::vector<uint8_t>& bytes) {
  SnmpUtilAsnAnyFree(&binds_[i].value);
  auto* copy = static_cast<BYTE*>(SnmpUtilMemAlloc(bytes.size()));
  if (!bytes.empty()) std::memcpy(copy, bytes.data(), bytes.size());
  binds_[i].value.asnType = ASN_OCTETSTRING;
  binds_[i].value.asnValue.string = {copy, static_cast<UINT>(bytes.size()), 1};
}

std::vector<UINT> Lldp(std::vector<UINT> suffix) {
  std::vector<UINT> name = {1, 0, 8802, 1, 1, 2, 1};
  name.insert(name.end(), suffix.begin(), suffix.end());
  return name;
}

std::string OidText(const std::vector<UINT>& name) {
  std::string s;
  for (UINT id : name) s += (s.empty() ? "" : ".") + std::to_string(id);
  return s;
}

std::vector<uint8_t> OctetsOf(const SnmpVarBind& vb) {
  const AsnOctetString& s = vb.value.asnValue.string;
  if (vb.value.asnType != ASN_OCTETSTRING || !s.stream) return {};
  return std::vector<uint8_t>(s.stream, s.stream + s.length);
}

}  // namespace torvane::mibtest
