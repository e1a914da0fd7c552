#include "U_Formats.h"

#include "U_Config.h"
#include "VelLog.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace {

constexpr QString TOOXML::*BoxFields[fbCount] = {
    &TOOXML::VideoEncoder, &TOOXML::FrameRate,  &TOOXML::VideoBitRate, &TOOXML::AudioEncoder,
    &TOOXML::Channel,      &TOOXML::SampleRate, &TOOXML::AudioBitRate, &TOOXML::Format};
// Where each box's index stands in the file, for the one who mends it.
const char* const BoxElements[fbCount] = {"Video/Encoder", "Video/FrameRate", "Video/BitRate",
                                          "Audio/Encoder", "Audio/Channel",   "Audio/SmapleRate",
                                          "Audio/BitRate", "Video/Format"};

const QString CustomName = QStringLiteral("Custom");
const QString Mp3Item = QStringLiteral("MP3 Audio");
const QString AacItem = QStringLiteral("AAC Audio");
const QString StereoItem = QStringLiteral("Stereo");
const QString H264Codec = QStringLiteral("libx264");

// Rounds to nearest, halves to even (the current rounding mode is never changed).
int RoundEven(double Value) { return static_cast<int>(std::nearbyint(Value)); }

int IndexInList(const QString& Text, const QStringList& Items) {
  bool ok = false;
  const int index = Text.trimmed().toInt(&ok);
  return ok && index >= 0 && index < Items.size() ? index : -1;
}

template <typename Pred>
int FirstIndexOf(const QStringList& Items, Pred Matches) {
  for (int i = 0; i < Items.size(); ++i)
    if (Matches(Items[i])) return i;
  return -1;
}

QString ItemAt(const TFormatLists& Lists, const TFormatSelection& Selection, TFormatBox Box) {
  const int index = Selection.Index[Box];
  const QStringList& items = Lists.Items[Box];
  return index >= 0 && index < items.size() ? items[index] : QString();
}

int Width(const TIntRect& R) { return R.Right - R.Left; }
int Height(const TIntRect& R) { return R.Bottom - R.Top; }
bool HasArea(QSize Size) { return Size.width() > 0 && Size.height() > 0; }

QString RectText(const char* Label, const TIntRect& R) {
  return QString::asprintf("%s: %d, %d , %d, %d", Label, R.Left, R.Top, R.Right, R.Bottom);
}

// The item of each list the profile names; nothing, logged, when one names none.
std::optional<TFormatSelection> ProfileSelection(const TOOXML& Profile, const TFormatLists& Lists) {
  TFormatSelection selection;
  for (int box = 0; box < fbCount; ++box) {
    const QString& index = Profile.*BoxFields[box];
    selection.Index[box] = IndexInList(index, Lists.Items[box]);
    if (selection.Index[box] < 0) {
      VelLog.WriteError(
          QStringLiteral("Format.dat: the profile \"%1\" is left out: its %2 \"%3\" names none "
                         "of the items")
              .arg(Profile.Name, QLatin1String(BoxElements[box]), index));
      return std::nullopt;
    }
  }
  return selection;
}

}  // namespace

TFormatLists FormatListsOf(const std::vector<TOOXML>& Records) {
  TFormatLists lists;
  if (Records.empty()) return lists;
  for (int box = 0; box < fbCount; ++box) {
    const QString& text = Records[0].*BoxFields[box];
    if (!text.isEmpty()) lists.Items[box] = text.split(QLatin1Char(','));
  }
  const int count = static_cast<int>(std::min<size_t>(Records.size() - 1, MaxFileProfiles));
  for (int k = 1; k <= count; ++k) {
    if (const std::optional<TFormatSelection> selection = ProfileSelection(Records[k], lists)) {
      lists.ProfileNames << Records[k].Name;
      lists.Profiles.push_back(*selection);
      lists.ProfileIds.push_back(k);
    }
  }
  lists.ProfileNames << CustomName;
  return lists;
}

