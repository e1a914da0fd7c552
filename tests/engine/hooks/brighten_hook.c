/* A frame hook for the tests: adds argv[1] (default 1) to every luma sample. On Release it
   appends "pictures last-pts width height" to the file argv[2], when one is given; it keeps
   that name from Configure on, as hooks may. Configure fails when argv[1] is "fail". */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
  uint8_t* data[4];
  int linesize[4];
} HookPicture;

typedef struct {
  int amount;
  const char* report;
  int pictures;
  int64_t last_pts;
  int width, height;
} Brighten;

int Configure(void** context, int argc, char* argv[]) {
  Brighten* self;
  if (argc > 1 && strcmp(argv[1], "fail") == 0) return -1;
  self = calloc(1, sizeof *self);
  if (!self) return -1;
  self->amount = argc > 1 ? atoi(argv[1]) : 1;
  self->report = argc > 2 ? argv[2] : NULL;
  *context = self;
  return 0;
}

void Process(void* context, HookPicture* picture, int pix_fmt, int width, int height, int64_t pts) {
  Brighten* self = context;
  int x, y;
  (void)pix_fmt;
  for (y = 0; y < height; ++y) {
    uint8_t* row = picture->data[0] + y * picture->linesize[0];
    for (x = 0; x < width; ++x) {
      const int value = row[x] + self->amount;
      row[x] = (uint8_t)(value > 255 ? 255 : value);
    }
  }
  self->pictures++;
  self->last_pts = pts;
  self->width = width;
  self->height = height;
}

void Release(void* context) {
  Brighten* self = context;
  if (self->report) {
    FILE* file = fopen(self->report, "a");
    if (file) {
      fprintf(file, "%d %lld %d %d\n", self->pictures, (long long)self->last_pts, self->width,
              self->height);
      fclose(file);
    }
  }
  free(self);
}
