#include "U_Converting.h"

#include "PictureShape.h"
#include "U_Config.h"
#include "VelLog.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <malloc.h>
#include <thread>
#include <type_traits>

namespace {

// Every character of Specials (and whitespace, which the parsers would trim) gets a backslash.
std::string BackslashEscaped(const std::string& Text, const char* Specials) {
  std::string out;
  for (char c : Text) {
    if (std::strchr(Specials, c) || c == ' ' || c == '\t' || c == '\n' || c == '\r') out += '\\';
    out += c;
  }
  return out;
}

bool HasTextWaterMark(const TFileOption& Entry) { return Entry.WaterMarkKind == 2; }

QString CropText(QSize Size, int Left, int Top) {
  // Exact: the picture's subsampling would otherwise move an odd edge by a pixel (for the
  // user's crop, away from what the edit window showed).
  return QStringLiteral("crop=%1:%2:%3:%4:exact=1")
      .arg(Size.width())
      .arg(Size.height())
      .arg(Left)
      .arg(Top);
}

// A crop with neither a place nor a size stands for none at all.
bool IsNoCrop(const TIntRect& Crop) {
  return Crop.Left < 1 && Crop.Top < 1 && Crop.Right - Crop.Left < 1 && Crop.Bottom - Crop.Top < 1;
}

bool CropFits(const TIntRect& Crop, QSize Source) {
  return Crop.Left >= 0 && Crop.Top >= 0 && Crop.Left < Crop.Right && Crop.Top < Crop.Bottom &&
         Crop.Right <= Source.width() && Crop.Bottom <= Source.height();
}

// Why the entry's crop cannot be applied to its picture; empty when it can or there is none.
QString CropRefusal(const TFileOption& Entry) {
  const QSize source = ParseFrameSize(Entry.SourceFrameSize);
  const TIntRect& crop = Entry.CropRect;
  if (!Entry.CropEnabled || source.isEmpty() || IsNoCrop(crop) || CropFits(crop, source)) return {};
  return QStringLiteral(
             "Crop Error: the crop (left %1, top %2, right %3, bottom %4) does not lie in the "
             "%5x%6 picture of %7")
      .arg(crop.Left)
      .arg(crop.Top)
      .arg(crop.Right)
      .arg(crop.Bottom)
      .arg(source.width())
      .arg(source.height())
      .arg(DecodedName(Entry.Input.FileName));
}

// Crops to the rectangle (when it is a real one: the plan refuses an entry whose crop does
// not fit its picture); the size of the picture left.
QSize AppendCrop(const TFileOption& Entry, QSize Source, QStringList& Chain) {
  TIntRect crop = Entry.CropRect;
  if (!Entry.CropEnabled) crop = {0, 0, Source.width(), Source.height()};
  if (!CropFits(crop, Source)) return Source;
  const QSize size(crop.Right - crop.Left, crop.Bottom - crop.Top);
  Chain << CropText(size, crop.Left, crop.Top);
  return size;
}

QString ScaleText(QSize Size) {
  return QStringLiteral("scale=%1:%2").arg(Size.width()).arg(Size.height());
}

// Pads the picture to the output's size, its top-left corner at Place (two pad expressions).
// The half-size chroma planes let pad size and place only in steps of two, so the canvas has
// even sides and an odd side of the output is cut from it.
void AppendBars(QSize Output, const QString& Place, QStringList& Chain) {
  const QSize canvas((Output.width() + 1) / 2 * 2, (Output.height() + 1) / 2 * 2);
  Chain << QStringLiteral("pad=%1:%2:%3").arg(canvas.width()).arg(canvas.height()).arg(Place);
  if (canvas != Output) Chain << CropText(Output, 0, 0);
}

// The even offset nearest the middle of a side of Side pixels for a picture Length long (the
// nearer the start on a tie).
int CentredOffset(int Side, int Length) { return std::max(0, Side - Length + 1) / 4 * 2; }

// The even length nearest Ideal that a side of Side pixels holds.
int EvenLength(int Side, double Ideal) {
  return std::clamp(int(std::lround(Ideal / 2)) * 2, 2, std::max(2, Side / 2 * 2));
}

// The most a padded picture may fall short of the output on a side and still be stretched to
// fill it: a bar that thin, on one side only, is seen, while a shape changed by two pixels is not.
constexpr int FillSlack = 2;

// Where the picture lands in the output, fitted whole with its aspect kept and centred: the
// whole output when the fit fills it to within half a pixel. Otherwise it is padded, and pad
// sizes and places in the steps of two of the half-size chroma planes (of an odd picture it
// leaves out the last line): the picture takes even lengths nearest its fit, at even offsets;
// when those fall short of the output by FillSlack or less, it fills the output instead. At
// its own size it keeps its pixels, since resampling it by a pixel would soften it all; a
// picture that is Resampled anyway (stored in other pixels than it is shown in) has no pixels
// of its own to keep and fills as any other.
QRect FitPlace(QSize Picture, QSize Output, bool Resampled) {
  const double scale = std::min(double(Output.width()) / Picture.width(),
                                double(Output.height()) / Picture.height());
  const double width = Picture.width() * scale, height = Picture.height() * scale;
  if (std::lround(width) == Output.width() && std::lround(height) == Output.height())
    return {QPoint(), Output};
  const bool ownSize = !Resampled && Picture.boundedTo(Output) == Picture &&
                       (Picture.width() == Output.width() || Picture.height() == Output.height());
  const QSize size =
      ownSize ? Picture
              : QSize(EvenLength(Output.width(), width), EvenLength(Output.height(), height));
  const QSize shortfall = Output - size;
  if (!ownSize && shortfall.width() <= FillSlack && shortfall.height() <= FillSlack)
    return {QPoint(), Output};
  return {CentredOffset(Output.width(), size.width()),
          CentredOffset(Output.height(), size.height()), size.width(), size.height()};
}

// The picture is scaled onto whole pixels and padded after: the scaler reads only the picture,
// the bars stay exactly black, and the pad copies the small picture instead of the large
// (nothing at all when the picture has the output's aspect already).
void AppendFit(QSize Picture, QSize Output, bool Resampled, QStringList& Chain) {
  const QRect place = FitPlace(Picture, Output, Resampled);
  Chain << ScaleText(place.size());
  if (place.size() != Output)
    AppendBars(Output, QStringLiteral("%1:%2").arg(place.x()).arg(place.y()), Chain);
}

void AppendEffects(const TFileOption& Entry, QStringList& Chain) {
  if (Entry.Brightness != 0 || Entry.Contrast != 0)
    Chain << QStringLiteral("nativeeq=%1:%2").arg(Entry.Brightness).arg(Entry.Contrast);
  if (Entry.Saturation != 0) Chain << QStringLiteral("nativehue=0:%1").arg(Entry.Saturation);
}

// The inputs a merge group joins may each have a size and a pixel shape of their own, and the
// one chain serves them all: each is brought to its shown size (stretched, never shrunk, so no
// detail is lost before the fit; pictures of square pixels pass at their own size untouched),
// then scaled to fit the output and padded to its size, centred.
void AppendFitEveryInput(QSize Output, QStringList& Chain) {
  Chain << QStringLiteral("scale=w='round(iw*max(1,sar))':h='round(ih/min(1,sar))'");
  Chain << QStringLiteral(
               "scale=w=%1:h=%2:force_original_aspect_ratio=decrease:force_divisible_by=2")
               .arg(Output.width())
               .arg(Output.height());
  AppendBars(Output, QStringLiteral("(ow-iw)/2:(oh-ih)/2"), Chain);
}

// The effects work on the cropped picture before it is padded, so that the bars stay black
// as the edit window's output preview shows them. The crop is in stored pixels, the fit in the
// shape the picture is shown in: the output's pixels are square, and it says so. A merge
// group's crop is its first input's, in that input's shape.
void AppendPicture(const TFileOption& Entry, bool WithGeometry, QStringList& Chain) {
  const TPictureShape shape(Entry);
  const QSize source = shape.Stored();
  const bool geometry = WithGeometry && !source.isEmpty();
  const QSize output = OutputSizeOf(Entry);
  const bool squared = geometry && (!shape.IsSquare() || Entry.IsMergeGroup);
  const bool reshape = geometry && (Entry.CropEnabled ||
                                    (!Entry.IsMergeGroup && (squared || output != source)));
  const QSize cropped = reshape ? AppendCrop(Entry, source, Chain) : source;
  AppendEffects(Entry, Chain);
  if (reshape) {
    const QSize shown = shape.ShownSize(cropped);
    AppendFit(shown, output, shown != cropped, Chain);
  } else if (geometry && Entry.IsMergeGroup) {
    AppendFitEveryInput(output, Chain);
  } else if (geometry) {
    Chain << ScaleText(output);
  }
  if (squared) Chain << QStringLiteral("setsar=1");
  if (Entry.VFlip) Chain << QStringLiteral("vflip");
  if (Entry.HFlip) Chain << QStringLiteral("hflip");
}

// The picture goes over the chain's result; the links are named, since an unnamed input
// of overlay would bind the picture first and the video would take the picture's size.
std::string WithPictureOverlay(const TFileOption& Entry, const std::string& Chain) {
  const std::string movie =
      "movie=" + EscapeFilterGraphValue(EncodedName(Entry.WaterMark.PictureToDraw())) + " [wm]; ";
  const std::string overlay = QStringLiteral("overlay=%1:%2 [out]")
                                  .arg(Entry.WaterMark.Rect.Left)
                                  .arg(Entry.WaterMark.Rect.Top)
                                  .toStdString();
  if (Chain.empty()) return movie + "[in][wm] " + overlay;
  return movie + "[in] " + Chain + " [v]; [v][wm] " + overlay;
}

void LogError(const QString& Text) { VelLog.WriteError(Text); }

// A line of the end message: the entry's output name and why it failed.
QString ReasonLine(const TFileOption* Entry, const QString& Reason) {
  return Entry ? QFileInfo(FlvFileOf(*Entry)).fileName() + QStringLiteral(": ") + Reason : Reason;
}

// Only a file the user was asked about (or answered for all) may be replaced: one that appears
// after the question is another's.
TEntryFiles ChosenFilesOf(const TFileOption& Entry, const std::set<QString>& Replaced) {
  TEntryFiles files;
  if (Entry.GSwf) {
    files.Packaging = PackagingJobOf(Entry);
    files.Packaging.ReplacesSwf = files.Packaging.ReplacesSwf || Replaced.count(SwfFileOf(Entry));
    files.Packaging.ReplacesPage = Replaced.count(PageFileOf(Entry)) > 0;
  }
  files.ReplacesThumbnail = Replaced.count(ThumbnailFileOf(Entry)) > 0;
  return files;
}

}  // namespace

