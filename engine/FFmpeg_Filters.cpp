// The video filter graphs of the output streams: made for the pictures they are fed, and made
// again when those change, fed and drained.
#include "FFmpeg_Private.h"

#include "FilterChainTranslator.h"

using namespace ffmpeg_internal;

int TCustomFFmpeg::ConfigureVideoFilters(TOutputStream& ost, const TInputStream& ist) {
  const int result = BuildVideoGraph(ost, ist, ost.GraphInput, ShownSampleAspect(ist.St, nullptr));
  if (result < 0 || ost.Mirror) return result;  // its pictures are brought to the open encoder's
  AVCodecContext& encoder = *ost.Encoder;
  encoder.width = ff::av_buffersink_get_w(ost.BufferSink);
  encoder.height = ff::av_buffersink_get_h(ost.BufferSink);
  encoder.sample_aspect_ratio =
      ost.FrameAspectRatio == 0
          ? ff::av_buffersink_get_sample_aspect_ratio(ost.BufferSink)
          : ff::av_d2q(ost.FrameAspectRatio * encoder.height / encoder.width, 255);
  ost.St->sample_aspect_ratio = encoder.sample_aspect_ratio;
  return 0;
}

// The stream's graph, made for pictures like `input` (whose pixels have the shape
// `sampleAspect`): the stock filters, then the pictures at the chain's size, the chain, and the
// encoder's pixel format.
int TCustomFFmpeg::BuildVideoGraph(TOutputStream& ost, const TInputStream& ist,
                                   const TVideoGraphInput& input, AVRational sampleAspect) {
  const AVCodecContext& encoder = *Root(ost).Encoder;
  ost.Graph = ff::avfilter_graph_alloc();
  if (!ost.Graph) return AVERROR(ENOMEM);
  ost.GraphInput = input;
  // The graph works on the task's thread alone: the other cores go to the decoder and the
  // encoders, and slice threads beside them wait on preempted slices (one thread scaled 720p to
  // 360p a third faster than one per core).
  ost.Graph->nb_threads = 1;
  const std::string sourceArguments =
      Format("video_size=%dx%d:pix_fmt=%d:time_base=1/%d:pixel_aspect=%d/%d", input.Width,
             input.Height, int(input.Format), AV_TIME_BASE, sampleAspect.num, sampleAspect.den);
  int result = ff::avfilter_graph_create_filter(&ost.BufferSrc, ff::avfilter_get_by_name("buffer"),
                                                "src", sourceArguments.c_str(), nullptr, ost.Graph);
  if (result < 0) return result;
  result = ff::avfilter_graph_create_filter(&ost.BufferSink, ff::avfilter_get_by_name("buffersink"),
                                            "out", nullptr, nullptr, ost.Graph);
  if (result < 0) return result;
  const AVPixelFormat format = encoder.pix_fmt;
  result = ff::av_opt_set_bin(ost.BufferSink, "pix_fmts", reinterpret_cast<const uint8_t*>(&format),
                              sizeof format, AV_OPT_SEARCH_CHILDREN);
  if (result < 0) return result;
  AVFilterContext* last = ost.BufferSrc;
  // Before the chain, so that what it lays over the picture keeps its own colours.
  const std::string stock =
      JoinFilterChains({StockVideoFilters(ist, input), ChainInputFilters(ost, ist, input)});
  if (!stock.empty()) {
    result = LinkStockFilters(ost.Graph, stock, last);
    if (result < 0) return result;
  }
  result = ff::av_opt_set(ost.Graph, "scale_sws_opts",
                          Format("flags=0x%X", unsigned(ost.SwsFlags)).c_str(), 0);
  if (result < 0) return result;
  result = ost.VideoFilters.empty()
               ? ff::avfilter_link(last, 0, ost.BufferSink, 0)
               : LinkFilterChain(ost.Graph, ost.VideoFilters, last, ost.BufferSink);
  if (result >= 0) result = ff::avfilter_graph_config(ost.Graph, nullptr);
  if (result < 0) return result;
  if (!ost.FilterFrame && !(ost.FilterFrame = ff::av_frame_alloc())) return AVERROR(ENOMEM);
  return 0;
}

// The filters that bring the pictures, upright and in the outputs' colours, to the size the
// chain is made for. The first graph sets that size: the encoder's when one was asked for (the
// pictures are scaled to it), else the pictures' own. A later input of a join keeps its own size
// into the chain, which may fit it to the output with its aspect kept; stretched to the first
// input's size first, it could not. A graph made again for pictures of another size fits them
// into the chain's size whole, centred, with their shape kept, so that the chain (its crop, what
// it lays over the picture) works on them as on the first.
std::string TCustomFFmpeg::ChainInputFilters(TOutputStream& ost, const TInputStream& ist,
                                             const TVideoGraphInput& input) {
  const AVCodecContext& encoder = *Root(ost).Encoder;
  const std::string flags = Format("flags=0x%X", unsigned(ost.SwsFlags));
  if (ost.ChainWidth == 0) {
    SetChainShape(ost, ist, input);
    if (ost.Mirror || (encoder.width == ost.ChainWidth && encoder.height == ost.ChainHeight))
      return "";
    ost.ChainWidth = encoder.width;
    ost.ChainHeight = encoder.height;
    return Format("scale=w=%d:h=%d:", encoder.width, encoder.height) + flags;
  }
  int width = input.Width;
  int height = input.Height;
  DisplayedSize(DisplayQuarterTurns(ist.St), width, height);
  if (width == ost.ChainWidth && height == ost.ChainHeight) return "";
  // In whole numbers, since the filter text is read the same in every locale: the pictures are
  // wider than the chain's when dar * den >= num.
  const AVRational aspect = ost.ChainAspect;
  const AVRational sar = ff::av_div_q(aspect, AVRational{ost.ChainWidth, ost.ChainHeight});
  const std::string wider = Format("gte(dar*%d,%d)", aspect.den, aspect.num);
  return Format(
             "scale=w='if(%s,%d,max(2,2*round(%d*dar*%d/%d/2)))':"
             "h='if(%s,max(2,2*round(%d*%d/(dar*%d)/2)),%d)':",
             wider.c_str(), ost.ChainWidth, ost.ChainWidth, aspect.den, aspect.num, wider.c_str(),
             ost.ChainHeight, aspect.num, aspect.den, ost.ChainHeight) +
         flags +
         Format(",pad=%d:%d:(ow-iw)/2:(oh-ih)/2,setsar=%d/%d", ost.ChainWidth, ost.ChainHeight,
                sar.num, sar.den);
}

