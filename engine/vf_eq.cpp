#include "vf_eq.h"

#include <algorithm>
#include <string>

#include "FFEntryPoints.h"
#include "FFUtils.h"

namespace {

// The 16.16 contrast factor and the offset that keeps the contrast centred on mid-grey.
struct TLumaCoefficients {
  int Factor;
  int Offset;
};

TLumaCoefficients LumaCoefficients(int contrast, int brightness) {
  const int factor = (contrast + 100) * 65536 / 100;
  return {factor, (brightness + 100) * 511 / 200 - 128 - (factor >> 9)};
}

}  // namespace

void VideoEqualizeLuma(uint8_t* data, int lineSize, int width, int contrast, int brightness,
                       int height) {
  // The formula is half a level off at the neutral setting: neutral must leave the picture alone.
  if (contrast == 0 && brightness == 0) return;
  const TLumaCoefficients k = LumaCoefficients(contrast, brightness);
  for (int y = 0; y < height; ++y, data += lineSize)
    for (int x = 0; x < width; ++x)
      data[x] = uint8_t(std::clamp(((data[x] * k.Factor) >> 16) + k.Offset, 0, 255));
}

void RegisterEqFilter() { RegisterFilter("nativeeq"); }

int TranslateEqFilter(void* logContext, const char* arguments,
                      std::vector<TBuiltInFilter>& filters) {
  int brightness = 0;
  int contrast = 0;
  const int ret =
      ParseValuePair(logContext, arguments, "brightness", "contrast", brightness, contrast);
  if (ret < 0) return ret;
  ff::av_log(logContext, AV_LOG_DEBUG, "brightness:%d, contrast:%d\n", brightness, contrast);
  filters = {PlanarYUVFormatFilter()};
  if (brightness == 0 && contrast == 0) return 0;
  // val * factor is exact in a double and dividing by 65536 only moves the point, so floor()
  // is the routine's shift; u and v must be named, lutyuv would clip them to the video range.
  const TLumaCoefficients k = LumaCoefficients(contrast, brightness);
  filters.push_back({"lutyuv", "y=clip(floor(val*" + std::to_string(k.Factor) + "/65536)+(" +
                                   std::to_string(k.Offset) + "),0,255):u=val:v=val"});
  return 0;
}