int ProfileIndexOf(int Formatid, const TFormatLists& Lists) {
  const auto id = std::find(Lists.ProfileIds.begin(), Lists.ProfileIds.end(), Formatid);
  return static_cast<int>(id - Lists.ProfileIds.begin());
}

int FormatIdOf(int ProfileIndex, const TFormatLists& Lists) {
  return ProfileIndex >= 0 && ProfileIndex < Lists.CustomIndex() ? Lists.ProfileIds[ProfileIndex]
                                                                 : CustomFormatId;
}

// ---------------------------------------------------------------------------------------

QString FirstWord(const QString& Item) {
  const qsizetype blank = Item.indexOf(QLatin1Char(' '));
  return blank < 0 ? QString() : Item.left(blank);
}

QString VideoCodecOfItem(const QString& Item) {
  const QString word = FirstWord(Item);
  return word == QStringLiteral("H.264") ? H264Codec : word.toLower();
}

int NumberOfItem(const QString& Item) { return FirstWord(Item).toInt(); }

QString PickAacEncoder(const std::function<bool(const QString&)>& HasEncoder) {
  const QString faac = QStringLiteral("libfaac");
  return HasEncoder && HasEncoder(faac) ? faac : QStringLiteral("aac");
}

TFormatSelection CustomSelection(const TFormatLists& Lists, const TFileOption& Entry) {
  const TOutputOptions& output = Entry.Output;
  const auto& items = Lists.Items;
  TFormatSelection s;
  s.Index[fbVideoEncoder] = FirstIndexOf(items[fbVideoEncoder], [&](const QString& item) {
    return VideoCodecOfItem(item) == QString::fromStdString(output.VideoCodec);
  });
  s.Index[fbVideoBitRate] = FirstIndexOf(items[fbVideoBitRate], [&](const QString& item) {
    return NumberOfItem(item) * 1000 == output.VideoBitrate;
  });
  s.Index[fbFrameRate] = FirstIndexOf(items[fbFrameRate], [&](const QString& item) {
    return FirstWord(item) == QString::fromStdString(output.FrameRate);
  });
  s.Index[fbAudioEncoder] =
      items[fbAudioEncoder].indexOf(output.AudioCodec == "libmp3lame" ? Mp3Item : AacItem);
  const int channel = output.AudioChannels - 1;
  s.Index[fbChannel] = channel >= 0 && channel < items[fbChannel].size() ? channel : -1;
  s.Index[fbSampleRate] = FirstIndexOf(items[fbSampleRate], [&](const QString& item) {
    return NumberOfItem(item) == output.AudioSampleRate;
  });
  s.Index[fbAudioBitRate] = FirstIndexOf(items[fbAudioBitRate], [&](const QString& item) {
    return NumberOfItem(item) * 1000 == output.AudioBitrate;
  });
  const QString ext = QString::fromStdString(output.FileExt);
  for (int i = 0; i < items[fbFormat].size(); ++i)
    if (QLatin1Char('.') + items[fbFormat][i].toLower() == ext) s.Index[fbFormat] = i;
  return s;
}

bool IsH264Selection(const TFormatLists& Lists, const TFormatSelection& Selection) {
  return VideoCodecOfItem(ItemAt(Lists, Selection, fbVideoEncoder)) == H264Codec;
}

// ---------------------------------------------------------------------------------------

std::optional<int> ProportionalHeight(int Width, const QString& StoredSize, bool H264) {
  const QSize stored = ParseFrameSize(StoredSize);
  if (!HasArea(stored)) return std::nullopt;
  const int w = std::min(Width, FrameBoxMaximum);
  const int step = H264 ? 2 : 1;
  const int h =
      std::max(0, static_cast<int>(int64_t(w) * stored.height() / stored.width() / step * step));
  if (h >= FrameBoxMaximum) return std::nullopt;
  return h;
}

