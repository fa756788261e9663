// Any bytes as one query pipe message, over a populated agent state. The first
// input byte chooses the write right; the rest is the message. The same message
// goes to two identical agents whose buffers differ beyond the received bytes:
// their replies must be the same (nothing past the message is read), and each
// reply must have the shape the clients expect.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "agent/store/pipe_handler.h"
#include "records/pipe_records.h"
#include "common/bytes.h"
#include "tests/support/runtime/pipe_fixture.h"

using namespace torvane;

namespace {

size_t Handle(const uint8_t* message, size_t length, bool mayWrite, uint8_t filler, uint8_t* out) {
  pipetest::AgentFixture f;
  f.Populate();
  std::memset(out, filler, kPipeMessageMax);
  std::memcpy(out, message, length);
  return HandleRequest(f.state, out, length, mayWrite);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool mayWrite = data[0] & 1;
  const uint8_t* message = data + 1;
  size_t length = size - 1;
  if (length > kPipeMessageMax) length = kPipeMessageMax;  // the server drops longer ones

  static uint8_t a[kPipeMessageMax], b[kPipeMessageMax];
  size_t na = Handle(message, length, mayWrite, 0x00, a);
  size_t nb = Handle(message, length, mayWrite, 0xFF, b);
  if (na != nb || std::memcmp(a, b, na) != 0) std::abort();  // read past the message

  if (na != kPipeStatusOnlySize) {
    ByteReader r(a, na);
    uint32_t status = r.u32le();
    uint32_t dataLength = r.u32le();
    if (na < kPipeHeaderSize || na > kPipeMessageMax || status != kPipeDone) std::abort();
    // Code 17 answers 8 bytes with 1 or 0 in the length field and no data.
    if (na != kPipeHeaderSize + dataLength && !(na == kPipeHeaderSize && dataLength <= 1)) std::abort();
  }
  return 0;
}
