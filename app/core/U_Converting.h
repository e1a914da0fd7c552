// The conversion plan: the checked entries of the file list in, encoder tasks with their
// records and filter texts out, and the bookkeeping of a run (which entry a task index
// stands for, whether every entry was converted). The conversion window is a view over it;
// the encoder and the overwrite question come in through small interfaces so that tests
// drive the whole plan without a screen or a real conversion.
#pragma once

#include "FFBaseComponent.h"
#include "FFEncode.h"
#include "U_CreateSwfThread.h"
#include "U_FileOption.h"

#include <QIODevice>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

// One node of the file list: a file with its parts, or a merge group with its files.
struct TConvertNode {
  TFileOption* Option = nullptr;
  bool Checked = false;
  std::vector<TConvertNode> Children;
};

// What task building needs of the encoder.
class IConvertEncoder {
 public:
  virtual ~IConvertEncoder() = default;
  // -1 when refused.
  virtual int AddTask(const std::string& FileName, const TInputOptions& Input) = 0;
  virtual bool AddInputFile(int TaskIndex, const std::string& FileName,
                            const TInputOptions& Input) = 0;
  virtual bool SetOutputFile(int TaskIndex, const std::string& FileName,
                             const TOutputOptions& Output) = 0;
  virtual void RemoveTask(int TaskIndex) = 0;
  virtual std::string LastError() const = 0;
  // Once the task's outputs are set: the folder its first output is written in, when it is
  // written under a temporary name.
  virtual TFolder OutputFolder(int TaskIndex) const = 0;
};

// The encoder's own tasks behind the plan. One thread at a time, before the encoder starts.
class TEncoderTasks : public IConvertEncoder {
 public:
  explicit TEncoderTasks(TCustomEncoder& Encoder) : FEncoder(Encoder) {}
  // An option the engine's parser rejects is a refusal like any other, with its message; so is
  // an input that is not a regular file (the file may have changed since it was added).
  int AddTask(const std::string& FileName, const TInputOptions& Input) override;
  bool AddInputFile(int TaskIndex, const std::string& FileName,
                    const TInputOptions& Input) override;
  bool SetOutputFile(int TaskIndex, const std::string& FileName,
                     const TOutputOptions& Output) override;
  void RemoveTask(int TaskIndex) override { FEncoder.RemoveTask(TaskIndex); }
  std::string LastError() const override { return FError; }
  TFolder OutputFolder(int TaskIndex) const override { return FEncoder.OutputFolder(TaskIndex, 0); }

 private:
  template <class TCall>
  auto Guarded(TCall Call) -> decltype(Call());
  bool RefusesInput(const std::string& FileName);

  TCustomEncoder& FEncoder;
  std::string FError;
};

// Answers of the replace dialog.
enum TReplaceAnswer {
  raNone = 0,
  raCancel = 2,
  raYes = 6,
  raNo = 7,
  raNoToAll = 9,
  raYesToAll = 10
};

// Asks once whether the existing files of one entry may be replaced; returns a
// TReplaceAnswer, which stands for all of them.
class IOverwriteAsker {
 public:
  virtual ~IOverwriteAsker() = default;
  virtual int AskReplaceFiles(const QStringList& FileNames) = 0;
};

// The overwrite question with its remembered answer: Cancel skips everything after it,
// "to all" answers stand for every later existing file.
class TOverwriteQuestion {
 public:
  explicit TOverwriteQuestion(IOverwriteAsker& Asker) : FAsker(Asker) {}
  // The files of one entry: those that exist are asked about in one question; false when
  // they are to be kept. Replaced gets the files that were there when asked about (or
  // answered for all).
  bool AllowsAll(const QStringList& FileNames, std::set<QString>& Replaced);

 private:
  IOverwriteAsker& FAsker;
  int FAnswer = raNone;
};

// A file name as the system takes it, and back.
std::string EncodedName(const QString& FileName);
QString DecodedName(const std::string& FileName);

// Makes the file `Name` of the folder under a temporary name (TTemporaryFile, which may replace a
// file of that name only when Replaces) and copies the source into it. False with the reason.
bool WriteTemporaryFile(TTemporaryFile& File, const TFolder& Folder, const QString& Name,
                        bool Replaces, QIODevice& Source, QString* Error);

// The path with the suffix of its last component replaced (or added): "a.b.flv" -> "a.b.swf".
QString WithSuffix(const QString& Path, const QString& Suffix);

// The entry's FLV as written (its own output name), and its SWF, thumbnail and page beside it.
QString FlvFileOf(const TFileOption& Entry);
QString SwfFileOf(const TFileOption& Entry);
QString ThumbnailFileOf(const TFileOption& Entry);
QString PageFileOf(const TFileOption& Entry);

// The SWF carries the video itself: asked for, or progressive but with no FLV to stream.
bool EmbedsVideo(const TFileOption& Entry);

// The files the encoder writes for the entry, in order; a merge group writes one.
QStringList EncoderOutputsOf(const TFileOption& Entry);
// Every file the entry writes: the encoder's, then the packaged SWF, its page, the thumbnail.
QStringList WrittenFilesOf(const TFileOption& Entry);

