// ctest-labels: unit;threaded
// The pipe transport with a stub request handler: socket life (stale files, a
// live agent's socket, removal), message limits, the client limit, many clients
// at once, stopping, and the write right taken under the client's identity.
#include "agent/store/pipe_server.h"

#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "records/pipe_client.h"
#include "records/pipe_records.h"
#include "common/bytes.h"
#include "tests/support/pipe_test_support.h"

namespace torvane {
namespace {

using testing::RunInChildAs;
using testing::RunningAsRoot;
using testing::ScratchDir;

constexpr uint32_t kAskWriteRight = 50;
constexpr uid_t kNobody = 65534;

// Echoes the request data back with status 0; code 50 answers one byte, the
// connection's write right. Counts overlapping calls (there must be none).
class EchoHandler : public PipeRequestHandler {
 public:
  size_t Handle(uint8_t* message, size_t length, bool mayWrite) override {
    if (inFlight.fetch_add(1) != 0) overlaps++;
    calls++;
    ByteReader r(message, length);
    uint32_t code = r.u32le();
    size_t reply;
    ByteWriter w(message, kPipeMessageMax);
    if (code == kAskWriteRight) {
      w.u32le(kPipeDone);
      w.u32le(1);
      w.u8(mayWrite ? 1 : 0);
      reply = 9;
    } else if (length < kPipeHeaderSize) {
      w.u32le(kPipeUnknownCode);
      reply = 4;
    } else {
      w.u32le(kPipeDone);
      w.u32le(static_cast<uint32_t>(length - kPipeHeaderSize));
      reply = length;
    }
    inFlight.fetch_sub(1);
    return reply;
  }
  std::atomic<int> inFlight{0};
  std::atomic<int> overlaps{0};
  std::atomic<long> calls{0};
};

class FixedRight : public WriteRightCheck {
 public:
  WriteRight Decide(const PeerIdentity& peer) override {
    lastUid = peer.uid;
    decisions++;
    return answer;
  }
  WriteRight answer = WriteRight::kGranted;
  std::atomic<uid_t> lastUid{0};
  std::atomic<int> decisions{0};
};

// Sends `payload` as the data of an echo request; true when it came back whole.
bool Echo(PipeConnection& pipe, const std::string& payload) {
  uint8_t request[kPipeMessageMax];
  uint8_t reply[kPipeMessageMax];
  ByteWriter w(request, sizeof request);
  w.u32le(77);
  w.u32le(static_cast<uint32_t>(payload.size()));
  w.bytes(payload.data(), payload.size());
  long got = pipe.Transact(request, w.size(), reply, sizeof reply);
  if (got != static_cast<long>(w.size())) return false;
  if (!ReplyAccepted(reply, static_cast<size_t>(got), payload.size())) return false;
  return std::memcmp(reply + 8, payload.data(), payload.size()) == 0;
}

int AskWriteRight(PipeConnection& pipe) {
  uint8_t result = 0xFF;
  int rc = PipeQuery(pipe, kAskWriteRight, 0, nullptr, 1, &result);
  return rc == 1 ? result : -1;
}

class PipeServerTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  std::string path = dir / "pipe";
  EchoHandler handler;
  FixedRight right;
  // For tests of the whole pipe from one user, whoever runs them.
  PipeServerOptions oneUserMayTakeAll = [] {
    PipeServerOptions o;
    o.rootReserve = 0;
    o.perUserMax = o.maxClients;
    return o;
  }();
};

TEST_F(PipeServerTest, AnswersRequestsOnAWorldConnectableSocket) {
  PipeServer server(path, handler, right);
  // The socket is 0666 whatever the process's umask, and the umask stays as it was.
  mode_t oldMask = umask(027);
  server.Start();
  EXPECT_EQ(umask(oldMask), 027u);
  ASSERT_TRUE(server.Listening());
  struct stat st{};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0666u);

