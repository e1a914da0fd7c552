// Pictures keep their shape along the whole road of a list entry (probing, the list, merging,
// the conversion): frame grabs of the output, read by the ffmpeg command line, against the
// source's own pictures.
#include "AppTestSupport.h"
#include "ConvertHere.h"
#include "FFBaseComponent.h"
#include "FFDecode.h"
#include "FFLoad.h"
#include "MediaFixtures.h"
#include "U_Config.h"
#include "U_Formats.h"
#include "U_Treelist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>

namespace {

using fixtures::ShellQuote;

// A grey picture with a white square in its middle, for ffmpeg's lavfi input. Drawn in RGB:
// in 4:2:0 the colour source would drop an odd side.
std::string SquarePicture(int Width, int Height, int Rate = 25) {
  const int side = Height / 3 / 2 * 2;
  char text[192];
  std::snprintf(text, sizeof text,
                "color=c=0x808080:s=%dx%d:r=%d,format=rgb24,"
                "drawbox=x=%d:y=%d:w=%d:h=%d:color=white:t=fill",
                Width, Height, Rate, (Width - side) / 2, (Height - side) / 2, side, side);
  return text;
}

// Seconds of the square picture with a tone; an odd side goes to MPEG-4 part 2, since H.264
// refuses it.
std::string SquareClip(int Width, int Height, int Seconds = 2) {
  const bool odd = (Width | Height) & 1;
  return fixtures::Make(
      "square-" + std::to_string(Width) + "x" + std::to_string(Height) + "-" +
          std::to_string(Seconds) + "s.mp4",
      "-f lavfi -i " + SquarePicture(Width, Height) +
          " -f lavfi -i sine=frequency=440:sample_rate=44100 -t " + std::to_string(Seconds) +
          (odd ? " -c:v mpeg4 -q:v 2" : " -c:v libx264 -pix_fmt yuv420p") + " -c:a aac");
}

// Footage stored with pixels that are not square (discs, DV and HDV tapes, a container that
// states its display size): the square picture drawn at the size the file is shown at, then
// stored at its own size with its sample aspect, so that the square is square as shown.
struct TNonSquareSource {
  const char* Name;
  int Width, Height;  // stored
  int ShownWidth;     // stored width times the sample aspect, rounded
  const char* Sar;
  const char* Codec;  // ffmpeg's arguments for the stored file; its name's extension last
  const char* Extension;
};

const TNonSquareSource PalDvdWide = {
    "pal-dvd-16x9", 720, 576, 1024, "64/45", "-c:v mpeg2video -q:v 3 -aspect 16:9 -c:a mp2", "mpg"};

std::string NonSquareClip(const TNonSquareSource& Source) {
  const std::string picture = SquarePicture(Source.ShownWidth, Source.Height) + ",scale=" +
                              std::to_string(Source.Width) + ":" +
                              std::to_string(Source.Height) + ",setsar=" + Source.Sar;
  return fixtures::Make(std::string("non-square-") + Source.Name + "." + Source.Extension,
                        "-f lavfi -i " + ShellQuote(picture) +
                            " -f lavfi -i sine=frequency=440:sample_rate=48000 -t 1 " +
                            Source.Codec);
}

// Width over height of what a picture shows: the picture itself (anything lighter than the
// black bars) and the white square on it.
struct TShape {
  double Picture = 0;
  double Square = 0;
};

// The box of the area lighter than Level (first and last column and row, inclusive): the
// columns and rows that hold at least half as many such pixels as the fullest one, so that
// coding noise at the edges does not count.
struct TLitBox {
  int Left = 0, Right = -1, Top = 0, Bottom = -1;
  int Width() const { return Right - Left + 1; }
  int Height() const { return Bottom - Top + 1; }
};

TLitBox LitBox(const std::string& Grey, int Width, int Height, int Level) {
  std::vector<int> columns(size_t(Width), 0), rows(size_t(Height), 0);
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x)
      if (uint8_t(Grey[size_t(y * Width + x)]) > Level) {
        ++columns[size_t(x)];
        ++rows[size_t(y)];
      }
  // The first and last index of the counts that reach half of the fullest.
  auto span = [](const std::vector<int>& counts, int& First, int& Last) {
    const int full = *std::max_element(counts.begin(), counts.end());
    for (int i = 0; i < int(counts.size()); ++i)
      if (full > 0 && 2 * counts[size_t(i)] >= full) {
        if (Last < First) First = i;
        Last = i;
      }
  };
  TLitBox box;
  span(columns, box.Left, box.Right);
  span(rows, box.Top, box.Bottom);
  return box;
}

