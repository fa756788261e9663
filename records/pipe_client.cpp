#include "records/pipe_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
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

bool PipeConnection::Open(const std::string& path) {
  Close();
  std::string where = path.empty() ? PipePath() : path;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (where.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, where.data(), where.size());
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int rc;
  do {
    rc = connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) {
    close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void PipeConnection::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

namespace {

// Waits until fd is ready for `events`; false on time-out or error.
bool WaitReady(int fd, short events, int timeoutMs) {
  if (timeoutMs <= 0) return true;
  pollfd p{fd, events, 0};
  int rc;
  do {
    rc = poll(&p, 1, timeoutMs);
  } while (rc < 0 && errno == EINTR);
  return rc > 0;
}

}  // namespace

long PipeConnection::Transact(const uint8_t* request, size_t length, uint8_t* reply,
                              size_t capacity) {
  // An empty message cannot be told from a closed connection on the other side.
  if (fd_ < 0 || length == 0 || length > kPipeMessageMax) {
    Close();
    return -1;
  }
  if (!WaitReady(fd_, POLLOUT, timeoutMs_)) {
    Close();
    return -1;
  }
  ssize_t sent;
  do {
    sent = send(fd_, request, length, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent != static_cast<ssize_t>(length)) {
    Close();
    return -1;
  }
  if (!WaitReady(fd_, POLLIN, timeoutMs_)) {
    Close();
    return -1;
  }
  ssize_t got;
  // MSG_TRUNC makes the kernel report the message's real length, so a reply
  // larger than the buffer shows as such instead of passing as a cut one.
  do {
    got = recv(fd_, reply, capacity, MSG_TRUNC);
  } while (got < 0 && errno == EINTR);
  if (got <= 0 || static_cast<size_t>(got) > capacity) {
    Close();
    return -1;
  }
  return got;
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
