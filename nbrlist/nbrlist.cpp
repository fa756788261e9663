#include "nbrlist/nbrlist.h"

#include <cstring>
#include <string>

#include "records/pipe_records.h"
#include "records/text_forms.h"
#include "common/text.h"

namespace torvane {

namespace {

constexpr int kColumnCount = 14;
// A listing ends after this many records even if the agent keeps handing out
// handles (a table that changes while it is read can only ever show each record
// twice or so).
constexpr size_t kMaxRecords = 1000000;

bool IsSlashOption(std::string_view a, char letter) {
  return a.size() == 2 && (a[0] == '/' || a[0] == '-') && a[1] == letter;
}

// "3,1,12": each number 1..31 sets its bit; parsing stops at the first item that
// is not such a number, and after a comma that ends the text.
uint32_t ParseColumnList(std::string_view list) {
  uint32_t mask = 0;
  size_t i = 0;
  while (i < list.size() && list[i] >= '0' && list[i] <= '9') {
    uint32_t value = 0;
    while (i < list.size() && list[i] >= '0' && list[i] <= '9') {
      if (value < 1000) value = value * 10 + static_cast<uint32_t>(list[i] - '0');
      ++i;
    }
    if (value == 0 || value > 31) break;
    mask |= 1u << value;
    if (i + 1 < list.size() && list[i] == ',')
      ++i;
    else
      break;
  }
  return mask;
}

// A text field of the record, read only within the field and with every control
// character replaced: the values come from the wire and go to a terminal.
template <size_t N>
std::string Text(const char (&field)[N]) {
  return SanitizeText(FieldText(field));
}

std::string IdText(const IdField& id, bool asText) {
  std::string s = FormatIdField(id, asText);
  return asText ? SanitizeText(s) : s;
}

bool HeardByLldp(const Neighbor& r) {
  // CDP records carry their address as entry 0 with interface subtype 1, number 0.
  return r.manAddrCount > 0 && !(r.manAddrIfSubtype[0] == 1 && r.manAddrIfNumber[0] == 0);
}

std::string ColumnValue(const Neighbor& r, int column, SystemFacts& facts) {
  switch (column) {
    case 1: return Text(r.interfaceName);
    case 2: return FormatIpv4OrEmpty(r.interfaceAddress);
    case 3: return IdText(r.chassisId, ChassisIdIsText(r.chassisIdSubtype));
    case 4: return Text(r.systemName);
    case 5: return IdText(r.portId, PortIdIsText(r.portIdSubtype));
    case 6: return Text(r.portDescription);
    case 7: return FormatIpv4OrEmpty(r.portAddress);
    case 8: return FormatLocalTime(facts, static_cast<time_t>(r.lastUpdate));
    case 9: return CapabilityLetters(r.capSupported, r.capEnabled);
    case 10: return FormatLocalTime(facts, static_cast<time_t>(r.discovered));
    case 11: return Text(r.systemDescription);
    case 12: return ModeText(r.mode);
    case 13: return r.portVlanId ? std::to_string(r.portVlanId) : std::string();
    default: return {};
  }
}

// Tagged items: the name, and whether the value is quoted.
struct Tag {
  const char* name;
  bool quoted;
};
constexpr Tag kTags[kColumnCount] = {
    {"", false},          {"interface", true},  {"interface-ip-addr", false}, {"chassisId", true},
    {"chassis", true},    {"portId", true},     {"port", true},               {"port-ip-addr", false},
    {"lastUpdate", true}, {"capabilities", false}, {"discovered", true},      {"description", true},
    {"mode", true},       {"vLanId", false}};

// The JSON names of columns 1 to 13: stable, whatever the other forms call them.
constexpr const char* kJsonNames[kColumnCount] = {
    "",           "interface",      "interface_address", "chassis_id",        "system_name",
    "port_id",    "port_description", "port_address",    "last_update",       "capabilities",
    "discovered", "system_description", "mode",          "vlan"};

}  // namespace

NbrlistOptions ParseNbrlistArguments(int argc, const char* const* argv) {
  NbrlistOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i] ? argv[i] : "";
    if (IsSlashOption(a, 't')) {
      options.taggedFormat = true;
    } else if (IsSlashOption(a, 'j')) {
      options.jsonFormat = true;
    } else if (IsSlashOption(a, 'c')) {
      if (i == argc - 1) break;
      std::string_view next = argv[i + 1] ? argv[i + 1] : "";
      if (!next.empty() && next[0] == '/') continue;  // the next option, not a list
      ++i;
      options.columnMask |= ParseColumnList(next);
    }
  }
  if (options.columnMask == 0) options.columnMask = 0xFFFFFFFFu;
  return options;
}

