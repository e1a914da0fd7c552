// Bitmap subtitles drawn onto a picture in planar YUV 4:2:0: each rectangle's palette is first
// turned from RGBA into Y, U, V and alpha, then every pixel of the rectangle is mixed into the
// picture by its alpha. Chroma, shared by a 2x2 block of pixels, is mixed by the block's summed
// alpha, so a rectangle edge through a block mixes it in part.
#pragma once

#include <cstdint>

#include "MyUtils.h"

struct AVSubtitleRect;

// A palette colour: 0xAARRGGBB in, and Y, U, V, A (one byte each, Y lowest) out, studio range.
uint32_t RGBAToYUVA(uint32_t argb);
// Converts the palette of a bitmap rectangle in place.
void ConvertPaletteToYUVA(AVSubtitleRect& rect);

// Mixes a rectangle (palette already converted) into the picture's Y, U and V planes; what lies
// outside the picture is left out.
void BlendSubtitleRect(const TAVPicture& picture, int width, int height,
                       const AVSubtitleRect& rect);
