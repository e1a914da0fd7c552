#include "FFmpeg_Private.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <system_error>

using namespace ffmpeg_internal;

// ---- Option vocabulary ----

const std::vector<TCustomFFmpeg::TOptionEntry>& TCustomFFmpeg::OptionTable() {
  using T = TCustomFFmpeg;
  constexpr int Video = AVMEDIA_TYPE_VIDEO, Audio = AVMEDIA_TYPE_AUDIO, Data = AVMEDIA_TYPE_DATA,
                Subtitle = AVMEDIA_TYPE_SUBTITLE;
  const TOptionHandler none = [](T& t, S n, S) { t.OptNoOperation(n); };
  const TOptionHandler map = [](T& t, S, S v) { t.OptMapMetadata(v); };
  const TOptionHandler bitrate = [](T& t, S n, S v) { t.OptBitrate(n, v); };
  const TOptionHandler codec = [](T& t, S n, S v) { t.OptCodec(n, v); };
  const TOptionHandler tag = [](T& t, S n, S v) { t.OptCodecTag(n, v); };
  const TOptionHandler newStream = [](T& t, S n, S) { t.NewStream(n); };
  const TOptionHandler filters = [](T& t, S, S v) { t.OptVideoFilters(v); };
  const TOptionHandler bsf = [](T& t, S n, S v) { t.OptBitstreamFilter(n, v); };
  const TOptionHandler preset = [](T& t, S, S v) { t.OptPresetFile(v); };
  const TOptionHandler crop = [](T&, S, S) -> void {
    throw FFmpegException("Removed, use the crop filter instead");
  };
  const TOptionHandler pad = [](T&, S, S) -> void {
    throw FFmpegException("Removed, use the pad filter instead");
  };
  static const std::vector<TOptionEntry> table = {
      {"L", none},
      {"h", none},
      {"version", none},
      {"formats", none},
      {"codecs", none},
      {"bsfs", none},
      {"protocols", none},
      {"filters", none},
      {"loglevel", [](T&, S, S v) { FFLogger().SetLogLevelByName(v); }},
      {"f",
       [](T& t, S, S v) {
         if (!v.empty()) t.FPending.Format = v;
       }},
      {"i", none},
      {"y", none},
      {"map", [](T& t, S, S v) { t.OptMap(v); }},
      {"map_meta_data",
       [](T& t, S, S v) {
         t.Log(llWarning,
               "-map_meta_data is deprecated and will be removed soon. Use -map_metadata instead.");
         t.OptMapMetadata(v);
       }},
      {"map_metadata", map},
      {"map_chapters", [](T& t, S, S v) { t.OptMapChapters(v); }},
      {"t", [](T& t, S n, S v) { t.SetRecordingTime(t.ParseTimeOption(n, v, true)); }},
      {"fs", [](T& t, S, S v) { t.FSettings.LimitFileSize = OptionToInt64(v); }},
      {"ss", [](T& t, S n, S v) { t.SetStartTime(t.ParseTimeOption(n, v, true)); }},
      {"itsoffset",
       [](T& t, S n, S v) { t.FSettings.InputTsOffset = t.ParseTimeOption(n, v, true); }},
      {"itsscale", [](T& t, S, S v) { t.OptInputTsScale(v); }},
      {"timestamp",
       [](T& t, S n, S v) { t.SetRecordingTimestamp(t.ParseTimeOption(n, v, false) / 1000000); }},
      {"metadata", [](T& t, S, S v) { t.OptMetadata(v); }},
      {"dframes", [](T& t, S, S v) { t.FSettings.MaxFrames[Data] = OptionToInt(v); }},
      {"benchmark", none},
      {"timelimit",
       [](T& t, S, S) { t.Log(llWarning, "Warning: -timelimit not implemented on Windows"); }},
      {"dump", [](T& t, S, S v) { t.FSettings.DoPktDump = Flag(v); }},
      {"hex", [](T& t, S, S v) { t.FSettings.DoHexDump = Flag(v); }},
      {"re", [](T& t, S, S v) { t.FSettings.RateEmu = Flag(v); }},
      {"loop_input", [](T& t, S, S v) { t.FSettings.LoopInput = Flag(v); }},
      {"loop_output", [](T& t, S, S v) { t.FSettings.LoopOutput = OptionToInt(v); }},
      {"v", [](T& t, S, S v) { t.SetVerbose(OptionToInt(v)); }},
      {"target", [](T& t, S, S v) { t.OptTarget(v, ""); }},
      {"threads", [](T& t, S, S v) { t.OptThreads(v); }},
      {"vsync", [](T& t, S, S v) { t.FSettings.VideoSyncMethod = OptionToInt(v); }},
      {"async", [](T& t, S, S v) { t.FSettings.AudioSyncMethod = OptionToInt(v); }},
      {"adrift_threshold",
       [](T& t, S, S v) { t.FSettings.AudioDriftThreshold = OptionToFloat(v); }},
      {"copyts", [](T& t, S, S v) { t.FSettings.CopyTs = Flag(v); }},
      {"copytb", [](T& t, S, S v) { t.FSettings.CopyTb = Flag(v); }},
      {"shortest", [](T& t, S, S v) { t.FSettings.Shortest = Flag(v); }},
      {"dts_delta_threshold",
       [](T& t, S, S v) { t.FSettings.DtsDeltaThreshold = OptionToFloat(v); }},
      {"programid", [](T& t, S, S v) { t.SetProgramID(OptionToInt(v)); }},
      {"xerror", [](T& t, S, S v) { t.FSettings.ExitOnError = Flag(v); }},
      {"copyinkf", [](T& t, S, S v) { t.FSettings.CopyInitialNonKeyFrames = OptionToInt(v); }},
      {"b", bitrate},
      {"vb", bitrate},
      {"vframes", [](T& t, S, S v) { t.FSettings.MaxFrames[Video] = OptionToInt(v); }},
      {"r", [](T& t, S, S v) { t.OptFrameRate(v); }},
      {"s", [](T& t, S, S v) { t.OptFrameSize(v); }},
      {"aspect", [](T& t, S, S v) { t.OptFrameAspectRatio(v); }},
      {"pix_fmt", [](T& t, S, S v) { t.OptPixelFormat(v); }},
      {"bits_per_raw_sample",
       [](T& t, S, S v) { t.FSettings.FrameBitsPerRawSample = OptionToInt(v); }},
      {"croptop", crop},
      {"cropbottom", crop},
      {"cropleft", crop},
      {"cropright", crop},
      {"padtop", pad},
      {"padbottom", pad},
      {"padleft", pad},
      {"padright", pad},
      {"padcolor", pad},
      {"intra", [](T& t, S, S v) { t.FSettings.IntraOnly = Flag(v); }},
      {"vn", [](T& t, S, S v) { t.FPending.Kinds[Video].Disabled = Flag(v); }},
      {"vdt", [](T& t, S, S v) { t.FSettings.VideoDiscard = OptionToInt(v); }},
      {"qscale", [](T& t, S, S v) { t.OptQScale(v); }},
      {"rc_override", [](T& t, S, S v) { t.FSettings.RcOverride = v; }},
      {"vcodec", codec},
      {"me_threshold", [](T& t, S, S v) { t.FSettings.MeThreshold = OptionToInt(v); }},
      {"sameq", [](T& t, S, S v) { t.FSettings.SameQuality = Flag(v); }},
      {"deinterlace", [](T& t, S, S v) { t.FSettings.DoDeinterlace = Flag(v); }},
      {"psnr", [](T& t, S, S v) { t.FSettings.DoPSNR = Flag(v); }},
      {"pass", [](T& t, S, S v) { t.OptPass(v); }},
      {"passlogfile", [](T& t, S, S v) { t.FSettings.PassLogFileName = v; }},
      {"vstats", [](T& t, S, S v) { t.OptVStats(v); }},
      {"vstats_file", [](T& t, S, S v) { t.FSettings.VStatsFileName = v; }},
      {"vhook", [](T& t, S, S v) { t.OptVideoHook(v); }},
      {"vfilters", filters},
      {"vf", filters},
      {"intra_matrix", [](T& t, S, S v) { t.OptMatrix(t.FSettings.IntraMatrix, v); }},
      {"inter_matrix", [](T& t, S, S v) { t.OptMatrix(t.FSettings.InterMatrix, v); }},
      {"top", [](T& t, S, S v) { t.FSettings.TopFieldFirst = OptionToInt(v); }},
      {"dc", [](T& t, S, S v) { t.FSettings.IntraDcPrecision = OptionToInt(v); }},
      {"vtag", tag},
      {"newvideo", newStream},
      {"vlang", [](T& t, S, S v) { t.FPending.Kinds[Video].Language = v; }},
      {"qphist", [](T& t, S, S v) { t.FSettings.QpHist = Flag(v); }},
      {"force_fps", [](T& t, S, S v) { t.FSettings.ForceFps = Flag(v); }},
      {"streamid", [](T& t, S n, S v) { t.OptStreamID(n, v); }},
      {"force_key_frames", [](T& t, S, S v) { t.FPending.ForcedKeyFrames = v; }},
      {"ab", bitrate},
      {"aframes", [](T& t, S, S v) { t.FSettings.MaxFrames[Audio] = OptionToInt(v); }},
      {"aq", [](T& t, S, S v) { t.FSettings.AudioQScale = OptionToFloat(v); }},
      {"ar", [](T& t, S, S v) { t.OptAudioRate(OptionToInt(v)); }},
      {"ac", [](T& t, S, S v) { t.OptAudioChannels(OptionToInt(v)); }},
      {"an", [](T& t, S, S v) { t.FPending.Kinds[Audio].Disabled = Flag(v); }},
      {"acodec", codec},
      {"atag", tag},
      {"vol", [](T& t, S, S v) { t.SetVolume(OptionToInt(v)); }},
      {"newaudio", newStream},
      {"alang", [](T& t, S, S v) { t.FPending.Kinds[Audio].Language = v; }},
      {"sample_fmt", [](T& t, S, S v) { t.OptSampleFormat(v); }},
      {"sn", [](T& t, S, S v) { t.FPending.Kinds[Subtitle].Disabled = Flag(v); }},
      {"scodec", codec},
      {"newsubtitle", newStream},
      {"slang", [](T& t, S, S v) { t.FPending.Kinds[Subtitle].Language = v; }},
      {"stag", tag},
      {"vc", [](T& t, S, S v) { t.FSettings.VideoChannel = OptionToInt(v); }},
      {"tvstd", [](T& t, S, S v) { t.FSettings.VideoStandard = v; }},
      {"isync", [](T& t, S, S v) { t.FSettings.InputSync = Flag(v); }},
      {"muxdelay", [](T& t, S, S v) { t.SetMuxDelay(OptionToFloat(v)); }},
      {"muxpreload", [](T& t, S, S v) { t.SetMuxPreload(OptionToFloat(v)); }},
      {"absf", bsf},
      {"vbsf", bsf},
      {"sbsf", bsf},
      {"apre", preset},
      {"vpre", preset},
      {"spre", preset},
      {"fpre", preset},
      {"dcodec", codec},
  };
  return table;
}

