#include "tests/support/frames/parse_rig.h"

#include <cstring>
#include <memory>

#include "tests/support/frames/port_fixture.h"
#include "tests/support/frames/settings_fixture.h"

namespace torvane {

ParseRig::ParseRig() {
  port.number = 1;
  port.ifIndex = 2;
  std::memcpy(port.interfaceName, "eth0", 5);
  settings = DefaultSettingsForTest();
  AddAddress(addresses, 2, MakeIpv4(192, 168, 1, 10));
  AddAddress(addresses, 2, MakeIpv4(10, 77, 0, 5));
  context.settings = &settings;
  context.addresses = &addresses;
}

ParseResult ParseRig::ParseWith(Parser parser, const std::vector<uint8_t>& frame, Neighbor& record, uint32_t now) {
  auto exact = std::make_unique<uint8_t[]>(frame.size());
  if (!frame.empty()) std::memcpy(exact.get(), frame.data(), frame.size());
  notes = ParseNotes{};
  return parser(port, record, exact.get(), frame.size(), now, context, &notes);
}

std::string IdText(const IdField& id) { return std::string(reinterpret_cast<const char*>(id.bytes), id.length); }

}  // namespace torvane
