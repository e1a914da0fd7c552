#include "PictureLayout.h"

#include <algorithm>
#include <cmath>

#include "FFEntryPoints.h"

double DisplayAspect(float forced, int windowWidth, int windowHeight, int pictureWidth,
                     int pictureHeight, const AVRational& sampleAspectRatio) {
  if (forced < 0 && windowWidth > 0 && windowHeight > 0) return double(windowWidth) / windowHeight;
  if (forced > 0) return forced;
  double aspect =
      sampleAspectRatio.num == 0 || sampleAspectRatio.den == 0 ? 0 : av_q2d(sampleAspectRatio);
  if (aspect <= 0) aspect = 1.0;
  return pictureHeight > 0 ? aspect * pictureWidth / pictureHeight : aspect;
}

TPictureRect DisplayRectangle(double aspect, int windowWidth, int windowHeight) {
  int height = windowHeight;
  int width = int(std::lround(height * aspect)) & ~1;
  if (width > windowWidth) {
    width = windowWidth;
    height = int(std::lround(width / aspect)) & ~1;
  }
  return {(windowWidth - width) / 2, (windowHeight - height) / 2, std::max(width, 1),
          std::max(height, 1)};
}