std::string EncodedName(const QString& FileName) {
  return QFile::encodeName(FileName).toStdString();
}
QString DecodedName(const std::string& FileName) { return QFile::decodeName(FileName.c_str()); }

bool WriteTemporaryFile(TTemporaryFile& File, const TFolder& Folder, const QString& Name,
                        bool Replaces, QIODevice& Source, QString* Error) {
  const auto fail = [&](const QString& Why) {
    if (Error)
      *Error = QStringLiteral("Cannot write \"%1\": %2")
                   .arg(DecodedName(Folder.Path()) + QLatin1Char('/') + Name, Why);
    File.Discard();
    return false;
  };
  if (!File.Create(Folder, EncodedName(Name), Replaces))
    return fail(QString::fromLocal8Bit(std::strerror(errno)));
  QFile out;
  if (!out.open(File.Handle(), QIODevice::WriteOnly, QFileDevice::DontCloseHandle))
    return fail(out.errorString());
  constexpr qint64 Chunk = 1 << 20;
  while (!Source.atEnd()) {
    const QByteArray bytes = Source.read(Chunk);
    if (bytes.isEmpty() && !Source.atEnd()) return fail(Source.errorString());
    if (out.write(bytes) != bytes.size()) return fail(out.errorString());
  }
  if (!out.flush()) return fail(out.errorString());
  return true;
}

