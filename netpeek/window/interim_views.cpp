#include <cstdio>

#include "netpeek/walk_view.h"
#include "netpeek/window/view_contract.h"

namespace torvane::netpeek {

// The single get and the walk: the engine writes what it fetches to a scratch file
// and the walk view reads it back. The other views are not in this build yet: they
// show their command and no columns.
int show_view(uint32_t command, ViewContext& context) {
  if (command == view_id::kGet || command == view_id::kWalk) {
    const uint8_t type = command == view_id::kGet ? asn::kGetRequest : asn::kGetNextRequest;
    std::FILE* scratch = std::tmpfile();
    if (scratch) {
      snmp_walk_to_file(context.target, type, context.settings.walk_oid_text, context.settings.numeric, scratch);
      std::rewind(scratch);
    }
    int columns = walk_view(context.model, scratch);
    if (scratch) std::fclose(scratch);
    return columns;
  }
  context.model.set_title("View " + std::to_string(command) + " is not in this build");
  context.model.set_columns({});
  context.model.clear(0);
  return 0;
}

}  // namespace torvane::netpeek