double AreaRatio(const TLitBox& Box) {
  return Box.Height() > 0 ? double(Box.Width()) / double(Box.Height()) : 0;
}

// The picture shown at Seconds in the file's Stream-th video stream, in grey levels.
struct TGreyPicture {
  int Width = 0, Height = 0;
  std::string Grey;
};

TGreyPicture GreyAt(const std::string& Path, int Stream, double Seconds) {
  const ProbeResult probe = ProbeMedia(Path, false);
  std::vector<const ProbeStream*> videos;
  for (const ProbeStream& s : probe.streams)
    if (s.codec_type == "video") videos.push_back(&s);
  if (Stream >= int(videos.size())) {
    ADD_FAILURE() << Path << " has no video stream " << Stream;
    return {};
  }
  TGreyPicture picture{videos[size_t(Stream)]->width, videos[size_t(Stream)]->height, {}};
  const std::string raw =
      Path + "." + std::to_string(Stream) + "." + std::to_string(int(Seconds * 1000)) + ".grey";
  char select[64];
  std::snprintf(select, sizeof select, "select=gte(t\\,%.2f)", Seconds);
  std::string log;
  EXPECT_EQ(fixtures::Run("ffmpeg -nostdin -v error -y -i " + ShellQuote(Path) + " -map 0:v:" +
                              std::to_string(Stream) + " -vf " + ShellQuote(select) +
                              " -frames:v 1 -f rawvideo -pix_fmt gray " + ShellQuote(raw),
                          &log),
            0)
      << log;
  picture.Grey = fixtures::ReadFile(raw);
  if (picture.Grey.size() != size_t(picture.Width * picture.Height)) {
    ADD_FAILURE() << Path << ": " << picture.Grey.size() << " bytes at " << Seconds << " s";
    return {};
  }
  return picture;
}

// The shape of the picture shown at Seconds in the file's Stream-th video stream.
TShape ShapeAt(const std::string& Path, int Stream, double Seconds) {
  const TGreyPicture picture = GreyAt(Path, Stream, Seconds);
  if (picture.Grey.empty()) return {};
  return {AreaRatio(LitBox(picture.Grey, picture.Width, picture.Height, 64)),
          AreaRatio(LitBox(picture.Grey, picture.Width, picture.Height, 200))};
}

void ExpectSameShape(const TShape& Output, const TShape& Source, const std::string& Where) {
  EXPECT_NEAR(Output.Picture, Source.Picture, 0.04 * Source.Picture) << Where;
  EXPECT_NEAR(Output.Square, Source.Square, 0.06) << Where;
}

// The picture of a source shown at Shown takes its whole fit of the output (bars beside it
// where the shapes differ), and its square is square.
void ExpectFittedAsShown(const TGreyPicture& Output, QSize OutputSize, QSize Shown,
                         const std::string& Where) {
  const TLitBox picture = LitBox(Output.Grey, Output.Width, Output.Height, 64);
  const double scale = std::min(double(OutputSize.width()) / Shown.width(),
                                double(OutputSize.height()) / Shown.height());
  EXPECT_NEAR(picture.Width(), Shown.width() * scale, 2.5) << Where;
  EXPECT_NEAR(picture.Height(), Shown.height() * scale, 2.5) << Where;
  EXPECT_NEAR(AreaRatio(LitBox(Output.Grey, Output.Width, Output.Height, 200)), 1.0, 0.06)
      << Where;
}

// A fit that falls short of the output by two pixels or less fills it: no thin bar at an edge.
void ExpectNoThinBar(const TGreyPicture& Output, QSize Shown, const std::string& Where) {
  const double scale =
      std::min(double(Output.Width) / Shown.width(), double(Output.Height) / Shown.height());
  if (Output.Width - Shown.width() * scale > 2 || Output.Height - Shown.height() * scale > 2)
    return;
  const TLitBox picture = LitBox(Output.Grey, Output.Width, Output.Height, 64);
  EXPECT_EQ(picture.Width(), Output.Width) << Where;
  EXPECT_EQ(picture.Height(), Output.Height) << Where;
}

