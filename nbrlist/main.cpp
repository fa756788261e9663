// nbrlist: prints the running agent's neighbour table.
#include <cstdio>
#include <ctime>

#include "nbrlist/nbrlist.h"
#include "platform/system_facts.h"

int main(int argc, char** argv) {
  auto facts = torvane::MakeLinuxSystemFacts();
  torvane::NbrlistContext ctx{*facts, std::time(nullptr), [](std::string_view text) {
                                std::fwrite(text.data(), 1, text.size(), stdout);
                              },
                              [](std::string_view text) {
                                std::fwrite(text.data(), 1, text.size(), stderr);
                              }};
  torvane::PipeConnection pipe;
  int status = torvane::RunNbrlist(argc, argv, pipe, ctx);
  std::fflush(stdout);
  return status;
}
