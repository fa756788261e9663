// ctest-labels: netns
// The agent as a program against a hostile local user and against crashes: a user
// other than root hoarding pipe connections while root lists and another user
// reads, and settings and store writes cut off by SIGKILL followed by one clean
// start and stop.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_io.h"
#include "platform/registry_store.h"
#include "records/agent_settings.h"
#include "records/pipe_client.h"
#include "records/pipe_records.h"
#include "tests/support/peer_lab.h"
#include "tests/support/pipe_test_support.h"
#include "tests/support/temp_dir.h"

namespace torvane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::ReadFileText;

constexpr uid_t kHoarder = 65534;
constexpr uid_t kOtherUser = 65533;
// The neighbour's port ID "hoard-peer" (locally assigned) as nbrlist prints it.
constexpr const char* kPeerPortId = "686f6172642d70656572";

// Names in `folder` that have the form of a replacement's temporary file.
std::vector<std::string> Temporaries(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
    std::string name = e.path().filename().string();
    if (TemporaryTarget(name)) names.push_back(name);
  }
  return names;
}

class AgentHardeningNetns : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why = PeerLab::Unavailable();
    if (!why.empty()) GTEST_SKIP() << why;
    lister = PeerLab::Built("nbrlist/nbrlist");
    ASSERT_EQ(PeerLab::Unbuilt({"agent/lldp", "nbrlist/nbrlist"}), "");
    lab = std::make_unique<PeerLab>();
    ASSERT_EQ(lab->Open({"a", "b", "tha0", "thb0", "10.95.0.1", "10.95.0.2"}), "");
    nsA = lab->ours;
    nsB = lab->peer;
    // The agent's copy and its lldp.ini; other users reach the pipe.
    ASSERT_TRUE(lab->InstallAgent(""));
    agentDir = lab->files.AgentDir();
    pipePath = lab->files.Pipe();
  }

  void TearDown() override {
    if (lab && agent > 0) lab->Stop(agent, SIGKILL, 5s);
    lab.reset();
  }

  void StartAgent() { agent = lab->StartAgent(nsA, 500); }
  std::string OutputPath() const { return lab->LastLog("agent"); }

  // True once the agent answers a settings read.
  bool PipeAnswers(std::chrono::milliseconds limit = 10s) {
    return Eventually(
        [&] {
          PipeConnection pipe;
          pipe.SetTimeout(1000);
          uint8_t block[kSettingsImageSize];
          return pipe.Open(pipePath) &&
                 PipeQuery(pipe, kPipeGetSettings, 0, nullptr, sizeof block, block) == 1;
        },
        limit);
  }

  std::string Nbrlist() { return lab->Capture(nsA, "TORVANE_PIPE=" + pipePath + " " + lister); }

  std::unique_ptr<PeerLab> lab;
  std::string nsA, nsB, agentDir, lister, pipePath;
  pid_t agent = -1;
};

// ---- a user who hoards pipe connections ----

int ConnectTo(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.data(), path.size());
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    fd = -1;
  }
  return fd;
}

// A settings read on `fd`; false when the agent closed the connection or did not
// answer within 200 ms.
bool AskSettings(int fd) {
  uint8_t message[kPipeMessageMax] = {kPipeGetSettings};
  if (send(fd, message, kPipeHeaderSize, MSG_NOSIGNAL) != static_cast<ssize_t>(kPipeHeaderSize))
    return false;
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 200) != 1) return false;
  return recv(fd, message, sizeof message, 0) > static_cast<ssize_t>(kPipeHeaderSize);
}

bool ClosedByAgent(int fd) {
  pollfd p{fd, POLLIN | POLLRDHUP, 0};
  return fd < 0 || (poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLRDHUP | POLLIN)));
}

struct HoardReport {
  long answered = 0;    // settings reads the agent answered
  long reconnects = 0;  // connections the agent closed and the hoarder opened again
};

// The hoarder, in a child process as `uid`: 300 connections, every other one idle
// and the rest asking in a loop; a connection the agent closes is opened again at
// once. Tells `ready` when it holds all 300, ends when `control` closes or after
// 30 s, and writes its report to `report`.
[[noreturn]] void Hoard(const std::string& path, uid_t uid, int control, int ready, int report) {
  if (setgroups(0, nullptr) != 0 || setresgid(uid, uid, uid) != 0 || setresuid(uid, uid, uid) != 0)
    _exit(120);
  constexpr int kConnections = 300;
  std::vector<int> fds(kConnections, -1);
  for (int& fd : fds) fd = ConnectTo(path);
  char byte = 'R';
  if (write(ready, &byte, 1) != 1) _exit(121);
  HoardReport r;
  auto end = Clock::now() + 30s;
  for (int round = 0; round < 3000 && Clock::now() < end; ++round) {
    pollfd c{control, POLLIN, 0};
    if (poll(&c, 1, 0) == 1) break;
    for (int i = 0; i < kConnections; ++i) {
      int& fd = fds[i];
      bool keep = i % 2 == 0 ? !ClosedByAgent(fd) : (fd >= 0 && AskSettings(fd));
      if (keep) {
        if (i % 2) ++r.answered;
        continue;
      }
      if (fd >= 0) close(fd);
      fd = ConnectTo(path);
      ++r.reconnects;
    }
    usleep(20000);
  }
  _exit(write(report, &r, sizeof r) == static_cast<ssize_t>(sizeof r) ? 0 : 122);
}

