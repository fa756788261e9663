#include "netpeek/window/host_options.h"

#include <cctype>

#include "netpeek/command_line.h"

namespace torvane::netpeek {

namespace {

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

std::string_view SkipBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  return text;
}

}  // namespace

HostOptions scan_host_options(std::string_view text) {
  HostOptions options;
  text = text.substr(0, kHostOptionsMax);
  while (!text.empty()) {
    if (text.starts_with("numeric")) {
      options.numeric = true;
      text.remove_prefix(7);
    } else if (text.starts_with("get")) {
      std::string_view rest = SkipBlanks(text.substr(3));
      options.view = view_id::kGet;
      options.walk_oid_text = rest.empty() ? std::string(kDefaultGetOid) : std::string(rest);
      break;
    } else if (text.starts_with("dump")) {
      std::string_view rest = SkipBlanks(text.substr(4));
      options.view = view_id::kWalk;
      if (rest == "lldp")
        options.walk_oid_text = "1.0.8802";
      else if (rest.empty() || rest == "inet")
        options.walk_oid_text = "1.3.6";
      else
        options.walk_oid_text = std::string(rest);
      break;
    } else if (IsBlank(text.front())) {
      text.remove_prefix(1);
    } else {
      break;
    }
  }
  return options;
}

}  // namespace torvane::netpeek