std::vector<std::string> TCustomFFmpeg::OptionNames() {
  std::vector<std::string> names;
  for (const TOptionEntry& entry : OptionTable()) names.emplace_back(entry.Name);
  return names;
}

void TCustomFFmpeg::ParseOption(S name, S value) {
  for (const TOptionEntry& entry : OptionTable()) {
    if (name == entry.Name) {
      entry.Handler(*this, name, value);
      return;
    }
  }
  SetGenericOption(name, value);
}

bool TCustomFFmpeg::SetGenericOption(S name, S value) {
  if (OptDefault(FOptionContexts, name, value)) return true;
  if (RaiseOptionErrors) throw FFmpegException(LastOptionError());
  return false;
}

void TCustomFFmpeg::OptNoOperation(S name) { Log(llInfo, "Do nothing: option - " + name); }

void TCustomFFmpeg::OptBitrate(S name, S value) {
  if (!SetGenericOption(name, value)) return;
  const int kind = name[0] == 'a' ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO;
  if (FOptionContexts.CodecContexts[kind]->bit_rate < 1000)
    Log(llWarning,
        "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
}

void TCustomFFmpeg::OptPresetFile(S fileName) {
  std::ifstream file(fileName, std::ios::binary);
  if (!WideFileExists(fileName) || !file)
    throw FFmpegException(Format("Preset file \"%s\" not found", fileName.c_str()));
  std::stringstream content;
  content << file.rdbuf();
  std::string text = content.str();
  std::replace(text.begin(), text.end(), '\r', '\n');
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const std::string trimmed(Trim(line));
    if (!trimmed.empty() && trimmed[0] != '#') ApplyPresetLine(fileName, trimmed);
  }
}

