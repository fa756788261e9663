// The neighbour lister: asks the running agent for its neighbour table over the
// query pipe and prints each neighbour as one tab-separated row, as one tagged
// line in the style of the event log, or as one object of a JSON array,
// optionally only some columns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

#include "records/neighbor.h"
#include "records/pipe_client.h"
#include "platform/system_facts.h"

namespace torvane {

struct NbrlistOptions {
  bool taggedFormat = false;
  bool jsonFormat = false;  // wins over taggedFormat
  uint32_t columnMask = 0;  // bit n: column n; all ones when no column was chosen
};

// Reads the arguments after the program name (argv[1] on).
NbrlistOptions ParseNbrlistArguments(int argc, const char* const* argv);

// Where the lines go: standard output in the program, a string in tests.
using TextSink = std::function<void(std::string_view)>;

// What a listing needs besides the pipe: the local time of the record times and
// of "now" (the listing's own time, first item of a tagged line).
struct NbrlistContext {
  SystemFacts& facts;
  time_t now;
  TextSink out;
  TextSink err = {};  // standard error; may be empty
};

// One record's selected columns and the line end.
std::string FormatNeighborLine(const Neighbor& record, const NbrlistOptions& options,
                               SystemFacts& facts, time_t now);
// One record's selected columns as a JSON object, without a line end.
std::string FormatNeighborJson(const Neighbor& record, const NbrlistOptions& options, SystemFacts& facts);
// A text as a JSON string, quotes included: valid UTF-8 is kept, every byte that
// is not part of a valid sequence is read as Latin-1, and quotes, backslashes and
// control characters are escaped, so that any bytes give valid JSON.
std::string JsonString(std::string_view text);
void PrintNeighbor(const Neighbor& record, const NbrlistOptions& options, NbrlistContext& ctx);
// Pages through the table by handle, printing each record as it arrives; returns
// how many were printed.
size_t ListNeighbors(PipeConnection& pipe, const NbrlistOptions& options, NbrlistContext& ctx);
// The whole program; returns the exit status (1 after the usage text or a
// listing, 0 when the agent does not answer).
int RunNbrlist(int argc, const char* const* argv, PipeConnection& pipe, NbrlistContext& ctx);

}  // namespace torvane