bool TOverwriteQuestion::AllowsAll(const QStringList& FileNames, std::set<QString>& Replaced) {
  if (FAnswer == raCancel) return false;
  QStringList existing;
  for (const QString& file : FileNames)
    if (QFileInfo::exists(file)) existing << file;
  if (existing.isEmpty()) return true;
  if (FAnswer == raNoToAll) return false;
  if (FAnswer != raYesToAll) {
    FAnswer = FAsker.AskReplaceFiles(existing);
    if (FAnswer == raCancel || FAnswer == raNo || FAnswer == raNoToAll) return false;
  }
  Replaced.insert(existing.cbegin(), existing.cend());
  return true;
}

QString WithSuffix(const QString& Path, const QString& Suffix) {
  const QFileInfo info(Path);
  const QString suffix = info.suffix();
  const QString stem = suffix.isEmpty() ? Path : Path.left(Path.size() - suffix.size() - 1);
  return stem + QLatin1Char('.') + Suffix;
}

QString FlvFileOf(const TFileOption& Entry) { return DecodedName(Entry.Output.FileName); }
QString SwfFileOf(const TFileOption& Entry) {
  return WithSuffix(FlvFileOf(Entry), QStringLiteral("swf"));
}
QString ThumbnailFileOf(const TFileOption& Entry) {
  return WithSuffix(FlvFileOf(Entry), QStringLiteral("jpg"));
}
QString PageFileOf(const TFileOption& Entry) {
  return WithSuffix(FlvFileOf(Entry), QStringLiteral("html"));
}

