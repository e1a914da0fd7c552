// The player's video filter graph: decoded pictures go in through the library's stock "buffer"
// source, pass the caller's filter chain (and the deinterlacer when it is on) and come out of a
// "buffersink" as planar YUV 4:2:0, the layout of the display's overlays, SDR in BT.601's matrix,
// their colours, or, where the screen's scaler reads pictures in their own matrix, left in it.
// The graph is made for one picture size, format and colour coding; the video thread makes it
// again when the decoder's output changes.
#pragma once

#include <string>

#include "FFEntryPoints.h"
#include "FFUtils.h"

struct TVideoFilterInput {
  int Width = 0;
  int Height = 0;
  AVPixelFormat Format = AV_PIX_FMT_NONE;
  AVRational TimeBase{1, 25};
  AVRational SampleAspectRatio{0, 1};
  int QuarterTurns = 0;  // the stream's display turns (DisplayQuarterTurns), made before the chain
  TPictureColours Colours;  // how the pictures' colours are coded
  // The pictures go straight to the screen, whose scaler reads them in any matrix
  // (SetScalerSourceMatrix): a change of matrix alone is left to it.
  bool ScreenReadsMatrix = false;
};

class TPlayerFilterGraph {
 public:
  TPlayerFilterGraph() = default;
  ~TPlayerFilterGraph();
  TPlayerFilterGraph(const TPlayerFilterGraph&) = delete;
  TPlayerFilterGraph& operator=(const TPlayerFilterGraph&) = delete;

  // (Re)makes the graph for pictures like `input`. The chain text (the engine's own filters
  // included) runs between the source and the sink, on pictures turned upright, SDR and in
  // BT.601's matrix (SDRFilterText), as the conversion's chain does; with
  // `deinterlace` a deinterlacer comes first, while the lines are still the stored ones. 0, or a
  // negative FFmpeg error code (the graph is then empty).
  int Configure(const TVideoFilterInput& input, const std::string& chain, bool deinterlace,
                int scalerFlags);
  bool Configured() const { return FGraph != nullptr; }
  // The graph was made for pictures of this size, format and colour coding, and leaves the same
  // change of matrix to the screen as one made for `screenReadsMatrix` would.
  bool Accepts(const AVFrame* frame, bool screenReadsMatrix) const;
  // Hands a picture to the graph (the frame is left empty). 0 or a negative FFmpeg error code.
  int Send(AVFrame* frame);
  // The next filtered picture: 0, AVERROR(EAGAIN) when the graph needs more, or an error.
  int Receive(AVFrame* frame);
  void Free();

  // What comes out of the sink.
  AVRational OutputTimeBase() const;
  int OutputWidth() const;
  int OutputHeight() const;
  // The matrix the screen reads the sink's pictures in (SetScalerSourceMatrix):
  // AVCOL_SPC_UNSPECIFIED for BT.601's.
  AVColorSpace OutputMatrix() const { return FOutputMatrix; }

  // The stock filter that stands in for the decoder's own deinterlacing: every second line
  // through a (-1 4 2 4 -1) filter, one picture out per picture in.
  static constexpr const char* DeinterlaceFilter = "pp=fd";

 private:
  int Build(const TVideoFilterInput& input, const std::string& chain, int scalerFlags);

  AVFilterGraph* FGraph = nullptr;
  AVFilterContext* FSource = nullptr;
  AVFilterContext* FSink = nullptr;
  TVideoFilterInput FInput;
  bool FChainEmpty = true;
  AVColorSpace FOutputMatrix = AVCOL_SPC_UNSPECIFIED;
};
