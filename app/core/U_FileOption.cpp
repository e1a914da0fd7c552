#include "U_FileOption.h"

#include "U_Config.h"

void InitFileOption(TFileOption& Option, const QString& FrameSize) {
  Option.Formatid = 1;
  Option.Output.FileExt = ".flv";
  Option.KeepOutputSize = 0;
  Option.OutputFrameSize = Option.SourceFrameSize = FrameSize;
  Option.Brightness = Option.Contrast = Option.Saturation = 0;
  Option.VFlip = Option.HFlip = false;
  Option.Deinterlace = -1;
  Option.SWFData = TSWFData();
  Option.Output.Metadata.Timestamp = 0.0;
  Option.IsMergeGroup = false;
  LoadFormatDefault(Option, FrameSize);
}
