// The "Options" field of the "Select Host" dialog: a few words that switch numeric
// display on or pick a single get or a walk instead of the current view.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace torvane::netpeek {

inline constexpr size_t kHostOptionsMax = 255;

struct HostOptions {
  bool numeric = false;      // "numeric" was given: numeric display on (never off)
  uint32_t view = 0;         // view_id::kGet or view_id::kWalk, 0 when neither was given
  std::string walk_oid_text; // the object or subtree of that view
};

// Scans the text from its start: "numeric" turns numeric display on and the scan
// goes on after it; "get" takes the rest (after blanks) as the object, sysDescr when
// nothing is left; "dump" takes the rest as the subtree ("lldp" the LLDP-MIB,
// nothing or "inet" 1.3.6); blanks are skipped; anything else ends the scan. The
// words are matched as prefixes, as typed: "numericget" is both.
HostOptions scan_host_options(std::string_view text);

}  // namespace torvane::netpeek
