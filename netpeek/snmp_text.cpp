#include "netpeek/snmp_text.h"

#include <algorithm>

#include "common/text.h"

namespace torvane::netpeek {

Oid oid_from_text(std::string_view text) {
  Oid oid;
  size_t i = 0;
  while (i <= text.size() && oid.count() < kOidTextMaxSubids) {
    size_t end = text.find('.', i);
    if (end == std::string_view::npos) end = text.size();
    std::string_view piece = text.substr(i, end - i);
    i = end + 1;
    if (piece.empty()) continue;
    size_t p = 0;
    while (p < piece.size() && (piece[p] == ' ' || piece[p] == '\t')) ++p;
    uint64_t value = 0;
    while (p < piece.size() && piece[p] >= '0' && piece[p] <= '9') {
      value = std::min<uint64_t>(value * 10 + static_cast<uint64_t>(piece[p] - '0'), 0xFFFFFFFFu);
      ++p;
    }
    oid.subids.push_back(static_cast<uint32_t>(value));
  }
  return oid;
}

std::string oid_to_text(const Oid& oid) {
  std::string out;
  out.reserve(oid.count() * 4);
  for (size_t i = 0; i < oid.count(); ++i) {
    if (i) out += '.';
    out += std::to_string(oid.subids[i]);
  }
  return out;
}

int oid_compare(const Oid& a, const Oid& b) {
  size_t n = std::min(a.count(), b.count());
  for (size_t i = 0; i < n; ++i) {
    if (a.subids[i] != b.subids[i]) return a.subids[i] < b.subids[i] ? -1 : 1;
  }
  if (a.count() == b.count()) return 0;
  return a.count() < b.count() ? -1 : 1;
}

bool oid_starts_with(const Oid& oid, const Oid& prefix) {
  if (oid.count() < prefix.count()) return false;
  return std::equal(prefix.subids.begin(), prefix.subids.end(), oid.subids.begin());
}

namespace {

std::string HexBytes(const std::vector<uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
    out += ' ';
  }
  return out;
}

// Shown as hex when it is short, asked for, holds control bytes (other than one
// terminating zero) or is mostly bytes above 0x7E.
bool OctetsAsHex(const std::vector<uint8_t>& s, bool numeric) {
  if (s.size() < 2 || numeric) return true;
  size_t high = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] < 0x20 && !(s[i] == 0 && i + 1 == s.size())) return true;
    if (s[i] > 0x7E) ++high;
  }
  return high > s.size() - high;
}

std::string OctetsAsText(const std::vector<uint8_t>& s) {
  bool anyHigh = std::any_of(s.begin(), s.end(), [](uint8_t b) { return b > 0x7E; });
  std::string out;
  out.reserve(s.size() + 8);
  for (uint8_t b : s) {
    if (b == 0) break;  // the one terminating zero the rule lets through
    if (b > 0x7E) {
      out += FormatText("\\0x%2.2x", b);
    } else {
      out += static_cast<char>(b);
      if (b == '\\' && anyHigh) out += '\\';
    }
  }
  return out;
}

}  // namespace

ValueText value_to_text(const VarBind& binding, bool numeric) {
  switch (binding.type) {
    case asn::kInteger:
      return {"Integer", FormatText("%u ( 0x%x )", binding.number, binding.number)};
    case asn::kBitString:
      return {"Bits", HexBytes(binding.octets)};
    case asn::kOctetString:
      return {"Octetstring", OctetsAsHex(binding.octets, numeric) ? HexBytes(binding.octets)
                                                                  : OctetsAsText(binding.octets)};
    case asn::kNull:
      return {"NULL", ""};
    case asn::kObjectId:
      return {"OID", oid_to_text(binding.oid)};
    case asn::kIpAddress: {
      std::string out;
      for (size_t i = 0; i < binding.octets.size(); ++i) {
        if (i) out += '.';
        out += std::to_string(binding.octets[i]);
      }
      return {"IP-Address", out};
    }
    case asn::kCounter:
      return {"Counter", std::to_string(binding.number)};
    case asn::kGauge:
      return {"Gauge", std::to_string(binding.number)};
    case asn::kTimeTicks:
      return {"TimeTicks", std::to_string(binding.number)};
    default:
      return {FormatText("0x%x", binding.type), ""};
  }
}

bool value_as_number(const VarBind& binding, uint32_t& out, uint32_t fallback) {
  switch (binding.type) {
    case asn::kInteger:
    case asn::kCounter:
    case asn::kGauge:
    case asn::kTimeTicks:
      out = binding.number;
      return true;
    case asn::kBitString:
    case asn::kIpAddress:
      if ((binding.type == asn::kBitString && binding.octets.size() <= 4) ||
          (binding.type == asn::kIpAddress && binding.octets.size() == 4)) {
        for (uint8_t b : binding.octets) out = (out << 8) | b;
        return true;
      }
      break;
    default:
      break;
  }
  out = fallback;
  return false;
}

std::string value_as_string(const VarBind& binding, size_t capacity) {
  bool octetLike = binding.type == asn::kOctetString || binding.type == asn::kBitString ||
                   binding.type == asn::kIpAddress || binding.type == asn::kOpaque ||
                   binding.type == asn::kSequence;
  if (!octetLike || capacity == 0) return {};
  size_t n = std::min(binding.octets.size(), capacity - 1);
  return std::string(reinterpret_cast<const char*>(binding.octets.data()), n);
}

}  // namespace torvane::netpeek
