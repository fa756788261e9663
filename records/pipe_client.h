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

// Why the last exchange of a connection failed.
enum class PipeFailure {
  kNone,
  kCannotOpen,   // nobody listens at the path, or the agent's backlog is full
  kBadRequest,   // empty or longer than a pipe message: never sent
  kTimedOut,     // the agent did not take or answer the request in time
  kBroken,       // the agent closed the connection (it stopped, restarted or dropped us)
  kReplyTooLong, // a reply longer than the buffer: cut replies are never taken
};

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
  // The longest a whole transaction may take (sending, waiting for the reply and
  // a reconnect); 0 (the default) waits as long as the agent takes. With a limit
  // a full backlog at the agent fails the open at once instead of waiting in it.
  void SetTimeout(int milliseconds);

  // Sends `request` (one message, 1 to 2048 bytes) and receives the reply into
  // `reply`. Returns the reply's length, or -1 when the exchange failed (the
  // connection is then closed and LastFailure() says why): not open, send or
  // receive failed, the agent closed the connection, or the reply did not fit
  // `capacity`.
  //
  //
  // With SetReconnect(true): a connection kept open between requests may have been
  // closed by the agent meanwhile (its idle limit, a restart). When the agent
  // turns out to have closed it, the request is sent once more on a new
  // connection to the same path; a time-out is never retried, so that a late
  // reply cannot answer the wrong request.
  long Transact(const uint8_t* request, size_t length, uint8_t* reply, size_t capacity);
  // For clients that keep one connection across requests of their own (the SNMP
  // subagent); a client that ends with its listing, as nbrlist, needs none.
  void SetReconnect(bool on) { reconnect_ = on; }

  PipeFailure LastFailure() const { return failure_; }

 private:
  bool Connect(int timeoutMs);
  long Exchange(const uint8_t* request, size_t length, uint8_t* reply, size_t capacity,
                long long deadlineMs);
  long Fail(PipeFailure why);

  int fd_ = -1;
  int timeoutMs_ = 0;
  long long receiveWaitMs_ = 0;  // the socket's receive time-out as last set
  bool reconnect_ = false;
  std::string path_;
  PipeFailure failure_ = PipeFailure::kNone;
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
