#include "vf_hue.h"

#include <algorithm>
#include <cmath>

#include "FFEntryPoints.h"
#include "FFUtils.h"

namespace {

// Hue 100 is half a turn; saturation -100 takes all colour away, 100 doubles it.
double HueAngle(int hue) { return hue * M_PI / 100; }
double SaturationFactor(int saturation) { return (saturation + 100) / 100.0; }

uint8_t ClampByte(int value) { return uint8_t(std::clamp(value, 0, 255)); }

}  // namespace

void VideoRotateHueSat(uint8_t* u, uint8_t* v, int lineSize, int saturation, int hue, int height,
                       int width) {
  if (saturation == 0 && hue == 0) return;
  const double angle = HueAngle(hue);
  const double factor = 65536.0 * (saturation + 100) / 100;
  const int s = int(std::floor(std::sin(angle) * factor + 0.5));
  const int c = int(std::floor(std::cos(angle) * factor + 0.5));
  for (int y = 0; y < height; ++y, u += lineSize, v += lineSize) {
    for (int x = 0; x < width; ++x) {
      const int du = u[x] - 128;
      const int dv = v[x] - 128;
      // 0x808000: back to the unsigned range, and the half that rounds the 16.16 result.
      u[x] = ClampByte((c * du - s * dv + 0x808000) >> 16);
      v[x] = ClampByte((s * du + c * dv + 0x808000) >> 16);
    }
  }
}

void RegisterHueFilter() { RegisterFilter("nativehue"); }

int TranslateHueFilter(void* logContext, const char* arguments,
                       std::vector<TBuiltInFilter>& filters) {
  int hue = 0;
  int saturation = 0;
  const int ret = ParseValuePair(logContext, arguments, "hue", "saturation", hue, saturation);
  if (ret < 0) return ret;
  ff::av_log(logContext, AV_LOG_DEBUG, "hue:%d, saturation:%d\n", hue, saturation);
  filters = {PlanarYUVFormatFilter()};
  if (hue == 0 && saturation == 0) return 0;
  // The library's hue filter runs the same 16.16 rotation over the whole chroma planes; given
  // the same angle and factor as exact numbers, its results are the routine's.
  filters.push_back({"hue", "H=" + ExactNumberText(HueAngle(hue)) +
                                ":s=" + ExactNumberText(SaturationFactor(saturation))});
  return 0;
}
