// Query pipe round trips from one client (code 1, the settings block) and a whole
// nbrlist listing of 10,000 neighbours, both against a server on a scratch
// socket path.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "agent/store/agent_pipe.h"
#include "records/pipe_client.h"
#include "records/pipe_records.h"
#include "nbrlist/nbrlist.h"
#include "tests/support/runtime/pipe_fixture.h"

namespace torvane {
namespace {

class ScratchPipe {
 public:
  ScratchPipe() {
    char templ[] = "/tmp/torvane-bench-XXXXXX";
    if (mkdtemp(templ)) dir_ = templ;
    // Every client of the suite finds the agent through this variable.
    setenv("TORVANE_PIPE", path().c_str(), 1);
  }
  ~ScratchPipe() {
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
    unsetenv("TORVANE_PIPE");
  }
  std::string path() const { return dir_ + "/pipe"; }

 private:
  std::string dir_;
};

void BM_PipeRoundTripSettings(benchmark::State& state) {
  ScratchPipe scratch;
  pipetest::AgentFixture f;
  f.Populate();
  AgentPipe pipe(f.state, scratch.path());
  pipe.Start();
  PipeConnection client;
  if (!pipe.server().Listening() || !client.Open(scratch.path())) {
    state.SkipWithError("no pipe");
    return;
  }
  AgentSettings settings;
  for (auto _ : state) {
    if (PipeQuery(client, kPipeGetSettings, 0, nullptr, sizeof settings, &settings) != 1) {
      state.SkipWithError("request failed");
      break;
    }
    benchmark::DoNotOptimize(settings.txInterval);
  }
  state.SetItemsProcessed(state.iterations());
  pipe.Stop();
}
BENCHMARK(BM_PipeRoundTripSettings)->UseRealTime();

void BM_NbrlistTenThousandNeighbors(benchmark::State& state) {
  ScratchPipe scratch;
  pipetest::AgentFixture f;
  f.AddPorts();
  for (uint32_t i = 0; i < 10000; ++i) {
    Neighbor n = pipetest::MakeNeighbor(1 + i % 2, static_cast<uint8_t>(i), "switch-" + std::to_string(i),
                                        1700000000 + i);
    n.sourceMac[3] = static_cast<uint8_t>(i >> 8);
    n.sourceMac[4] = static_cast<uint8_t>(i >> 16);
    f.AddNeighbor(n);
  }
  AgentPipe pipe(f.state, scratch.path());
  pipe.Start();
  PipeConnection client;
  size_t bytes = 0;
  NbrlistContext ctx{f.facts, 1700050000, [&](std::string_view t) { bytes += t.size(); }};
  const char* argv[] = {"nbrlist", "/t"};
  NbrlistOptions options = ParseNbrlistArguments(state.range(0) ? 2 : 1, argv);
  for (auto _ : state) {
    size_t printed = ListNeighbors(client, options, ctx);
    if (printed != 10000) {
      state.SkipWithError(("listing cut short at " + std::to_string(printed) + " of " +
                           std::to_string(f.table.Count())).c_str());
      break;
    }
  }
  state.counters["bytes_per_listing"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());
  pipe.Stop();
}
BENCHMARK(BM_NbrlistTenThousandNeighbors)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace torvane

namespace torvane {
namespace {

// The lister's formatting alone, without the pipe.
void BM_NbrlistFormatLine(benchmark::State& state) {
  FakeSystemFacts facts;
  Neighbor n = pipetest::MakeNeighbor(1, 7, "switch-7", 1700000000);
  const char* argv[] = {"nbrlist", "/t"};
  NbrlistOptions options = ParseNbrlistArguments(state.range(0) ? 2 : 1, argv);
  for (auto _ : state) benchmark::DoNotOptimize(FormatNeighborLine(n, options, facts, 1700050000));
}
BENCHMARK(BM_NbrlistFormatLine)->Arg(0)->Arg(1);

}  // namespace
}  // namespace torvane