// The output size: the entry's own, else the source's, else 320x240.
QSize OutputSizeOf(const TFileOption& Entry);

// The chain of the entry's picture filters, written with "." as decimal point whatever
// the locale. Geometry filters only for a source with pictures.
struct TVideoFilters {
  std::string Chain;
  std::string ExtOptions;      // the deinterlace line in front of the entry's own lines
  bool TextWaterMark = false;  // the task draws the entry's text on its output frames
};
TVideoFilters BuildVideoFilters(const TFileOption& Entry, bool WithGeometry, bool WithWatermark);

// The picture path as the value of the movie filter inside a filter graph text.
std::string EscapeFilterGraphValue(const std::string& Value);

// The task's copy of the entry's output record with the filters applied.
TOutputOptions TaskOutputOptions(const TFileOption& Entry, bool WithGeometry);

// The parameter block logged after an output was accepted, one log entry per item.
QStringList EncodeParamLines(const TFileOption& Entry, const TOutputOptions& Output,
                             const QString& OutputFile);

// Where an entry's files beside its encoder's outputs go, and which of them may replace a file:
// those there when the entry was chosen, which the user let the run replace.
struct TEntryFiles {
  // Its Into is the folder of the encoder's first output, so that the thumbnail, the SWF and the
  // page land where the FLV lands, wherever that folder is moved.
  TPackagingJob Packaging;
  bool ReplacesThumbnail = false;
};

// The tasks of a run and the map from the run's task indexes back to entries. The entries are
// chosen first; then each is opened when its turn comes, into an encoder that holds that task
// alone, so that a run holds the files and the memory of one task whatever its length.
class TConvertPlan {
 public:
  explicit TConvertPlan(IOverwriteAsker& Asker);

  // Main thread: the entries to convert, asking about existing outputs; an output that exists
  // and is not a regular file (a pipe would block its opening) refuses its entry. Offered
  // entries are counted here.
  void Choose(const std::vector<TConvertNode>& Nodes);
  // Any one thread, after Choose: opens the chosen entries still waiting, in order, into the
  // encoder until one of them becomes a task there, which may take long (the conversion window
  // runs it on a worker). The entries refused on the way are kept. The run's index of the task
  // opened, or -1 once no entry waits.
  int OpenNext(IConvertEncoder& Encoder);

  // Entries offered to the encoder, whether or not it took them.
  int OfferedCount() const { return FOffered; }
  // Tasks opened so far.
  int TaskCount() const { return int(FTaskEntries.size()); }
  // Entries offered that got no task (input or output refused, nothing to write), once every
  // entry was opened.
  int RefusedCount() const { return FOffered - TaskCount(); }
  // One line per refused entry: its output's name and the reason.
  const QStringList& Refusals() const { return FRefusals; }
  TFileOption* EntryOfTask(int TaskIndex) const;
  // The files of the task opened last; nullptr for any other.
  const TEntryFiles* FilesOfTask(int TaskIndex) const;
  // Main thread, while the task runs: its first picture as a JPEG, which its SWF shows while
  // waiting for the viewer. A later picture changes nothing.
  void KeepPoster(int TaskIndex, const QByteArray& Jpeg);
  int64_t TotalDuration() const { return FTotalDuration; }
  // The text watermark a task draws, or nullptr.
  const TTextWaterMark* TextWaterMarkOf(int TaskIndex) const;

 private:
  // An entry, or a merge group with its node.
  struct TChosen {
    TFileOption* Entry;
    const TConvertNode* Group;
    TEntryFiles Files;
  };

  // Takes the entry (a merge group with its node) when Accepts it.
  void Take(TFileOption& Entry, const TConvertNode* Group);
  // Replaced gets the entry's files that the user let the run replace.
  bool Accepts(TFileOption& Entry, std::set<QString>& Replaced);
  // The encoder's index of the entry's task, or -1 when refused.
  int OpenEntry(IConvertEncoder& Encoder, TFileOption& Entry);
  int OpenMergeGroup(IConvertEncoder& Encoder, const TConvertNode& Group);
  bool SetOutputs(IConvertEncoder& Encoder, TFileOption& Entry, int TaskIndex);
  QString AppearedSinceAsked(const QString& File) const;
  void Offer(TFileOption& Entry);
  // Logs the reason as an error and keeps it for the end message.
  void Refuse(const TFileOption& Entry, const QString& Reason);

  TOverwriteQuestion FQuestion;
  std::vector<TChosen> FChosen;
  size_t FNextChosen = 0;
  std::map<int, TFileOption*> FTaskEntries;  // by the run's task index
  // The latest task's alone: a long list must not hold a folder open for every entry.
  int FFilesTask = -1;
  TEntryFiles FFiles;
  std::map<int, TTextWaterMark> FTextWaterMarks;
  QStringList FRefusals;
  std::set<QString> FNewOutputs;  // the outputs that did not exist when the user was asked
  int FOffered = 0;
  int64_t FTotalDuration = 0;
};