std::optional<int> ProportionalWidth(int Height, const QString& StoredSize, bool H264) {
  const QSize stored = ParseFrameSize(StoredSize);
  if (!HasArea(stored)) return std::nullopt;
  const int h = std::min(Height, FrameBoxMaximum);
  const int step = H264 ? 2 : 1;
  const int w = std::max(0, RoundEven(double(h) * stored.width() / stored.height() / step) * step);
  return std::min(w, FrameBoxMaximum);
}

TResolutionFault CheckResolution(int Width, int Height, bool H264) {
  if (Width < MinFrameSide || Width > MaxFrameWidth) return TResolutionFault::Width;
  if (Height < MinFrameSide || Height > MaxFrameHeight) return TResolutionFault::Height;
  if (H264 && Width % 2 != 0) return TResolutionFault::OddWidth;
  if (H264 && Height % 2 != 0) return TResolutionFault::OddHeight;
  return TResolutionFault::None;
}

QString ResolutionFaultText(TResolutionFault Fault) {
  const bool odd = Fault == TResolutionFault::OddWidth || Fault == TResolutionFault::OddHeight;
  return odd ? EvenResolutionErrorText : ResolutionErrorText;
}

// ---------------------------------------------------------------------------------------

namespace {

void SetSwfDependent(TOutputChoices& C, bool Swf, TOutputContext Context) {
  C.HtmlEnabled = Swf;
  C.Html = Swf;
  if (!Context.H264 && !Context.MergeGroup) C.EmbedEnabled = Swf;
  C.CreatedEnabled = Swf;
}

// H.264 cannot be embedded in a SWF: it always plays from the FLV, which is therefore made.
void ForceExternalFlv(TOutputChoices& C) {
  C.Flv = true;
  C.Embed = false;
  C.EmbedEnabled = false;
}

}  // namespace

TOutputChoices LoadOutputChoices(const TFileOption& Entry, TOutputContext Context) {
  TOutputChoices c;
  c.Flv = Entry.Gflv;
  SetSwfDependent(c, Entry.GSwf, Context);
  c.Swf = Entry.GSwf;
  c.Thumbnail = Entry.GThumbnail;
  c.Html = Entry.GHtml;
  // A SWF cannot play an FLV that is not made.
  c.Embed = !Entry.Gflv || (Context.MergeGroup ? false : !Entry.SWFData.isflv);
  c.EmbedEnabled = c.Swf && !(Context.MergeGroup && Entry.Gflv);
  c.CreatedEnabled = Entry.Gflv && Entry.GSwf;
  if (Context.H264) ForceExternalFlv(c);
  return c;
}

void ClickFlv(TOutputChoices& C, TOutputContext Context) {
  if (!C.Swf || Context.H264) C.Flv = true;
  if (!C.Swf) return;
  C.CreatedEnabled = C.Flv;
  if (Context.MergeGroup) {
    C.Embed = !C.Flv;
    C.EmbedEnabled = !C.Flv;
  } else if (!C.Flv) {
    C.Embed = true;
  }
}

void ClickSwf(TOutputChoices& C, TOutputContext Context) {
  if (!C.Flv)
    C.Swf = true;
  else
    SetSwfDependent(C, C.Swf, Context);
}

bool ProfileChanged(TOutputChoices& C, TOutputContext Context) {
  if (Context.H264) {
    ForceExternalFlv(C);
    return true;
  }
  if (!Context.MergeGroup) C.EmbedEnabled = C.Swf;
  return false;
}

TPageButtons PageButtonsOf(int Page, bool Swf) {
  if (Page <= 0) return {false, true};
  if (Page == 1) return {true, Swf};
  return {true, false};
}

// ---------------------------------------------------------------------------------------

QString SkinSwfOf(const QString& Picture) { return Picture.chopped(3) + QStringLiteral("swf"); }

int SkinIndexOf(const QStringList& Pictures, const QString& PlayerSkin) {
  return FirstIndexOf(Pictures, [&](const QString& picture) {
    return picture.chopped(3) == PlayerSkin.chopped(std::min<qsizetype>(3, PlayerSkin.size()));
  });
}

