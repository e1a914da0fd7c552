#include "FFDecode.h"
#include "U_clip.h"

#include <gtest/gtest.h>

namespace {

TVideoStreamInfo VideoAt(int Num, int Den, int64_t DurationUS) {
  TVideoStreamInfo video;
  video.FrameRateNum = Num;
  video.FrameRateDen = Den;
  video.DurationUS = DurationUS;
  return video;
}

TEST(Clip, TimeBaseCountsFramesOrMicrosecondsAndRoundTrips) {
  constexpr int64_t TwoHours = 7200LL * 1000000;
  const struct {
    const char* Name;
    int64_t Duration;
    std::optional<TVideoStreamInfo> Video;
    int64_t TickCount;
    int32_t TicksPerSecond;
  } cases[] = {
      {"25 fps", 3000000, VideoAt(25, 1, 3000000), 75, 25},
      {"29.97 fps", 10000000, VideoAt(30000, 1001, 10000000), 300, 30},
      {"stream without length", 4000000, VideoAt(25, 1, -1), 100, 25},
      {"two hours of sound", TwoHours, std::nullopt, TwoHours, 1000000},
      {"zero denominator", 2000000, VideoAt(25, 0, 2000000), 2000000, 1000000},
      {"under one frame a second", 2000000, VideoAt(1, 3, 2000000), 2000000, 1000000},
  };
  for (const auto& c : cases) {
    const TClipTimeBase base = ClipTimeBase(c.Duration, c.Video);
    EXPECT_EQ(base.TickCount, c.TickCount) << c.Name;
    EXPECT_EQ(base.TicksPerSecond, c.TicksPerSecond) << c.Name;
    EXPECT_EQ(base.TimeOf(base.TickCount), c.Duration) << c.Name;
    for (const int64_t position : {int64_t{0}, int64_t{1}, base.TickCount / 3, base.TickCount - 1})
      EXPECT_EQ(base.PositionOf(base.TimeOf(position)), position) << c.Name << " " << position;
  }
}

TEST(Clip, MarkersStayASecondApartInsideTheFile) {
  TClipTimeBase base;
  base.TickCount = 75;
  base.TicksPerSecond = 25;
  const struct {
    const char* Name;
    bool MoveStart;
    TClipSegment Before;
    int64_t Position;
    TClipSegment After;
  } cases[] = {
      {"start far enough", true, {0, 60}, 10, {10, 60}},
      {"start ten steps before the end", true, {0, 60}, 50, {34, 60}},
      {"start past the end", true, {0, 60}, 70, {34, 60}},
      {"start widened below zero", true, {0, 20}, 15, {0, 20}},
      {"end far enough", false, {10, 60}, 40, {10, 40}},
      {"end too close", false, {10, 60}, 20, {10, 36}},
      {"end widened past the file", false, {60, 75}, 65, {60, 75}},
  };
  for (const auto& c : cases) {
    const TClipSegment after = c.MoveStart ? MoveSegmentStart(c.Before, c.Position, base)
                                           : MoveSegmentEnd(c.Before, c.Position, base);
    EXPECT_EQ(after, c.After) << c.Name;
  }
}

TEST(Clip, TypedTimesAreCheckedAgainstTheOtherEndAndTheFile) {
  const TClipTimeBase base = ClipTimeBase(30000000, VideoAt(25, 1, 30000000));
  const struct {
    TClipColumn Column;
    const char* Text;
    QString Refusal;
    int64_t Start, End;  // µs afterwards
  } cases[] = {
      {TClipColumn::End, "00:00:31", EndPastLengthText, 5000000, 10000000},
      {TClipColumn::End, "00:00:05", EndBeforeStartText, 5000000, 10000000},
      {TClipColumn::End, "00:00:02", EndBeforeStartText, 5000000, 10000000},
      {TClipColumn::End, "00:00:30", QString(), 5000000, 30000000},
      {TClipColumn::Start, "00:00:10", StartAfterEndText, 5000000, 10000000},
      {TClipColumn::Start, "00:00:09", QString(), 9000000, 10000000},
      {TClipColumn::Start, "0:0:0", QString(), 0, 10000000},
      {TClipColumn::Start, "  :1 :  ", UnreadableTimeText, 5000000, 10000000},
  };
  for (const auto& c : cases) {
    TClipFile part = NewClipFile(TFileOption());
    part.StartTime = 5000000;
    part.EndTime = 10000000;
    TClipSession session(base, TClipFile(), 1, {part});
    EXPECT_EQ(session.EditTime(0, c.Column, QString::fromLatin1(c.Text)), c.Refusal) << c.Text;
    EXPECT_EQ(session.Rows()[0].StartTime, c.Start) << c.Text;
    EXPECT_EQ(session.Rows()[0].EndTime, c.End) << c.Text;
    EXPECT_EQ(session.Changed(), c.Refusal.isEmpty()) << c.Text;
  }
}

TEST(Clip, PartsAreNumberedAndStoredWithTheirLengths) {
  const TClipTimeBase base = ClipTimeBase(3000000, VideoAt(25, 1, 3000000));
  // New parts convert as their entry is set up.
  TFileOption entry;
  entry.SourceFrameSize = QStringLiteral("640x480");
  entry.OutputFrameSize = QStringLiteral("320x240");
  entry.Output.VideoBitrate = 300000;
  TClipSession session(base, NewClipFile(entry), 0, {});
  ASSERT_EQ(session.Rows().size(), 1u);
  EXPECT_EQ(session.Rows()[0].Title, QStringLiteral("Part_0"));
  EXPECT_EQ(session.SegmentOf(0), (TClipSegment{0, 75}));
  EXPECT_EQ(session.Rows()[0].SourceFrameSize, QStringLiteral("640x480"));
  EXPECT_EQ(session.Rows()[0].OutputFrameSize, QStringLiteral("320x240"));
  EXPECT_EQ(session.Rows()[0].Output.VideoBitrate, 300000);
  // The whole-file part is the window's own, and a marker set where it stands changes nothing.
  EXPECT_FALSE(session.Changed());
  session.SetRowTime(0, TClipColumn::Start, 0);
  EXPECT_FALSE(session.Changed());
  session.SetRowTime(0, TClipColumn::Start, 10);
  EXPECT_TRUE(session.Changed());
  session.SetRowTime(0, TClipColumn::Start, 0);
  EXPECT_FALSE(session.Changed());

  EXPECT_EQ(session.Add({25, 50}), 1);
  session.SetRowTime(1, TClipColumn::End, 60);
  const TClipList stored = session.Store();
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[1].Title, QStringLiteral("Part_1"));
  EXPECT_EQ(stored[1].StartTime, 1000000);
  EXPECT_EQ(stored[1].TimeLength, 1400000);
  EXPECT_EQ(stored[0].TimeLength, 3000000);

  session.Delete(0);
  session.Delete(0);
  EXPECT_TRUE(session.Rows().empty());
  session.Add({0, 30});
  EXPECT_EQ(session.Rows()[0].Title, QStringLiteral("Part_0"));

  TClipSession kept(base, TClipFile(), 4, stored);
  EXPECT_FALSE(kept.Changed());
  EXPECT_EQ(kept.Rows().size(), 2u);
  kept.Add({0, 30});
  EXPECT_EQ(kept.Rows()[2].Title, QStringLiteral("Part_4"));
}

}  // namespace
