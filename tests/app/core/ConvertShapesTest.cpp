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
#include "U_Treelist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace {

using fixtures::ShellQuote;

// A grey picture with a white square in its middle, for ffmpeg's lavfi input.
std::string SquarePicture(int Width, int Height, int Rate = 25) {
  const int side = Height / 3 / 2 * 2;
  char text[160];
  std::snprintf(text, sizeof text,
                "color=c=0x808080:s=%dx%d:r=%d,drawbox=x=%d:y=%d:w=%d:h=%d:color=white:t=fill",
                Width, Height, Rate, (Width - side) / 2, (Height - side) / 2, side, side);
  return text;
}

std::string SquareClip(int Width, int Height) {
  return fixtures::Make("square-" + std::to_string(Width) + "x" + std::to_string(Height) + ".mp4",
                        "-f lavfi -i " + SquarePicture(Width, Height) +
                            " -f lavfi -i sine=frequency=440:sample_rate=44100 -t 2"
                            " -c:v libx264 -pix_fmt yuv420p -c:a aac");
}

// Width over height of what a picture shows: the picture itself (anything lighter than the
// black bars) and the white square on it.
struct TShape {
  double Picture = 0;
  double Square = 0;
};

// Width over height of the area lighter than Level: the columns and rows that hold at least
// half as many such pixels as the fullest one, so that coding noise at the edges does not count.
double AreaRatio(const std::string& Grey, int Width, int Height, int Level) {
  std::vector<int> columns(size_t(Width), 0), rows(size_t(Height), 0);
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x)
      if (uint8_t(Grey[size_t(y * Width + x)]) > Level) {
        ++columns[size_t(x)];
        ++rows[size_t(y)];
      }
  auto extent = [](const std::vector<int>& counts) {
    const int full = *std::max_element(counts.begin(), counts.end());
    return std::count_if(counts.begin(), counts.end(),
                         [full](int n) { return full > 0 && 2 * n >= full; });
  };
  const auto height = extent(rows);
  return height ? double(extent(columns)) / double(height) : 0;
}

// The shape of the picture shown at Seconds in the file's Stream-th video stream.
TShape ShapeAt(const std::string& Path, int Stream, double Seconds) {
  const ProbeResult probe = ProbeMedia(Path, false);
  std::vector<const ProbeStream*> videos;
  for (const ProbeStream& s : probe.streams)
    if (s.codec_type == "video") videos.push_back(&s);
  if (Stream >= int(videos.size())) {
    ADD_FAILURE() << Path << " has no video stream " << Stream;
    return {};
  }
  const int width = videos[size_t(Stream)]->width, height = videos[size_t(Stream)]->height;
  const std::string raw = Path + "." + std::to_string(Stream) + "." +
                          std::to_string(int(Seconds * 1000)) + ".grey";
  char select[64];
  std::snprintf(select, sizeof select, "select=gte(t\\,%.2f)", Seconds);
  std::string log;
  EXPECT_EQ(fixtures::Run("ffmpeg -nostdin -v error -y -i " + ShellQuote(Path) + " -map 0:v:" +
                              std::to_string(Stream) + " -vf " + ShellQuote(select) +
                              " -frames:v 1 -f rawvideo -pix_fmt gray " + ShellQuote(raw),
                          &log),
            0)
      << log;
  const std::string grey = fixtures::ReadFile(raw);
  if (grey.size() != size_t(width * height)) {
    ADD_FAILURE() << Path << ": " << grey.size() << " bytes at " << Seconds << " s";
    return {};
  }
  return {AreaRatio(grey, width, height, 64), AreaRatio(grey, width, height, 200)};
}

void ExpectSameShape(const TShape& Output, const TShape& Source, const std::string& Where) {
  EXPECT_NEAR(Output.Picture, Source.Picture, 0.04 * Source.Picture) << Where;
  EXPECT_NEAR(Output.Square, Source.Square, 0.06) << Where;
}

class ConvertShapes : public testing::Test {
 protected:
  void SetUp() override {
    FFLoader().SetLibraryPath(FENNICK_LIBAV_DIR);
    ASSERT_TRUE(FFLoader().Load(AllLibraries)) << FFLoader().LastErrorMessage();
    SetMainThread();
    SetProgramFolder(Program.Path());
  }
  void TearDown() override { SetProgramFolder(QString()); }

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

  TScratchFolder Program, Out;
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

TEST_F(ConvertShapes, EachMergedInputKeepsItsAspectWithBars) {
  struct Case {
    int FirstWidth, FirstHeight, SecondWidth, SecondHeight;
  };
  for (const Case& c : {Case{320, 240, 640, 360}, Case{640, 360, 320, 240}}) {
    List.Clear();
    const std::string first = SquareClip(c.FirstWidth, c.FirstHeight);
    const std::string second = SquareClip(c.SecondWidth, c.SecondHeight);
    TFileNode* a = Add(first);
    Add(second);
    a->Selected = true;  // beside the one added last
    const TFileNode* group = FlvOnly(List.MergeSelectedItems(Out.Path()));
    ASSERT_TRUE(group);
    ASSERT_TRUE(ConvertHere(List.ConvertNodes()));
    const std::string where = "merged " + std::to_string(c.FirstWidth) + " wide first";
    ExpectSameShape(ShapeAt(Output(group), 0, 1), ShapeAt(first, 0, 1), where + ", first input");
    ExpectSameShape(ShapeAt(Output(group), 0, 3), ShapeAt(second, 0, 1), where + ", second input");
    std::filesystem::remove(Output(group));
  }
}

}  // namespace