std::string SizeText(QSize Size) {
  return std::to_string(Size.width()) + "x" + std::to_string(Size.height());
}

void ExpectSize(const std::string& Path, QSize Size, const std::string& Where) {
  const ProbeResult probe = ProbeMedia(Path, false);
  const ProbeStream* video = probe.FirstOfType("video");
  ASSERT_TRUE(video) << Where << ": " << probe.error;
  EXPECT_EQ(SizeText({video->width, video->height}), SizeText(Size)) << Where;
}

class ConvertShapes : public TConvertHereTest<testing::Test> {
 protected:
  // The file as adding it makes its entry: probed, then listed.
  TFileNode* Add(const std::string& Input) {
    TFFDecoder decoder;
    const TProbedFile probed = ProbeMediaFile(decoder, QString::fromStdString(Input));
    EXPECT_TRUE(probed.Loaded) << probed.ErrorText.toStdString();
    return FlvOnly(List.AddMediaEntry(probed, Out.Path()));
  }
  static TFileNode* FlvOnly(TFileNode* Node) {
    if (Node) Node->Data.GSwf = Node->Data.GHtml = Node->Data.GThumbnail = false;
    return Node;
  }
  std::string Output(const TFileNode* Node) const { return Node->Data.Output.FileName; }

  TFileList List;
};

// The conversion takes the stream with the most pictures, the first of equals.
TEST_F(ConvertShapes, AFileWithVideoStreamsOfTwoSizesConvertsTheOneItsSizeCameFrom) {
  struct Case {
    int FirstRate, Converted, Width, Height;
  };
  for (const Case& c : {Case{25, 0, 320, 240}, Case{10, 1, 1280, 720}}) {
    List.Clear();
    const std::string input = fixtures::Make(
        "two-video-streams-" + std::to_string(c.FirstRate) + ".mp4",
        "-f lavfi -i " + SquarePicture(320, 240, c.FirstRate) + " -f lavfi -i " +
            SquarePicture(1280, 720) +
            " -f lavfi -i sine=sample_rate=44100 -map 0:v -map 1:v -map 2:a -t 2"
            " -c:v libx264 -pix_fmt yuv420p -c:a aac");
    TFileNode* node = Add(input);
    ASSERT_TRUE(ConvertHere(List.ConvertNodes()));
    const ProbeResult output = ProbeMedia(Output(node), false);
    const ProbeStream* video = output.FirstOfType("video");
    ASSERT_TRUE(video) << output.error;
    EXPECT_EQ(video->width, c.Width);
    EXPECT_EQ(video->height, c.Height);
    ExpectSameShape(ShapeAt(Output(node), 0, 1), ShapeAt(input, c.Converted, 1),
                    "stream " + std::to_string(c.Converted));
    std::filesystem::remove(Output(node));
  }
}

// Each input of a merge keeps the shape it is shown in, whatever its size and pixel shape and
// whatever the other's: a second of it, its square square, with bars where the shapes differ.
TEST_F(ConvertShapes, EachMergedInputKeepsItsShownShapeWithBars) {
  struct TInput {
    std::string Name, Path;
    QSize Shown;
  };
  const auto square = [](int Width, int Height) {
    return TInput{SizeText({Width, Height}), SquareClip(Width, Height, 1), {Width, Height}};
  };
  const auto nonSquare = [](const TNonSquareSource& Source) {
    return TInput{Source.Name, NonSquareClip(Source), {Source.ShownWidth, Source.Height}};
  };
  const TNonSquareSource palDvdNarrow = {
      "pal-dvd-4x3", 720, 576, 768, "16/15", "-c:v mpeg2video -q:v 3 -aspect 4:3 -c:a mp2", "mpg"};
  const std::pair<TInput, TInput> cases[] = {
      {square(320, 240), square(640, 360)},
      {square(640, 360), square(320, 240)},
      {square(321, 241), square(640, 360)},
      {nonSquare(PalDvdWide), nonSquare(palDvdNarrow)},
      {square(320, 240), nonSquare(PalDvdWide)},
  };
  for (const auto& [first, second] : cases) {
    List.Clear();
    TFileNode* a = Add(first.Path);
    Add(second.Path);
    a->Selected = true;  // beside the one added last
    const TFileNode* group = FlvOnly(List.MergeSelectedItems(Out.Path()));
    ASSERT_TRUE(group);
    ASSERT_TRUE(ConvertHere(List.ConvertNodes()));
    const std::string where = "merged " + first.Name + " and " + second.Name;
    const QSize output = OutputSizeOf(group->Data);
    ExpectSize(Output(group), output, where);
    for (const auto& [input, seconds] : {std::pair{&first, 0.5}, std::pair{&second, 1.5}}) {
      const TGreyPicture shown = GreyAt(Output(group), 0, seconds);
      if (shown.Grey.empty()) continue;
      ExpectFittedAsShown(shown, output, input->Shown, where + ", " + input->Name);
    }
    std::filesystem::remove(Output(group));
  }
}

