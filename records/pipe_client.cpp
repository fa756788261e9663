#include "records/pipe_client.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
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

// Sets the socket's send or receive time-out (SO_SNDTIMEO, SO_RCVTIMEO).
bool SetWait(int fd, int option, long long milliseconds) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(milliseconds / 1000);
  tv.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
  return setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv) == 0;
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
  // With a time limit the connect never blocks: a full backlog at the agent
  // fails it (EAGAIN) instead of holding the caller in it.
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
  // Sends and receives then block, each for at most the socket's time-outs: two
  // system calls a transaction, where waiting in poll first would take four.
  if (rc < 0 || (nonBlocking && (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 ||
                                 !SetWait(fd, SO_SNDTIMEO, timeoutMs) || !SetWait(fd, SO_RCVTIMEO, timeoutMs)))) {
    close(fd);
    failure_ = PipeFailure::kCannotOpen;
    return false;
  }
  fd_ = fd;
  receiveWaitMs_ = timeoutMs;
  return true;
}

void PipeConnection::SetTimeout(int milliseconds) {
  timeoutMs_ = milliseconds > 0 ? milliseconds : 0;
  if (fd_ < 0) return;
  // An open socket takes the new limit at once (0: no limit).
  SetWait(fd_, SO_SNDTIMEO, timeoutMs_);
  SetWait(fd_, SO_RCVTIMEO, timeoutMs_);
  receiveWaitMs_ = timeoutMs_;
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
  if (got >= 0 || failure_ != PipeFailure::kBroken || !reconnect_) return got;

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

long PipeConnection::Exchange(const uint8_t* request, size_t length, uint8_t* reply, size_t capacity,
                              long long deadline) {
  // Without a limit the socket blocks as long as the agent takes; with one, its
  // time-outs bound each call and the receive gets what the send left of the
  // transaction's time.
  for (;;) {
    ssize_t sent = send(fd_, request, length, MSG_NOSIGNAL);
    if (sent == static_cast<ssize_t>(length)) break;
    if (sent < 0 && errno == EINTR && (deadline == kNoDeadline || NowMs() < deadline)) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
      return Fail(PipeFailure::kTimedOut);
    return Fail(PipeFailure::kBroken);
  }
  for (;;) {
    if (deadline != kNoDeadline) {
      long long left = deadline - NowMs();
      if (left <= 0) return Fail(PipeFailure::kTimedOut);
      // The receive time-out is changed only when the send took a noticeable
      // part of the time, and set back for the next transaction.
      long long want = left < timeoutMs_ - 2 ? left : timeoutMs_;
      if (want != receiveWaitMs_) {
        if (!SetWait(fd_, SO_RCVTIMEO, want)) return Fail(PipeFailure::kBroken);
        receiveWaitMs_ = want;
      }
    }
    // MSG_TRUNC makes the kernel report the message's real length, so a reply
    // larger than the buffer shows as such instead of passing as a cut one.
    ssize_t got = recv(fd_, reply, capacity, MSG_TRUNC);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Fail(PipeFailure::kTimedOut);
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