bool EmbedsVideo(const TFileOption& Entry) {
  return Entry.GSwf && (!Entry.SWFData.isflv || !Entry.Gflv);
}

QStringList EncoderOutputsOf(const TFileOption& Entry) {
  QStringList files;
  if (Entry.Gflv && !(Entry.IsMergeGroup && EmbedsVideo(Entry))) files << FlvFileOf(Entry);
  if (EmbedsVideo(Entry)) files << SwfFileOf(Entry);
  return files;
}

QStringList WrittenFilesOf(const TFileOption& Entry) {
  QStringList files = EncoderOutputsOf(Entry);
  if (Entry.GSwf && !EmbedsVideo(Entry)) files << SwfFileOf(Entry);
  if (Entry.GSwf && Entry.GHtml) files << PageFileOf(Entry);
  if (Entry.GThumbnail) files << ThumbnailFileOf(Entry);
  return files;
}

QSize OutputSizeOf(const TFileOption& Entry) {
  for (const QString* text : {&Entry.OutputFrameSize, &Entry.SourceFrameSize}) {
    const QSize size = ParseFrameSize(*text);
    if (!size.isEmpty()) return size;
  }
  return {320, 240};
}

std::string EscapeFilterGraphValue(const std::string& Value) {
  // Once for the filter's own option parser, once for the graph parser around it.
  return BackslashEscaped(BackslashEscaped(Value, "\\':="), "\\'[],;");
}

TVideoFilters BuildVideoFilters(const TFileOption& Entry, bool WithGeometry, bool WithWatermark) {
  QStringList chain;
  AppendPicture(Entry, WithGeometry, chain);
  TVideoFilters filters;
  filters.Chain = chain.join(QLatin1Char(',')).toStdString();
  filters.ExtOptions = Entry.Output.ExtOptions;
  if (Entry.Deinterlace != -1)
    filters.ExtOptions =
        "deinterlace=" + std::to_string(Entry.Deinterlace) + "\r\n" + filters.ExtOptions;
  if (WithWatermark && Entry.WaterMarkKind == 1 && !Entry.WaterMark.PictureToDraw().isEmpty())
    filters.Chain = WithPictureOverlay(Entry, filters.Chain);
  filters.TextWaterMark = WithWatermark && HasTextWaterMark(Entry);
  return filters;
}

TOutputOptions TaskOutputOptions(const TFileOption& Entry, bool WithGeometry) {
  const TVideoFilters filters = BuildVideoFilters(Entry, WithGeometry, true);
  TOutputOptions output = Entry.Output;
  output.VideoFilters = filters.Chain;
  output.ExtOptions = filters.ExtOptions;
  if (WithGeometry && !ParseFrameSize(Entry.SourceFrameSize).isEmpty()) output.FrameSize.clear();
  output.VideoOutputHook = output.VideoOutputHook || filters.TextWaterMark;
  return output;
}