QString ChosenSkin(const QStringList& Pictures, int Selected) {
  if (Selected >= 0 && Selected < Pictures.size()) return SkinSwfOf(Pictures[Selected]);
  return Pictures.isEmpty() ? QString() : SkinSwfOf(Pictures.first());
}

QSize SkinPreviewStage(QSize Output, QSize Panel) {
  if (Output.isEmpty() || Output.boundedTo(Panel) == Output) return Output;
  return Output.scaled(Panel, Qt::KeepAspectRatio);
}

TSWFData PreviewSettings(const QString& Skin, bool AutoHide, bool ShowBigPlay, uint32_t BGColor) {
  TSWFData data;
  data.videofile.clear();
  data.autohide = AutoHide;
  data.isflv = true;
  data.autoRewind = false;
  data.autoplay = false;
  data.showbigplay = ShowBigPlay;
  data.showbuffer = false;
  data.bgcolor = SwapRedBlue(BGColor);
  if (QFileInfo(Skin).fileName().contains(QStringLiteral("None"))) {
    data.autoplay = true;
    data.autohide = true;
  }
  return data;
}

// ---------------------------------------------------------------------------------------

TIntRect MapRect(const TIntRect& R, const TIntRect& From, const TIntRect& To) {
  if (Width(From) <= 0 || Height(From) <= 0) return R;
  TIntRect m;
  m.Left = To.Left + RoundEven(double((R.Left - From.Left) * Width(To)) / Width(From));
  m.Top = To.Top + RoundEven(double((R.Top - From.Top) * Height(To)) / Height(From));
  m.Right = m.Left + RoundEven(double(Width(To) * Width(R)) / Width(From));
  m.Bottom = m.Top + RoundEven(double(Height(To) * Height(R)) / Height(From));
  return m;
}

void RescaleWaterMark(TFileOption& Entry, QSize NewSize, const TFormatsWorld& World) {
  const QSize old = ParseFrameSize(Entry.OutputFrameSize);
  if (old == NewSize || !HasArea(old) || !HasArea(NewSize)) return;
  TWaterMark& mark = Entry.WaterMark;
  const TIntRect oldFrame{0, 0, old.width(), old.height()};
  const TIntRect newFrame{0, 0, NewSize.width(), NewSize.height()};
  const TIntRect newView = FitAspectRect(newFrame, World.PreviewArea);
  const TIntRect oldView = FitAspectRect(oldFrame, World.PreviewArea);
  if (!mark.PictureFile.isEmpty()) {
    mark.PictureViewRect = MapRect(mark.PictureViewRect, oldView, newView);
    VelLog.WriteInfo(QStringLiteral("ChangePicWaterMark:-------------"));
    VelLog.WriteInfo(RectText("DestRect", mark.PictureViewRect));
    VelLog.WriteInfo(QStringLiteral("ChangePicWaterMark:-------------"));
  } else if (!mark.Text.isEmpty()) {
    mark.TextViewRect = MapRect(mark.TextViewRect, oldView, newView);
    VelLog.WriteInfo(QStringLiteral("ChangeFontWaterMarkk:-------------"));
    VelLog.WriteInfo(RectText("DestRect", mark.TextViewRect));
    if (mark.Font) {
      mark.Font->PointSize =
          RoundEven(double(mark.Font->PointSize) * NewSize.width() / old.width());
      VelLog.WriteInfo(QStringLiteral("Size: %1").arg(mark.Font->PointSize));
    }
    VelLog.WriteInfo(QStringLiteral("ChangeFontWaterMark:-------------"));
  }
  if (Entry.WaterMarkKind < 1) return;
  mark.Rect = MapRect(mark.Rect, oldFrame, newFrame);
  VelLog.WriteInfo(RectText("SrcRect", mark.Rect));
  if (mark.Kind == 1 && World.SaveWaterMark) {
    mark.PictureCopy = World.SaveWaterMark(mark.PictureFile, mark.Rect);
    VelLog.WriteInfo(QStringLiteral("SaveWaterMark"));
  }
}

