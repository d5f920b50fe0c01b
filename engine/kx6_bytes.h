// Bounds-checked little/big-endian access to byte buffers. Every binary format of the
// engine reads and writes through these two classes; an access outside the span throws
// std::out_of_range, so a damaged length in a file can never reach past a buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>

namespace tolvern {

class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  ByteReader(const void* data, size_t size)
      : bytes_(static_cast<const uint8_t*>(data), size) {}

  size_t Size() const { return bytes_.size(); }
  bool Fits(size_t offset, size_t count) const {
    return offset <= bytes_.size() && count <= bytes_.size() - offset;
  }

  uint8_t U8(size_t offset) const {
    Check(offset, 1);
    return bytes_[offset];
  }
  uint16_t U16LE(size_t offset) const { return static_cast<uint16_t>(LE(offset, 2)); }
  uint32_t U32LE(size_t offset) const { return static_cast<uint32_t>(LE(offset, 4)); }
  uint64_t U64LE(size_t offset) const { return LE(offset, 8); }
  int32_t I32LE(size_t offset) const { return static_cast<int32_t>(U32LE(offset)); }
  int64_t I64LE(size_t offset) const { return static_cast<int64_t>(U64LE(offset)); }
  uint16_t U16BE(size_t offset) const { return static_cast<uint16_t>(BE(offset, 2)); }
  uint32_t U32BE(size_t offset) const { return static_cast<uint32_t>(BE(offset, 4)); }
  uint64_t U64BE(size_t offset) const { return BE(offset, 8); }
  double F64LE(size_t offset) const {
    const uint64_t bits = U64LE(offset);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  std::span<const uint8_t> Bytes(size_t offset, size_t count) const {
    Check(offset, count);
    return bytes_.subspan(offset, count);
  }
  std::string Text(size_t offset, size_t count) const {
    auto part = Bytes(offset, count);
    return std::string(reinterpret_cast<const char*>(part.data()), part.size());
  }

 private:
  void Check(size_t offset, size_t count) const {
    if (!Fits(offset, count)) throw std::out_of_range("byte access outside buffer");
  }
  uint64_t LE(size_t offset, size_t n) const {
    Check(offset, n);
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(bytes_[offset + i]) << (8 * i);
    return v;
  }
  uint64_t BE(size_t offset, size_t n) const {
    Check(offset, n);
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | bytes_[offset + i];
    return v;
  }

  std::span<const uint8_t> bytes_;
};

class ByteWriter {
 public:
  explicit ByteWriter(std::span<uint8_t> bytes) : bytes_(bytes) {}
  ByteWriter(void* data, size_t size) : bytes_(static_cast<uint8_t*>(data), size) {}

  size_t Size() const { return bytes_.size(); }

  void U8(size_t offset, uint8_t v) {
    Check(offset, 1);
    bytes_[offset] = v;
  }
  void U16LE(size_t offset, uint16_t v) { LE(offset, v, 2); }
  void U32LE(size_t offset, uint32_t v) { LE(offset, v, 4); }
  void U64LE(size_t offset, uint64_t v) { LE(offset, v, 8); }
  void I32LE(size_t offset, int32_t v) { LE(offset, static_cast<uint32_t>(v), 4); }
  void I64LE(size_t offset, int64_t v) { LE(offset, static_cast<uint64_t>(v), 8); }
  void U16BE(size_t offset, uint16_t v) { BE(offset, v, 2); }
  void U32BE(size_t offset, uint32_t v) { BE(offset, v, 4); }
  void U64BE(size_t offset, uint64_t v) { BE(offset, v, 8); }
  void F64LE(size_t offset, double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    U64LE(offset, bits);
  }
  void Bytes(size_t offset, const void* data, size_t count) {
    Check(offset, count);
    if (count) std::memcpy(bytes_.data() + offset, data, count);
  }
  void Fill(size_t offset, uint8_t value, size_t count) {
    Check(offset, count);
    if (count) std::memset(bytes_.data() + offset, value, count);
  }

 private:
  void Check(size_t offset, size_t count) const {
    if (offset > bytes_.size() || count > bytes_.size() - offset)
      throw std::out_of_range("byte access outside buffer");
  }
  void LE(size_t offset, uint64_t v, size_t n) {
    Check(offset, n);
    for (size_t i = 0; i < n; ++i) bytes_[offset + i] = static_cast<uint8_t>(v >> (8 * i));
  }
  void BE(size_t offset, uint64_t v, size_t n) {
    Check(offset, n);
    for (size_t i = 0; i < n; ++i) bytes_[offset + n - 1 - i] = static_cast<uint8_t>(v >> (8 * i));
  }

  std::span<uint8_t> bytes_;
};

}  // namespace tolvern
