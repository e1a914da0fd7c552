/* A frame hook for the tests with nothing but Process: inverts the luma plane. */
#include <stdint.h>

typedef struct {
  uint8_t* data[4];
  int linesize[4];
} HookPicture;

void Process(void* context, HookPicture* picture, int pix_fmt, int width, int height, int64_t pts) {
  int x, y;
  (void)context;
  (void)pix_fmt;
  (void)pts;
  for (y = 0; y < height; ++y)
    for (x = 0; x < width; ++x) {
      uint8_t* sample = picture->data[0] + y * picture->linesize[0] + x;
      *sample = (uint8_t)(255 - *sample);
    }
}
