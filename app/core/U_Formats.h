// What the formats dialog decides, apart from its widgets: the item lists and profiles of
// "Format.dat", reading item texts into codec values and back, proportional frame sizes, the
// limits, the rules that keep the output choices consistent, the skin preview's settings and
// what OK writes into the entry. The dialog (U_Formats_Gui.h) only shows and forwards.
#pragma once

#include "U_Edit.h"
#include "U_FileOption.h"
#include "U_XML.h"

#include <QSize>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>
#include <vector>

// The boxes that "Format.dat" fills, in the order of this array everywhere below.
enum TFormatBox {
  fbVideoEncoder,
  fbFrameRate,
  fbVideoBitRate,
  fbAudioEncoder,
  fbChannel,
  fbSampleRate,
  fbAudioBitRate,
  fbFormat,
  fbCount
};

// The item selected in each box; -1 selects none.
struct TFormatSelection {
  std::array<int, fbCount> Index{-1, -1, -1, -1, -1, -1, -1, -1};
  bool operator==(const TFormatSelection&) const = default;
};

inline constexpr int CustomFormatId = 5;
inline constexpr int MaxFileProfiles = CustomFormatId - 1;

struct TFormatLists {
  std::array<QStringList, fbCount> Items;
  QStringList ProfileNames;  // the file's profiles, then "Custom"; empty without a file
  std::vector<TFormatSelection> Profiles;
  std::vector<int> ProfileIds;  // each profile's Formatid: its record's place in the file

  int CustomIndex() const { return static_cast<int>(Profiles.size()); }
};

// Record 0 gives the lists, the next records (at most four) the profiles. A profile that does
// not name an item of every list (an index missing, no number, or outside its list) is left
// out, with a line in the log: choosing it would empty the boxes or convert at 0 bps.
TFormatLists FormatListsOf(const std::vector<TOOXML>& Records);

// The profile box's index for the entry's Formatid: an unknown profile is Custom.
int ProfileIndexOf(int Formatid, const TFormatLists& Lists);
int FormatIdOf(int ProfileIndex, const TFormatLists& Lists);

// ---------------------------------------------------------------------------------------
// Item texts. A value is read from the text before the first blank; an item without a blank
// ("original") gives an empty text.
QString FirstWord(const QString& Item);
// "H.264 ..." gives "libx264", any other item its first word in lower case.
QString VideoCodecOfItem(const QString& Item);
int NumberOfItem(const QString& Item);
// "libfaac" when the encoder library knows it, else "aac".
QString PickAacEncoder(const std::function<bool(const QString&)>& HasEncoder);

// The boxes matched to the entry's own values (a Custom entry).
TFormatSelection CustomSelection(const TFormatLists& Lists, const TFileOption& Entry);
// Whether the selection's video encoder is H.264: its container is then fixed to the first
// item and it plays only from an external FLV.
bool IsH264Selection(const TFormatLists& Lists, const TFormatSelection& Selection);

// ---------------------------------------------------------------------------------------

inline constexpr int MinFrameSide = 80;
inline constexpr int MaxFrameWidth = 1920;
inline constexpr int MaxFrameHeight = 1280;
inline constexpr int FrameBoxMaximum = 1920;  // what either box lets one type
inline constexpr int MaxVolume = 256;

// The other side for a typed side, in the shape of the stored frame size; nothing when the
// box keeps its value (the result reaches the box's maximum, or the stored size has no area).
// For H.264 it is even, as that encoder makes no odd side.
std::optional<int> ProportionalHeight(int Width, const QString& StoredSize, bool H264);
std::optional<int> ProportionalWidth(int Height, const QString& StoredSize, bool H264);

inline const QString ResolutionErrorText =
    QStringLiteral("Please input an appropriate resolution.\r\n(Values range:80x80-1920x1280)");
inline const QString EvenResolutionErrorText =
    QStringLiteral("Please input an even width and height.\r\n(H.264 Video makes no odd side)");
inline const QString VolumeErrorText =
    QStringLiteral("Please input an appropriate Volume.\r\n(Value range:0-256)");

enum class TResolutionFault { None, Width, Height, OddWidth, OddHeight };
// A side out of range, or an odd side where the encoder refuses it (H.264: the FLV encoder
// makes any size), so that the output always has the size the boxes show.
TResolutionFault CheckResolution(int Width, int Height, bool H264);
QString ResolutionFaultText(TResolutionFault Fault);

