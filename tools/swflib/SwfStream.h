// Byte and bit streams in the SWF layout: little-endian integers, bit fields packed from the
// most significant bit, 8.8 and 16.16 fixed point. A byte-level call first finishes any
// partial bit byte, as every SWF record that mixes the two requires.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace fennick::swf {

using Bytes = std::vector<uint8_t>;

// Every malformed or truncated input and every value that does not fit its field.
class SwfError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Smallest field widths that hold a value in UB[n] / SB[n] encoding.
unsigned BitsForUnsigned(uint32_t value);
unsigned BitsForSigned(int32_t value);
// A value in 16.16 fixed point, rounded; out-of-range values throw.
int32_t Fixed16(double value);
// Strings in SWF and ABC files are UTF-8; source escapes name code points.
void AppendUtf8(std::string& out, uint32_t codePoint);

class Writer {
 public:
  // Bit fields, most significant bit first.
  void WriteUB(uint32_t value, unsigned bits);
  void WriteSB(int32_t value, unsigned bits);
  void WriteFB(double value, unsigned bits);  // 16.16 fixed point in SB form
  void Align();                               // pads the partial byte with zero bits

  // Byte fields, little endian; each aligns first.
  void WriteU8(uint8_t value);
  void WriteU16(uint16_t value);
  void WriteU32(uint32_t value);
  void WriteFixed8(double value);   // 8.8
  void WriteFixed16(double value);  // 16.16
  void WriteBytes(const uint8_t* data, size_t size);
  void WriteBytes(const Bytes& data) { WriteBytes(data.data(), data.size()); }
  void WriteString(std::string_view text);  // zero-terminated; an embedded zero is refused

  Bytes Take();  // aligned bytes, leaves the writer empty

 private:
  Bytes bytes_;
  uint8_t pending_ = 0;
  unsigned pendingBits_ = 0;
};

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit Reader(const Bytes& data) : Reader(data.data(), data.size()) {}

  uint32_t ReadUB(unsigned bits);
  int32_t ReadSB(unsigned bits);
  double ReadFB(unsigned bits);
  void Align();

  uint8_t ReadU8();
  uint16_t ReadU16();
  uint32_t ReadU32();
  double ReadFixed8();
  double ReadFixed16();
  Bytes ReadBytes(size_t count);
  std::string ReadString();  // up to the terminating zero

  size_t Remaining() const { return size_ - pos_; }
  bool AtEnd() const { return pos_ >= size_; }

 private:
  void Need(size_t count) const;

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  uint8_t current_ = 0;
  unsigned bitsLeft_ = 0;
};

}  // namespace fennick::swf
