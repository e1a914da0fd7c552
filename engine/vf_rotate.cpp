#include "vf_rotate.h"

#include <cmath>
#include <string>

#include "FFUtils.h"

namespace {

constexpr int DefaultAngle = 45;

}  // namespace

void RegisterRotateFilter() { RegisterFilter("rotate"); }

int TranslateRotateFilter(void* logContext, const char* arguments,
                          std::vector<TBuiltInFilter>& filters) {
  int degrees = DefaultAngle;
  if (arguments && !IsBlank(arguments) && !ParseInteger(arguments, degrees))
    return RefuseArguments(logContext, arguments);
  const double angle = degrees * M_PI / 180;
  const std::string s = ExactNumberText(std::sin(angle));
  const std::string c = ExactNumberText(std::cos(angle));
  // The bounding box of the turned picture, rounded: a box of 395.98 pixels must not cut
  // the picture's corners off. Nearest-neighbour sampling, black where nothing is covered.
  filters = {PlanarYUVFormatFilter(),
             {"rotate", "a=" + ExactNumberText(angle) + ":ow=round(abs(iw*" + c + ")+abs(ih*" + s +
                            ")):oh=round(abs(ih*" + c + ")+abs(iw*" + s + ")):c=black:bilinear=0"}};
  return 0;
}
