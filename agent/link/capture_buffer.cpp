#include "agent/link/capture_buffer.h"

#include <cstring>

#include "agent/link/link_layer.h"
#include "common/bytes.h"

namespace torvane {

bool AppendCaptureRecord(uint8_t* buffer, size_t size, size_t& used, uint32_t seconds,
                         uint32_t micros, const uint8_t* frame, uint32_t capLen,
                         uint32_t dataLen) {
  if (used > size || size - used < kRecordHeaderLength ||
      size - used - kRecordHeaderLength < capLen)
    return false;
  ByteWriter out(buffer + used, size - used);
  out.u32le(seconds);
  out.u32le(micros);
  out.u32le(capLen);
  out.u32le(dataLen);
  out.u16le(static_cast<uint16_t>(kRecordHeaderLength));
  out.u16le(0);
  out.bytes(frame, capLen);
  size_t end = used + out.size();
  size_t next = RecordAlign(end);
  // The padding is zeroed so that a buffer never shows bytes of an older read.
  if (next > size) next = size;
  std::memset(buffer + end, 0, next - end);
  used = next;
  return true;
}

size_t DispatchBuffer(Port& port, const uint8_t* buffer, size_t bytes,
                      FrameDispatcher& dispatcher) {
  size_t frames = 0;
  size_t offset = 0;
  while (offset < bytes) {
    ByteReader header(buffer + offset, bytes - offset);
    header.skip(kRecordCapLenOffset);
    uint32_t capLen = header.u32le();
    uint32_t dataLen = header.u32le();
    uint16_t hdrLen = header.u16le();
    if (!header.ok() || hdrLen < kRecordHeaderMinimum) break;
    size_t start = offset + hdrLen;
    if (start > bytes) break;
    size_t length = dataLen;
    if (length > capLen) length = capLen;
    if (length > bytes - start) length = bytes - start;
    dispatcher.DispatchFrame(port, buffer + start, length);
    ++frames;
    offset = RecordAlign(start + size_t{capLen});
  }
  return frames;
}

}  // namespace torvane
