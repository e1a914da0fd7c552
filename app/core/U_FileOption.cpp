#include "U_FileOption.h"

#include "PictureShape.h"
#include "U_Config.h"

void InitFileOption(TFileOption& Option, const QString& FrameSize, TPixelAspect Aspect) {
  Option.Formatid = 1;
  Option.Output.FileExt = ".flv";
  Option.KeepOutputSize = 0;
  Option.SourceFrameSize = FrameSize;
  Option.SourcePixelAspect = Aspect;
  const QSize source = ParseFrameSize(FrameSize);
  const QString output =
      source.isEmpty() ? FrameSize : FrameSizeText(TPictureShape(Option).DefaultOutputSize());
  Option.Brightness = Option.Contrast = Option.Saturation = 0;
  Option.VFlip = Option.HFlip = false;
  Option.Deinterlace = -1;
  Option.SWFData = TSWFData();
  Option.Output.Metadata.Timestamp = 0.0;
  Option.IsMergeGroup = false;
  LoadFormatDefault(Option, output);
}

QSize ParseFrameSize(const QString& Text) {
  const qsizetype x = Text.indexOf(QLatin1Char('x'), 0, Qt::CaseInsensitive);
  if (x < 0) return {0, 0};
  bool okW = false, okH = false;
  const int w = Text.left(x).trimmed().toInt(&okW);
  const int h = Text.mid(x + 1).trimmed().toInt(&okH);
  if (!okW || !okH || w <= 0 || h <= 0) return {0, 0};
  return {w, h};
}
