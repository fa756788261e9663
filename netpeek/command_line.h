// netpeek's command line: options, the node, the first view and, for "get" and
// "dump", the object or subtree; and the start-up that opens the socket.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "netpeek/snmp_engine.h"

namespace torvane::netpeek {

// Command identifiers of the views (the menu's numbers).
namespace view_id {
inline constexpr uint32_t kSystem = 40001;
inline constexpr uint32_t kInterfaces = 40002;
inline constexpr uint32_t kRoutes = 40003;
inline constexpr uint32_t kArp = 40004;
inline constexpr uint32_t kTcp = 40005;
inline constexpr uint32_t kUdp = 40006;
inline constexpr uint32_t kDevices = 40007;
inline constexpr uint32_t kStorage = 40008;
inline constexpr uint32_t kTasks = 40009;
inline constexpr uint32_t kInstalled = 40010;
inline constexpr uint32_t kServices = 40011;
inline constexpr uint32_t kLldp = 40012;
inline constexpr uint32_t kGet = 40013;
inline constexpr uint32_t kWalk = 40014;
inline constexpr uint32_t kUsers = 40018;
}  // namespace view_id

inline constexpr size_t kOidTextMax = 255;
inline constexpr char kDefaultGetOid[] = "1.3.6.1.2.1.1.1.0";
inline constexpr char kUsageText[] =
    "netpeek [-n] [-s] [-c community] [node] [view]\nOptions:\n  -c community    name of community\n"
    "  -n    numeric display\n  -s    execute and save to file";
inline constexpr char kProgramTitle[] = "Torvane SNMP Info";

// The viewer's process-wide settings besides the target.
struct ViewerSettings {
  bool numeric = false;
  bool batch_save = false;
  uint32_t current_view = view_id::kSystem;
  std::string walk_oid_text;  // "get" and "dump"
};

// The view a name selects (compared without regard to case), or 0.
uint32_t view_from_name(std::string_view name);

// Fills target (community, host) and settings from the arguments after the
// program name. Returns true when the usage was asked for ("-?" or "/?").
bool parse_command_line(int argc, const char* const* argv, SnmpTarget& target, ViewerSettings& settings);

// Start-up: defaults, the command line, the socket. 0 ready; 1 the usage was asked
// for (the caller shows it and ends quietly); 3 the socket could not be created or
// bound ("TCPIP bind failed" was shown through message). Code 2 (network start-up)
// has no counterpart on Linux.
int snmp_startup(int argc, const char* const* argv, SnmpTarget& target, ViewerSettings& settings,
                 const std::function<void(std::string_view)>& message);

}  // namespace torvane::netpeek
