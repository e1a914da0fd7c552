// What the file properties window shows of a list entry.
#pragma once

#include <QString>

struct TFileOption;

struct TFileProperties {
  QString FileName;  // the entry's name, or its input's file name
  QString TimeLength;
  QString Resolution;
  QString VideoBitRate;
  QString FrameRate;
  QString SampleRate;
  QString Channel;
  QString AudioBitRate;
};

inline const QString UnknownProperty = QStringLiteral("unknown");

// "25.00 fps"; unknown for a rate without a denominator.
QString FrameRateText(int Num, int Den);
// "128 kbps"; unknown for a rate the file does not give.
QString BitRateText(int BitRate);
// "Mono", "Stereo", or the number of channels ("6 Channels").
QString ChannelText(int Channels);

// The entry's own name, length and frame size, and the streams of its input as the decoder
// reads them; with several streams of a kind the last one counts, and a cover picture is no
// video. Values the input does not give (or an input that cannot be opened) stay "unknown".
TFileProperties FilePropertiesOf(const TFileOption& Entry);