void TCustomFFmpeg::ApplyPresetLine(S fileName, S line) {
  const size_t equals = line.find('=');
  const std::string name = line.substr(0, equals);
  const std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
  if (name.empty() || value.empty())
    throw FFmpegException(Format("%s: Invalid syntax: \"%s\"", fileName.c_str(), line.c_str()));
  try {
    ParseOption(name, value);
  } catch (const std::exception& e) {
    const std::string text =
        Format("%s\r\n%s: Invalid option or argument: \"%s\", parsed as \"%s\" = \"%s\"", e.what(),
               fileName.c_str(), line.c_str(), name.c_str(), value.c_str());
    if (RaiseOptionErrors) throw FFmpegException(text);
    Log(llWarning, text);
  }
}

// ---- Option routines ----

namespace ffmpeg_internal {

// A C integer at the start of the text (as strtol reads it); the text moves past it.
long LeadingInteger(const char*& text) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 0);
  text = end;
  return value;
}

AVMediaType KindOfOption(S name, const char* const names[4]) {
  static const AVMediaType kinds[4] = {AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_VIDEO,
                                       AVMEDIA_TYPE_SUBTITLE, AVMEDIA_TYPE_DATA};
  for (int n = 0; n < 4; ++n)
    if (names[n] && name == names[n]) return kinds[n];
  return AVMEDIA_TYPE_UNKNOWN;
}

}  // namespace ffmpeg_internal

