// The buffer a read returns: a run of capture records, each a 20-byte header and
// the captured bytes of one frame, every record starting on a 4-byte boundary
// from the buffer start. Both packet back-ends write this layout, whatever the
// kernel or the capture library hands them, and the receive thread walks it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvane {

class FrameDispatcher;
struct Port;

// Offsets of the record header (little-endian, as the host writes it).
constexpr size_t kRecordSecondsOffset = 0;
constexpr size_t kRecordMicrosOffset = 4;
constexpr size_t kRecordCapLenOffset = 8;   // bytes of the frame present
constexpr size_t kRecordDataLenOffset = 12; // length of the frame on the wire
constexpr size_t kRecordHdrLenOffset = 16;  // u16: where the frame starts
constexpr size_t kRecordHeaderLength = 20;
// Shortest header a reader accepts: it must at least hold the fields above.
constexpr size_t kRecordHeaderMinimum = 18;

constexpr size_t RecordAlign(size_t offset) { return (offset + 3) & ~size_t{3}; }

// Appends one record at `used` (which must be 4-aligned) when it fits whole in
// `size`; returns false, writing nothing, when it does not. `used` moves past the
// record and its padding.
bool AppendCaptureRecord(uint8_t* buffer, size_t size, size_t& used, uint32_t seconds,
                         uint32_t micros, const uint8_t* frame, uint32_t capLen,
                         uint32_t dataLen);

// Splits one read's `bytes` into frames and hands each, in buffer order, to the
// dispatcher. A frame is handed on with no more bytes than were captured and lie
// inside the buffer (a frame cut by the capture length arrives cut). A record
// whose header does not fit, or claims a header shorter than its fields, ends
// the walk. Returns the number of frames handed on.
size_t DispatchBuffer(Port& port, const uint8_t* buffer, size_t bytes,
                      FrameDispatcher& dispatcher);

}  // namespace torvane
