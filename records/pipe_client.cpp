#include "records/pipe_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "records/pipe_records.h"
#include "common/bytes.h"

namespace torvane {

std::string PipePath() {
  const char* env = std::getenv("TORVANE_PIPE");
  if (env && *env) return env;
  return kDefaultPipePath;
}

namespace {

constexpr long long kNoDeadline = -1;

long long NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Waits until fd is ready for `events` or the deadline passes: true when ready
// (or in error, which the next call on the socket reports), false on time-out.
bool WaitReady(int fd, short events, long long deadline) {
  for (;;) {
    int wait = -1;
    if (deadline != kNoDeadline) {
      long long left = deadline - NowMs();
      if (left <= 0) return false;
      wait = left > INT_MAX ? INT_MAX : static_cast<int>(left);
    }
    pollfd p{fd, events, 0};
    int rc = poll(&p, 1, wait);
    if (rc > 0) return true;
    if (rc == 0) return false;
    if (errno != EINTR) return true;
  }
}

}  // namespace

bool PipeConnection::Open(const std::string& path) {
  Close();
  path_ = path.empty() ? PipePath() : path;
  return Connect(timeoutMs_);
}

bool PipeConnection::Connect(int timeoutMs) {
  Close();
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path_.empty() || path_.size() >= sizeof addr.sun_path) {
    failure_ = PipeFailure::kCannotOpen;
    return false;
  }
  std::memcpy(addr.sun_path, path_.data(), path_.size());
  // With a time limit the socket never blocks: a full backlog at the agent
  // fails the connect (EAGAIN) instead of holding the caller in it.
  const int nonBlocking = timeoutMs > 0 ? SOCK_NONBLOCK : 0;
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | nonBlocking, 0);
  if (fd < 0) {
    failure_ = PipeFailure::kCannotOpen;
    return false;
  }
  int rc;
  do {
    rc = connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) {
    close(fd);
    failure_ = PipeFailure::kCannotOpen;
    return false;
  }
  fd_ = fd;
  return true;
}

void PipeConnection::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

long PipeConnection::Fail(PipeFailure why) {
  Close();
  failure_ = why;
  return -1;
}

long PipeConnection::Transact(const uint8_t* request, size_t length, uint8_t* reply,
                              size_t capacity) {
  // An empty message cannot be told from a closed connection on the other side.
  if (length == 0 || length > kPipeMessageMax) return Fail(PipeFailure::kBadRequest);
  if (fd_ < 0) return Fail(PipeFailure::kCannotOpen);
  failure_ = PipeFailure::kNone;
  const long long deadline = timeoutMs_ > 0 ? NowMs() + timeoutMs_ : kNoDeadline;
  long got = Exchange(request, length, reply, capacity, deadline);
  if (got >= 0 || failure_ != PipeFailure::kBroken) return got;

  // The agent closed the connection before answering: once more on a new one.
  int left = 0;
  if (deadline != kNoDeadline) {
    long long ms = deadline - NowMs();
    if (ms <= 0) return Fail(PipeFailure::kTimedOut);
    left = static_cast<int>(ms);
  }
  if (!Connect(left)) return -1;
  return Exchange(request, length, reply, capacity, deadline);
}

long PipeConnection::Exchange(const uint8_t* request, size_t length, uint8_t* reply,
                              size_t capacity, long long deadline) {
  const int dontWait = deadline != kNoDeadline ? MSG_DONTWAIT : 0;
  for (;;) {
    if (dontWait && !WaitReady(fd_, POLLOUT, deadline)) return Fail(PipeFailure::kTimedOut);
    ssize_t sent = send(fd_, request, length, MSG_NOSIGNAL | dontWait);
    if (sent == static_cast<ssize_t>(length)) break;
    if (sent < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    return Fail(PipeFailure::kBroken);
  }
  for (;;) {
    if (dontWait && !WaitReady(fd_, POLLIN, deadline)) return Fail(PipeFailure::kTimedOut);
    // MSG_TRUNC makes the kernel report the message's real length, so a reply
    // larger than the buffer shows as such instead of passing as a cut one.
    ssize_t got = recv(fd_, reply, capacity, MSG_TRUNC | dontWait);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return Fail(PipeFailure::kBroken);
    if (static_cast<size_t>(got) > capacity) return Fail(PipeFailure::kReplyTooLong);
    return got;
  }
}

bool ReplyAccepted(const uint8_t* reply, size_t length, size_t expected) {
  ByteReader r(reply, length);
  uint32_t status = r.u32le();
  uint32_t dataLength = r.u32le();
  if (!r.ok() || status != kPipeDone) return false;
  if (dataLength < expected) return false;
  return r.remaining() >= dataLength;
}

int PipeQuery(PipeConnection& pipe, uint32_t code, uint32_t length, const void* data,
              size_t expected, void* result) {
  uint8_t message[kPipeMessageMax];
  ByteWriter w(message, sizeof message);
  w.u32le(code);
  w.u32le(length);
  if (data) w.bytes(data, length);
  if (!w.ok()) return -1;
  if (!pipe.IsOpen() && !pipe.Open()) return -1;
  long got = pipe.Transact(message, w.size(), message, sizeof message);
  if (got < 0) return -1;
  if (!ReplyAccepted(message, static_cast<size_t>(got), expected)) return 0;
  if (result && expected) std::memcpy(result, message + kPipeHeaderSize, expected);
  return 1;
}

}  // namespace torvane