namespace {

void SkipOne(const char*& text) {
  if (*text) ++text;
}

}  // namespace

void TCustomFFmpeg::OptCodec(S name, S value) {
  static const char* const names[4] = {"acodec", "vcodec", "scodec", "dcodec"};
  const AVMediaType kind = KindOfOption(name, names);
  if (kind == AVMEDIA_TYPE_UNKNOWN)
    throw FFmpegException(Format("Invalid parameter \"%s\"", name.c_str()));
  TKindSettings& settings = FPending.Kinds[kind];
  settings.StreamCopy = value == "copy";
  settings.CodecName = settings.StreamCopy ? std::string() : value;
}

void TCustomFFmpeg::OptCodecTag(S name, S value) {
  static const char* const names[4] = {"atag", "vtag", "stag", nullptr};
  const AVMediaType kind = KindOfOption(name, names);
  if (kind == AVMEDIA_TYPE_UNKNOWN)
    throw FFmpegException(Format("Invalid tag parmeter %s", name.c_str()));
  uint32_t tag = 0;
  try {
    tag = uint32_t(OptionToInt64(value));
  } catch (const std::invalid_argument&) {
    if (value.size() != 4) throw FFmpegException("tag parameter must be 4 chars or int value");
    for (int n = 3; n >= 0; --n) tag = tag << 8 | uint8_t(value[size_t(n)]);
  }
  FPending.Kinds[kind].CodecTag = tag;
}

void TCustomFFmpeg::OptFrameRate(S value) {
  if (ff::av_parse_video_rate(&FPending.FrameRate, value.c_str()) < 0)
    throw FFmpegException("Incorrect frame rate");
}

void TCustomFFmpeg::OptFrameSize(S value) {
  if (ff::av_parse_video_size(&FPending.FrameWidth, &FPending.FrameHeight, value.c_str()) < 0)
    throw FFmpegException("Incorrect frame size");
}

void TCustomFFmpeg::OptFrameAspectRatio(S value) {
  double ratio = 0;
  try {
    const size_t colon = value.find(':');
    if (colon == std::string::npos) {
      ratio = OptionToFloat(value);
    } else {
      const double width = OptionToFloat(value.substr(0, colon));
      const double height = OptionToFloat(value.substr(colon + 1));
      if (width != 0 && height != 0) ratio = width / height;
    }
  } catch (const std::invalid_argument&) {
    ratio = 0;
  }
  if (!(ratio > 0) || std::isinf(ratio))
    throw FFmpegException("Incorrect aspect ratio specification.");
  FPending.FrameAspectRatio = ratio;
}

void TCustomFFmpeg::OptVideoFilters(S value) {
  if (value.empty()) return;
  FPending.VideoFilters = value;
  FSettings.UseFilters = true;
}

void TCustomFFmpeg::OptPixelFormat(S value) {
  if (value == "list") {
    char line[128];
    for (int format = -1; format < AV_PIX_FMT_NB; ++format)
      Log(llInfo, ff::av_get_pix_fmt_string(line, sizeof line, AVPixelFormat(format)));
    return;
  }
  const AVPixelFormat format = ff::av_get_pix_fmt(value.c_str());
  if (format == AV_PIX_FMT_NONE)
    throw FFmpegException(Format("Unknown pixel format requested: %s", value.c_str()));
  FPending.FramePixFmt = format;
}

