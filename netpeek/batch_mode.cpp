#include "netpeek/batch_mode.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "common/text.h"
#include "netpeek/report_model.h"
#include "netpeek/view_save.h"
#include "netpeek/walk_view.h"

namespace torvane::netpeek {

namespace {

void Line(const std::function<void(std::string_view)>& sink, std::string_view text) {
  if (!sink) return;
  std::string line(text);
  line += '\n';
  sink(line);
}

bool ExchangeFailed(SnmpOutcome outcome) {
  return outcome == SnmpOutcome::kNotConnected || outcome == SnmpOutcome::kSetupFailed ||
         outcome == SnmpOutcome::kSendFailed || outcome == SnmpOutcome::kReceiveFailed ||
         outcome == SnmpOutcome::kNoAnswer;
}

}  // namespace

int run_batch(SnmpTarget& target, const ViewerSettings& settings, NetpeekIo& io) {
  snmp_connect(target, target.host);

  ReportModel model;
  int columns = 0;
  bool scratchFailed = false;
  if (settings.current_view == view_id::kGet || settings.current_view == view_id::kWalk) {
    const uint8_t type = settings.current_view == view_id::kGet ? asn::kGetRequest : asn::kGetNextRequest;
    std::FILE* scratch = std::tmpfile();
    if (scratch) {
      snmp_walk_to_file(target, type, settings.walk_oid_text, settings.numeric, scratch);
      if (std::fflush(scratch) != 0 || std::ferror(scratch)) scratchFailed = true;
      std::rewind(scratch);
    } else {
      scratchFailed = true;
    }
    columns = walk_view(model, scratch);
    if (scratch) std::fclose(scratch);
  } else {
    Line(io.err, "netpeek: this build has only the get and dump views");
    return kExitNoAnswer;
  }
  model.set_save_column_count(static_cast<size_t>(columns));

  int status = kExitDone;
  if (scratchFailed) {
    Line(io.err, "netpeek: cannot write a temporary file");
    status = kExitCannotWrite;
  }
  const std::string path = proposed_file_name(target.host, model.title()) + ".txt";
  SaveResult saved = save_view_to_path(model, path);
  if (saved.status != SaveStatus::kSaved) {
    Line(io.err, FormatText("netpeek: cannot write \"%s\": %s", path.c_str(), std::strerror(saved.error)));
    status = kExitCannotWrite;
  }
  if (ExchangeFailed(target.last_outcome)) {
    Line(io.err, target.status_text);
    status = kExitNoAnswer;
  }
  return status;
}

int run_netpeek(int argc, const char* const* argv, NetpeekIo& io) {
  BerLog log([&io](std::string_view line) {
    if (io.out) io.out(line);
  });
  SnmpTarget target;
  target.socket = io.transport;
  target.log = &log;
  target.agent_port = agent_port_from_environment(io.port_env);
  ViewerSettings settings;
  auto message = [&io](std::string_view text) { Line(io.err, text); };

  int code = snmp_startup(argc, argv, target, settings, message);
  if (code == 1) {
    Line(io.out, kUsageText);
    return kExitDone;
  }
  if (code != 0) {
    message("SNMP init failed");
    return kExitCannotWrite;
  }
  if (!settings.batch_save) {
    Line(io.err, "netpeek: this build has no window; run it with -s to save a view to a file");
    return kExitNoAnswer;
  }
  return run_batch(target, settings, io);
}

}  // namespace torvane::netpeek
