#include "U_clip.h"

#include "FFDecode.h"
#include "U_Config.h"
#include "VelLog.h"

#include <algorithm>
#include <limits>

TClipFile NewClipFile(const TFileOption& Entry) {
  TClipFile clip;
  clip.Formatid = Entry.Formatid;
  clip.SourceFrameSize = Entry.SourceFrameSize;
  clip.OutputFrameSize = Entry.OutputFrameSize;
  clip.Output = Entry.Output;
  clip.Output.TimeLength = AV_NOPTS_VALUE;
  return clip;
}

void TakeClipOutput(TFileOption& Part, const TClipFile& Clip) {
  Part.Duration = Clip.TimeLength;
  Part.Formatid = Clip.Formatid;
  Part.SourceFrameSize = Clip.SourceFrameSize;
  Part.OutputFrameSize = Clip.OutputFrameSize;
  Part.Output = Clip.Output;
  Part.Output.TimeLength = Clip.TimeLength;
}

int64_t MulDivRound(int64_t A, int64_t B, int64_t C) {
  if (C == 0) return 0;
  __int128 product = static_cast<__int128>(A) * B;
  __int128 divisor = C;
  if (divisor < 0) {
    product = -product;
    divisor = -divisor;
  }
  // Halves round away from zero.
  const __int128 half = divisor / 2;
  const __int128 result = product >= 0 ? (product + half) / divisor : (product - half) / divisor;
  constexpr auto lowest = std::numeric_limits<int64_t>::min();
  constexpr auto highest = std::numeric_limits<int64_t>::max();
  return static_cast<int64_t>(std::clamp<__int128>(result, lowest, highest));
}

TClipTimeBase ClipTimeBase(int64_t Duration, const std::optional<TVideoStreamInfo>& Video) {
  TClipTimeBase base;
  base.Duration = std::max<int64_t>(Duration, 0);
  base.TickCount = base.Duration;
  if (!Video || Video->FrameRateNum <= 0 || Video->FrameRateDen <= 0) return base;
  const int64_t length = Video->DurationUS > 0 ? Video->DurationUS : base.Duration;
  const int64_t frames =
      MulDivRound(length, Video->FrameRateNum, int64_t{Video->FrameRateDen} * 1000000);
  const int64_t perSecond = MulDivRound(Video->FrameRateNum, 1, Video->FrameRateDen);
  if (frames >= 1 && perSecond >= 1) {
    base.TickCount = frames;
    base.TicksPerSecond = static_cast<int32_t>(perSecond);
  }
  return base;
}

TClipSegment MoveSegmentStart(TClipSegment Segment, int64_t Position, const TClipTimeBase& Base) {
  Segment.Start = Position;
  if (Segment.End - Segment.Start < Base.TicksPerSecond)
    Segment.Start = Segment.End - Base.TicksPerSecond - 1;
  Segment.Start = std::clamp<int64_t>(Segment.Start, 0, std::max<int64_t>(Base.TickCount, 0));
  return Segment;
}

TClipSegment MoveSegmentEnd(TClipSegment Segment, int64_t Position, const TClipTimeBase& Base) {
  Segment.End = Position;
  if (Segment.End - Segment.Start < Base.TicksPerSecond)
    Segment.End = Segment.Start + Base.TicksPerSecond + 1;
  Segment.End = std::clamp<int64_t>(Segment.End, 0, std::max<int64_t>(Base.TickCount, 0));
  return Segment;
}

QString ClipTimeText(int64_t Time) { return SecondsToTimeText(Time / 1000000); }

TClipSession::TClipSession(const TClipTimeBase& Base, TClipFile NewPart, int FirstPartNumber,
                           const TClipList& Existing)
    : FBase(Base), FNewPart(std::move(NewPart)), FRows(Existing), FPartCounter(FirstPartNumber) {
  if (FRows.empty()) Add({0, FBase.TickCount});
  FOpened = FRows;
}

bool TClipSession::Changed() const {
  const auto same = [](const TClipFile& a, const TClipFile& b) {
    return a.Title == b.Title && a.StartTime == b.StartTime && a.EndTime == b.EndTime;
  };
  return !std::equal(FRows.begin(), FRows.end(), FOpened.begin(), FOpened.end(), same);
}

int TClipSession::Add(TClipSegment Markers) {
  TClipFile clip = FNewPart;
  clip.Title = QStringLiteral("Part_%1").arg(FPartCounter++);
  clip.StartTime = FBase.TimeOf(Markers.Start);
  clip.EndTime = FBase.TimeOf(Markers.End);
  FRows.push_back(std::move(clip));
  return static_cast<int>(FRows.size()) - 1;
}

void TClipSession::Delete(int Row) {
  if (Row < 0 || Row >= static_cast<int>(FRows.size())) return;
  FRows.erase(FRows.begin() + Row);
  if (FRows.empty()) FPartCounter = 0;
}

void TClipSession::SetRowTime(int Row, TClipColumn Column, int64_t Position) {
  if (Row < 0 || Row >= static_cast<int>(FRows.size())) return;
  TClipFile& clip = FRows[Row];
  (Column == TClipColumn::Start ? clip.StartTime : clip.EndTime) = FBase.TimeOf(Position);
}

TClipSegment TClipSession::SegmentOf(int Row) const {
  const TClipFile& clip = FRows.at(Row);
  return {FBase.PositionOf(clip.StartTime), FBase.PositionOf(clip.EndTime)};
}

QString TClipSession::EditTime(int Row, TClipColumn Column, const QString& Text) {
  const std::optional<int64_t> seconds = TimeTextToSeconds(Text);
  if (!seconds || *seconds < 0 || *seconds > std::numeric_limits<int64_t>::max() / 1000000)
    return UnreadableTimeText;
  const int64_t time = *seconds * 1000000;
  TClipFile& clip = FRows.at(Row);
  const bool isEnd = Column == TClipColumn::End;
  if (isEnd && time > FBase.Duration) return EndPastLengthText;
  const int64_t start = FBase.PositionOf(isEnd ? clip.StartTime : time);
  const int64_t end = FBase.PositionOf(isEnd ? time : clip.EndTime);
  if (end - start < FBase.TicksPerSecond) return isEnd ? EndBeforeStartText : StartAfterEndText;
  (isEnd ? clip.EndTime : clip.StartTime) = time;
  return {};
}

TClipList TClipSession::Store() const {
  TClipList clips = FRows;
  for (TClipFile& clip : clips) {
    clip.TimeLength = clip.EndTime - clip.StartTime;
    VelLog.WriteInfo(QStringLiteral("AddVideoClip:  StartTime = %1, EndTime = %2, TimeLength = %3 ")
                         .arg(clip.StartTime / 1e6, 0, 'f', 5)
                         .arg(clip.EndTime / 1e6, 0, 'f', 5)
                         .arg(clip.TimeLength / 1e6, 0, 'f', 5));
  }
  return clips;
}