void TCustomFFmpeg::OptSampleFormat(S value) {
  if (value == "list") {
    char line[128];
    for (int format = -1; format < AV_SAMPLE_FMT_NB; ++format)
      Log(llInfo, ff::av_get_sample_fmt_string(line, sizeof line, AVSampleFormat(format)));
    return;
  }
  const AVSampleFormat format = ff::av_get_sample_fmt(value.c_str());
  if (format == AV_SAMPLE_FMT_NONE)
    throw FFmpegException(Format("Invalid sample format \"%s\"", value.c_str()));
  FPending.AudioSampleFmt = format;
}

void TCustomFFmpeg::OptQScale(S value) {
  const double quality = OptionToFloat(value);
  if (!(quality > 0 && quality <= 255)) throw FFmpegException("qscale must be > 0.0 and <= 255");
  FSettings.VideoQScale = quality;
}

void TCustomFFmpeg::OptPass(S value) {
  const int pass = OptionToInt(value);
  if (pass != 1 && pass != 2) throw FFmpegException("pass number can be only 1 or 2");
  FSettings.DoPass = pass;
}

void TCustomFFmpeg::OptMatrix(std::vector<uint16_t>& matrix, S value) {
  std::vector<uint16_t> coefficients(64);
  size_t position = 0;
  for (int n = 0;; ++n) {
    const char* start = value.c_str() + position;
    char* end = nullptr;
    const long coefficient = std::strtol(start, &end, 0);
    if (end == start || coefficient < 1 || coefficient > UINT16_MAX)
      throw FFmpegException(Format("Syntax error in matrix \"%s\" at coeff %d", value.c_str(), n));
    coefficients[size_t(n)] = uint16_t(coefficient);
    if (n == 63) break;
    position = value.find(',', size_t(end - value.c_str()));
    if (position == std::string::npos)
      throw FFmpegException(Format("Syntax error in matrix \"%s\" at coeff %d", value.c_str(), n));
    ++position;
  }
  matrix = std::move(coefficients);
}

void TCustomFFmpeg::OptVStats(S value) {
  if (!Flag(value)) return;
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  const std::string folder =
      error ? std::string() : WideIncludeTrailingBackslash(program.parent_path().string());
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char time[16];
  std::strftime(time, sizeof time, "%H%M%S", &local);
  FSettings.VStatsFileName = Format("%svstats_%s.log", folder.c_str(), time);
}

// "library|arg|arg" when the text holds a "|", else words separated by blanks.
void TCustomFFmpeg::OptVideoHook(S value) {
  constexpr size_t MaxWords = 254;
  const char separator = value.find('|') != std::string::npos ? '|' : ' ';
  std::vector<std::string> words;
  std::istringstream text(value);
  for (std::string word; words.size() < MaxWords && std::getline(text, word, separator);)
    if (!word.empty()) words.push_back(word);
  if (words.empty() || FFrameHooks.FrameHookAdd(words) < 0)
    throw FFmpegException("Failed to add video hook function: " + value);
}

void TCustomFFmpeg::OptBitstreamFilter(S name, S value) {
  static const char* const names[4] = {"absf", "vbsf", "sbsf", nullptr};
  const AVMediaType kind = KindOfOption(name, names);
  const size_t equals = value.find('=');
  const std::string filterName = value.substr(0, equals);
  TBitstreamFilterSpec spec;
  spec.Filter = ff::av_bsf_get_by_name(filterName.c_str());
  if (!spec.Filter)
    throw FFmpegException(Format("Unknown bitstream filter %s", filterName.c_str()));
  if (equals != std::string::npos) spec.Arguments = value.substr(equals + 1);
  FPending.Kinds[kind].BitstreamFilters.push_back(std::move(spec));
}

void TCustomFFmpeg::OptAudioRate(int value) {
  if (value > 0) FPending.AudioSampleRate = value;
}

void TCustomFFmpeg::OptAudioChannels(int value) {
  if (value > 0) FPending.AudioChannels = value;
}

void TCustomFFmpeg::OptThreads(S value) {
  FSettings.ThreadCount = OptionToInt(value);
  if (FSettings.Verbose >= 0)
    Log(llVerbose,
        "Warning: if the ffmpeg libraries were not compiled with thread support, it would be "
        "using thread emulation.");
}

