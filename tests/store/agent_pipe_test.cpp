// ctest-labels: unit;threaded
// The agent's pipe end to end: server, handler and the file value store. A
// client of another user reads everything and changes nothing (needs root to
// switch users); the agent's own user may write; garbage from one client does
// not disturb the others.
#include "agent/store/agent_pipe.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "records/pipe_client.h"
#include "records/pipe_records.h"
#include "common/bytes.h"
#include "tests/support/runtime/pipe_fixture.h"
#include "tests/support/pipe_test_support.h"

namespace torvane {
namespace {

using pipetest::AgentFixture;
using testing::EnvOverride;
using testing::RunInChildAs;
using testing::RunningAsRoot;
using testing::ScratchDir;

constexpr uid_t kNobody = 65534;

// The status of a request's reply, or -1 when the exchange failed.
long StatusOf(PipeConnection& pipe, uint32_t code, const std::vector<uint8_t>& data, uint32_t lengthField) {
  uint8_t message[kPipeMessageMax];
  ByteWriter w(message, sizeof message);
  w.u32le(code);
  w.u32le(lengthField);
  w.bytes(data.data(), data.size());
  long got = pipe.Transact(message, w.size(), message, sizeof message);
  if (got < 4) return -1;
  ByteReader r(message, static_cast<size_t>(got));
  return r.u32le();
}

std::vector<uint8_t> Bytes(const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  return std::vector<uint8_t>(b, b + n);
}

class AgentPipeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    f.Populate();
    pipe.emplace(f.state, path);
    pipe->Start();
    ASSERT_TRUE(pipe->server().Listening());
  }

  ScratchDir dir;
  std::string path = dir / "pipe";
  std::string registryRoot = dir / "registry";
  EnvOverride pipeEnv{"TORVANE_PIPE", path};
  EnvOverride registryEnv{"TORVANE_REGISTRY", registryRoot};
  AgentFixture f{MakeFileRegistry(registryRoot)};
  std::optional<AgentPipe> pipe;
};

// Every write request, each well formed, as a client would send it.
struct WriteRequest {
  uint32_t code;
  std::vector<uint8_t> data;
  uint32_t lengthField;
};
std::vector<WriteRequest> EveryWrite(AgentFixture& f) {
  AgentSettings settings = f.agent.settings.Get();
  settings.txInterval = 120;
  AddressEntry entry{};
  entry.address = MakeIpv4(10, 0, 0, 5);
  entry.portListLength = 1;
  Neighbor first{};
  f.table.CopyFirstNeighbor(first);
  LocalPortRecord port{};
  port.number = 1;
  port.adminStatus = 1;
  const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x01};
  std::memcpy(port.macAddress, mac, 6);
  const uint8_t value[] = {5, 'l', 'l', 'd', 'p', 0, 5, 'U', 's', 'e', 'd', 0, 2, '1', 0};
  return {
      {kPipeSetSettings, Bytes(&settings, sizeof settings), 672},
      {kPipeRemoveNeighbor, Bytes(&first.selfHandle, 8), 8},
      {kPipeClearNeighbors, {}, 0},
      {kPipeSetAddress, Bytes(&entry, sizeof entry), 32},
      {kPipeSetPort, Bytes(&port, sizeof port), 228},
      {kPipeWriteRegistry, Bytes(value, sizeof value), sizeof value},
  };
}

