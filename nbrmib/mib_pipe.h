// The subagent's client of the agent's query pipe: one connection for the
// process, opened on first use and kept open between requests, and the three
// calls the object handlers use. The transport below them is an interface, so
// that the handlers run over a fake agent in tests.
//
// Nothing from the agent is trusted: a reply never writes past the buffer it is
// read into, and a reply longer than a pipe message is a failed transaction. Each
// transaction waits at most half a second; after a time-out the rest of that
// SNMP request fails at once, so that a hung agent costs a manager one wait, not
// one per column.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "records/pipe_client.h"

namespace torvane {

// One request message out, one reply message in: the reply's length, or -1 when
// the exchange failed (why: `timedOut`).
class MibTransport {
 public:
  virtual ~MibTransport() = default;
  virtual long Transact(const uint8_t* request, size_t length, uint8_t* reply, size_t capacity,
                        bool& timedOut) = 0;
};

// The real transport: the agent's socket, with the per-transaction limit.
class SocketTransport : public MibTransport {
 public:
  static constexpr int kTransactionMs = 500;
  explicit SocketTransport(std::string path = {}) : path_(std::move(path)) {
    pipe_.SetTimeout(kTransactionMs);
    // One connection serves every SNMP request: the first request after the
    // agent closed it (idle, restarted) opens a new one.
    pipe_.SetReconnect(true);
  }
  long Transact(const uint8_t* request, size_t length, uint8_t* reply, size_t capacity,
                bool& timedOut) override;

 private:
  std::string path_;
  PipeConnection pipe_;
};

class MibPipe {
 public:
  explicit MibPipe(MibTransport& transport) : transport_(transport) {}

  // A new SNMP request begins: the pipe may be tried again after a time-out.
  void BeginRequest() { requestFailed_ = false; }

  // Sends the `requestBytes` of `buffer` and receives the reply into it (at most
  // `replyCapacity` bytes). -1 when the exchange failed, 0 when fewer than 4
  // bytes came back or the status is not 0, else the number of bytes received.
  long PipeTransact(uint8_t* buffer, size_t requestBytes, size_t replyCapacity);
  // Request {code, dataBytes, data}; the reply counts when it has at least 8
  // bytes, status 0, a data length of at least `expectedBytes` and all of its
  // data. Then its data, cut to `outCapacity`, goes to `out`. 1, 0 or -1.
  int PipeQuery(uint32_t code, uint32_t dataBytes, const void* data, size_t expectedBytes,
                void* out, size_t outCapacity);
  // Request {code, dataBytes, data}: the PipeTransact result (success above 0).
  long PipeCommand(uint32_t code, uint32_t dataBytes, const void* data);

  uint64_t transactions() const { return transactions_; }

 private:
  MibTransport& transport_;
  bool requestFailed_ = false;
  uint64_t transactions_ = 0;
};

}  // namespace torvane