  PipeConnection pipe;
  ASSERT_TRUE(pipe.Open(path));
  EXPECT_TRUE(Echo(pipe, "hello"));
  EXPECT_TRUE(Echo(pipe, std::string(2040, 'x')));  // the largest message
  EXPECT_EQ(AskWriteRight(pipe), 1);
  EXPECT_EQ(right.decisions.load(), 1);  // decided once per connection
  EXPECT_EQ(right.lastUid.load(), getuid());
  server.Stop();
  EXPECT_NE(access(path.c_str(), F_OK), 0);  // removed at the end
}

TEST_F(PipeServerTest, ClientsWithoutTheRightAreServedReadOnly) {
  right.answer = WriteRight::kDenied;
  PipeServer server(path, handler, right);
  server.Start();
  PipeConnection pipe;
  ASSERT_TRUE(pipe.Open(path));
  EXPECT_EQ(AskWriteRight(pipe), 0);
}

TEST_F(PipeServerTest, ClientWhoseIdentityCannotBeTakenIsNotAnswered) {
  right.answer = WriteRight::kFailed;
  PipeServer server(path, handler, right);
  server.Start();
  PipeConnection pipe;
  ASSERT_TRUE(pipe.Open(path));
  EXPECT_EQ(AskWriteRight(pipe), -1);
  EXPECT_FALSE(pipe.IsOpen());
  EXPECT_EQ(handler.calls.load(), 0);
}

