// Shared by the control tests: one QApplication, and canvases prefilled with a sentinel colour
// so that a test sees exactly which pixels a routine painted.
#pragma once

#include "SkGrafx.h"

#include <QImage>
#include <QPainter>

#include <functional>
#include <vector>

// A colour no routine under test paints.
inline constexpr TColor Sentinel = RGB(1, 2, 3);

// A Width by Height image filled with the sentinel.
QImage SentinelCanvas(int Width, int Height);
// A sentinel canvas after Paint has painted on it.
QImage Painted(int Width, int Height, const std::function<void(QPainter&)>& Paint);
// The colour of one pixel as a TColor.
TColor PixelAt(const QImage& Image, int X, int Y);

// One expected pixel: where, and which colour.
struct TPixel {
  int X, Y;
  TColor Color;
};
// Checks every listed pixel, naming the case and the place of a mismatch.
void ExpectPixels(const QImage& Image, const std::vector<TPixel>& Pixels, const char* Case);