QStringList EncodeParamLines(const TFileOption& Entry, const TOutputOptions& Output,
                             const QString& OutputFile) {
  const QSize size = OutputSizeOf(Entry);
  const auto seconds = [](int64_t Micro) {
    return QString::number(Micro == AV_NOPTS_VALUE ? 0.0 : double(Micro) / 1e6, 'f', 5);
  };
  const QString tag = QStringLiteral("[SetEncodeParam]");
  return {
      tag,
      QStringLiteral("Success to Load File: ") + DecodedName(Entry.Input.FileName),
      QStringLiteral("File Format[%1]  VideoCodec[%2]  [%3x%4]  %5 fps ,%6 bps\n%7"
                     "AudioCodec[%8] %9 Hz, %10 Channels, %11 bps")
          .arg(QString::fromStdString(Output.FileExt), QString::fromStdString(Output.VideoCodec))
          .arg(size.width())
          .arg(size.height())
          .arg(QString::fromStdString(Output.FrameRate))
          .arg(Output.VideoBitrate)
          .arg(QString(23, QLatin1Char(' ')), QString::fromStdString(Output.AudioCodec))
          .arg(Output.AudioSampleRate)
          .arg(Output.AudioChannels)
          .arg(Output.AudioBitrate),
      QStringLiteral("TimeStart: %1, TimeLength: %2")
          .arg(seconds(Entry.Input.StartTime), seconds(Output.TimeLength)),
      QStringLiteral("OutPutName: ") + OutputFile,
      tag};
}

// ---------------------------------------------------------------------------------------

template <class TCall>
auto TEncoderTasks::Guarded(TCall Call) -> decltype(Call()) {
  try {
    const auto result = Call();
    FError = FEncoder.LastErrMsg;
    return result;
  } catch (const std::exception& e) {
    FError = e.what();
    using TResult = decltype(Call());
    if constexpr (std::is_same_v<TResult, bool>)
      return false;
    else
      return TResult(-1);
  }
}

bool TEncoderTasks::RefusesInput(const std::string& FileName) {
  const QString refusal = NotRegularFileReason(DecodedName(FileName));
  if (refusal.isEmpty()) return false;
  FError = FileName + ": " + refusal.toStdString();
  return true;
}

int TEncoderTasks::AddTask(const std::string& FileName, const TInputOptions& Input) {
  if (RefusesInput(FileName)) return -1;
  return Guarded([&] { return FEncoder.AddTask(FileName, &Input); });
}

bool TEncoderTasks::AddInputFile(int TaskIndex, const std::string& FileName,
                                 const TInputOptions& Input) {
  if (RefusesInput(FileName)) return false;
  return Guarded([&] { return FEncoder.AddInputFile(TaskIndex, FileName, &Input); });
}

bool TEncoderTasks::SetOutputFile(int TaskIndex, const std::string& FileName,
                                  const TOutputOptions& Output) {
  return Guarded([&] { return FEncoder.SetOutputFile(TaskIndex, FileName, &Output); });
}

// ---------------------------------------------------------------------------------------

TConvertPlan::TConvertPlan(IOverwriteAsker& Asker) : FQuestion(Asker) {}

void TConvertPlan::Choose(const std::vector<TConvertNode>& Nodes) {
  for (const TConvertNode& node : Nodes) {
    if (node.Option->IsMergeGroup) {
      if (node.Checked && !node.Children.empty()) Take(*node.Option, &node);
      continue;
    }
    if (node.Checked) Take(*node.Option, nullptr);
    for (const TConvertNode& part : node.Children)
      if (part.Checked) Take(*part.Option, nullptr);
  }
}

void TConvertPlan::Take(TFileOption& Entry, const TConvertNode* Group) {
  std::set<QString> replaced;
  if (Accepts(Entry, replaced)) FChosen.push_back({&Entry, Group, ChosenFilesOf(Entry, replaced)});
}

int TConvertPlan::OpenNext(IConvertEncoder& Encoder) {
  while (FNextChosen < FChosen.size()) {
    const TChosen& chosen = FChosen[FNextChosen++];
    const int index =
        chosen.Group ? OpenMergeGroup(Encoder, *chosen.Group) : OpenEntry(Encoder, *chosen.Entry);
    if (index < 0) continue;
    const int task = TaskCount();
    FTaskEntries[task] = chosen.Entry;
    FFilesTask = task;
    FFiles = chosen.Files;
    FFiles.Packaging.Into = Encoder.OutputFolder(index);
    if (!FFiles.Packaging.Into.IsOpen())
      FFiles.Packaging.Into =
          TFolder(EncodedName(QFileInfo(EncoderOutputsOf(*chosen.Entry).first()).path()));
    if (HasTextWaterMark(*chosen.Entry)) FTextWaterMarks[task] = {task, chosen.Entry->WaterMark};
    return task;
  }
  return -1;
}

