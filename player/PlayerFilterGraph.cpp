#include "PlayerFilterGraph.h"

#include "FilterChainTranslator.h"

TPlayerFilterGraph::~TPlayerFilterGraph() { Free(); }

void TPlayerFilterGraph::Free() {
  if (FGraph) ff::avfilter_graph_free(&FGraph);
  FGraph = nullptr;
  FSource = nullptr;
  FSink = nullptr;
}

namespace {

// The change of matrix left to the screen's scaler, which makes it for nothing on its way: where
// the screen reads the pictures' matrix, nothing in the graph reads their colours after the
// change (the caller's chain is written for BT.601's, as the conversion's is) and the change is
// one of matrix alone. AVCOL_SPC_UNSPECIFIED where the graph makes it, or none is needed.
AVColorSpace MatrixLeftToScreen(const TVideoFilterInput& input, bool chainEmpty) {
  if (!input.ScreenReadsMatrix || !chainEmpty || HighDynamicRange(input.Colours.Transfer))
    return AVCOL_SPC_UNSPECIFIED;
  // HD is HD either way up: the stored size tells as the turned one does.
  return RecodedYCbCrMatrix(input.Format, input.Colours.Matrix, input.Width, input.Height);
}

std::string RationalText(AVRational value) {
  return std::to_string(value.num) + "/" + std::to_string(value.den);
}

}  // namespace

int TPlayerFilterGraph::Configure(const TVideoFilterInput& input, const std::string& chain,
                                  bool deinterlace, int scalerFlags) {
  Free();
  int width = input.Width;
  int height = input.Height;
  DisplayedSize(input.QuarterTurns, width, height);
  FChainEmpty = chain.empty();
  FOutputMatrix = MatrixLeftToScreen(input, FChainEmpty);
  const std::string colours =
      FOutputMatrix == AVCOL_SPC_UNSPECIFIED
          ? SDRFilterText(input.Format, input.Colours, width, height)
          : "";
  const std::string text =
      JoinFilterChains({deinterlace ? DeinterlaceFilter : "", UprightFilterText(input.QuarterTurns),
                        colours, chain});
  const int result = Build(input, text, scalerFlags);
  if (result < 0) Free();
  return result;
}

int TPlayerFilterGraph::Build(const TVideoFilterInput& input, const std::string& chain,
                              int scalerFlags) {
  FGraph = ff::avfilter_graph_alloc();
  if (!FGraph) return AVERROR(ENOMEM);
  FInput = input;
  int result =
      ff::av_opt_set(FGraph, "scale_sws_opts", ("flags=" + std::to_string(scalerFlags)).c_str(), 0);
  if (result < 0) return result;
  const AVRational aspect = input.SampleAspectRatio.num > 0 && input.SampleAspectRatio.den > 0
                                ? input.SampleAspectRatio
                                : AVRational{0, 1};
  const std::string sourceArguments =
      "video_size=" + std::to_string(input.Width) + "x" + std::to_string(input.Height) +
      ":pix_fmt=" + std::to_string(int(input.Format)) +
      ":time_base=" + RationalText(input.TimeBase) + ":pixel_aspect=" + RationalText(aspect);
  result = ff::avfilter_graph_create_filter(&FSource, ff::avfilter_get_by_name("buffer"), "src",
                                            sourceArguments.c_str(), nullptr, FGraph);
  if (result < 0) return result;
  result = ff::avfilter_graph_create_filter(&FSink, ff::avfilter_get_by_name("buffersink"), "out",
                                            nullptr, nullptr, FGraph);
  if (result < 0) return result;
  // Without a list the sink takes any format, and the overlays take only this one.
  const int formats[] = {AV_PIX_FMT_YUV420P};
  result = ff::av_opt_set_bin(FSink, "pix_fmts", reinterpret_cast<const uint8_t*>(formats),
                              sizeof formats, AV_OPT_SEARCH_CHILDREN);
  if (result < 0) return result;
  if (chain.empty()) {
    result = ff::avfilter_link(FSource, 0, FSink, 0);
  } else {
    result = LinkFilterChain(FGraph, chain, FSource, FSink);
  }
  if (result < 0) return result;
  return ff::avfilter_graph_config(FGraph, nullptr);
}

bool TPlayerFilterGraph::Accepts(const AVFrame* frame, bool screenReadsMatrix) const {
  if (!FGraph || frame->width != FInput.Width || frame->height != FInput.Height ||
      frame->format != FInput.Format || !(PictureColours(*frame) == FInput.Colours))
    return false;
  TVideoFilterInput wanted = FInput;
  wanted.ScreenReadsMatrix = screenReadsMatrix;
  return MatrixLeftToScreen(wanted, FChainEmpty) == FOutputMatrix;
}

int TPlayerFilterGraph::Send(AVFrame* frame) {
  return ff::av_buffersrc_add_frame_flags(FSource, frame, 0);
}

int TPlayerFilterGraph::Receive(AVFrame* frame) {
  return ff::av_buffersink_get_frame(FSink, frame);
}

AVRational TPlayerFilterGraph::OutputTimeBase() const {
  return ff::av_buffersink_get_time_base(FSink);
}

int TPlayerFilterGraph::OutputWidth() const { return ff::av_buffersink_get_w(FSink); }

int TPlayerFilterGraph::OutputHeight() const { return ff::av_buffersink_get_h(FSink); }
