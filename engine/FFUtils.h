// Routines the transcoder, the decoder and the player share: the default option objects that
// FFmpeg's generic options are first set on, error, duration and codec texts, and the engine's
// own registry of URL protocols and filters.
#pragma once

#include <cstdint>
#include <string>

#include "FFEntryPoints.h"

// The default objects that generic options are tried on, one set per transcoder task and per
// player. An option is checked against them when it is given and copied onto the real codec
// or format context later (SetContextOptions). Needs the libraries loaded to be made or freed.
struct TOptionContexts {
  TOptionContexts() = default;
  ~TOptionContexts();
  TOptionContexts(const TOptionContexts&) = delete;
  TOptionContexts& operator=(const TOptionContexts&) = delete;

  // One codec context per media type: video, audio, data, subtitle, attachment.
  AVCodecContext* CodecContexts[AVMEDIA_TYPE_NB] = {};
  AVFormatContext* FormatContext = nullptr;
  SwsContext* ScalerContext = nullptr;
  // The options accepted so far, by the kind of context they were set on and under the name
  // that context knows them by ("ab" is kept as "b" of the audio options). A name given again
  // keeps its latest value.
  AVDictionary* FormatOptions = nullptr;
  AVDictionary* VideoOptions = nullptr;
  AVDictionary* AudioOptions = nullptr;
  AVDictionary* SubtitleOptions = nullptr;
};

// The frames a stream's demuxer found, which ranks a file's streams of one kind as sources of a
// conversion: the container's count when it knows one, else one for a stream whose codec
// parameters were found.
int64_t ProbedFrames(const AVStream& stream);

// The shape of a video stream's pixels as players show them: the container's word first, then
// the picture's own (the stream's coded one when no picture is given); 0/1 when neither says.
// The conversion, the probe and the player all take this one, so that every preview shows
// the shape that the outputs are made in.
AVRational ShownSampleAspect(const AVStream* stream, const AVFrame* picture);

// Seeks the input to its very first packet. Some demuxers do so by time only (Matroska reads on
// from a byte position as if it began a block), others by byte position only (FLV, MP3); a seek
// to the start time may land past packets decoded before it (MPEG-TS). False when neither works.
bool SeekToFirstPacket(AVFormatContext* input);

// "hh:mm:ss.mmm" of a time in microseconds (the hours are not wrapped); "N/A" for no value.
std::string DurationToText(int64_t duration);

// Prefix + ": " + the text of an FFmpeg error code (or "Error number %d occurred").
std::string AVErrorText(const std::string& prefix, int code);

// Frees the set, then makes its contexts; the scaler context gets the given flags.
// Throws FFmpegException when FFmpeg cannot make one of them.
void InitOptionContexts(TOptionContexts& set, int scalerFlags);
void FreeOptionContexts(TOptionContexts& set);

// Sets a generic FFmpeg option on the set: on every codec context whose media type knows the
// name, else on the format context, else on the scaler context, else (for a name starting with
// "a", "v" or "s") without that letter on the audio, video or subtitle context. On failure the
// reason is logged through FFmpeg's log and kept for LastOptionError().
bool OptDefault(TOptionContexts& set, const std::string& name, const std::string& value);

// The reason for the calling thread's last OptDefault failure.
const std::string& LastOptionError();

// Copies the options the set accepted for this kind of context onto a real context, for the
// options that carry all of `flags` (AV_OPT_FLAG_*: encoding or decoding, media type).
// A value the context refuses is logged through FFmpeg's log.
void SetContextOptions(const TOptionContexts& set, AVCodecContext* context, int flags);
void SetContextOptions(const TOptionContexts& set, AVFormatContext* context, int flags);
// The option flag (AV_OPT_FLAG_*_PARAM) of a stream's media type; 0 for the other types.
int MediaTypeOptionFlag(AVMediaType type);

// Reads a whole file into a buffer from av_malloc, NUL-terminated; size counts the NUL.
// 0 on success, -1 when the file cannot be opened or read, AVERROR(ENOMEM) without memory.
int ReadWholeFile(const char* fileName, uint8_t*& buffer, int64_t& size);

