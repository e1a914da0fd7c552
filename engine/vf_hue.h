// "nativehue": hue rotation and saturation on the chroma planes, and the pixel routine behind it.
#pragma once

#include <cstdint>
#include <vector>

#include "FilterChainTranslator.h"

// In place on `height` rows of `width` bytes of both chroma planes, rows `lineSize` bytes apart
// in each; hue and saturation in -100..100 (hue 100 is half a turn), in 16.16 fixed point.
// Both 0 leave the bytes as they are.
void VideoRotateHueSat(uint8_t* u, uint8_t* v, int lineSize, int saturation, int hue, int height,
                       int width);

// Makes "nativehue" usable in filter-chain text.
void RegisterHueFilter();

// "nativehue=hue:saturation" as built-in filters whose output equals VideoRotateHueSat on every
// chroma sample, the last column and row of odd sizes included.
int TranslateHueFilter(void* logContext, const char* arguments,
                       std::vector<TBuiltInFilter>& filters);