void TCustomFFmpeg::OptMetadata(S value) {
  const size_t equals = value.find('=');
  if (equals == std::string::npos) throw FFmpegException("Missing =");
  if (equals == 0) throw FFmpegException("wrong parameter of metadata");
  SetMetadata(value.substr(0, equals), value.substr(equals + 1));
}

// "file.stream[:syncfile.syncstream]".
void TCustomFFmpeg::OptMap(S value) {
  TStreamMap map;
  const char* text = value.c_str();
  map.FileIndex = int(LeadingInteger(text));
  SkipOne(text);
  map.StreamIndex = int(LeadingInteger(text));
  map.SyncFileIndex = map.FileIndex;
  map.SyncStreamIndex = map.StreamIndex;
  if (*text) {
    ++text;
    map.SyncFileIndex = int(LeadingInteger(text));
    SkipOne(text);
    map.SyncStreamIndex = int(LeadingInteger(text));
  }
  FStreamMaps.push_back(map);
}

namespace {

// ",t[index]" after a file number; no comma means global.
TMetadataSpec ParseMetadataSpec(const char*& text) {
  TMetadataSpec spec;
  spec.File = int(LeadingInteger(text));
  if (*text != ',') return spec;
  spec.Type = *++text;
  switch (spec.Type) {
    case 'g':
      SkipOne(text);
      break;
    case 's':
    case 'c':
    case 'p':
      spec.Index = int(LeadingInteger(++text));
      break;
    default:
      throw FFmpegException(Format("Invalid metadata type %c.", spec.Type));
  }
  return spec;
}

}  // namespace

// "outfile[,type[index]]:infile[,type[index]]". A map of a kind ends its automatic copying.
void TCustomFFmpeg::OptMapMetadata(S value) {
  const char* text = value.c_str();
  TMetadataMap map;
  map.Output = ParseMetadataSpec(text);
  SkipOne(text);
  map.Input = ParseMetadataSpec(text);
  for (const char type : {map.Output.Type, map.Input.Type}) {
    if (type == 'g') FMetadataGlobalAutoCopy = false;
    if (type == 's') FMetadataStreamsAutoCopy = false;
    if (type == 'c') FMetadataChaptersAutoCopy = false;
  }
  FMetadataMaps.push_back(map);
}

// "outfile:infile".
void TCustomFFmpeg::OptMapChapters(S value) {
  const char* text = value.c_str();
  TChapterMap map;
  map.OutFile = int(LeadingInteger(text));
  SkipOne(text);
  map.InFile = int(LeadingInteger(text));
  FChapterMaps.push_back(map);
}

// "stream:scale" for the next input.
void TCustomFFmpeg::OptInputTsScale(S value) {
  const size_t colon = value.find(':');
  const int stream = OptionToInt(value.substr(0, colon));
  const double scale = colon == std::string::npos ? 0 : OptionToFloat(value.substr(colon + 1));
  if (stream < 0 || stream >= MaxStreams)
    throw FFmpegException(Format("stream index over MAX_STREAMS(%d)", MaxStreams));
  GrowArray(FPending.InputTsScale, size_t(stream) + 1);
  FPending.InputTsScale[size_t(stream)] = scale;
}

void TCustomFFmpeg::OptStreamID(S name, S value) {
  const size_t colon = value.find(':');
  int index = -1, id = 0;
  try {
    if (colon != std::string::npos) {
      index = OptionToInt(value.substr(0, colon));
      id = OptionToInt(value.substr(colon + 1));
    }
  } catch (const std::invalid_argument&) {
    index = -1;
  }
  if (index < 0)
    throw FFmpegException(
        Format("Invalid value \"%s\" for option \"%s\", required syntax is \"index:value\"",
               value.c_str(), name.c_str()));
  GrowArray(FPending.StreamIDs, size_t(index) + 1);
  FPending.StreamIDs[size_t(index)] = id;
}

void TCustomFFmpeg::SetStartTime(int64_t value) {
  if (value == AV_NOPTS_VALUE) return;
  FSettings.StartTime = value;
  UpdateTotalTime();
}

void TCustomFFmpeg::SetRecordingTime(int64_t value) {
  if (value == AV_NOPTS_VALUE) return;
  FSettings.RecordingTime = value;
  UpdateTotalTime();
}

void TCustomFFmpeg::SetRecordingTimestamp(int64_t seconds) {
  FSettings.RecordingTimestamp = seconds;
}

