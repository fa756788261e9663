#include "netpeek/command_line.h"

#include "common/text.h"

namespace torvane::netpeek {

namespace {

struct ViewName {
  const char* name;
  uint32_t id;
};

constexpr ViewName kViewNames[] = {
    {"interfaces", view_id::kInterfaces}, {"routes", view_id::kRoutes},
    {"arp", view_id::kArp},               {"tcp", view_id::kTcp},
    {"udp", view_id::kUdp},               {"devices", view_id::kDevices},
    {"storage", view_id::kStorage},       {"tasks", view_id::kTasks},
    {"installed", view_id::kInstalled},   {"services", view_id::kServices},
    {"users", view_id::kUsers},           {"lldp", view_id::kLldp},
    {"dump", view_id::kWalk},             {"get", view_id::kGet},
};

std::string Cut(std::string_view text, size_t max) { return std::string(text.substr(0, max)); }

}  // namespace

uint32_t view_from_name(std::string_view name) {
  // The original compared the first 15 characters; every name is shorter.
  name = name.substr(0, 15);
  for (const ViewName& v : kViewNames)
    if (EqualsNoCase(name, v.name)) return v.id;
  return 0;
}

bool parse_command_line(int argc, const char* const* argv, SnmpTarget& target, ViewerSettings& settings) {
  int i = 1;
  for (; i < argc && argv[i] && (argv[i][0] == '-' || argv[i][0] == '/'); ++i) {
    std::string_view a = argv[i];
    if (a == "-?" || a == "/?") return true;
    if (a == "-c") {
      if (i + 1 < argc && argv[i + 1]) target.community = Cut(argv[++i], kCommunityMax);
    } else if (a == "-n") {
      settings.numeric = true;
    } else if (a == "-s") {
      settings.batch_save = true;
    }
    // Anything else, the slash forms of c, n and s included, is ignored.
  }
  if (i < argc && argv[i]) target.host = Cut(argv[i++], kHostMax);
  std::string_view viewName = (i < argc && argv[i]) ? std::string_view(argv[i++]) : "system";
  if (uint32_t id = view_from_name(viewName)) settings.current_view = id;

  if (settings.current_view == view_id::kGet) {
    settings.walk_oid_text = (i < argc && argv[i]) ? Cut(argv[i++], kOidTextMax) : kDefaultGetOid;
  } else if (settings.current_view == view_id::kWalk) {
    std::string text = "1.3.6";
    if (i < argc && argv[i]) {
      std::string_view a = argv[i++];
      if (a == "lldp")
        text = "1.0.8802";
      else if (a == "inet")
        text = "1.3.6";
      else if (a == "in")
        text = "1.3.6.1.2.1";
      else if (a == "ep")
        text = "1.3.6.1.4.1";
      else
        text = a;
      if (i < argc && argv[i]) {
        text += '.';
        text += argv[i++];
      }
    }
    settings.walk_oid_text = Cut(text, kOidTextMax);
  }
  return false;
}

int snmp_startup(int argc, const char* const* argv, SnmpTarget& target, ViewerSettings& settings,
                 const std::function<void(std::string_view)>& message) {
  target.request_counter = 0;
  target.host = "localhost";
  target.retries = 2;
  target.timeout_ms = 1000;
  target.connected = false;
  target.version = 0;
  target.community = "tarlow";
  settings = ViewerSettings{};
  if (parse_command_line(argc, argv, target, settings)) return 1;
  if (!target.socket || !target.socket->open()) {
    if (message) message("TCPIP bind failed");
    return 3;
  }
  return 0;
}

}  // namespace torvane::netpeek
