// Pictures drawn straight into the display surface. Where SDL has no hardware overlay (under a
// compositor or a virtual X server, the usual case) its own YUV-to-RGB conversion costs several
// times what libswscale needs for the same picture, so the display converts with libswscale.
#pragma once

#include <SDL/SDL.h>

#include <cstdint>

#include "FFEntryPoints.h"
#include "MyUtils.h"

// The surface's pixel layout as libswscale names it (this host's byte order), or
// AV_PIX_FMT_NONE for a layout it does not write (palettes, unusual masks).
AVPixelFormat SurfacePixelFormat(const SDL_PixelFormat& format);

// Play thread. Converts and scales YUV 4:2:0 pictures into rectangles of a surface; the scaler
// is kept from picture to picture while sizes and formats stay.
class TSurfaceScaler {
 public:
  TSurfaceScaler() = default;
  ~TSurfaceScaler();
  TSurfaceScaler(const TSurfaceScaler&) = delete;
  TSurfaceScaler& operator=(const TSurfaceScaler&) = delete;

  // Draws the picture (width x height, read in `matrix` as SetScalerSourceMatrix takes it) over
  // the rectangle, which lies inside the surface; the caller holds the surface's lock when SDL
  // asks for one. False, drawing nothing, when the surface's layout is one libswscale cannot
  // write, or no memory can be had.
  bool Draw(const TAVPicture& picture, int width, int height, AVColorSpace matrix,
            SDL_Surface& surface, const SDL_Rect& rect);

 private:
  SwsContext* FContext = nullptr;
  // Rows of a rectangle whose width libswscale's vector code would overrun, before they go to
  // the surface.
  TScalerPicture FRows;
};
