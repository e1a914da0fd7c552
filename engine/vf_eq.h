// "nativeeq": brightness and contrast on the luma plane, and the pixel routine behind it.
#pragma once

#include <cstdint>
#include <vector>

#include "FilterChainTranslator.h"

// In place on `height` rows of `width` luma bytes, rows `lineSize` bytes apart; brightness and
// contrast in -100..100, in 16.16 fixed point. Both 0 leave the bytes as they are.
void VideoEqualizeLuma(uint8_t* data, int lineSize, int width, int contrast, int brightness,
                       int height);

// Makes "nativeeq" usable in filter-chain text.
void RegisterEqFilter();

// "nativeeq=brightness:contrast" as built-in filters whose output equals VideoEqualizeLuma.
int TranslateEqFilter(void* logContext, const char* arguments,
                      std::vector<TBuiltInFilter>& filters);