void TCustomFFmpeg::SetProgramID(int value) {
  if (value >= 0) FSettings.ProgramID = value;
}

void TCustomFFmpeg::SetVolume(int value) {
  if (value >= 0) FSettings.AudioVolume = value;
}

void TCustomFFmpeg::SetMuxDelay(double value) {
  if (value > 0) FSettings.MuxDelay = value;
}

void TCustomFFmpeg::SetMuxPreload(double value) {
  if (value > 0) FSettings.MuxPreload = value;
}

void TCustomFFmpeg::SetVerbose(int value) { FSettings.Verbose = value; }

void TCustomFFmpeg::SetMetadata(S key, S value) {
  SetDictionary(&FPending.Metadata.Value, key, value);
}

void TCustomFFmpeg::SetHookBitsPixel(int value) {
  FInputConverter.SetBitsPixel(value);
  FOutputConverter.SetBitsPixel(value);
}

void TCustomFFmpeg::SetPreviewFlags(uint8_t flags) {
  FPreviewFlags = flags;
  if (!(flags & 1)) FPreviewer.reset();
}

void TCustomFFmpeg::SetPreviewFlagsLocked(uint8_t flags) {
  std::unique_ptr<TPreviewer> closing;
  {
    // A task thread holding the preview lock may log, and a log line waits for the main thread.
    // Only the queued calls run meanwhile, so that setting the flags never re-enters the host's
    // event loop.
    const std::unique_lock<std::mutex> lock =
        LockServingMainThread(FFmpegPreviewLock(), TMainThreadService::CallsOnly);
    FPreviewFlags = flags;
    FPreviewReconvert = true;
    if (!(flags & 1)) closing = std::move(FPreviewer);
  }
  // Freed outside the lock: from a worker, freeing the window waits for the main thread.
}

int64_t TCustomFFmpeg::ParseTimeOption(S name, S value, bool isDuration) {
  int64_t time = 0;
  if (ff::av_parse_time(&time, value.c_str(), isDuration) < 0)
    throw FFmpegException(Format("Invalid %s specification for %s: %s",
                                 isDuration ? "duration" : "date", name.c_str(), value.c_str()));
  return time;
}

std::vector<int64_t> TCustomFFmpeg::ForcedKeyFrameTimes(S text) {
  std::vector<int64_t> times;
  std::istringstream entries(text);
  for (std::string entry; std::getline(entries, entry, ',');)
    times.push_back(ParseTimeOption("force_key_frames", entry, true));
  return times;
}

void TCustomFFmpeg::ParseForcedKeyFrames(S text, TOutputStream& ost,
                                         const AVCodecContext& encoder) {
  ost.ForcedKfPts.clear();
  for (const int64_t time : ForcedKeyFrameTimes(text))
    ost.ForcedKfPts.push_back(ff::av_rescale_q(time, AV_TIME_BASE_Q, encoder.time_base));
  ost.ForcedKfIndex = 0;
}

// ---- Target presets ----

enum TNorm { nmPAL, nmNTSC, nmFILM };

struct TTargetPreset {
  const char* Name;
  const char* Format;
  const char* VideoCodec;
  const char* AudioCodec;
  const char* SizeNTSC;
  const char* SizePAL;
  const char* PixFmtNTSC;
  const char* PixFmtPAL;
  const char* GopNTSC;
  const char* GopPAL;
  const char* Bitrate;
  const char* MaxRate;
  const char* MinRate;
  const char* BufSize;
  // The "+scan_offset" flag of older encoders is the encoder's own option now.
  const char* ScanOffset;
  const char* AudioBitrate;
  const char* SampleRate;
  const char* PacketSize;
  // The multiplexer's own option, passed on when the header is written.
  const char* MuxRate;
  const char* Aspect;  // when none is pending
};