TEST_F(AgentPipeTest, OtherUsersReadEverythingAndChangeNothing) {
  if (!RunningAsRoot()) GTEST_SKIP() << "needs root to run a client as another user";
  auto writes = EveryWrite(f);
  int child = RunInChildAs(kNobody, kNobody, [&] {
    PipeConnection c;
    AgentSettings s;
    if (PipeQuery(c, kPipeGetSettings, 0, nullptr, sizeof s, &s) != 1) return 10;
    Neighbor n;
    if (PipeQuery(c, kPipeGetNeighbor, 0, nullptr, sizeof n, &n) != 1) return 11;
    uint32_t one = 1;
    LocalPortRecord port;
    if (PipeQuery(c, kPipeGetPort, 4, &one, sizeof port, &port) != 1) return 12;
    int code = 20;
    for (const auto& w : writes) {
      if (StatusOf(c, w.code, w.data, w.lengthField) != kPipeNoWriteRight) return code;
      ++code;
    }
    return 0;
  });
  EXPECT_EQ(child, 0);
  EXPECT_EQ(f.table.Count(), 3u);
  EXPECT_EQ(f.agent.settings.Get().txInterval, 30u);
  EXPECT_EQ(f.agent.ports[0].adminStatus.load(), 3);
  EXPECT_FALSE(f.registry.Read("lldp", "10.0.0.5").has_value());
  EXPECT_FALSE(f.registry.Read("lldp", "Used").has_value());  // the probe failed as nobody

  // Root may do every one of them.
  PipeConnection root;
  ASSERT_TRUE(root.Open(path));
  for (const auto& w : writes) EXPECT_EQ(StatusOf(root, w.code, w.data, w.lengthField), 0) << w.code;
  EXPECT_EQ(f.table.Count(), 0u);
  EXPECT_EQ(f.agent.settings.Get().txInterval, 120u);
  EXPECT_TRUE(f.registry.Read("lldp", "10.0.0.5").has_value());
  EXPECT_EQ(f.registry.Read("lldp", "Used")->data, "1");
}

TEST_F(AgentPipeTest, TheAgentsOwnUserMayWrite) {
  PipeConnection c;
  ASSERT_TRUE(c.Open(path));
  EXPECT_EQ(StatusOf(c, kPipeClearNeighbors, {}, 0), 0);
  EXPECT_EQ(f.table.Count(), 0u);
  ASSERT_TRUE(f.registry.Read("lldp", "Used").has_value());
}

TEST_F(AgentPipeTest, GarbageFromOneClientDoesNotDisturbTheOthers) {
  std::atomic<bool> done{false};
  std::atomic<long> garbageSent{0};
  std::thread garbage([&] {
    std::mt19937 rng(12345);
    std::vector<uint8_t> junk(kPipeMessageMax + 512);
    int fd = -1;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, path.c_str());
    for (int i = 0; i < 20000 && !done; ++i) {
      if (fd < 0) {
        fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
          close(fd);
          fd = -1;
          continue;
        }
      }
      size_t n = 1 + rng() % junk.size();
      for (auto& b : junk) b = static_cast<uint8_t>(rng());
      // Mostly real codes, but none that changes anything: this client has the
      // write right (it is the agent's own user), and a well-aimed write is no
      // disturbance.
      static const uint8_t kReadCodes[] = {0, 1, 3, 4, 6, 7, 9, 10, 11, 12, 14, 15, 18, 255};
      junk[0] = kReadCodes[rng() % sizeof kReadCodes];
      junk[1] = junk[2] = junk[3] = 0;
      if (send(fd, junk.data(), n, MSG_NOSIGNAL) != static_cast<ssize_t>(n) ||
          recv(fd, junk.data(), kPipeMessageMax, 0) <= 0) {
        close(fd);  // dropped for an oversized message: connect again
        fd = -1;
      }
      garbageSent++;
    }
    if (fd >= 0) close(fd);
  });
  std::atomic<long> good{0}, bad{0};
  std::vector<std::thread> readers;
  for (int c = 0; c < 8; ++c) {
    readers.emplace_back([&] {
      PipeConnection pipeClient;
      for (int i = 0; i < 300; ++i) {
        AgentSettings s;
        Neighbor n;
        uint32_t one = 1;
        LocalPortRecord port;
        bool ok = PipeQuery(pipeClient, kPipeGetSettings, 0, nullptr, sizeof s, &s) == 1 &&
                  PipeQuery(pipeClient, kPipeNeighborAt, 4, &one, sizeof n, &n) == 1 &&
                  PipeQuery(pipeClient, kPipeGetPort, 4, &one, sizeof port, &port) == 1 &&
                  s.txInterval == 30 && port.number == 1;
        (ok ? good : bad)++;
      }
    });
  }
  for (auto& t : readers) t.join();
  done = true;
  garbage.join();
  EXPECT_EQ(good.load(), 8 * 300);
  EXPECT_EQ(bad.load(), 0);
  EXPECT_GT(garbageSent.load(), 0);
}

}  // namespace
}  // namespace torvane
