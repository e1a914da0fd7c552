#include "ControlsTestSupport.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace {

class QtEnvironment : public testing::Environment {
 public:
  void SetUp() override { FApplication = new QApplication(FArgc, FArgv); }
  void TearDown() override { delete FApplication; }

 private:
  int FArgc = 1;
  char FName[15] = "controls_tests";
  char* FArgv[2] = {FName, nullptr};
  QApplication* FApplication = nullptr;
};

[[maybe_unused]] testing::Environment* const Environment =
    testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

QImage SentinelCanvas(int Width, int Height) {
  QImage image(Width, Height, QImage::Format_RGB32);
  image.fill(ToQColor(Sentinel));
  return image;
}

TColor PixelAt(const QImage& Image, int X, int Y) { return FromQColor(Image.pixelColor(X, Y)); }

void ExpectPixels(const QImage& Image, const std::vector<TPixel>& Pixels, const char* Case) {
  for (const TPixel& p : Pixels)
    EXPECT_EQ(PixelAt(Image, p.X, p.Y), ColorToRGB(p.Color))
        << Case << " at (" << p.X << ", " << p.Y << ")";
}