// A task of its own: the encoder that runs one entry, freed with everything the task opened
// once it has ended.
struct TTaskEncoder {
  TFFEncoder Encoder;
  TEncoderTasks Tasks{Encoder};
};

// While it lives, the blocking I/O of the thread that made it gives up as soon as Quit is set,
// from any thread; until then the thread's own interrupts (a task's time limit) answer. Made and
// ended on that thread, around its I/O.
class TQuitableIO {
 public:
  explicit TQuitableIO(std::atomic<bool>& Quit);
  ~TQuitableIO();
  TQuitableIO(const TQuitableIO&) = delete;
  TQuitableIO& operator=(const TQuitableIO&) = delete;

 private:
  std::atomic<bool>& FQuit;
};

// Frees the task, and gives back to the system the memory it no longer uses: the heaps of the
// threads that ran it would keep it otherwise, after the run too.
void FreeTask(std::unique_ptr<TTaskEncoder>& Task);

// Converts the plan's chosen entries on the calling thread, one task at a time, each in a
// TTaskEncoder of its own made ready by Prepare. OnEnded gets each task's end notice with the
// run's task index, then the run's last notice (task -1).
void ConvertInTurn(TConvertPlan& Plan, const std::function<void(TFFEncoder&)>& Prepare,
                   const std::function<void(const TTerminateInfo&)>& OnEnded);

// The bookkeeping of a running conversion: which entries failed, and the one completion.
struct TTaskEndAction {
  TFileOption* PackageEntry = nullptr;  // finished and wants its skinned SWF
  bool Complete = false;                // the last notice of the run: complete once
  bool AllConverted = false;
};

class TConvertRun {
 public:
  explicit TConvertRun(const TConvertPlan& Plan) : FPlan(Plan) {}
  // Main thread, for every end notice of the encoder (task -1 comes last). Logs failures.
  TTaskEndAction TaskEnded(int TaskIndex, bool Finished, bool Exception,
                           const std::string& Message);
  // A file of a converted entry did not land: the reason names the file ("name.swf: ...").
  void FileFailed(const QString& Reason);
  // A file the user asked for that the entry cannot have, which fails nothing: the note names
  // the file and says why ("name.jpg: ..."). Logged, and said at the end.
  void FileNotMade(const QString& Note);
  const QStringList& Notes() const { return FNotes; }
  int FailedCount() const { return FFailed; }
  // One line per entry that was refused or failed: its output's name and the reason.
  QStringList Reasons() const { return FPlan.Refusals() + FReasons; }

 private:
  void Failed(const TFileOption* Entry, const QString& Reason);

  const TConvertPlan& FPlan;
  int FFailed = 0;
  QStringList FReasons;
  QStringList FNotes;
  bool FCompleted = false;
};

// The message at the end of a run; a failure lists the reasons it knows, then come the notes,
// one line each, so many at most that the box fits a screen, then how many more the log holds.
QString ConversionEndMessage(bool AllConverted, const QStringList& Reasons,
                             const QStringList& Notes = {});

// The note for an entry whose input gave no picture to take its thumbnail from.
QString ThumbnailNotMade(const TFileOption& Entry);

// The thumbnails of a run. Each is written as soon as its task's first picture arrives, under a
// temporary name in the entry's folder, and takes its name only when the task ends usable: a
// failed, stopped or killed run leaves the earlier thumbnail beside the earlier FLV.
class TThumbnailFiles {
 public:
  // The task's JPEG, as the entry's files allow. False when it cannot be written.
  bool Write(int TaskIndex, const TEntryFiles& Files, const QString& FileName,
             const QByteArray& Jpeg);
  // The task ended: its thumbnail takes its name when the task is usable, else goes. Empty, or
  // (logged) why it could not take its name and where it is kept ("name.jpg: ...").
  QString TaskEnded(int TaskIndex, bool Usable);
  // Drops every thumbnail not yet settled.
  void Clear() { FFiles.clear(); }

 private:
  struct TThumbnail {
    QString Name;
    TTemporaryFile File;
  };
  std::map<int, TThumbnail> FFiles;
};

// The two bars and the counter label of the window, from the encoder's progress.
class TConvertProgress {
 public:
  explicit TConvertProgress(const TConvertPlan& Plan) : FPlan(Plan) {}
  // True when the task changed (the window shows the new file name).
  bool Update(int TaskIndex, int64_t CurrentTime, int64_t TotalTime);
  int FilePercent() const { return FFilePercent; }
  int TotalPercent() const { return FTotalPercent; }
  int CurrentTask() const { return FCurrentTask; }
  QString CounterText() const;

 private:
  const TConvertPlan& FPlan;
  int FCurrentTask = -1;
  int64_t FDoneDuration = 0;
  int64_t FLastTotal = 0;
  int FFilePercent = 0;
  int FTotalPercent = 0;
};

// Where the whole source fits into the target, centred with its aspect kept (halves of a
// pixel round to even).
QRect FitRectInto(const QSize& Source, const QRect& Target);
