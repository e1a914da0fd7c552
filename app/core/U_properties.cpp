#include "U_properties.h"

#include "FFDecode.h"
#include "U_Config.h"
#include "U_FileOption.h"
#include "VelLog.h"

#include <QFile>
#include <QFileInfo>

QString FrameRateText(int Num, int Den) {
  if (Num <= 0 || Den <= 0) return UnknownProperty;
  return QStringLiteral("%1 fps").arg(static_cast<double>(Num) / Den, 0, 'f', 2);
}

QString BitRateText(int BitRate) {
  if (BitRate <= 0) return UnknownProperty;
  return QStringLiteral("%1 kbps").arg(BitRate / 1000);
}

QString ChannelText(int Channels) {
  if (Channels <= 0) return UnknownProperty;
  if (Channels == 1) return QStringLiteral("Mono");
  if (Channels == 2) return QStringLiteral("Stereo");
  return QStringLiteral("%1 Channels").arg(Channels);
}

namespace {

// The entry's file may have been replaced since it was added: a pipe would block the opening.
void ReadStreams(const QString& File, TFileProperties& Properties) {
  const QString refusal = NotRegularFileReason(File);
  if (!refusal.isEmpty()) {
    VelLog.WriteError(File + QStringLiteral(": ") + refusal);
    return;
  }
  TFFDecoder decoder;
  if (!decoder.LoadFile(QFile::encodeName(File).toStdString())) {
    VelLog.WriteError(QString::fromStdString(decoder.LastErrMsg()));
    return;
  }
  bool hasVideo = false;
  for (int i = 0; i < decoder.StreamCount(); ++i) {
    TVideoStreamInfo video;
    TAudioStreamInfo audio;
    if (decoder.IsVideoStream(i)) {
      // A song's cover picture is no video.
      if (decoder.FormatContext()->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC) continue;
      hasVideo = true;
      if (!decoder.GetVideoStreamInfo(i, video)) continue;
      Properties.FrameRate = FrameRateText(video.FrameRateNum, video.FrameRateDen);
      Properties.VideoBitRate = BitRateText(video.BitRate);
    } else if (decoder.IsAudioStream(i) && decoder.GetAudioStreamInfo(i, audio)) {
      Properties.AudioBitRate = BitRateText(audio.BitRate);
      Properties.SampleRate =
          audio.SampleRate > 0 ? QStringLiteral("%1 Hz").arg(audio.SampleRate) : UnknownProperty;
      Properties.Channel = ChannelText(audio.Channels);
    }
  }
  if (!hasVideo) Properties.Resolution = UnknownProperty;
  decoder.CloseFile();
}

}  // namespace

TFileProperties FilePropertiesOf(const TFileOption& Entry) {
  const QString input = QFile::decodeName(QByteArray::fromStdString(Entry.Input.FileName));
  TFileProperties properties{
      Entry.DisplayName.isEmpty() ? QFileInfo(input).fileName() : Entry.DisplayName,
      SecondsToTimeText(Entry.Duration / 1000000),
      ParseFrameSize(Entry.SourceFrameSize).isEmpty() ? UnknownProperty : Entry.SourceFrameSize,
      UnknownProperty,
      UnknownProperty,
      UnknownProperty,
      UnknownProperty,
      UnknownProperty};
  ReadStreams(input, properties);
  return properties;
}