const TTargetPreset TargetPresets[] = {
    {"vcd", "vcd",    "mpeg1video", "mp2",     "352x240", "352x288", "",
     "",    "18",     "15",         "1150000", "1150000", "1150000", "327680",
     "",    "224000", "44100",      "2324",    "1411200", "4:3"},
    {"svcd",    "svcd",   "mpeg2video", "mp2",     "480x480", "480x576", "yuv420p",
     "yuv420p", "18",     "15",         "2040000", "2516000", "0",       "1835008",
     "1",       "224000", "44100",      "2324",    "",        "4:3"},
    {"dvd",     "dvd",    "mpeg2video", "ac3",     "720x480",  "720x576", "yuv420p",
     "yuv420p", "18",     "15",         "6000000", "9000000",  "0",       "1835008",
     "",        "448000", "48000",      "2048",    "10080000", "16:9"},
    {"dv", "dv", "", "", "720x480", "720x576", "yuv411p", "yuv420p", "", "",
     "",   "",   "", "", "",        "",        "48000",   "",        "", ""},
    {"dv50", "dv", "", "", "720x480", "720x576", "yuv422p", "yuv422p", "", "",
     "",     "",   "", "", "",        "",        "48000",   "",        "", ""},
};

namespace {

// 25000 for PAL's rate, 29970 or 23976 for NTSC's; -1 for another or none.
int NormOfFrameRate(AVRational rate) {
  if (rate.num <= 0 || rate.den <= 0) return -1;
  const long long milli = std::llround(rate.num * 1000.0 / rate.den);
  if (milli == 25000) return nmPAL;
  return milli == 29970 || milli == 23976 ? nmNTSC : -1;
}

}  // namespace

int TCustomFFmpeg::DetectNorm(S defaultNorm) {
  int norm = NormOfFrameRate(FPending.FrameRate);
  for (const auto& ist : FInputStreams) {
    if (norm >= 0) break;
    if (ist->St->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
    AVFormatContext* ic = FInputFiles[size_t(ist->FileIndex)]->Ctx;
    norm = NormOfFrameRate(ff::av_guess_frame_rate(ic, ist->St, nullptr));
  }
  if (norm < 0) norm = defaultNorm == "film" ? nmFILM : defaultNorm == "ntsc" ? nmNTSC : nmPAL;
  if (FSettings.Verbose > 0)
    LogFmt(llVerbose, "Assuming %s for target.", norm == nmPAL ? "PAL" : "NTSC");
  return norm;
}

void TCustomFFmpeg::OptTarget(S value, S defaultNorm) {
  static const std::pair<const char*, TNorm> prefixes[] = {
      {"pal-", nmPAL}, {"ntsc-", nmNTSC}, {"film-", nmFILM}};
  std::string target = value;
  int norm = -1;
  for (const auto& [prefix, prefixNorm] : prefixes) {
    if (!StartsWith(value, prefix)) continue;
    target = value.substr(std::strlen(prefix));
    norm = prefixNorm;
  }
  const auto preset = std::find_if(std::begin(TargetPresets), std::end(TargetPresets),
                                   [&target](const TTargetPreset& p) { return target == p.Name; });
  if (preset == std::end(TargetPresets)) throw FFmpegException("Unknown target type");
  ApplyTargetPreset(*preset, norm >= 0 ? norm : DetectNorm(defaultNorm));
}

void TCustomFFmpeg::ApplyTargetPreset(const TTargetPreset& preset, int norm) {
  static const char* const rates[] = {"25", "30000/1001", "24000/1001"};
  const bool pal = norm == nmPAL;
  const std::pair<const char*, const char*> options[] = {
      {"f", preset.Format},
      {"vcodec", preset.VideoCodec},
      {"acodec", preset.AudioCodec},
      {"s", pal ? preset.SizePAL : preset.SizeNTSC},
      {"r", rates[norm]},
      {"pix_fmt", pal ? preset.PixFmtPAL : preset.PixFmtNTSC},
      {"g", pal ? preset.GopPAL : preset.GopNTSC},
      {"b", preset.Bitrate},
      {"maxrate", preset.MaxRate},
      {"minrate", preset.MinRate},
      {"bufsize", preset.BufSize},
      {"ab", preset.AudioBitrate},
      {"ar", preset.SampleRate},
      {"ac", "2"},
      {"packetsize", preset.PacketSize},
  };
  for (const auto& [name, value] : options)
    if (*value) ParseOption(name, value);
  if (*preset.ScanOffset)
    SetDictionary(&FPending.Kinds[AVMEDIA_TYPE_VIDEO].PrivateOptions.Value, "scan_offset",
                  preset.ScanOffset);
  if (*preset.MuxRate) SetDictionary(&FPending.MuxerOptions.Value, "muxrate", preset.MuxRate);
  if (*preset.Aspect && FPending.FrameAspectRatio == 0) {
    LogFmt(llInfo, "Assuming %s for aspect ratio", preset.Aspect);
    OptFrameAspectRatio(preset.Aspect);
  }
}
