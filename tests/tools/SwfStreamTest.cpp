// Bit and byte encodings checked against bytes worked out by hand from the file format.
#include <gtest/gtest.h>

#include "SwfRecords.h"

using namespace fennick::swf;

TEST(SwfStream, BitFieldsPackFromTheHighBitAndPadTheLastByte) {
  Writer w;
  w.WriteUB(5, 3);   // 101
  w.WriteSB(-2, 3);  // 110
  w.WriteUB(1, 1);   // 1
  w.WriteU8(0xAB);   // aligns: 1011101 + 0 pad
  EXPECT_EQ(w.Take(), (Bytes{0xBA, 0xAB}));
}

TEST(SwfStream, ValuesThatDoNotFitTheirFieldAreRefused) {
  Writer w;
  EXPECT_THROW(w.WriteUB(8, 3), SwfError);
  EXPECT_THROW(w.WriteSB(4, 3), SwfError);
  EXPECT_THROW(w.WriteSB(-5, 3), SwfError);
  EXPECT_NO_THROW(w.WriteSB(-4, 3));
  EXPECT_THROW(w.WriteString(std::string("a\0b", 3)), SwfError);
}

TEST(SwfStream, FieldWidths) {
  EXPECT_EQ(BitsForUnsigned(0), 0u);
  EXPECT_EQ(BitsForUnsigned(255), 8u);
  EXPECT_EQ(BitsForSigned(0), 1u);
  EXPECT_EQ(BitsForSigned(-1), 1u);
  EXPECT_EQ(BitsForSigned(8000), 14u);
  EXPECT_EQ(BitsForSigned(-8192), 14u);
  EXPECT_EQ(BitsForSigned(8192), 15u);
}

TEST(SwfStream, LittleEndianIntegersAndFixedPoint) {
  Writer w;
  w.WriteU16(0x1234);
  w.WriteU32(0xA1B2C3D4);
  w.WriteFixed8(24.5);
  w.WriteFixed16(-1.5);
  w.WriteString("ab");
  const Bytes bytes = w.Take();
  EXPECT_EQ(bytes, (Bytes{0x34, 0x12, 0xD4, 0xC3, 0xB2, 0xA1, 0x80, 0x18, 0x00, 0x80, 0xFE, 0xFF,
                          'a', 'b', 0}));
  Reader r(bytes);
  EXPECT_EQ(r.ReadU16(), 0x1234);
  EXPECT_EQ(r.ReadU32(), 0xA1B2C3D4u);
  EXPECT_DOUBLE_EQ(r.ReadFixed8(), 24.5);
  EXPECT_DOUBLE_EQ(r.ReadFixed16(), -1.5);
  EXPECT_EQ(r.ReadString(), "ab");
  EXPECT_TRUE(r.AtEnd());
  EXPECT_THROW(r.ReadU8(), SwfError);
}

TEST(SwfRecords, StageRectangleOf550By400MatchesTheWellKnownHeaderBytes) {
  Writer w;
  WriteRect(w, PixelRect(550, 400));
  // 15-bit fields: 0, 11000, 0, 8000 twips.
  EXPECT_EQ(w.Take(), (Bytes{0x78, 0x00, 0x05, 0x5F, 0x00, 0x00, 0x0F, 0xA0, 0x00}));
}

TEST(SwfRecords, RectRoundTripsWithNegativeCorners) {
  const Rect rect{-200, 4000, -1, 20};
  Writer w;
  WriteRect(w, rect);
  const Bytes bytes = w.Take();
  Reader r(bytes);
  EXPECT_EQ(ReadRect(r), rect);
  EXPECT_TRUE(r.AtEnd());
}

TEST(SwfRecords, IdentityMatrixWithTranslationOnly) {
  Matrix m;
  m.translateX = 20;  // 1 pixel
  m.translateY = -20;
  Writer w;
  WriteMatrix(w, m);
  // 0 (no scale) 0 (no rotate) 00110 (6 bits) 010100 101100, padded.
  EXPECT_EQ(w.Take(), (Bytes{0x0C, 0xA5, 0x80}));
}

TEST(SwfRecords, ScaledMatrixBits) {
  Matrix m;
  m.scaleX = 2.0;  // 0x20000: 18 magnitude bits and a sign bit
  m.scaleY = 0.5;  // 0x08000
  Writer w;
  WriteMatrix(w, m);
  // 1, 10011, then 2.0 and 0.5 in 19 bits, 0 (no rotate), 00000 (no translation), padding
  const Bytes bytes = w.Take();
  Reader r(bytes);
  EXPECT_EQ(r.ReadUB(1), 1u);
  EXPECT_EQ(r.ReadUB(5), 19u);
  EXPECT_EQ(r.ReadUB(19), 0x20000u);
  EXPECT_EQ(r.ReadUB(19), 0x08000u);
  EXPECT_EQ(r.ReadUB(6), 0u);
  EXPECT_EQ(bytes.size(), 7u);  // 50 bits
}

TEST(SwfRecords, MatrixWithScaleAndSkewRoundTrips) {
  const Matrix m{2.0, 0.5, 0.25, -0.75, 100, 0};
  Writer w;
  WriteMatrix(w, m);
  const Bytes bytes = w.Take();
  Reader r(bytes);
  EXPECT_EQ(ReadMatrix(r), m);
}

TEST(SwfRecords, ColoursAndHex) {
  EXPECT_EQ(RgbFromHex(0x102030), (Rgb{0x10, 0x20, 0x30}));
  Writer w;
  WriteRgba(w, Rgba{1, 2, 3, 4});
  const Bytes bytes = w.Take();
  EXPECT_EQ(bytes, (Bytes{1, 2, 3, 4}));
  Reader r(bytes);
  EXPECT_EQ(ReadRgba(r), (Rgba{1, 2, 3, 4}));
}
