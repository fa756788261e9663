// The client side of the query pipe, as every client of the agent (nbrlist, the
// SNMP subagent, tests) uses it: open the agent's socket, send one request
// message and take one reply message, and the test a reply must pass before its
// data counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace torvane {

constexpr const char* kDefaultPipePath = "/run/torvane_lldp";

// The socket's path: $TORVANE_PIPE when set and not empty, else /run/torvane_lldp.
std::string PipePath();

// One connection to the agent. It keeps the socket for later requests and closes
// it when a transaction fails; the next Open starts again.
class PipeConnection {
 public:
  PipeConnection() = default;
  ~PipeConnection() { Close(); }
  PipeConnection(const PipeConnection&) = delete;
  PipeConnection& operator=(const PipeConnection&) = delete;

  // Connects to `path` (PipePath() when empty); false when nobody listens there.
  bool Open(const std::string& path = {});
  bool IsOpen() const { return fd_ >= 0; }
  void Close();
  // Waits at most this long for each send and reply; 0 (the default) waits as
  // long as the agent takes.
  void SetTimeout(int milliseconds) { timeoutMs_ = milliseconds; }

  // Sends `request` (one message, 1 to 2048 bytes) and receives the reply into
  // `reply`. Returns the reply's length, or -1 when the exchange failed (the
  // connection is then closed): not open, send or receive failed, the agent
  // closed the connection, or the reply did not fit `capacity`.
  long Transact(const uint8_t* request, size_t length, uint8_t* reply, size_t capacity);

 private:
  int fd_ = -1;
  int timeoutMs_ = 0;
};

// The acceptance test of a reply: at least 8 bytes, status 0, a length field at
// least `expected`, and at least 8 + length field bytes received.
bool ReplyAccepted(const uint8_t* reply, size_t length, size_t expected);

// One request/reply round: header (code, length field), followed by `length`
// bytes of `data` when data is given (without data only the header goes out, the
// length field still carrying `length`). Opens the connection when it is not open.
// Returns -1 when the pipe cannot be opened or the transaction fails, 0 when the
// reply is not acceptable, 1 when it is; then the first `expected` bytes of the
// reply data are copied to `result` (when given).
int PipeQuery(PipeConnection& pipe, uint32_t code, uint32_t length, const void* data,
              size_t expected, void* result);

}  // namespace torvane