void TConvertPlan::Offer(TFileOption& Entry) {
  ++FOffered;
  FTotalDuration += Entry.Duration;
}

void TConvertPlan::Refuse(const TFileOption& Entry, const QString& Reason) {
  LogError(Reason);
  FRefusals << ReasonLine(&Entry, Reason);
}

// False when the entry has nothing to write (logged), has a crop its picture cannot take or
// writes where no file can go (refused), or the user keeps its existing files: the entry's
// files belong together (the page shows the SWF, the SWF plays the FLV), so they are asked
// about in one question and kept or replaced together.
bool TConvertPlan::Accepts(TFileOption& Entry, std::set<QString>& Replaced) {
  const QStringList outputs = EncoderOutputsOf(Entry);
  if (outputs.isEmpty()) {
    VelLog.WriteError(QStringLiteral("Neither FLV nor SWF is chosen for ") + FlvFileOf(Entry));
    return false;
  }
  if (const QString refusal = CropRefusal(Entry); !refusal.isEmpty()) {
    Offer(Entry);
    Refuse(Entry, refusal);
    return false;
  }
  for (const QString& output : outputs) {
    const QString folderRefusal = PrepareOutputFolder(QFileInfo(output).path());
    const QString refusal = folderRefusal.isEmpty() ? NotRegularFileReason(output) : QString();
    if (folderRefusal.isEmpty() && refusal.isEmpty()) continue;
    Offer(Entry);
    Refuse(Entry, QStringLiteral("SetOutput Error: ") +
                      (refusal.isEmpty() ? folderRefusal : output + QStringLiteral(": ") + refusal));
    return false;
  }
  if (!FQuestion.AllowsAll(WrittenFilesOf(Entry), Replaced)) return false;
  for (const QString& output : outputs)
    if (!Replaced.count(output)) FNewOutputs.insert(output);
  Offer(Entry);
  return true;
}

int TConvertPlan::OpenEntry(IConvertEncoder& Encoder, TFileOption& Entry) {
  const int index = Encoder.AddTask(Entry.Input.FileName, Entry.Input);
  if (index < 0) {
    Refuse(Entry,
           QStringLiteral("File open Error: ") + QString::fromStdString(Encoder.LastError()));
    return -1;
  }
  return SetOutputs(Encoder, Entry, index) ? index : -1;
}

int TConvertPlan::OpenMergeGroup(IConvertEncoder& Encoder, const TConvertNode& Group) {
  TFileOption& entry = *Group.Option;
  VelLog.WriteInfo(QStringLiteral("[Merge Video]"));
  int index = -1;
  for (const TConvertNode& child : Group.Children) {
    const TInputOptions& input = child.Option->Input;
    const bool loaded = index < 0 ? (index = Encoder.AddTask(input.FileName, input)) >= 0
                                  : Encoder.AddInputFile(index, input.FileName, input);
    if (loaded)
      VelLog.WriteInfo(QStringLiteral("Success to Load File: ") + DecodedName(input.FileName));
    else
      LogError(QString::fromStdString(Encoder.LastError()));
  }
  if (index < 0)
    Refuse(entry,
           QStringLiteral("File open Error: ") + QString::fromStdString(Encoder.LastError()));
  else if (!SetOutputs(Encoder, entry, index))
    index = -1;
  VelLog.WriteInfo(QStringLiteral("[Merge Video]"));
  return index;
}

bool TConvertPlan::SetOutputs(IConvertEncoder& Encoder, TFileOption& Entry, int TaskIndex) {
  const TOutputOptions output = TaskOutputOptions(Entry, true);
  for (const QString& file : EncoderOutputsOf(Entry)) {
    const QString appeared = AppearedSinceAsked(file);
    if (!appeared.isEmpty() || !Encoder.SetOutputFile(TaskIndex, EncodedName(file), output)) {
      Encoder.RemoveTask(TaskIndex);
      Refuse(Entry, QStringLiteral("SetOutput Error: ") +
                        (appeared.isEmpty() ? QString::fromStdString(Encoder.LastError())
                                            : appeared));
      return false;
    }
    for (const QString& line : EncodeParamLines(Entry, output, file)) VelLog.WriteInfo(line);
  }
  return true;
}

