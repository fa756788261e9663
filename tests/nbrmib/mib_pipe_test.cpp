// ctest-labels: unit;threaded
// The subagent's pipe calls over a real socket, against a small server that
// misbehaves in the ways an agent (or something posing as one) can: a reply
// longer than a message, a length field near 2^32, a connection closed between
// requests (an idle limit, a restart), no reply at all, no agent.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/bytes.h"
#include "nbrmib/mib_pipe.h"
#include "records/pipe_records.h"

namespace torvane {
namespace {

using Clock = std::chrono::steady_clock;

// Serves connections one at a time on a SOCK_SEQPACKET socket: for each request
// `answer` gives the reply bytes (none: no reply) and whether to close the
// connection after it. Bounded: it stops with the test.
class MisbehavingAgent {
 public:
  using Answer = std::function<std::vector<uint8_t>(const std::vector<uint8_t>& request, bool& close)>;

  explicit MisbehavingAgent(Answer answer) : answer_(std::move(answer)) {
    char dir[] = "/tmp/nbrmib_pipeXXXXXX";
    dir_ = mkdtemp(dir) ? dir : "";
    path_ = dir_ + "/pipe";
    listen_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path_.c_str(), sizeof addr.sun_path - 1);
    if (bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listen_, 8) != 0) {
      close(listen_);
      listen_ = -1;
    }
    thread_ = std::thread([this] { Serve(); });
  }
  ~MisbehavingAgent() {
    stop_ = true;
    shutdown(listen_, SHUT_RDWR);
    thread_.join();
    close(listen_);
    unlink(path_.c_str());
    rmdir(dir_.c_str());
  }
  const std::string& path() const { return path_; }
  int connections() const { return connections_; }

 private:
  void Serve() {
    while (!stop_ && listen_ >= 0) {
      int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      ++connections_;
      timeval tv{0, 100000};
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
      for (int idle = 0; !stop_ && idle < 50;) {
        uint8_t buffer[kPipeMessageMax];
        ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
          ++idle;
          continue;
        }
        if (got <= 0) break;
        bool closeAfter = false;
        std::vector<uint8_t> reply = answer_({buffer, buffer + got}, closeAfter);
        if (!reply.empty()) send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
        if (closeAfter) break;
      }
      close(fd);
    }
  }

  Answer answer_;
  std::string dir_, path_;
  int listen_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

std::vector<uint8_t> Reply(uint32_t status, uint32_t length, size_t dataBytes, uint8_t fill = 0x5A) {
  std::vector<uint8_t> out(8 + dataBytes, fill);
  ByteWriter w(out.data(), 8);
  w.u32le(status);
  w.u32le(length);
  return out;
}

TEST(MibPipeTest, RepliesTheAgentCannotSendAreRefused) {
  struct Case {
    const char* what;
    std::vector<uint8_t> reply;
    int expected;
  };
  const Case cases[] = {
      {"longer than a message", Reply(0, kPipeMessageMax, kPipeMessageMax), -1},
      {"length near 2^32", Reply(0, 0xFFFFFFF8u, 32), 0},
      {"shorter than its length", Reply(0, 64, 32), 0},
      {"status only", {0, 0, 0, 0}, 0},
      {"refused", Reply(7, 32, 32), 0},
      {"whole", Reply(0, 32, 32), 1},
  };
  for (const Case& c : cases) {
    MisbehavingAgent fake([&](const std::vector<uint8_t>&, bool&) { return c.reply; });
    SocketTransport transport(fake.path());
    MibPipe pipe(transport);
    uint8_t out[32];
    std::memset(out, 0, sizeof out);
    EXPECT_EQ(pipe.PipeQuery(kPipeGetAddress, 4, "\x0a\x00\x00\x01", 32, out, sizeof out), c.expected) << c.what;
    if (c.expected == 1) {
      EXPECT_EQ(out[31], 0x5A);
    }
  }
}

TEST(MibPipeTest, CopiesNoMoreThanTheBufferHolds) {
  // 704 bytes where 32 were asked for: the caller's 32-byte buffer and the
  // guard bytes behind it.
  MisbehavingAgent fake([](const std::vector<uint8_t>&, bool&) { return Reply(0, 704, 704); });
  SocketTransport transport(fake.path());
  MibPipe pipe(transport);
  uint8_t out[48];
  std::memset(out, 0, sizeof out);
  EXPECT_EQ(pipe.PipeQuery(kPipeGetAddress, 4, "\x0a\x00\x00\x01", 32, out, 32), 1);
  EXPECT_EQ(out[31], 0x5A);
  EXPECT_EQ(out[32], 0);
}

TEST(MibPipeTest, ConnectionClosedBetweenRequestsIsOpenedAgainOnce) {
  // The agent closes each connection after answering, as an idle limit or a
  // restart does between two SNMP requests.
  MisbehavingAgent fake([](const std::vector<uint8_t>&, bool& close) {
    close = true;
    return Reply(0, 4, 4);
  });
  SocketTransport transport(fake.path());
  MibPipe pipe(transport);
  for (int i = 0; i < 3; ++i) {
    pipe.BeginRequest();
    uint8_t out[4];
    ASSERT_EQ(pipe.PipeQuery(kPipeGetSettings, 0, nullptr, 4, out, sizeof out), 1) << "request " << i;
  }
  EXPECT_EQ(fake.connections(), 3);
}

TEST(MibPipeTest, SilentAgentTimesOutAndTheRestOfTheRequestFailsAtOnce) {
  MisbehavingAgent fake([](const std::vector<uint8_t>&, bool&) { return std::vector<uint8_t>{}; });
  SocketTransport transport(fake.path());
  MibPipe pipe(transport);
  uint8_t out[4];
  auto t0 = Clock::now();
  EXPECT_EQ(pipe.PipeQuery(kPipeGetSettings, 0, nullptr, 4, out, sizeof out), -1);
  auto waited = Clock::now() - t0;
  EXPECT_GE(waited, std::chrono::milliseconds(450));
  EXPECT_LT(waited, std::chrono::milliseconds(900));
  t0 = Clock::now();
  EXPECT_EQ(pipe.PipeQuery(kPipeGetSettings, 0, nullptr, 4, out, sizeof out), -1);
  EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(50));
  EXPECT_EQ(pipe.transactions(), 1u);
}

TEST(MibPipeTest, NoAgentFailsAtOnce) {
  SocketTransport transport("/tmp/nbrmib-no-such-agent/pipe");
  MibPipe pipe(transport);
  uint8_t out[4];
  auto t0 = Clock::now();
  EXPECT_EQ(pipe.PipeQuery(kPipeGetSettings, 0, nullptr, 4, out, sizeof out), -1);
  EXPECT_EQ(pipe.PipeCommand(kPipeSetSettings, 0, nullptr), -1);
  EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(100));
}

}  // namespace
}  // namespace torvane