TEST_F(AgentHardeningNetns, HoardingUserLeavesRootAndOtherUsersServed) {
  std::ofstream(agentDir + "/lldp.ini") << "[lldp]\ntxInterval=10\n";
  StartAgent();
  ASSERT_GT(agent, 0);
  ASSERT_TRUE(PipeAnswers()) << ReadFileText(OutputPath());
  ASSERT_TRUE(Eventually([&] { return ReadFileText(OutputPath()).find("lldp sent") != std::string::npos; },
                         15s))
      << ReadFileText(OutputPath());

  // A neighbour for root's listing.
  {
    NamespaceThread peer(nsB, false);
    bool sent = false;
    ASSERT_TRUE(peer.Call([&] {
      RawPort port("thb0");
      sent = port.ok() && port.Send(LldpFrame(MacBytes("01:80:c2:00:00:0e"),
                                              MacBytes("02:95:00:00:00:02"), "hoard-peer"));
    }));
    ASSERT_TRUE(sent);
  }  // the peer's thread ends here: the test forks below with one thread only
  ASSERT_TRUE(Eventually([&] { return Nbrlist().find(kPeerPortId) != std::string::npos; }, 10s))
      << Nbrlist() << ReadFileText(OutputPath());

  int control[2], ready[2], report[2];
  ASSERT_EQ(pipe2(control, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(ready, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(report, O_CLOEXEC), 0);
  pid_t hoarder = fork();
  ASSERT_GE(hoarder, 0);
  if (hoarder == 0) {
    close(control[1]);
    Hoard(pipePath, kHoarder, control[0], ready[1], report[1]);
  }
  close(control[0]);
  close(ready[1]);
  close(report[1]);
  pollfd p{ready[0], POLLIN, 0};
  char byte = 0;
  ASSERT_EQ(poll(&p, 1, 20000), 1);
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  std::this_thread::sleep_for(1s);  // a few rounds of reconnecting and asking

  for (int i = 0; i < 3; ++i) {
    auto t0 = Clock::now();
    std::string listing = Nbrlist();
    auto took = Clock::now() - t0;
    EXPECT_NE(listing.find(kPeerPortId), std::string::npos) << "listing " << i << ": " << listing;
    EXPECT_LT(took, 2s) << "listing " << i;
    std::printf("root's nbrlist %d: %.0f ms\n", i,
                std::chrono::duration<double, std::milli>(took).count());

    int other = testing::RunInChildAs(
        kOtherUser, kOtherUser,
        [&] {
          PipeConnection pipe;
          pipe.SetTimeout(2000);
          uint8_t block[kSettingsImageSize];
          if (!pipe.Open(pipePath)) return 10;
          return PipeQuery(pipe, kPipeGetSettings, 0, nullptr, sizeof block, block) == 1 ? 0 : 11;
        },
        5s);
    EXPECT_EQ(other, 0) << "read " << i << " of another user";
    std::this_thread::sleep_for(300ms);
  }

  close(control[1]);
  HoardReport r;
  pollfd rp{report[0], POLLIN, 0};
  bool reported = poll(&rp, 1, 10000) == 1 && read(report[0], &r, sizeof r) == sizeof r;
  int status = 0;
  waitpid(hoarder, &status, 0);
  close(ready[0]);
  close(report[0]);
  ASSERT_TRUE(reported);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // The hoarder was served its share and turned away beyond it.
  EXPECT_GT(r.answered, 0);
  EXPECT_GT(r.reconnects, 0);
  std::printf("hoarder: %ld reads answered, %ld connections closed by the agent and reopened\n",
              r.answered, r.reconnects);
  EXPECT_TRUE(lab->Running(agent));
}

// ---- writes cut off by SIGKILL ----

// One code-2 settings write; true when the agent accepted it (status 0).
bool WriteSettings(PipeConnection& pipe, const AgentSettings& block) {
  uint8_t message[kPipeMessageMax];
  uint32_t header[2] = {kPipeSetSettings, sizeof block};
  std::memcpy(message, header, sizeof header);
  std::memcpy(message + sizeof header, &block, sizeof block);
  uint8_t reply[kPipeMessageMax];
  long got = pipe.Transact(message, sizeof header + sizeof block, reply, sizeof reply);
  uint32_t status = 1;
  if (got >= 4) std::memcpy(&status, reply, 4);
  return got >= 4 && status == kPipeDone;
}

// One code-17 write of the value "Probe" in the store's subkey "lldp".
bool WriteProbe(PipeConnection& pipe, const std::string& text) {
  uint8_t message[kPipeMessageMax];
  size_t n = 0;
  auto put32 = [&](uint32_t v) {
    std::memcpy(message + n, &v, 4);
    n += 4;
  };
  auto text8 = [&](const std::string& t) {
    message[n++] = static_cast<uint8_t>(t.size() + 1);
    std::memcpy(message + n, t.c_str(), t.size() + 1);
    n += t.size() + 1;
  };
  put32(kPipeWriteRegistry);
  put32(0);
  text8("lldp");
  text8("Probe");
  text8(text);
  uint8_t reply[kPipeMessageMax];
  long got = pipe.Transact(message, n, reply, sizeof reply);
  return got == 8 && reply[0] == 0 && reply[4] == 1;
}

TEST_F(AgentHardeningNetns, WritesCutOffBySigkillLeaveWholeFilesAndNoTemporaries) {
  const std::string ini = agentDir + "/lldp.ini";
  std::ofstream(ini) << "; written by hand, kept by every write\n[lldp]\ntxInterval=10\n";
  const std::string store = lab->files.Registry();

  // The two settings images the writes alternate between, and the file each gives.
  StartAgent();
  ASSERT_GT(agent, 0);
  ASSERT_TRUE(PipeAnswers()) << ReadFileText(OutputPath());
  AgentSettings a{}, b{};
  {
    PipeConnection pipe;
    ASSERT_TRUE(pipe.Open(pipePath));
    ASSERT_EQ(PipeQuery(pipe, kPipeGetSettings, 0, nullptr, sizeof a, &a), 1);
    b = a;
    a.txHoldMultiplier = 5;
    b.txHoldMultiplier = 6;
    b.txCname = 1;
    ASSERT_TRUE(WriteSettings(pipe, a));
  }
  const std::string textA = ReadFileText(ini);
  {
    PipeConnection pipe;
    ASSERT_TRUE(pipe.Open(pipePath));
    ASSERT_TRUE(WriteSettings(pipe, b));
  }
  const std::string textB = ReadFileText(ini);
  ASSERT_NE(textA, textB);
  ASSERT_NE(textA.find("; written by hand"), std::string::npos) << textA;
  ASSERT_TRUE(lab->Stop(agent, SIGINT, 10s));
  agent = -1;

  // Start, write as fast as the agent answers, kill at a point that moves from run
  // to run. Bounded in runs, requests and time.
  constexpr int kRuns = 30;
  size_t leftBehind = 0;
  int cutRuns = 0;
  auto deadline = Clock::now() + 150s;
  for (int run = 0; run < kRuns && Clock::now() < deadline; ++run) {
    StartAgent();
    ASSERT_GT(agent, 0);
    ASSERT_TRUE(PipeAnswers()) << "run " << run << ": " << ReadFileText(OutputPath());
    std::atomic<bool> cut{false};
    std::thread writer([&] {
      PipeConnection pipe;
      pipe.SetTimeout(2000);
      if (!pipe.Open(pipePath)) return;
      for (int i = 0; i < 5000; ++i) {
        bool ok = i % 3 == 2 ? WriteProbe(pipe, i % 2 ? "probe-a" : "probe-b")
                             : WriteSettings(pipe, i % 2 ? a : b);
        if (!ok) {
          cut = true;
          return;
        }
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + (run * 37) % 250));
    lab->Stop(agent, SIGKILL, 5s);
    agent = -1;
    writer.join();
    if (cut) ++cutRuns;
    leftBehind += Temporaries(agentDir).size() + Temporaries(store).size();
  }
  std::printf("%d runs killed while writing; %zu temporary files left behind by the kills\n",
              cutRuns, leftBehind);
  RecordProperty("temporaries_left_by_kills", static_cast<int>(leftBehind));
  EXPECT_GT(cutRuns, 0);

  // What a crash leaves, planted for sure, beside files of other names that stay.
  testing::WriteWholeFile(agentDir + "/.lldp.ini.Crash1", "[lldp]\ntxInt");
  testing::WriteWholeFile(store + "/.lldp.Crash1", "Pa");
  testing::WriteWholeFile(agentDir + "/.lldp.ini.keep", "not ours");
  testing::WriteWholeFile(store + "/.notes", "not ours");

  StartAgent();
  ASSERT_GT(agent, 0);
  ASSERT_TRUE(PipeAnswers()) << ReadFileText(OutputPath());
  std::optional<int> status = lab->Stop(agent, SIGINT, 10s);
  agent = -1;
  ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << ReadFileText(OutputPath());

  EXPECT_EQ(Temporaries(agentDir), std::vector<std::string>{});
  EXPECT_EQ(Temporaries(store), std::vector<std::string>{});
  EXPECT_TRUE(std::filesystem::exists(agentDir + "/.lldp.ini.keep"));
  EXPECT_TRUE(std::filesystem::exists(store + "/.notes"));
  std::string finalText = ReadFileText(ini);
  EXPECT_TRUE(finalText == textA || finalText == textB) << finalText;
  RegValues values;
  EXPECT_TRUE(DecodeRegistryFile(ReadFileText(store + "/lldp"), values)) << ReadFileText(store + "/lldp");
  ASSERT_TRUE(values.count("Probe"));
  EXPECT_TRUE(values["Probe"].data == "probe-a" || values["Probe"].data == "probe-b");
}

}  // namespace
}  // namespace torvane
