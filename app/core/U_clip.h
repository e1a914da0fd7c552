// Cutting one list entry into parts: the part records, the steps of the position bar over a
// file, the rules a part's start and end keep, and the list of parts the clip window edits.
#pragma once

#include "FFEncode.h"
#include "U_FileOption.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

struct TVideoStreamInfo;

struct TClipFile {
  QString Title;           // "Part_" and its number
  int64_t StartTime = 0;   // µs
  int64_t EndTime = 0;     // µs
  int64_t TimeLength = 0;  // µs, EndTime - StartTime once the list is stored
  QString SourceFrameSize;
  QString OutputFrameSize;
  int32_t Formatid = 0;
  TOutputOptions Output;
};
using TClipList = std::vector<TClipFile>;

// A new part of the entry: it converts as the entry is set up (profile, frame sizes and
// output options), so that cutting a file loses none of the user's choices.
TClipFile NewClipFile(const TFileOption& Entry);
// The part's output settings, start aside, into the list entry that converts it.
void TakeClipOutput(TFileOption& Part, const TClipFile& Clip);

// round(A x B / C) without overflow for any 64-bit operands; 0 when C is 0.
int64_t MulDivRound(int64_t A, int64_t B, int64_t C);

// The position bar's steps over a file: one per frame when the file has pictures, else one
// per microsecond. Conversions go through 128-bit products, so a long sound-only file (whose
// step count is its length in µs) never overflows.
struct TClipTimeBase {
  int64_t Duration = 0;   // µs
  int64_t TickCount = 0;  // steps over the whole file
  int32_t TicksPerSecond = 1000000;

  int64_t TimeOf(int64_t Position) const { return MulDivRound(Position, Duration, TickCount); }
  int64_t PositionOf(int64_t Time) const { return MulDivRound(Time, TickCount, Duration); }
};

// The steps for a file of the given length (µs) and, when it has pictures, its video stream.
TClipTimeBase ClipTimeBase(int64_t Duration, const std::optional<TVideoStreamInfo>& Video);

// A part's markers in bar steps.
struct TClipSegment {
  int64_t Start = 0;
  int64_t End = 0;
  bool operator==(const TClipSegment&) const = default;
};

// A part is at least a second long: a marker that comes closer to the other than that is
// pushed away from it, but never before the file's start or past its end.
TClipSegment MoveSegmentStart(TClipSegment Segment, int64_t Position, const TClipTimeBase& Base);
TClipSegment MoveSegmentEnd(TClipSegment Segment, int64_t Position, const TClipTimeBase& Base);

enum class TClipColumn { Start, End };

// The refusals of a typed time.
inline const QString EndPastLengthText =
    QStringLiteral("End time can not be grater than video length. ");
inline const QString EndBeforeStartText =
    QStringLiteral("The End time can not be equal to or less than start time.");
inline const QString StartAfterEndText =
    QStringLiteral("The start time can not be equal to or greater than End time.");
inline const QString UnreadableTimeText = QStringLiteral("The time must be given as hh:mm:ss.");

// The parts of one entry as the clip window edits them.
class TClipSession {
 public:
  // Existing parts are kept as they are; without any, one part covers the whole file.
  // New parts start as NewPart (its settings; times and title are set here).
  TClipSession(const TClipTimeBase& Base, TClipFile NewPart, int FirstPartNumber,
               const TClipList& Existing);

  const TClipTimeBase& Base() const { return FBase; }
  const TClipList& Rows() const { return FRows; }
  int PartCounter() const { return FPartCounter; }
  // Whether the parts differ from those the window opened with (the whole-file part it adds
  // for itself included): only what the user changed is worth a question.
  bool Changed() const;

  // A new part between the markers (bar steps); returns its row.
  int Add(TClipSegment Markers);
  void Delete(int Row);
  // The row's start or end follows a marker at the given bar step.
  void SetRowTime(int Row, TClipColumn Column, int64_t Position);
  // The row's markers in bar steps.
  TClipSegment SegmentOf(int Row) const;
  // Takes a typed "hh:mm:ss" for the row's start or end: empty when accepted, else the
  // refusal, and the row keeps its time.
  QString EditTime(int Row, TClipColumn Column, const QString& Text);
  // The parts to hand back, each with its length; every part is logged.
  TClipList Store() const;

 private:
  TClipTimeBase FBase;
  TClipFile FNewPart;
  TClipList FRows;
  TClipList FOpened;
  int FPartCounter;
};

// "hh:mm:ss" of whole seconds of a time in µs.
QString ClipTimeText(int64_t Time);