// Any source and any crop, of odd or even sides, reaches every output size the formats dialog
// accepts, at that very size, in its own shape, its middle within a pixel of the output's.
TEST_F(ConvertShapes, EveryPictureFitsEveryOutputSizeCentred) {
  struct Case {
    int SourceWidth, SourceHeight;
    TIntRect Crop;  // none when empty
    int Width, Height;
    const char* Codec = "flv";
  };
  const Case cases[] = {
      {321, 241, {}, 320, 240},
      {321, 241, {}, 640, 480},
      {321, 241, {}, 160, 120},
      {321, 241, {}, 1581, 237},
      {321, 241, {1, 1, 320, 240}, 1280, 720},
      {1280, 720, {91, 5, 352, 634}, 322, 84},
      {640, 480, {}, 1481, 312},
      {321, 241, {}, 321, 241},
      {320, 240, {}, 321, 241},
      {320, 240, {}, 641, 480},
      {320, 240, {}, 320, 81},
      {321, 240, {}, 160, 121},
      {240, 321, {}, 1281, 720},
      {320, 241, {3, 2, 100, 239}, 1920, 1280},
      {321, 241, {}, 80, 80},
      {321, 241, {}, 400, 241},  // at its own size
      {321, 241, {}, 320, 240, "libx264"},
      {320, 240, {1, 1, 320, 240}, 640, 360, "libx264"},
  };
  for (const Case& c : cases) {
    List.Clear();
    const std::string source = SquareClip(c.SourceWidth, c.SourceHeight, 1);
    TFileNode* node = Add(source);
    ASSERT_TRUE(node);
    TFileOption& entry = node->Data;
    entry.CropEnabled = c.Crop != TIntRect{};
    entry.CropRect = c.Crop;
    entry.OutputFrameSize = QStringLiteral("%1x%2").arg(c.Width).arg(c.Height);
    entry.Output.VideoCodec = c.Codec;
    const QSize picture = entry.CropEnabled
                              ? QSize(c.Crop.Right - c.Crop.Left, c.Crop.Bottom - c.Crop.Top)
                              : QSize(c.SourceWidth, c.SourceHeight);
    const std::string where = SizeText({c.SourceWidth, c.SourceHeight}) + " as " +
                              SizeText(picture) + " to " + SizeText({c.Width, c.Height}) + " " +
                              c.Codec;
    if (!ConvertHere(List.ConvertNodes())) {
      ADD_FAILURE() << where << " was refused";
      continue;
    }
    ExpectSize(Output(node), {c.Width, c.Height}, where);
    const TGreyPicture shown = GreyAt(Output(node), 0, 0.5);
    if (shown.Grey.empty()) continue;
    const TLitBox box = LitBox(shown.Grey, shown.Width, shown.Height, 64);
    const double scale =
        std::min(double(c.Width) / picture.width(), double(c.Height) / picture.height());
    EXPECT_NEAR(box.Width(), picture.width() * scale, 1.5) << where;
    EXPECT_NEAR(box.Height(), picture.height() * scale, 1.5) << where;
    EXPECT_LE(std::abs(box.Left - (c.Width - 1 - box.Right)), 2) << where;
    EXPECT_LE(std::abs(box.Top - (c.Height - 1 - box.Bottom)), 2) << where;
    std::filesystem::remove(Output(node));
  }
}