// ---------------------------------------------------------------------------------------
// The output page: at least one of FLV and SWF stays on, the HTML page and the embed choice
// follow the SWF, and H.264 always plays from an external FLV.
struct TOutputChoices {
  bool Flv = false;
  bool Swf = false;
  bool Html = false;
  bool Thumbnail = false;
  bool Embed = true;  // else the SWF plays the FLV progressively
  bool EmbedEnabled = true;
  bool CreatedEnabled = true;
  bool HtmlEnabled = true;
  bool operator==(const TOutputChoices&) const = default;
};

struct TOutputContext {
  bool MergeGroup = false;
  bool H264 = false;
};

TOutputChoices LoadOutputChoices(const TFileOption& Entry, TOutputContext Context);
// The user toggled the box: Flv or Swf already holds its new state.
void ClickFlv(TOutputChoices& Choices, TOutputContext Context);
void ClickSwf(TOutputChoices& Choices, TOutputContext Context);
// The profile box changed to a profile whose encoder is (or is not) H.264; true when the
// container box is read-only afterwards.
bool ProfileChanged(TOutputChoices& Choices, TOutputContext Context);

struct TPageButtons {
  bool Back = false;
  bool Next = false;
  bool operator==(const TPageButtons&) const = default;
};
inline constexpr int FormatsPageCount = 3;
TPageButtons PageButtonsOf(int Page, bool Swf);

// ---------------------------------------------------------------------------------------
// Skins: each preview picture "X.png" in the player folder stands for the skin "X.swf".
QString SkinSwfOf(const QString& Picture);
// The picture of the entry's skin, -1 when none matches.
int SkinIndexOf(const QStringList& Pictures, const QString& PlayerSkin);
// The selected skin, or the first when none is selected; empty without skins.
QString ChosenSkin(const QStringList& Pictures, int Selected);
// The player settings the preview is built with: no video and no playing by itself, except
// for a skin without controls ("None" in its name), which plays and hides its bar.
TSWFData PreviewSettings(const QString& Skin, bool AutoHide, bool ShowBigPlay, uint32_t BGColor);
// The stage the preview is built at, to be shown as it is in a panel of the given size: the
// output's own where the panel holds it, else brought within the panel with its shape kept. A
// skin draws its controls at their own size on any stage, so a stage built at the page's size
// and drawn smaller would shrink them past reading.
QSize SkinPreviewStage(QSize Output, QSize Panel);

// ---------------------------------------------------------------------------------------
// Writing the dialog's choices on OK.
struct TFormatsChoice {
  int ProfileIndex = -1;
  TFormatSelection Selection;
  int Width = 0;
  int Height = 0;
  int Volume = MaxVolume;
  bool EnableAudio = true;
  TOutputChoices Outputs;
  bool AutoHide = false;
  bool ShowBigPlay = true;
  bool AutoRewind = false;
  bool AutoPlay = false;
  uint32_t BGColor = 0;  // Windows colour value
  QString Skin;          // the skin SWF
  bool SaveAsDefault = false;
};

// What OK needs from the rest of the program.
struct TFormatsWorld {
  QString OutputFolder;  // the main window's output folder, with its trailing "/"
  TIntRect PreviewArea;  // the edit window's output preview area
  // A free output name for the path with the extension (no dot); the entry's own name
  // never counts as taken.
  std::function<QString(const QString& Path, const QString& Extension)> MakeUniqueOutputName;
  // A copy of the picture scaled to the rectangle's size; empty when it cannot be written.
  std::function<QString(const QString& Picture, const TIntRect& Rect)> SaveWaterMark;
  std::function<bool(const QString& Encoder)> HasEncoder;
};

// The rectangle scaled from one frame to another; unchanged when From has no area.
TIntRect MapRect(const TIntRect& R, const TIntRect& From, const TIntRect& To);
// Rescales the watermark to the new output size (nothing when either size has no area).
void RescaleWaterMark(TFileOption& Entry, QSize NewSize, const TFormatsWorld& World);

enum class TFormatsWrite { Written, NoProfiles, SaveFailed };
// OK after the limits passed: rescales the watermark, writes the video and audio options
// (only the audio switch for an unchanged file profile) and always the output and player
// options; "Save as default" writes the defaults file (the reason in Error when it fails).
// Without profiles nothing is written.
TFormatsWrite WriteFormatsChoice(TFileOption& Entry, const TFormatLists& Lists,
                                 const TFormatsChoice& Choice, const TFormatsWorld& World,
                                 QString* Error = nullptr);
