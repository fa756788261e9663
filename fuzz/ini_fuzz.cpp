// The profile reader and writer on any bytes: nothing may crash, a written key must
// read back as written, a deleted key must be gone, and other keys must not move.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/profile.h"

using namespace torvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  IniParseInt(text);
  IniGetString(text, "lldp", "txMcast", "", 18);
  const auto before = IniLookup(text, "lldp", "txInterval");
  const auto other = IniLookup(text, "lldp", "txCdp");

  // The value written is taken from the input too, so odd values get tried.
  const std::string value(text.substr(0, 12));
  const IniEdit write{"txInterval", value};
  const std::string out = IniApply(text, "lldp", {write, {"Log", std::nullopt}});
  const auto after = IniLookup(out, "lldp", "txInterval");
  if (IniEditWritable("lldp", write) ? after != value : after != before) std::abort();
  if (IniLookup(out, "lldp", "Log")) std::abort();
  if (IniLookup(out, "lldp", "txCdp") != other) std::abort();

  const std::string removed = IniApply(out, "LLDP", {{"TXINTERVAL", std::nullopt}});
  if (IniLookup(removed, "lldp", "txInterval")) std::abort();
  if (IniLookup(removed, "lldp", "txCdp") != other) std::abort();
  return 0;
}
