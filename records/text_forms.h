// The text forms of neighbour data that the event log, the traces and the lister
// print the same way: dotted IPv4, MAC, IDs as text or hex, capability letters,
// the mode text and time stamps with the zone offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "common/mac.h"
#include "records/address_table.h"
#include "records/agent_settings.h"
#include "platform/local_time.h"

namespace torvane {

// "%u.%u.%u.%u" of four octets in network order.
std::string FormatIpv4(const uint8_t address[4]);
std::string FormatIpv4(Ipv4 address);
// As FormatIpv4, but nothing at all for 0.0.0.0 (the log's "no address").
std::string FormatIpv4OrEmpty(const uint8_t address[4]);

// An ID as text (its bytes up to the first NUL) or as two lower-case hex digits
// per byte without separators. The length byte is trusted no further than the
// field's 67 bytes.
std::string FormatIdField(const IdField& id, bool asText);
// Which ID subtypes are printed as text: chassis 2 (interface alias) and 6
// (interface name), port 1 (interface alias) and 5 (interface name).
inline bool ChassisIdIsText(uint32_t subtype) { return subtype == 2 || subtype == 6; }
inline bool PortIdIsText(uint32_t subtype) { return subtype == 1 || subtype == 5; }

// O E B A R T C S for bits 0..7: upper case when enabled, lower case when only
// supported, absent otherwise. A bridge and router with only bridging enabled
// reads "Br".
std::string CapabilityLetters(uint32_t supported, uint32_t enabled);

// "10M ", "100M " or "1000M " for speed class 1..3, then "FD" when bit 0 is set;
// empty for mode 0.
std::string ModeText(uint32_t mode);

// " %+4.4d" of hours * 100 + minutes of an offset east of UTC (" +0100", " -0330").
std::string ZoneOffsetText(long gmtoffSeconds);

// Local time "%Y-%m-%d %H:%M:%S"; empty when the time cannot be converted.
std::string FormatLocalTime(LocalTimeSource& clock, time_t t);
// The same followed by the zone offset in effect at that moment.
std::string FormatTimestamp(LocalTimeSource& clock, time_t t);

// Replaces every control character by '?': bytes below 0x20 and 0x7F, the C1
// controls encoded as UTF-8 (C2 80 .. C2 9F, one '?' for the pair), and bytes
// 0x80..0x9F that are not part of a valid UTF-8 sequence. Everything else, double
// quotes and valid UTF-8 included, is kept. Values from the wire go through this
// before they reach a log line or a terminal.
std::string SanitizeText(std::string_view text);

}  // namespace torvane
