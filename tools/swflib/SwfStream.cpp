#include "SwfStream.h"

#include <cmath>
#include <limits>

namespace fennick::swf {

namespace {

int32_t ToFixed(double value, int fractionBits, std::string_view what) {
  const double scaled = std::round(value * static_cast<double>(1 << fractionBits));
  if (!(scaled >= std::numeric_limits<int32_t>::min() &&
        scaled <= std::numeric_limits<int32_t>::max()))
    throw SwfError(std::string(what) + " value out of range");
  return static_cast<int32_t>(scaled);
}

}  // namespace

int32_t Fixed16(double value) { return ToFixed(value, 16, "16.16 fixed-point"); }

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

unsigned BitsForUnsigned(uint32_t value) {
  unsigned bits = 0;
  while (value != 0) {
    ++bits;
    value >>= 1;
  }
  return bits;
}

unsigned BitsForSigned(int32_t value) {
  // One sign bit above the magnitude bits of the value (or of its complement when negative).
  const uint32_t magnitude =
      value < 0 ? ~static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  return BitsForUnsigned(magnitude) + 1;
}

void Writer::WriteUB(uint32_t value, unsigned bits) {
  if (bits > 32 || (bits < 32 && (value >> bits) != 0))
    throw SwfError("value " + std::to_string(value) + " does not fit " + std::to_string(bits) +
                   " bits");
  for (unsigned i = bits; i-- > 0;) {
    pending_ = static_cast<uint8_t>((pending_ << 1) | ((value >> i) & 1u));
    if (++pendingBits_ == 8) {
      bytes_.push_back(pending_);
      pending_ = 0;
      pendingBits_ = 0;
    }
  }
}

void Writer::WriteSB(int32_t value, unsigned bits) {
  if (bits == 0 ? value != 0 : (bits < 32 && BitsForSigned(value) > bits))
    throw SwfError("value " + std::to_string(value) + " does not fit " + std::to_string(bits) +
                   " signed bits");
  const uint32_t mask = bits >= 32 ? 0xFFFFFFFFu : ((1u << bits) - 1u);
  WriteUB(static_cast<uint32_t>(value) & mask, bits);
}

void Writer::WriteFB(double value, unsigned bits) { WriteSB(Fixed16(value), bits); }

void Writer::Align() {
  if (pendingBits_ > 0) WriteUB(0, 8 - pendingBits_);
}

void Writer::WriteU8(uint8_t value) {
  Align();
  bytes_.push_back(value);
}

void Writer::WriteU16(uint16_t value) {
  WriteU8(static_cast<uint8_t>(value));
  WriteU8(static_cast<uint8_t>(value >> 8));
}

void Writer::WriteU32(uint32_t value) {
  WriteU16(static_cast<uint16_t>(value));
  WriteU16(static_cast<uint16_t>(value >> 16));
}

void Writer::WriteFixed8(double value) {
  const int32_t fixed = ToFixed(value, 8, "8.8 fixed-point");
  if (fixed < std::numeric_limits<int16_t>::min() || fixed > std::numeric_limits<uint16_t>::max())
    throw SwfError("8.8 fixed-point value out of range");
  WriteU16(static_cast<uint16_t>(fixed));
}

void Writer::WriteFixed16(double value) { WriteU32(static_cast<uint32_t>(Fixed16(value))); }

void Writer::WriteBytes(const uint8_t* data, size_t size) {
  Align();
  bytes_.insert(bytes_.end(), data, data + size);
}

void Writer::WriteString(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) throw SwfError("string holds a zero character");
  WriteBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  WriteU8(0);
}

Bytes Writer::Take() {
  Align();
  Bytes result;
  result.swap(bytes_);
  return result;
}

void Reader::Need(size_t count) const {
  if (count > size_ - pos_)
    throw SwfError("unexpected end of data at offset " + std::to_string(pos_));
}

uint32_t Reader::ReadUB(unsigned bits) {
  if (bits > 32) throw SwfError("bit field wider than 32 bits");
  uint32_t value = 0;
  for (unsigned i = 0; i < bits; ++i) {
    if (bitsLeft_ == 0) {
      Need(1);
      current_ = data_[pos_++];
      bitsLeft_ = 8;
    }
    --bitsLeft_;
    value = (value << 1) | ((current_ >> bitsLeft_) & 1u);
  }
  return value;
}

int32_t Reader::ReadSB(unsigned bits) {
  const uint32_t raw = ReadUB(bits);
  if (bits == 0 || bits >= 32) return static_cast<int32_t>(raw);
  const uint32_t sign = 1u << (bits - 1);
  return static_cast<int32_t>((raw ^ sign) - sign);
}

double Reader::ReadFB(unsigned bits) { return ReadSB(bits) / 65536.0; }

void Reader::Align() { bitsLeft_ = 0; }

uint8_t Reader::ReadU8() {
  Align();
  Need(1);
  return data_[pos_++];
}

uint16_t Reader::ReadU16() {
  const uint16_t low = ReadU8();
  return static_cast<uint16_t>(low | (ReadU8() << 8));
}

uint32_t Reader::ReadU32() {
  const uint32_t low = ReadU16();
  return low | (static_cast<uint32_t>(ReadU16()) << 16);
}

double Reader::ReadFixed8() { return static_cast<int16_t>(ReadU16()) / 256.0; }

double Reader::ReadFixed16() { return static_cast<int32_t>(ReadU32()) / 65536.0; }

Bytes Reader::ReadBytes(size_t count) {
  Align();
  Need(count);
  Bytes result(data_ + pos_, data_ + pos_ + count);
  pos_ += count;
  return result;
}

std::string Reader::ReadString() {
  Align();
  std::string text;
  for (;;) {
    const uint8_t c = ReadU8();
    if (c == 0) return text;
    text.push_back(static_cast<char>(c));
  }
}

}  // namespace fennick::swf
