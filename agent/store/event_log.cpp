#include "agent/store/event_log.h"

#include <cstdio>

#include "records/text_forms.h"
#include "common/text.h"

namespace torvane {

std::string LogFileName(std::string_view directory, std::string_view logName,
                        const std::tm& local) {
  char pattern[64];
  CopyText(pattern, logName);
  char name[kMaxLogNameLength + 1];
  size_t n = std::strftime(name, sizeof name, pattern, &local);
  if (n == 0) return {};
  std::string path(directory);
  path.append(name, n);
  return path;
}

namespace {

template <size_t N>
std::string Value(const char (&field)[N]) {
  return SanitizeText(FieldText(field));
}

const char* KindWord(int kind) {
  switch (kind) {
    case kLogLldp: return "lldp";
    case kLogCdp: return "cdp";
    default: return "expired";
  }
}

}  // namespace

std::string FormatLogLine(SystemFacts& facts, time_t now, const Neighbor* record, int kind) {
  std::string line = FormatTimestamp(facts, now);
  if (!record) {
    line += " event=start \n";
    return line;
  }
  const Neighbor& r = *record;
  line += " event=";
  line += KindWord(kind);
  line += " interface=\"" + Value(r.interfaceName) + "\"";
  line += " interface-ip-addr=" + FormatIpv4OrEmpty(r.interfaceAddress);
  line += " chassisId=\"" + SanitizeText(FormatIdField(r.chassisId, ChassisIdIsText(r.chassisIdSubtype))) + "\"";
  line += " chassis=\"" + Value(r.systemName) + "\"";
  line += " portId=\"" + SanitizeText(FormatIdField(r.portId, PortIdIsText(r.portIdSubtype))) + "\"";
  line += " port=\"" + Value(r.portDescription) + "\"";
  line += " port-ip-addr=" + FormatIpv4OrEmpty(r.portAddress);
  line += " lastUpdate=\"" + FormatLocalTime(facts, static_cast<time_t>(r.lastUpdate)) + "\"";
  line += " capabilities=" + CapabilityLetters(r.capSupported, r.capEnabled);
  line += " discovered=\"" + FormatLocalTime(facts, static_cast<time_t>(r.discovered)) + "\"";
  line += " description=\"" + Value(r.systemDescription) + "\"";
  line += " mode=\"" + ModeText(r.mode) + "\"";
  if (r.portVlanId != 0) line += " vLanId=" + std::to_string(r.portVlanId);
  line += " \n";
  return line;
}

void EventLog::LogEvent(const Neighbor* record, int kind) {
  AgentSettings settings = settings_.Get();
  if (settings.Log == 0) return;
  OutsideSettings outside = settings_.GetOutside();

  time_t now = static_cast<time_t>(clock_.Now());
  std::tm local{};
  long gmtoff = 0;
  if (!facts_.LocalTime(now, local, gmtoff)) return;
  std::string path = LogFileName(FieldText(settings.Directory), FieldText(outside.LogName), local);
  if (path.empty()) return;

  std::lock_guard<std::mutex> lock(logLock_);
  std::FILE* file = std::fopen(path.c_str(), "a");
  if (!file) return;
  std::string line = FormatLogLine(facts_, now, record, kind);
  std::fwrite(line.data(), 1, line.size(), file);
  std::fclose(file);
}

}  // namespace torvane