TEST_F(PipeServerTest, StaleSocketFileIsReplaced) {
  // A socket file nobody listens on: what a crashed agent leaves behind.
  int old = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, path.c_str());
  ASSERT_EQ(bind(old, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  close(old);
  ASSERT_EQ(access(path.c_str(), F_OK), 0);

  PipeServer server(path, handler, right);
  server.Start();
  ASSERT_TRUE(server.Listening());
  PipeConnection pipe;
  ASSERT_TRUE(pipe.Open(path));
  EXPECT_TRUE(Echo(pipe, "after stale"));
}

TEST_F(PipeServerTest, RunningAgentKeepsItsSocket) {
  PipeServer first(path, handler, right);
  first.Start();
  ASSERT_TRUE(first.Listening());
  struct stat before{};
  ASSERT_EQ(stat(path.c_str(), &before), 0);

  EchoHandler otherHandler;
  PipeServer second(path, otherHandler, right);
  second.Start();
  EXPECT_FALSE(second.Listening());
  second.Stop();

  struct stat after{};
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
  PipeConnection pipe;
  ASSERT_TRUE(pipe.Open(path));
  EXPECT_TRUE(Echo(pipe, "still the first"));
  EXPECT_EQ(otherHandler.calls.load(), 0);
}

// Where the socket's folder is writable by others, someone may swap the new
// socket for a symlink the moment it appears: the agent must not give the link's
// target its mode.
TEST_F(PipeServerTest, SocketModeIsNotSetThroughASwappedPath) {
  std::string victim = dir / "victim";
  ASSERT_TRUE(testing::WriteWholeFile(victim, "secret", 0600));
  ASSERT_EQ(chmod(victim.c_str(), 0600), 0);
  std::string link = dir / "link";
  std::atomic<bool> done{false};
  std::atomic<long> swaps{0};
  std::thread swapper([&] {
    while (!done) {
      unlink(link.c_str());
      if (symlink(victim.c_str(), link.c_str()) == 0 && rename(link.c_str(), path.c_str()) == 0)
        swaps++;
    }
  });
  int created = 0;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  for (int i = 0; i < 5000 && std::chrono::steady_clock::now() < end; ++i) {
    ino_t inode = 0;
    int fd = CreateQueryPipe(path, &inode);
    if (fd >= 0) {
      created++;
      close(fd);
    }
    struct stat st{};
    ASSERT_EQ(stat(victim.c_str(), &st), 0);
    ASSERT_EQ(st.st_mode & 0777, 0600u) << "after " << i << " starts";
  }
  done = true;
  swapper.join();
  EXPECT_GT(swaps.load(), 0);
  EXPECT_GT(created, 0);
}

TEST_F(PipeServerTest, OversizedAndMalformedMessagesEndOnlyTheirClient) {
  PipeServer server(path, handler, right);
  server.Start();
  PipeConnection good, bad, shortOne;
  ASSERT_TRUE(good.Open(path));
  ASSERT_TRUE(bad.Open(path));
  ASSERT_TRUE(shortOne.Open(path));
  ASSERT_TRUE(Echo(good, "before"));

  // Three bytes: less than a header, answered by the handler as it sees fit.
  uint8_t tiny[3] = {1, 0, 0};
  uint8_t reply[kPipeMessageMax];
  EXPECT_EQ(shortOne.Transact(tiny, sizeof tiny, reply, sizeof reply), 4);

  std::vector<uint8_t> big(kPipeMessageMax + 1, 0xAB);
  EXPECT_EQ(bad.Transact(big.data(), big.size(), reply, sizeof reply), -1);  // client refuses to send it
  // Sent raw, past the client library: the server drops the connection.
  int raw = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, path.c_str());
  ASSERT_EQ(connect(raw, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(send(raw, big.data(), big.size(), 0), static_cast<ssize_t>(big.size()));
  char c;
  EXPECT_EQ(recv(raw, &c, 1, 0), 0);  // closed without a reply
  close(raw);

  for (int i = 0; i < 100; ++i) ASSERT_TRUE(Echo(good, "after " + std::to_string(i)));
  EXPECT_EQ(handler.overlaps.load(), 0);
}

TEST_F(PipeServerTest, TurnsAwayClientsBeyondTheLimit) {
  PipeServer server(path, handler, right, oneUserMayTakeAll);
  server.Start();
  std::vector<std::unique_ptr<PipeConnection>> clients;
  for (int i = 0; i < 255; ++i) {
    auto c = std::make_unique<PipeConnection>();
    ASSERT_TRUE(c->Open(path));
    ASSERT_TRUE(Echo(*c, "x"));  // its thread is up
    clients.push_back(std::move(c));
  }
  EXPECT_EQ(server.ActiveClients(), 255u);
  PipeConnection extra;
  extra.SetTimeout(5000);
  ASSERT_TRUE(extra.Open(path));  // the kernel accepts; the server closes it at once
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(Echo(extra, "one too many"));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));

  // A place frees up when a client leaves.
  clients.pop_back();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (server.ActiveClients() >= 255 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  PipeConnection again;
  ASSERT_TRUE(again.Open(path));
  EXPECT_TRUE(Echo(again, "room again"));
  EXPECT_TRUE(Echo(*clients.front(), "the first still works"));
}

TEST(PipeSlots, ShareOfEachUserAndRootsReserve) {
  PipeServerOptions o;  // 255 slots, the last 32 for root, 16 for each other user
  struct Case {
    uid_t uid;
    size_t active, ofUser;
    bool free;
  } cases[] = {
      {1000, 0, 0, true},      {1000, 100, 15, true},  {1000, 100, 16, false},
      {1000, 222, 0, true},    {1000, 223, 0, false},  {1000, 254, 0, false},
      {0, 223, 200, true},     {0, 254, 254, true},    {0, 255, 0, false},
      {65534, 300, 0, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(PipeSlotFree(c.uid, c.active, c.ofUser, o), c.free)
        << "uid " << c.uid << ", " << c.active << " active, " << c.ofUser << " of the user";
  o.rootReserve = 300;  // a reserve larger than the pipe leaves nothing to the others
  EXPECT_FALSE(PipeSlotFree(1000, 0, 0, o));
  EXPECT_TRUE(PipeSlotFree(0, 0, 0, o));
}

TEST_F(PipeServerTest, IdleConnectionIsClosedABusyOneIsNot) {
  PipeServerOptions options;
  options.idleTimeout = std::chrono::milliseconds(300);
  PipeServer server(path, handler, right, options);
  server.Start();
  PipeConnection idle, busy;
  ASSERT_TRUE(idle.Open(path));
  ASSERT_TRUE(busy.Open(path));
  ASSERT_TRUE(Echo(idle, "then quiet"));
  ASSERT_TRUE(Echo(busy, "first"));
  // The busy client asks every 50 ms for three idle times; the slot of the quiet
  // one is freed meanwhile.
  for (int i = 0; i < 18; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(Echo(busy, "again " + std::to_string(i)));
  }
  EXPECT_EQ(server.ActiveClients(), 1u);
  EXPECT_FALSE(Echo(idle, "too late"));
  EXPECT_FALSE(idle.IsOpen());
  ASSERT_TRUE(idle.Open(path));  // a new connection is served as any other
  EXPECT_TRUE(Echo(idle, "back"));
}

TEST_F(PipeServerTest, TwoHundredClientsThousandRequestsEachAllAnswered) {
  PipeServer server(path, handler, right, oneUserMayTakeAll);
  server.Start();
  constexpr int kClients = 200;
  constexpr int kRequests = 1000;
  std::atomic<long> answered{0};
  std::atomic<long> wrong{0};
  std::atomic<bool> giveUp{false};
  auto t0 = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (int c = 0; c < kClients; ++c) {
    threads.emplace_back([&, c] {
      PipeConnection pipe;
      pipe.SetTimeout(30000);
      if (!pipe.Open(path)) {
        wrong++;
        return;
      }
      for (int i = 0; i < kRequests && !giveUp; ++i) {
        if (Echo(pipe, std::to_string(c) + "/" + std::to_string(i)))
          answered++;
        else
          wrong++;
      }
    });
  }
  // Bounded: a watchdog stops the clients if the whole run takes too long.
  std::thread watchdog([&] {
    while (answered + wrong < kClients * kRequests) {
      if (std::chrono::steady_clock::now() - t0 > std::chrono::seconds(240)) {
        giveUp = true;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  for (auto& t : threads) t.join();
  watchdog.join();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
  EXPECT_EQ(answered.load(), long{kClients} * kRequests);
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(handler.overlaps.load(), 0);
  RecordProperty("milliseconds", static_cast<int>(ms.count()));
}

TEST_F(PipeServerTest, StopEndsIdleClientsAndTheListener) {
  PipeServer server(path, handler, right, oneUserMayTakeAll);
  server.Start();
  std::vector<std::unique_ptr<PipeConnection>> clients;
  for (int i = 0; i < 20; ++i) {
    auto c = std::make_unique<PipeConnection>();
    ASSERT_TRUE(c->Open(path));
    ASSERT_TRUE(Echo(*c, "idle"));
    clients.push_back(std::move(c));
  }
  auto t0 = std::chrono::steady_clock::now();
  server.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
  EXPECT_EQ(server.ActiveClients(), 0u);
  EXPECT_FALSE(server.Listening());
  EXPECT_FALSE(Echo(*clients[0], "after stop"));
  PipeConnection late;
  EXPECT_FALSE(late.Open(path));
}

TEST_F(PipeServerTest, ListenerSurvivesRunningOutOfDescriptors) {
  PipeServerOptions options;
  options.acceptRetry = std::chrono::milliseconds(20);
  PipeServer server(path, handler, right, options);
  server.Start();
  // One request answered before the descriptors run out: the first call of the
  // write-right check is where UBSan checks its dynamic type, and that check
  // needs descriptors of its own (without them it reports an invalid vptr).
  PipeConnection first;
  ASSERT_TRUE(first.Open(path));
  ASSERT_TRUE(Echo(first, "before EMFILE"));
  PipeConnection pipe;
  pipe.SetTimeout(10000);
  ASSERT_TRUE(pipe.Open(path));  // waits in the backlog until accepted

  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  std::vector<int> fillers;
  std::atomic<bool> filled{false};
  // Started before the descriptors run out: the sanitizers' runtime needs a
  // descriptor of its own when a thread starts.
  std::thread release([&] {
    while (!filled) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (int fd : fillers) close(fd);
    setrlimit(RLIMIT_NOFILE, &old);
  });
  rlimit low = old;
  low.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  for (int i = 0; i < 64; ++i) {
    int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd < 0) break;
    fillers.push_back(fd);
  }
  // The listener now fails to accept with EMFILE and must keep trying.
  filled = true;
  bool answered = Echo(pipe, "after EMFILE");
  release.join();
  EXPECT_TRUE(answered);
  EXPECT_TRUE(server.Listening());
}

// --- the client's identity (needs root: the agent runs as root) ---

uid_t ThreadFsuid() { return static_cast<uid_t>(setfsuid(static_cast<uid_t>(-1))); }

class RunAsPeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!RunningAsRoot()) GTEST_SKIP() << "needs root";
  }
  // True when a file can be created in `folder` by this thread.
  static bool CanCreateIn(const std::string& folder) {
    std::string file = folder + "/probe";
    int fd = open(file.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    close(fd);
    unlink(file.c_str());
    return true;
  }
  ScratchDir dir;
};

TEST_F(RunAsPeerTest, WritesAsTheClientAndSwitchesBack) {
  std::string rootOnly = dir / "root-only";
  ASSERT_EQ(mkdir(rootOnly.c_str(), 0755), 0);
  PeerIdentity nobody{0, kNobody, kNobody, {}};
  // A thread that runs beside the switch keeps the agent's identity.
  std::atomic<int> phase{0};
  std::atomic<uid_t> otherThreadFsuid{12345};
  std::thread other([&] {
    while (phase.load() != 1) std::this_thread::yield();
    otherThreadFsuid = ThreadFsuid();
    phase = 2;
  });
  uid_t insideFsuid = 0;
  auto attempt = [&] {
    insideFsuid = ThreadFsuid();
    if (phase.load() == 0) {
      phase = 1;
      while (phase.load() != 2) std::this_thread::yield();
    }
    return CanCreateIn(rootOnly);
  };
  EXPECT_EQ(RunAsPeer(nobody, attempt), WriteRight::kDenied);
  other.join();
  EXPECT_EQ(insideFsuid, kNobody);
  EXPECT_EQ(otherThreadFsuid.load(), 0u);
  EXPECT_EQ(ThreadFsuid(), 0u);
  EXPECT_TRUE(CanCreateIn(rootOnly));  // back to root

  PeerIdentity root{0, 0, 0, {}};
  EXPECT_EQ(RunAsPeer(root, attempt), WriteRight::kGranted);
}

TEST_F(RunAsPeerTest, TakesOnTheClientsGroupsAndGivesThemBack) {
  constexpr gid_t kStaff = 4242;
  std::string groupWritable = dir / "group-writable";
  ASSERT_EQ(mkdir(groupWritable.c_str(), 0775), 0);
  ASSERT_EQ(chown(groupWritable.c_str(), 0, kStaff), 0);
  ASSERT_EQ(chmod(groupWritable.c_str(), 0775), 0);  // past the umask
  std::vector<gid_t> before(syscall(SYS_getgroups, 0, nullptr));
  syscall(SYS_getgroups, before.size(), before.data());

  auto attempt = [&] { return CanCreateIn(groupWritable); };
  PeerIdentity member{0, kNobody, kNobody, {kNobody, kStaff}};
  PeerIdentity outsider{0, kNobody, kNobody, {kNobody}};
  EXPECT_EQ(RunAsPeer(member, attempt), WriteRight::kGranted);
  EXPECT_EQ(RunAsPeer(outsider, attempt), WriteRight::kDenied);

  std::vector<gid_t> after(syscall(SYS_getgroups, 0, nullptr));
  syscall(SYS_getgroups, after.size(), after.data());
  EXPECT_EQ(before, after);
}

TEST_F(RunAsPeerTest, UnprivilegedClientIsReadOnlyAndRootMayWrite) {
  std::string rootOnly = dir / "store";
  ASSERT_EQ(mkdir(rootOnly.c_str(), 0755), 0);
  std::string path = dir / "pipe";
  EchoHandler handler;
  ImpersonatedWriteRight right([&] { return CanCreateIn(rootOnly); });
  PipeServer server(path, handler, right);
  server.Start();
  ASSERT_TRUE(server.Listening());

  int child = RunInChildAs(kNobody, kNobody, [&] {
    PipeConnection pipe;
    if (!pipe.Open(path)) return 10;
    if (!Echo(pipe, "a read")) return 11;
    return AskWriteRight(pipe) == 0 ? 0 : 12;
  });
  EXPECT_EQ(child, 0);
  PipeConnection pipe;
  ASSERT_TRUE(pipe.Open(path));
  EXPECT_EQ(AskWriteRight(pipe), 1);
}

}  // namespace
}  // namespace torvane
