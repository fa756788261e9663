#include "nbrmib/mib_pipe.h"

#include <cstring>

#include "common/bytes.h"
#include "records/pipe_records.h"

namespace torvane {

long SocketTransport::Transact(const uint8_t* request, size_t length, uint8_t* reply,
                               size_t capacity, bool& timedOut) {
  timedOut = false;
  if (!pipe_.IsOpen() && !pipe_.Open(path_)) return -1;
  long got = pipe_.Transact(request, length, reply, capacity);
  if (got < 0) timedOut = pipe_.LastFailure() == PipeFailure::kTimedOut;
  return got;
}

long MibPipe::PipeTransact(uint8_t* buffer, size_t requestBytes, size_t replyCapacity) {
  if (requestFailed_) return -1;
  ++transactions_;
  bool timedOut = false;
  long got = transport_.Transact(buffer, requestBytes, buffer, replyCapacity, timedOut);
  if (got < 0) {
    if (timedOut) requestFailed_ = true;
    return -1;
  }
  if (static_cast<size_t>(got) > replyCapacity) return -1;
  if (got < 4) return 0;
  ByteReader r(buffer, static_cast<size_t>(got));
  return r.u32le() == kPipeDone ? got : 0;
}

namespace {

// The request {code, dataBytes, data} in `message`: its length, or 0 when it does
// not fit a pipe message.
size_t BuildRequest(uint8_t (&message)[kPipeMessageMax], uint32_t code, uint32_t dataBytes, const void* data) {
  ByteWriter w(message, sizeof message);
  w.u32le(code);
  w.u32le(dataBytes);
  if (data) w.bytes(data, dataBytes);
  return w.ok() ? w.size() : 0;
}

}  // namespace

int MibPipe::PipeQuery(uint32_t code, uint32_t dataBytes, const void* data, size_t expectedBytes,
                       void* out, size_t outCapacity) {
  uint8_t message[kPipeMessageMax];
  const size_t length = BuildRequest(message, code, dataBytes, data);
  if (length == 0) return 0;
  long got = PipeTransact(message, length, sizeof message);
  if (got < 0) return -1;
  if (got == 0 || !ReplyAccepted(message, static_cast<size_t>(got), expectedBytes)) return 0;
  // ReplyAccepted checked 8 + length against what came, in size_t: no wrap.
  ByteReader r(message + 4, 4);
  size_t dataLength = r.u32le();
  size_t n = dataLength < outCapacity ? dataLength : outCapacity;
  if (out && n) std::memcpy(out, message + kPipeHeaderSize, n);
  return 1;
}

long MibPipe::PipeCommand(uint32_t code, uint32_t dataBytes, const void* data) {
  uint8_t message[kPipeMessageMax];
  const size_t length = BuildRequest(message, code, dataBytes, data);
  if (length == 0) return 0;
  return PipeTransact(message, length, sizeof message);
}

}  // namespace torvane