// The chain gets the pictures as shown: upright, their pixels of their own shape.
void TCustomFFmpeg::SetChainShape(TOutputStream& ost, const TInputStream& ist,
                                  const TVideoGraphInput& input) {
  const int turns = DisplayQuarterTurns(ist.St);
  int width = input.Width;
  int height = input.Height;
  DisplayedSize(turns, width, height);
  AVRational sar = ShownSampleAspect(ist.St, nullptr);
  if (sar.num <= 0 || sar.den <= 0) sar = AVRational{1, 1};
  if (turns & 1) std::swap(sar.num, sar.den);
  ost.ChainAspect = ff::av_mul_q(AVRational{width, height}, sar);
  ost.ChainWidth = width;
  ost.ChainHeight = height;
}

// The graph is made for pictures of one size, pixel format and colour coding; a picture that
// differs (a recording joined from pieces, a stream whose coding changes partway) gets a graph
// made again for it, once what the old one holds has gone out. A stream that needed none so far
// gets one. The output keeps its size.
void TCustomFFmpeg::FollowPictures(TOutputStream& ost, TInputStream& ist, const AVFrame& picture,
                                   AVRational sampleAspect) {
  const TVideoGraphInput input{picture.width, picture.height, AVPixelFormat(picture.format),
                               PictureColours(picture)};
  if (input == ost.GraphInput) return;
  const TVideoGraphInput old = ost.GraphInput;
  if (input.Width != old.Width || input.Height != old.Height || input.Format != old.Format)
    LogFmt(llInfo, "Input stream #%d.%d frame changed from size:%dx%d fmt:%s to size:%dx%d fmt:%s",
           ist.FileIndex, ist.St->index, old.Width, old.Height, PixelFormatName(old.Format),
           input.Width, input.Height, PixelFormatName(input.Format));
  if (ost.Graph) {
    // Draining sets the stream's clock to the old pictures' times; the new one keeps its own.
    const int64_t pts = ist.Pts;
    if (ff::av_buffersrc_add_frame_flags(ost.BufferSrc, nullptr, 0) >= 0) DrainVideoGraph(ost, ist);
    ist.Pts = pts;
    ff::avfilter_graph_free(&ost.Graph);
  } else {
    SetChainShape(ost, ist, old);
  }
  const int result = BuildVideoGraph(ost, ist, input, sampleAspect);
  if (result < 0) throw FFmpegException(AVErrorText("Error opening filters", result));
}

// Pushes the picture into the graph of every output stream it feeds, then writes what each
// graph gives out; streams without a graph take the picture as it is.
void TCustomFFmpeg::FeedVideoOutputs(TInputStream& ist, int istIndex, AVFrame* picture) {
  const AVRational sar = ShownSampleAspect(ist.St, picture);
  for (TOutputStream* ost : FOutputStreams) {
    if (ost->SourceIndex != istIndex || !ost->EncodingNeeded) continue;
    FollowPictures(*ost, ist, *picture, sar);
    if (!ost->Graph) {
      DoVideoOut(*ost, ist, picture);
      continue;
    }
    const int64_t pts = picture->pts;
    const AVRational frameSar = picture->sample_aspect_ratio;
    picture->pts = ist.Pts;
    picture->sample_aspect_ratio = sar;
    const int result =
        ff::av_buffersrc_add_frame_flags(ost->BufferSrc, picture, AV_BUFFERSRC_FLAG_KEEP_REF);
    picture->pts = pts;
    picture->sample_aspect_ratio = frameSar;
    if (result < 0) throw FFmpegException(AVErrorText("Error while feeding the filters", result));
    DrainVideoGraph(*ost, ist);
  }
}

// Writes every picture the graph has ready; each one's time becomes the stream's clock.
void TCustomFFmpeg::DrainVideoGraph(TOutputStream& ost, TInputStream& ist) {
  while (!Aborting) {
    const int result = ff::av_buffersink_get_frame(ost.BufferSink, ost.FilterFrame);
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
    if (result < 0) throw FFmpegException(AVErrorText("Error while filtering", result));
    if (ost.FilterFrame->pts != AV_NOPTS_VALUE)
      ist.Pts =
          ToMicroseconds(ost.FilterFrame->pts, ff::av_buffersink_get_time_base(ost.BufferSink));
    try {
      DoVideoOut(ost, ist, ost.FilterFrame);
    } catch (...) {
      ff::av_frame_unref(ost.FilterFrame);
      throw;
    }
    ff::av_frame_unref(ost.FilterFrame);
  }
}

void TCustomFFmpeg::DrainVideoFilters(TInputStream& ist, int istIndex) {
  for (TOutputStream* ost : FOutputStreams) {
    if (ost->SourceIndex != istIndex || !ost->Graph || !ost->BufferSrc) continue;
    if (ff::av_buffersrc_add_frame_flags(ost->BufferSrc, nullptr, 0) >= 0)
      DrainVideoGraph(*ost, ist);
  }
}