namespace {

void WriteVideoAudio(TFileOption& Entry, const TFormatLists& Lists, const TFormatsChoice& Choice,
                     const TFormatsWorld& World) {
  TOutputOptions& output = Entry.Output;
  output.DisableAudio = !Choice.EnableAudio;
  const int formatid = FormatIdOf(Choice.ProfileIndex, Lists);
  if (formatid == Entry.Formatid && formatid != CustomFormatId) return;
  Entry.Formatid = formatid;
  const auto item = [&](TFormatBox Box) { return ItemAt(Lists, Choice.Selection, Box); };
  const QString container = item(fbFormat).toLower();
  output.FileExt = (QLatin1Char('.') + item(fbFormat)).toStdString();
  const QString current = QFileInfo(QString::fromStdString(output.FileName)).suffix().toLower();
  if (current != container && World.MakeUniqueOutputName) {
    const QString input = QFileInfo(QString::fromStdString(Entry.Input.FileName)).fileName();
    output.FileName =
        World.MakeUniqueOutputName(World.OutputFolder + input, container).toStdString();
  }
  output.VideoCodec = VideoCodecOfItem(item(fbVideoEncoder)).toStdString();
  output.FrameRate = FirstWord(item(fbFrameRate)).toStdString();
  output.VideoBitrate = NumberOfItem(item(fbVideoBitRate)) * 1000;
  Entry.OutputFrameSize = QStringLiteral("%1x%2").arg(Choice.Width).arg(Choice.Height);
  if (!Choice.EnableAudio) return;
  output.AudioCodec = (item(fbAudioEncoder) == Mp3Item ? QStringLiteral("libmp3lame")
                                                       : PickAacEncoder(World.HasEncoder))
                          .toStdString();
  output.AudioVolume = Choice.Volume;
  output.AudioChannels = item(fbChannel) == StereoItem ? 2 : 1;
  output.AudioBitrate = NumberOfItem(item(fbAudioBitRate)) * 1000;
  output.AudioSampleRate = NumberOfItem(item(fbSampleRate));
}

void WriteOutputAndPlayer(TFileOption& Entry, const TFormatsChoice& Choice) {
  const TOutputChoices& c = Choice.Outputs;
  Entry.Gflv = c.Flv;
  Entry.GHtml = c.Html;
  Entry.GSwf = c.Swf;
  Entry.GThumbnail = c.Thumbnail;
  TSWFData& player = Entry.SWFData;
  player.autohide = Choice.AutoHide;
  player.showbigplay = Choice.ShowBigPlay;
  player.autoRewind = Choice.AutoRewind;
  player.autoplay = Choice.AutoPlay;
  player.isflv = !c.Embed;
  player.bgcolor = SwapRedBlue(Choice.BGColor);
  Entry.PlayerSkin = Choice.Skin;
  Entry.BGColor = Choice.BGColor;
  Entry.Output.FileExt = c.Flv ? ".flv" : ".swf";
}

}  // namespace

TFormatsWrite WriteFormatsChoice(TFileOption& Entry, const TFormatLists& Lists,
                                 const TFormatsChoice& Choice, const TFormatsWorld& World,
                                 QString* Error) {
  if (Lists.ProfileNames.isEmpty() || Choice.ProfileIndex < 0) return TFormatsWrite::NoProfiles;
  RescaleWaterMark(Entry, QSize(Choice.Width, Choice.Height), World);
  WriteVideoAudio(Entry, Lists, Choice, World);
  WriteOutputAndPlayer(Entry, Choice);
  if (Choice.SaveAsDefault && !SaveFormatDefault(Entry, Error)) return TFormatsWrite::SaveFailed;
  return TFormatsWrite::Written;
}