std::string FormatNeighborLine(const Neighbor& record, const NbrlistOptions& options,
                               SystemFacts& facts, time_t now) {
  std::string line;
  const uint32_t mask = options.columnMask;
  if (options.taggedFormat) {
    if (mask & 1u) {
      line += FormatTimestamp(facts, now);
      line += HeardByLldp(record) ? " event=lldp " : " event=cdp ";
    }
    for (int c = 1; c < kColumnCount; ++c) {
      if (!(mask & (1u << c))) continue;
      const Tag& tag = kTags[c];
      line += tag.name;
      line += tag.quoted ? "=\"" : "=";
      line += ColumnValue(record, c, facts);
      line += tag.quoted ? "\" " : " ";
    }
  } else {
    for (int c = 1; c < kColumnCount; ++c) {
      if (!(mask & (1u << c))) continue;
      line += ColumnValue(record, c, facts);
      if (c != 13) line += '\t';
    }
  }
  line += '\n';
  return line;
}

std::string JsonString(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  size_t i = 0;
  while (i < text.size()) {
    const uint8_t b = static_cast<uint8_t>(text[i]);
    const size_t n = Utf8SequenceLength(text, i);
    if (n > 1) {
      out.append(text.substr(i, n));
      i += n;
      continue;
    }
    ++i;
    if (b == '"' || b == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(b));
    } else if (b >= 0x20 && b < 0x7F) {
      out.push_back(static_cast<char>(b));
    } else if (b < 0x80) {  // a control character
      out += "\\u00";
      out.push_back(kHex[b >> 4]);
      out.push_back(kHex[b & 0x0F]);
    } else {  // a byte of no valid sequence: the Latin-1 character of that number
      out.push_back(static_cast<char>(0xC0 | (b >> 6)));
      out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
    }
  }
  out.push_back('"');
  return out;
}

std::string FormatNeighborJson(const Neighbor& record, const NbrlistOptions& options, SystemFacts& facts) {
  std::string object = "{";
  bool first = true;
  for (int c = 1; c < kColumnCount; ++c) {
    if (!(options.columnMask & (1u << c))) continue;
    if (!first) object += ", ";
    first = false;
    object += '"';
    object += kJsonNames[c];
    object += "\": ";
    // The same texts as the other forms; what they leave empty is absent.
    if (c == 13) {
      object += record.portVlanId ? std::to_string(record.portVlanId) : "null";
      continue;
    }
    const std::string value = ColumnValue(record, c, facts);
    object += value.empty() ? "null" : JsonString(value);
  }
  object += '}';
  return object;
}

void PrintNeighbor(const Neighbor& record, const NbrlistOptions& options, NbrlistContext& ctx) {
  ctx.out(FormatNeighborLine(record, options, ctx.facts, ctx.now));
}

size_t ListNeighbors(PipeConnection& pipe, const NbrlistOptions& options, NbrlistContext& ctx) {
  // The JSON document is one array whatever happens below: scripts parse it whole.
  struct JsonFrame {
    const NbrlistOptions& options;
    NbrlistContext& ctx;
    size_t& printed;
    ~JsonFrame() {
      if (options.jsonFormat) ctx.out(printed ? "\n]\n" : "[]\n");
    }
  };
  size_t printed = 0;
  JsonFrame frame{options, ctx, printed};
  Neighbor record;
  if (PipeQuery(pipe, kPipeGetNeighbor, 0, nullptr, sizeof record, &record) != 1) return 0;
  while (printed < kMaxRecords) {
    if (options.jsonFormat)
      ctx.out((printed ? ",\n  " : "[\n  ") + FormatNeighborJson(record, options, ctx.facts));
    else
      PrintNeighbor(record, options, ctx);
    ++printed;
    const uint64_t next = record.nextHandle;
    if (next == 0) break;
    uint8_t handle[8];
    std::memcpy(handle, &next, sizeof handle);
    // A failed exchange closes the connection; a refused reply is the end of the
    // table or a record that went meanwhile. Either way the listing ends here.
    if (PipeQuery(pipe, kPipeGetNeighbor, sizeof handle, handle, sizeof record, &record) != 1) break;
  }
  return printed;
}

int RunNbrlist(int argc, const char* const* argv, PipeConnection& pipe, NbrlistContext& ctx) {
  if (argc > 1 && argv[1] && std::string_view(argv[1]) == "/?") {
    ctx.out("nbrlist for Linux\n");
    ctx.out("Written by Torvane\n");
    ctx.out("List LLDP agent neighbor table\n");
    ctx.out("    Options: /t - list entries in tagged format\n");
    ctx.out("    Options: /c n[,m,...] - list numbered columns only\n");
    ctx.out("    Options: /j - list entries as one JSON array\n");
    return 1;
  }
  const NbrlistOptions options = ParseNbrlistArguments(argc, argv);
  AgentSettings settings;
  if (PipeQuery(pipe, kPipeGetSettings, 0, nullptr, sizeof settings, &settings) < 0) {
    // A script reading JSON gets no document at all and the status 0, never a
    // text it would take for one.
    if (options.jsonFormat && ctx.err)
      ctx.err("Service not active\n");
    else
      ctx.out("Service not active\n");
    return 0;
  }
  ListNeighbors(pipe, options, ctx);
  return 1;
}

}  // namespace torvane