// A file that was not there when the user was asked about replacing must not be replaced by the
// run: one that appeared since (another run's) is left alone. Once the output is open, the
// engine replaces only what was there then.
QString TConvertPlan::AppearedSinceAsked(const QString& File) const {
  if (!FNewOutputs.count(File) || !QFileInfo::exists(File)) return {};
  return File + QStringLiteral(" appeared after the conversion started; it is left as it is");
}

namespace {

bool QuitOrAsLater(void* Quit) {
  return *static_cast<std::atomic<bool>*>(Quit) ||
         InterruptCB().CallAfter(std::this_thread::get_id(), Quit);
}

}  // namespace

TQuitableIO::TQuitableIO(std::atomic<bool>& Quit) : FQuit(Quit) {
  InterruptCB().Add(std::this_thread::get_id(), &FQuit, QuitOrAsLater);
}

TQuitableIO::~TQuitableIO() {
  InterruptCB().Remove(std::this_thread::get_id(), &FQuit, QuitOrAsLater);
}

void FreeTask(std::unique_ptr<TTaskEncoder>& Task) {
  Task.reset();
  malloc_trim(0);
}

void ConvertInTurn(TConvertPlan& Plan, const std::function<void(TFFEncoder&)>& Prepare,
                   const std::function<void(const TTerminateInfo&)>& OnEnded) {
  for (;;) {
    auto task = std::make_unique<TTaskEncoder>();
    const int index = Plan.OpenNext(task->Tasks);
    if (index < 0) break;
    std::vector<TTerminateInfo> notices;
    Prepare(task->Encoder);
    task->Encoder.OnTerminate = [&notices](void*, const TTerminateInfo& Info) {
      if (Info.TaskIndex >= 0) notices.push_back(Info);
    };
    task->Encoder.StartTask(0);
    FreeTask(task);
    for (TTerminateInfo& info : notices) {
      info.TaskIndex = index;
      OnEnded(info);
    }
  }
  OnEnded({-1, true, false, {}});
}

TFileOption* TConvertPlan::EntryOfTask(int TaskIndex) const {
  const auto found = FTaskEntries.find(TaskIndex);
  return found == FTaskEntries.end() ? nullptr : found->second;
}

const TEntryFiles* TConvertPlan::FilesOfTask(int TaskIndex) const {
  return TaskIndex == FFilesTask ? &FFiles : nullptr;
}

void TConvertPlan::KeepPoster(int TaskIndex, const QByteArray& Jpeg) {
  if (TaskIndex == FFilesTask && FFiles.Packaging.Poster.isEmpty()) FFiles.Packaging.Poster = Jpeg;
}

const TTextWaterMark* TConvertPlan::TextWaterMarkOf(int TaskIndex) const {
  const auto found = FTextWaterMarks.find(TaskIndex);
  return found == FTextWaterMarks.end() ? nullptr : &found->second;
}

// ---------------------------------------------------------------------------------------

TTaskEndAction TConvertRun::TaskEnded(int TaskIndex, bool Finished, bool Exception,
                                      const std::string& Message) {
  TTaskEndAction action;
  if (TaskIndex < 0) {
    if (FCompleted) return action;
    FCompleted = true;
    action.Complete = true;
    action.AllConverted = FFailed == 0 && FPlan.RefusedCount() == 0;
    return action;
  }
  if (Exception || !Finished) {
    if (!Exception) {
      ++FFailed;
      return action;
    }
    const QString reason = QString::fromStdString(Message);
    LogError(reason);
    Failed(FPlan.EntryOfTask(TaskIndex), reason);
    return action;
  }
  TFileOption* entry = FPlan.EntryOfTask(TaskIndex);
  if (entry && entry->GSwf) action.PackageEntry = entry;
  return action;
}

void TConvertRun::FileFailed(const QString& Reason) { Failed(nullptr, Reason); }

void TConvertRun::Failed(const TFileOption* Entry, const QString& Reason) {
  ++FFailed;
  FReasons << ReasonLine(Entry, Reason);
}

