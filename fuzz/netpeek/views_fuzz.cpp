// Every view over an agent whose answers the input makes up, in virtual time:
// names that do not move, jump back, leave the column or carry indexes of any
// length; values of every type and size; error statuses pointing anywhere;
// answers that never come. The view must end, ask a bounded number of times, and
// leave a model whose rows have no more cells than the view's columns and whose
// name lookups point at cells that exist.
//
// Input: byte 0 picks the view, byte 1 the numeric display (bit 0) and a clock
// that cannot convert (bit 1); then, for each request, one control byte (low 3
// bits: 0 no answer, 1 an error status and index from the next two bytes, else an
// answer) and for an answer, per binding asked: a name byte (low 2 bits: 0 the
// name asked, 1 the name asked with 1 to 16 arcs from the input appended, 2 its
// last arc moved by the next byte, 3 a name of up to 32 arcs from the input) with
// the value's type in its high nibble, then the value's bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <exception>

#include "netpeek/views.h"
#include "tests/netpeek/support/fake_agent.h"

using namespace torvane;
using namespace torvane::netpeek;

namespace {

constexpr uint32_t kViews[] = {view_id::kSystem,    view_id::kInterfaces, view_id::kRoutes,   view_id::kArp,
                               view_id::kTcp,       view_id::kUdp,        view_id::kDevices,  view_id::kStorage,
                               view_id::kTasks,     view_id::kInstalled,  view_id::kServices, view_id::kLldp,
                               view_id::kUsers};

class Clock final : public ViewClock {
 public:
  bool fail = false;
  int64_t now_seconds() override { return 1715000000; }
  bool local_time(int64_t seconds, std::tm& out) override {
    const std::time_t t = static_cast<std::time_t>(seconds);
    return !fail && ::gmtime_r(&t, &out) != nullptr;
  }
  void sleep_ms(uint32_t ms) override { mono_ += ms; }
  int64_t monotonic_ms() override { return mono_; }

 private:
  int64_t mono_ = 0;
};

struct Lookups final : NameLookups {
  struct Asked {
    uint64_t generation;
    size_t row, column;
  };
  std::vector<Asked> asked;
  void request(uint64_t generation, size_t row, size_t column, uint32_t) override {
    asked.push_back({generation, row, column});
  }
};

Oid NameFrom(const Oid& asked, ByteReader& in, uint8_t mode) {
  Oid name = asked;
  switch (mode & 3) {
    case 0:
      break;
    case 1: {
      const size_t n = 1 + (in.u8() & 15);
      for (size_t i = 0; i < n && name.count() < kOidMaxSubids; ++i) name.subids.push_back(in.u8());
      break;
    }
    case 2:
      if (!name.subids.empty()) name.subids.back() += static_cast<int8_t>(in.u8());
      break;
    default: {
      name.subids.clear();
      const size_t n = in.u8() & 31;
      name.subids = {1, 3};
      for (size_t i = 0; i < n; ++i) name.subids.push_back(in.u8());
    }
  }
  return name;
}

void ValueFrom(VarBind& v, ByteReader& in, uint8_t kind) {
  static constexpr uint8_t kTypes[] = {asn::kInteger,   asn::kCounter,  asn::kGauge, asn::kTimeTicks,
                                       asn::kOctetString, asn::kIpAddress, asn::kObjectId, asn::kNull,
                                       asn::kBitString, asn::kOpaque};
  v.type = kTypes[(kind >> 4) % std::size(kTypes)];
  switch (v.type) {
    case asn::kInteger:
    case asn::kCounter:
    case asn::kGauge:
    case asn::kTimeTicks:
      v.number = in.u32be();
      break;
    case asn::kObjectId: {
      const size_t n = in.u8() & 31;
      v.oid.subids = {1, 3};
      for (size_t i = 0; i < n; ++i) v.oid.subids.push_back(in.u8());
      break;
    }
    case asn::kNull:
      break;
    default: {
      auto bytes = in.bytes(in.u8() & 127);
      v.octets.assign(bytes.begin(), bytes.end());
    }
  }
}

std::vector<testing::Bytes> Answer(const testing::ReceivedRequest& request, ByteReader& in) {
  if (!request.parsed || in.empty()) return {};
  const uint8_t control = in.u8();
  testing::ResponseOptions options;
  std::vector<VarBind> bindings;
  switch (control & 7) {
    case 0:
      return {};
    case 1:
      options.error_status = in.u8() & 7;
      options.error_index = in.u8() & 31;
      for (const Oid& n : request.names) {
        VarBind v;
        v.name = n;
        bindings.push_back(v);
      }
      break;
    default:
      for (const Oid& n : request.names) {
        const uint8_t kind = in.u8();
        VarBind v;
        v.name = NameFrom(n, in, kind);
        ValueFrom(v, in, kind);
        bindings.push_back(std::move(v));
      }
  }
  try {
    return {testing::make_response(request.request_id, bindings, options)};
  } catch (const std::exception&) {
    return {};  // does not fit one datagram: no answer
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  ByteReader in(data, size);
  const uint32_t view = kViews[in.u8() % std::size(kViews)];
  const uint8_t flags = in.u8();

  testing::RespondingTransport transport([&in](const testing::ReceivedRequest& r) { return Answer(r, in); });
  SnmpTarget target;
  target.socket = &transport;
  target.retries = 1;
  if (!snmp_connect(target, "fuzz")) std::abort();
  ViewerSettings settings;
  settings.numeric = flags & 1;
  ReportModel model;
  Lookups lookups;
  Clock clock;
  clock.fail = flags & 2;
  ViewContext context{target, settings, model, &lookups, 3, &clock};

  const int columns = show_view(view, context);

  // Every request takes at least one byte of input, or goes unanswered and ends
  // the view (twice: once sent and once resent).
  if (transport.requests() > size + 4) std::abort();
  if (columns != 0 && static_cast<size_t>(columns) != model.columns().size()) std::abort();
  if (model.row_count() > 2048) std::abort();
  for (size_t r = 0; r < model.row_count(); ++r)
    if (!model.cell(r, model.columns().size()).empty()) std::abort();
  for (const Lookups::Asked& a : lookups.asked)
    if (a.generation != 3 || a.row >= model.row_count() || a.column >= model.columns().size()) std::abort();
  return 0;
}
