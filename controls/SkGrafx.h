// Shared drawing of the control library: colours as 32-bit values, rectangles with exclusive
// right and bottom edges, transparent copies of key-colour bitmaps and two-colour gradients.
// Every routine paints through a QPainter without antialiasing and keeps no state, so a control
// looks the same on every machine and a test can paint into a QImage to check it to the pixel.
#pragma once

#include <QImage>
#include <QPainter>
#include <QRect>

#include <cstdint>

// A colour: $00BBGGRR for an RGB value, $FF000000 | index for a system colour.
using TColor = uint32_t;

inline constexpr TColor clNone = 0x1FFFFFFF;  // as a line colour: draw nothing
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clScrollBar = 0xFF000000;
inline constexpr TColor clActiveCaption = 0xFF000002;
inline constexpr TColor clMenu = 0xFF000004;
inline constexpr TColor clWindow = 0xFF000005;
inline constexpr TColor clWindowFrame = 0xFF000006;
inline constexpr TColor clMenuText = 0xFF000007;
inline constexpr TColor clWindowText = 0xFF000008;
inline constexpr TColor clCaptionText = 0xFF000009;
inline constexpr TColor clHighlight = 0xFF00000D;
inline constexpr TColor clHighlightText = 0xFF00000E;
inline constexpr TColor clBtnFace = 0xFF00000F;
inline constexpr TColor clBtnShadow = 0xFF000010;
inline constexpr TColor clGrayText = 0xFF000011;
inline constexpr TColor clBtnText = 0xFF000012;
inline constexpr TColor clBtnHighlight = 0xFF000014;
inline constexpr TColor cl3DDkShadow = 0xFF000015;
inline constexpr TColor cl3DLight = 0xFF000016;
inline constexpr TColor clInfoText = 0xFF000017;
inline constexpr TColor clInfoBk = 0xFF000018;
inline constexpr TColor clHotLight = 0xFF00001A;

// The RGB value of a colour; system colours come from one fixed table of classic desktop
// defaults (button face 240,240,240, window white, ...), never from the running desktop.
TColor ColorToRGB(TColor Color);
// TColor from components and back.
constexpr TColor RGB(int R, int G, int B) { return TColor(R) | TColor(G) << 8 | TColor(B) << 16; }
inline int GetRValue(TColor Color) { return int(Color & 0xFF); }
inline int GetGValue(TColor Color) { return int(Color >> 8 & 0xFF); }
inline int GetBValue(TColor Color) { return int(Color >> 16 & 0xFF); }
// The opaque Qt colour of a TColor (system colours resolved).
QColor ToQColor(TColor Color);
// The TColor of a Qt colour's RGB (alpha dropped).
TColor FromQColor(const QColor& Color);

// A rectangle whose Right and Bottom lie just outside it: width = Right - Left.
struct TRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  bool Contains(int X, int Y) const { return X >= Left && X < Right && Y >= Top && Y < Bottom; }
  TRect Inflated(int Dx, int Dy) const { return {Left - Dx, Top - Dy, Right + Dx, Bottom + Dy}; }
  TRect Offset(int Dx, int Dy) const { return {Left + Dx, Top + Dy, Right + Dx, Bottom + Dy}; }
  QRect ToQRect() const { return QRect(Left, Top, Right - Left, Bottom - Top); }
  static TRect FromQRect(const QRect& R) {
    return {R.left(), R.top(), R.right() + 1, R.bottom() + 1};
  }
  bool operator==(const TRect&) const = default;
};

// Fills Rect (exclusive edges) with one colour; nothing for an empty rect.
void FillRect(QPainter& Canvas, const TRect& Rect, TColor Color);
// Sets one pixel.
void SetPixel(QPainter& Canvas, int X, int Y, TColor Color);

enum TGradientDirection {
  gdDiagonalUp,
  gdDiagonalDown,
  gdHorizontalEnd,
  gdHorizontalCenter,
  gdHorizontalBox,
  gdVerticalEnd,
  gdVerticalCenter,
  gdVerticalBox,
  gdSquareBox,
  gdBigSquareBox
};

// SrcRect of Bitmap stretched into DestRect, pixels of TransparentColor left out.
void StretchTransparentBitmapRect(QPainter& DestCanvas, const QImage& Bitmap, const TRect& DestRect,
                                  const TRect& SrcRect, TColor TransparentColor);
// The same drawing as StretchTransparentBitmapRect (kept under both names for the callers).
void CopyTransparentBitmapRect(QPainter& DestCanvas, const QImage& Bitmap, const TRect& DestRect,
                               const TRect& SrcRect, TColor TransparentColor);
// Tiles Bitmap over Rect from its top-left corner; edge tiles are clipped, never scaled.
void TileTransparentBitmap(QPainter& DestCanvas, const QImage& Bitmap, const TRect& Rect,
                           TColor TransparentColor);
// The whole Bitmap stretched into DestRect with TransparentColor left out.
void DrawTransparentBitmap(QPainter& DestCanvas, const QImage& Bitmap, const TRect& DestRect,
                           TColor TransparentColor);
// Mirrors Bitmap top to bottom in place.
void FlipBitmapVertically(QImage& Bitmap);
// Fills Bounds with a two-colour gradient; ColorStep is the least band width (0 acts as 1,
// above 8 it is a count of bands).
void PaintGradient(QPainter& Canvas, const TRect& Bounds, TGradientDirection Direction,
                   TColor StartColor, TColor StopColor, uint8_t ColorStep = 1);
