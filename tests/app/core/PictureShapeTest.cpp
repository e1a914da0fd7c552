#include "PictureShape.h"

#include <gtest/gtest.h>

namespace {

std::string Text(QSize Size) { return FrameSizeText(Size).toStdString(); }

// The shown size and the size a new entry starts from, for the pictures people bring.
TEST(PictureShape, ShownSizeAndTheSizeANewEntryStartsFrom) {
  struct Case {
    QSize Stored;
    TPixelAspect Aspect;
    QSize Shown, Start;
  };
  const Case cases[] = {
      {{320, 240}, {}, {320, 240}, {320, 240}},
      {{720, 576}, {64, 45}, {1024, 576}, {1024, 576}},    // PAL 16:9
      {{720, 576}, {16, 15}, {768, 576}, {768, 576}},      // PAL 4:3
      {{720, 480}, {8, 9}, {640, 480}, {640, 480}},        // NTSC 4:3
      {{720, 480}, {32, 27}, {853, 480}, {853, 480}},      // NTSC 16:9
      {{1440, 1080}, {4, 3}, {1920, 1080}, {1920, 1080}},  // HDV
      {{1920, 1080}, {4, 3}, {2560, 1080}, {1920, 810}},
      {{3840, 2160}, {1, 1}, {3840, 2160}, {1920, 1080}},
      {{2560, 1440}, {}, {2560, 1440}, {1920, 1080}},
      {{1080, 1920}, {}, {1080, 1920}, {720, 1280}},
      {{1920, 1280}, {}, {1920, 1280}, {1920, 1280}},  // the largest the dialog takes
      {{640, 480}, {0, 1}, {640, 480}, {640, 480}},    // an unknown aspect is square
      {{0, 0}, {64, 45}, {0, 0}, {0, 0}},              // no picture
  };
  for (const Case& c : cases) {
    const TPictureShape shape(c.Stored, c.Aspect);
    const std::string where =
        Text(c.Stored) + " at " + std::to_string(c.Aspect.Num) + ":" + std::to_string(c.Aspect.Den);
    EXPECT_EQ(Text(shape.Shown()), Text(c.Shown)) << where;
    EXPECT_EQ(Text(shape.DefaultOutputSize()), Text(c.Start)) << where;
  }
}

// Rectangles go to shown pixels and back to the stored pixels they came from, inside the
// picture; square pixels stay as they are.
TEST(PictureShape, RectanglesBetweenStoredAndShownPixels) {
  struct Case {
    TPixelAspect Aspect;
    TIntRect Stored, Shown;
  };
  const Case cases[] = {
      {{64, 45}, {0, 0, 720, 576}, {0, 0, 1024, 576}},
      {{64, 45}, {45, 10, 90, 20}, {64, 10, 128, 20}},
      {{8, 9}, {9, 0, 720, 480}, {8, 0, 640, 480}},
      {{1, 1}, {3, 5, 7, 11}, {3, 5, 7, 11}},
  };
  for (const Case& c : cases) {
    const TPictureShape shape({720, 576}, c.Aspect);
    EXPECT_EQ(shape.ToShown(c.Stored), c.Shown) << c.Aspect.Num << ":" << c.Aspect.Den;
    EXPECT_EQ(shape.ToStored(c.Shown), c.Stored) << c.Aspect.Num << ":" << c.Aspect.Den;
  }
  // A preview rectangle past the picture's edge comes back inside it.
  const TPictureShape dvd({720, 576}, {64, 45});
  EXPECT_EQ(dvd.ToStored({-10, 0, 1100, 576}), (TIntRect{0, 0, 720, 576}));
}

}  // namespace
