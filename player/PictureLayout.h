// Where a picture goes in the window: centred, in its own shape (its sample aspect ratio
// times its size), in a forced shape, or filling the window; width and height even.
#pragma once

struct AVRational;

struct TPictureRect {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
};

// The shape to show: `forced` < 0 fills the window, 0 takes the picture's own, > 0 is the shape.
double DisplayAspect(float forced, int windowWidth, int windowHeight, int pictureWidth,
                     int pictureHeight, const AVRational& sampleAspectRatio);

// The largest rectangle of that shape centred in the window (at least one pixel each way).
TPictureRect DisplayRectangle(double aspect, int windowWidth, int windowHeight);