void TConvertRun::FileNotMade(const QString& Note) {
  VelLog.WriteInfo(Note);
  FNotes << Note;
}

QString ConversionEndMessage(bool AllConverted, const QStringList& Reasons,
                             const QStringList& Notes) {
  // A line may name a long path twice: longer ones lose their middle.
  constexpr qsizetype MaxLine = 200;
  constexpr qsizetype MaxListed = 10;
  QStringList lines{
      AllConverted
          ? QStringLiteral("File conversion is completed!")
          : QStringLiteral("Conversion finished, but one or more files failed in conversion.")};
  const QStringList listed = AllConverted ? Notes : Reasons + Notes;
  for (const QString& reason : listed.mid(0, MaxListed))
    lines << (reason.size() <= MaxLine
                  ? reason
                  : reason.left(MaxLine / 2 - 2) + QStringLiteral(" ... ") +
                        reason.right(MaxLine / 2 - 3));
  if (listed.size() > MaxListed)
    lines << QStringLiteral("and %1 more (the log names them all)").arg(listed.size() - MaxListed);
  return lines.join(QStringLiteral("\r\n"));
}

QString ThumbnailNotMade(const TFileOption& Entry) {
  return QFileInfo(ThumbnailFileOf(Entry)).fileName() +
         QStringLiteral(": not made, the input has no picture");
}

// ---------------------------------------------------------------------------------------

bool TThumbnailFiles::Write(int TaskIndex, const TEntryFiles& Files, const QString& FileName,
                            const QByteArray& Jpeg) {
  TTemporaryFile file;
  QBuffer picture;
  picture.setData(Jpeg);
  picture.open(QIODevice::ReadOnly);
  QString error;
  if (!WriteTemporaryFile(file, Files.Packaging.Into, QFileInfo(FileName).fileName(),
                          Files.ReplacesThumbnail, picture, &error)) {
    LogError(error);
    return false;
  }
  FFiles[TaskIndex] = {QFileInfo(FileName).fileName(), std::move(file)};
  return true;
}

QString TThumbnailFiles::TaskEnded(int TaskIndex, bool Usable) {
  const auto found = FFiles.find(TaskIndex);
  if (found == FFiles.end()) return {};
  const QString name = found->second.Name;
  TTemporaryFile file = std::move(found->second.File);
  FFiles.erase(found);
  if (!Usable) return {};
  const QString lost = DecodedName(file.CommitOrKeep("the new thumbnail"));
  if (lost.isEmpty()) return {};
  LogError(lost);
  return name + QStringLiteral(": ") + lost;
}

// ---------------------------------------------------------------------------------------

bool TConvertProgress::Update(int TaskIndex, int64_t CurrentTime, int64_t TotalTime) {
  const bool changed = TaskIndex != FCurrentTask;
  const int64_t all = FPlan.TotalDuration();
  if (changed) {
    FDoneDuration += FLastTotal;
    FCurrentTask = TaskIndex;
    FFilePercent = 0;
    if (all > 0) FTotalPercent = int(std::min<int64_t>(100, FDoneDuration * 100 / all));
  }
  if (TotalTime > 0 && CurrentTime < TotalTime) {
    FFilePercent = int(CurrentTime * 100 / TotalTime);
    if (all > 0)
      FTotalPercent = int(std::min<int64_t>(100, (FDoneDuration + CurrentTime) * 100 / all));
  }
  FLastTotal = TotalTime;
  return changed;
}

QString TConvertProgress::CounterText() const {
  return QStringLiteral("[ %1 / %2 ]").arg(FCurrentTask + 1).arg(FPlan.OfferedCount());
}

QRect FitRectInto(const QSize& Source, const QRect& Target) {
  if (Source.isEmpty() || Target.isEmpty()) return Target;
  const double rw = double(Source.width()) / Target.width();
  const double rh = double(Source.height()) / Target.height();
  QRect fit = Target;
  if (rw >= rh) {
    const int d = int(std::nearbyint((Target.height() - Source.height() / rw) / 2));
    fit.adjust(0, d, 0, -d);
  } else {
    const int d = int(std::nearbyint((Target.width() - Source.width() / rh) / 2));
    fit.adjust(d, 0, -d, 0);
  }
  return fit;
}
