// The one bounds-checked reader and writer for every byte stream of the suite
// (frames, pipe records, registry and SNMP bytes). Running out is a state the
// caller tests with ok(); a read past the end returns zeros and never touches
// memory outside the span it was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace torvane {

class ByteReader {
 public:
  ByteReader() = default;
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(data ? size : 0) {}
  explicit ByteReader(std::span<const uint8_t> bytes) : ByteReader(bytes.data(), bytes.size()) {}

  bool ok() const { return ok_; }
  size_t offset() const { return pos_; }
  size_t remaining() const { return size_ - pos_; }
  bool empty() const { return pos_ == size_; }
  const uint8_t* cursor() const { return data_ + pos_; }

  uint8_t u8() {
    if (!need(1)) return 0;
    return data_[pos_++];
  }
  uint16_t u16be() {
    if (!need(2)) return 0;
    uint16_t v = static_cast<uint16_t>((data_[pos_] << 8) | data_[pos_ + 1]);
    pos_ += 2;
    return v;
  }
  uint16_t u16le() {
    if (!need(2)) return 0;
    uint16_t v = static_cast<uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
  }
  uint32_t u32be() {
    if (!need(4)) return 0;
    uint32_t v = (uint32_t{data_[pos_]} << 24) | (uint32_t{data_[pos_ + 1]} << 16) |
                 (uint32_t{data_[pos_ + 2]} << 8) | uint32_t{data_[pos_ + 3]};
    pos_ += 4;
    return v;
  }
  uint32_t u32le() {
    if (!need(4)) return 0;
    uint32_t v = uint32_t{data_[pos_]} | (uint32_t{data_[pos_ + 1]} << 8) |
                 (uint32_t{data_[pos_ + 2]} << 16) | (uint32_t{data_[pos_ + 3]} << 24);
    pos_ += 4;
    return v;
  }
  uint64_t u64le() {
    uint64_t lo = u32le();
    uint64_t hi = u32le();
    return lo | (hi << 32);
  }
  // n bytes in place; an empty span (and ok() false) when fewer remain.
  std::span<const uint8_t> bytes(size_t n) {
    if (!need(n)) return {};
    std::span<const uint8_t> s(data_ + pos_, n);
    pos_ += n;
    return s;
  }
  // Copies n bytes into out; on running out copies nothing.
  bool copy(void* out, size_t n) {
    auto s = bytes(n);
    if (s.size() != n) return false;
    if (n) std::memcpy(out, s.data(), n);
    return true;
  }
  bool skip(size_t n) { return need(n) ? (pos_ += n, true) : false; }
  // A reader over the next n bytes, so that a TLV body cannot be read past its
  // declared length; this reader moves past them. Short input gives an empty,
  // failed reader.
  ByteReader sub(size_t n) {
    if (!need(n)) {
      ByteReader r;
      r.ok_ = false;
      return r;
    }
    ByteReader r(data_ + pos_, n);
    pos_ += n;
    return r;
  }
  std::span<const uint8_t> rest() const { return {data_ + pos_, size_ - pos_}; }

 private:
  bool need(size_t n) {
    if (!ok_ || n > size_ - pos_) {
      ok_ = false;
      return false;
    }
    return true;
  }
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;
  bool ok_ = true;
};

class ByteWriter {
 public:
  ByteWriter(uint8_t* data, size_t capacity) : data_(data), cap_(data ? capacity : 0) {}
  explicit ByteWriter(std::span<uint8_t> out) : ByteWriter(out.data(), out.size()) {}

  bool ok() const { return ok_; }
  size_t size() const { return pos_; }
  size_t room() const { return cap_ - pos_; }
  uint8_t* data() { return data_; }

  void u8(uint8_t v) {
    if (need(1)) data_[pos_++] = v;
  }
  void u16be(uint16_t v) {
    if (!need(2)) return;
    data_[pos_++] = static_cast<uint8_t>(v >> 8);
    data_[pos_++] = static_cast<uint8_t>(v);
  }
  void u16le(uint16_t v) {
    if (!need(2)) return;
    data_[pos_++] = static_cast<uint8_t>(v);
    data_[pos_++] = static_cast<uint8_t>(v >> 8);
  }
  void u32be(uint32_t v) {
    if (!need(4)) return;
    for (int s = 24; s >= 0; s -= 8) data_[pos_++] = static_cast<uint8_t>(v >> s);
  }
  void u32le(uint32_t v) {
    if (!need(4)) return;
    for (int s = 0; s <= 24; s += 8) data_[pos_++] = static_cast<uint8_t>(v >> s);
  }
  void u64le(uint64_t v) {
    u32le(static_cast<uint32_t>(v));
    u32le(static_cast<uint32_t>(v >> 32));
  }
  void bytes(const void* src, size_t n) {
    if (!need(n)) return;
    if (n) std::memcpy(data_ + pos_, src, n);
    pos_ += n;
  }
  void bytes(std::span<const uint8_t> s) { bytes(s.data(), s.size()); }
  void zeros(size_t n) {
    if (!need(n)) return;
    std::memset(data_ + pos_, 0, n);
    pos_ += n;
  }
  // Reserves a field to be filled in later (a length or a checksum); returns its
  // offset. Patching an offset outside what was written does nothing.
  size_t reserve(size_t n) {
    size_t at = pos_;
    zeros(n);
    return at;
  }
  void patch_u16be(size_t at, uint16_t v) {
    if (at + 2 > pos_) return;
    data_[at] = static_cast<uint8_t>(v >> 8);
    data_[at + 1] = static_cast<uint8_t>(v);
  }
  void patch_u8(size_t at, uint8_t v) {
    if (at + 1 > pos_) return;
    data_[at] = v;
  }
  // Drops everything written after offset at (used to take back a TLV that did
  // not fit whole).
  void truncate(size_t at) {
    if (at <= pos_) pos_ = at;
    ok_ = true;
  }

 private:
  bool need(size_t n) {
    if (!ok_ || n > cap_ - pos_) {
      ok_ = false;
      return false;
    }
    return true;
  }
  uint8_t* data_;
  size_t cap_;
  size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace torvane