// FLV pictures have square pixels: footage stored with other pixels comes out in the shape it
// is shown in, at the size a new entry gets and at any other, with no bars where the shapes
// agree and its square square.
TEST_F(ConvertShapes, NonSquarePixelsComeOutInTheShapeTheFileIsShownIn) {
  const TNonSquareSource sources[] = {
      PalDvdWide,
      {"ntsc-dv-4x3", 720, 480, 640, "8/9",
       "-r 30000/1001 -c:v dvvideo -pix_fmt yuv411p -aspect 4:3 -c:a pcm_s16le -ac 2", "dv"},
      {"ntsc-dv-16x9", 720, 480, 853, "32/27",
       "-r 30000/1001 -c:v dvvideo -pix_fmt yuv411p -aspect 16:9 -c:a pcm_s16le -ac 2", "dv"},
      {"hdv", 1440, 1080, 1920, "4/3", "-c:v mpeg2video -q:v 8 -aspect 16:9 -c:a mp2", "ts"},
  };
  // The container alone states the display size: the coded pictures say nothing of it.
  const std::string coded = fixtures::Make(
      "non-square-coded-640x480.mp4",
      "-f lavfi -i " + ShellQuote(SquarePicture(853, 480) + ",scale=640:480") +
          " -t 1 -c:v libx264 -pix_fmt yuv420p");
  const std::string mkv = fixtures::Make("non-square-mkv-display-16x9-of-853x480.mkv",
                                         "-i " + ShellQuote(coded) + " -c copy -aspect 16:9");
  struct Row {
    std::string Name, Path;
    QSize Shown;
  };
  std::vector<Row> rows;
  for (const TNonSquareSource& s : sources)
    rows.push_back({s.Name, NonSquareClip(s), QSize(s.ShownWidth, s.Height)});
  rows.push_back({"mkv-display-16x9", mkv, QSize(853, 480)});
  std::mt19937 random(47);  // the same sizes on every run
  for (const Row& row : rows) {
    std::vector<QSize> sizes = {{}, {640, 360}, {320, 240}, {854, 480}};
    sizes.push_back({std::uniform_int_distribution(160, 960)(random),
                     std::uniform_int_distribution(120, 720)(random)});
    for (const QSize size : sizes) {
      List.Clear();
      TFileNode* node = Add(row.Path);
      ASSERT_TRUE(node);
      TFileOption& entry = node->Data;
      if (size.isEmpty())
        EXPECT_EQ(entry.OutputFrameSize.toStdString(), SizeText(row.Shown)) << row.Name;
      else
        entry.OutputFrameSize = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
      const QSize output = OutputSizeOf(entry);
      const std::string where = row.Name + " to " + SizeText(output);
      if (!ConvertHere(List.ConvertNodes())) {
        ADD_FAILURE() << where << " was refused";
        continue;
      }
      ExpectSize(Output(node), output, where);
      const TGreyPicture shown = GreyAt(Output(node), 0, 0.5);
      if (shown.Grey.empty()) continue;
      ExpectFittedAsShown(shown, output, row.Shown, where);
      ExpectNoThinBar(shown, row.Shown, where);
      std::filesystem::remove(Output(node));
    }
  }
}

// A source larger than the formats dialog accepts starts at the largest size within its limits
// in its own shape, which the dialog takes back unchanged, and converts at that size.
TEST_F(ConvertShapes, ASourceBeyondTheFormatsLimitsStartsAtTheLargestSizeWithinThem) {
  struct Case {
    int Width, Height;
    QSize Start;
  };
  for (const Case& c : {Case{3840, 2160, {1920, 1080}}, Case{2560, 1440, {1920, 1080}},
                        Case{1080, 1920, {720, 1280}}}) {
    List.Clear();
    const std::string size = SizeText({c.Width, c.Height});
    const std::string source = fixtures::Make(
        "large-" + size + ".mp4", "-f lavfi -i " + SquarePicture(c.Width, c.Height, 60) +
                                      " -frames:v 2 -c:v libx264 -preset ultrafast -crf 40"
                                      " -pix_fmt yuv420p");
    TFileNode* node = Add(source);
    ASSERT_TRUE(node);
    const QSize start = ParseFrameSize(node->Data.OutputFrameSize);
    EXPECT_EQ(SizeText(start), SizeText(c.Start)) << size;
    EXPECT_EQ(CheckResolution(start.width(), start.height(), false), TResolutionFault::None)
        << size;
    ASSERT_TRUE(ConvertHere(List.ConvertNodes())) << size;
    ExpectSize(Output(node), c.Start, size);
    ExpectSameShape(ShapeAt(Output(node), 0, 0), ShapeAt(source, 0, 0), size);
    std::filesystem::remove(Output(node));
  }
}

}  // namespace