// The value of a dictionary entry, else the default.
std::string GetMetadataValue(const AVDictionary* dictionary, const std::string& key,
                             const std::string& defaultValue);

// "name(long name)" of the encoder or decoder of a codec, or a text made from the codec tag
// when FFmpeg has no such codec.
std::string CodecTagText(AVCodecID codecId, uint32_t codecTag, bool encoder);
std::string CodecTagText(const AVCodecParameters* parameters, bool encoder);

// The counter-clockwise quarter turns (0..3) that show a video stream's pictures as its display
// matrix asks (a phone's portrait video is stored on its side), and the stock filters that make
// those turns ("" for none).
int DisplayQuarterTurns(const AVStream* stream);
std::string UprightFilterText(int quarterTurns);
// A stored width and height as shown after the turns.
void DisplayedSize(int quarterTurns, int& width, int& height);

// The stock filters that recode a video stream's pictures into the YCbCr matrix of BT.601,
// which pictures without a colour tag are read with (by FFmpeg's scaler, the Flash runtime, SDL's
// overlays), keeping their range: "" when they are coded in it already, or in RGB or grey. An
// untagged stream is taken as BT.709 from HD sizes on (1280 by 720, either way up), as HD cameras
// code it and players show it, and as BT.601 below. The size is the pictures' where the filters
// get them.
std::string BT601MatrixFilterText(AVPixelFormat format, AVColorSpace space, int width, int height);
// The matrix that BT601MatrixFilterText recodes such pictures from: BT.709 (untagged HD too),
// FCC, SMPTE 240M or BT.2020 with non-constant luminance; AVCOL_SPC_UNSPECIFIED where they are
// read as they are (BT.601's own matrix, RGB, grey, and matrices the filter cannot convert).
AVColorSpace RecodedYCbCrMatrix(AVPixelFormat format, AVColorSpace space, int width, int height);
// Makes a scaler from YCbCr to RGB read its source in `matrix` (one RecodedYCbCrMatrix gives;
// BT.601's for AVCOL_SPC_UNSPECIFIED), keeping both sides' ranges: a scaler that converts every
// picture anyway changes the matrix at no cost. False when the scaler takes no such details.
bool SetScalerSourceMatrix(SwsContext* context, AVColorSpace matrix);

// How a picture's colours are coded, as its tags (or its stream's) say.
struct TPictureColours {
  AVColorSpace Matrix = AVCOL_SPC_UNSPECIFIED;
  AVColorPrimaries Primaries = AVCOL_PRI_UNSPECIFIED;
  AVColorTransferCharacteristic Transfer = AVCOL_TRC_UNSPECIFIED;
  bool operator==(const TPictureColours&) const = default;
};
TPictureColours PictureColours(const AVFrame& frame);
TPictureColours PictureColours(const AVCodecContext& decoder);

// The transfer curves of HDR video: PQ (SMPTE ST 2084) and HLG (ARIB STD-B67), whose pictures
// an SDR reader shows dim and grey.
bool HighDynamicRange(AVColorTransferCharacteristic transfer);

// The stock filters that bring a video stream's pictures to what outputs without a colour tag and
// the player's overlays are read as: SDR in BT.709's primaries and transfer, coded in BT.601's
// YCbCr matrix. For SDR pictures: BT601MatrixFilterText's ("" when there is nothing to do). For
// HDR pictures (HighDynamicRange): their curve and primaries converted in linear light, the
// highlights above SDR white rolled off (tone mapping), coded in BT.601's matrix at studio range
// as YUV 4:2:0 (4:4:4 at an odd size), 8 bits. The size is the pictures' where the filters get
// them.
std::string SDRFilterText(AVPixelFormat format, const TPictureColours& colours, int width,
                          int height);

// "Video", "Audio", "Data", "Subtitle", "Attachment", else "Unknown".
std::string MediaTypeName(int mediaType);

// The engine's own URL protocols and filters (FFmpeg cannot take new ones): a name registers
// once; the result tells whether this call registered it. Safe from any thread.
bool RegisterProtocol(const std::string& name);
bool ProtocolRegistered(const std::string& name);
bool RegisterFilter(const std::string& name);
bool FilterRegistered(const std::string& name);
