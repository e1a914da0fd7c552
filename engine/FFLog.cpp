#include "FFLog.h"

#include <cassert>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "FFEntryPoints.h"

namespace {

// The level avutil logs at; the callback drops anything above it. Starts at avutil's default.
std::atomic<int> CurrentAVLevel{AV_LOG_INFO};

std::atomic<TFFLogger*> Instance{nullptr};
std::mutex CreatingLock;

// Text a thread has logged but not yet ended with a line feed.
class TLogList {
 public:
  std::string& FindOrAdd(std::thread::id threadID) { return FItems[threadID]; }
  // Forgets a thread with nothing pending, so that ended threads leave nothing behind.
  void Release(std::thread::id threadID) {
    const auto item = FItems.find(threadID);
    if (item != FItems.end() && item->second.empty()) FItems.erase(item);
  }

 private:
  std::unordered_map<std::thread::id, std::string> FItems;
};

// Shared by every thread that FFmpeg logs from, under one lock.
struct TLogState {
  std::mutex Lock;
  TLogList List;
  // The last complete line of any thread, none before the first.
  std::optional<std::string> LastLine;
  int RepeatCount = 0;
};

// Never destroyed: FFmpeg's threads may still log while the process exits.
TLogState& LogState() {
  static TLogState* const state = new TLogState;
  return *state;
}

// printf-style formatting of any length. A format the C library rejects is kept as it is,
// so that the message is not lost.
std::string FormatV(const char* fmt, va_list args) {
  char buffer[2048];
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(buffer, sizeof buffer, fmt, copy);
  va_end(copy);
  if (length < 0) return fmt;
  if (std::size_t(length) < sizeof buffer) return std::string(buffer, std::size_t(length));
  std::string text(std::size_t(length), '\0');
  std::vsnprintf(text.data(), text.size() + 1, fmt, args);
  return text;
}

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string text = FormatV(fmt, args);
  va_end(args);
  return text;
}

const AVClass* ClassOf(void* context) { return *static_cast<const AVClass* const*>(context); }

const char* ItemName(void* context, const AVClass* avClass) {
  return avClass->item_name ? avClass->item_name(context) : avClass->class_name;
}

// "[parent @ 0x...] " when the context's class names a parent context that is present, then
// "[name @ 0x...]".
std::string ContextPrefix(void* context) {
  const AVClass* avClass = ClassOf(context);
  if (!avClass) return {};
  std::string prefix;
  if (avClass->parent_log_context_offset) {
    void* parent =
        *reinterpret_cast<void**>(static_cast<char*>(context) + avClass->parent_log_context_offset);
    if (parent && ClassOf(parent))
      prefix = Format("[%s @ %p] ", ItemName(parent, ClassOf(parent)), parent);
  }
  return prefix + Format("[%s @ %p]", ItemName(context, avClass), context);
}

// Adds a complete line to those to deliver, unless it repeats the previous complete line: a
// repeat is only counted, and a notice comes before the next different line.
void FoldLine(TLogState& state, std::string line, std::vector<std::string>& lines) {
  if (line == state.LastLine) {
    ++state.RepeatCount;
    return;
  }
  if (state.RepeatCount > 1)
    lines.push_back(Format("    Last message repeated %d times", state.RepeatCount));
  state.RepeatCount = 0;
  state.LastLine = line;
  lines.push_back(std::move(line));
}

// Adds one fragment of a thread's text and returns the lines it completes. Repeats are judged
// on whole lines only: a fragment that ends one thread's line may well equal another thread's.
std::vector<std::string> TakeLines(TLogState& state, std::thread::id threadID, void* context,
                                   const char* fmt, va_list args) {
  std::vector<std::string> lines;
  std::string& pending = state.List.FindOrAdd(threadID);
  std::string fragment = context && pending.empty() ? ContextPrefix(context) : std::string();
  fragment += FormatV(fmt, args);
  pending += fragment;
  for (auto feed = pending.find('\n'); feed != std::string::npos; feed = pending.find('\n')) {
    std::string line = pending.substr(0, feed);
    pending.erase(0, feed + 1);
    FoldLine(state, std::move(line), lines);
  }
  state.List.Release(threadID);
  return lines;
}

// Installed into avutil; runs on whatever thread FFmpeg logs from. The lines are delivered
// after the lock is released: delivery may wait for the main thread, which may be logging too.
void AVLogCallback(void* context, int level, const char* fmt, va_list args) {
  if (level > CurrentAVLevel.load()) return;
  CalledFromFFmpeg("Logging a line", 0, [&] {
    const std::thread::id threadID = std::this_thread::get_id();
    std::vector<std::string> lines;
    {
      TLogState& state = LogState();
      const std::lock_guard<std::mutex> lock(state.Lock);
      lines = TakeLines(state, threadID, context, fmt, args);
    }
    for (const std::string& line : lines) FFLogger().LogFromAV(threadID, level, line);
    return 0;
  });
}

}  // namespace

int LogLevelToAVLevel(TLogLevel level) { return (int(level) - 1) * 8; }

TLogLevel AVLevelToLogLevel(int avLevel) {
  const int level = avLevel / 8 + 1;
  return TLogLevel(level < llQuiet ? llQuiet : level > llDebug ? llDebug : level);
}

TFFLogger::TFFLogger() {
  if (TFFLogger* previous = Instance.load()) {
    assert(previous->FAutoCreated && "Allow creating only one instance of TFFLogger.");
    if (previous->FAutoCreated) delete previous;
  }
  FLogLevel = AVLevelToLogLevel(CurrentAVLevel.load());
  Instance = this;
}

TFFLogger::~TFFLogger() {
  TFFLogger* self = this;
  Instance.compare_exchange_strong(self, nullptr);
}

TFFLogger& FFLogger() {
  if (TFFLogger* logger = Instance.load()) return *logger;
  const std::lock_guard<std::mutex> lock(CreatingLock);
  if (TFFLogger* logger = Instance.load()) return *logger;
  auto* logger = new TFFLogger;
  logger->FAutoCreated = true;
  return *logger;
}

void TFFLogger::HookAVLog() {
  assert(ff::av_log_set_callback && ff::av_log_set_level && "avutil is not loaded");
  ff::av_log_set_callback(AVLogCallback);
  ApplyLogLevel();
}

void TFFLogger::ApplyLogLevel() {
  if (!ff::av_log_set_level) return;
  CurrentAVLevel = LogLevelToAVLevel(LogLevel());
  ff::av_log_set_level(CurrentAVLevel.load());
}

void TFFLogger::SetLogLevel(TLogLevel level) {
  if (FLogLevel.exchange(level) != level) ApplyLogLevel();
}

void TFFLogger::SetLogLevelByName(const std::string& name) {
  static const std::map<std::string, int> levels = {
      {"quiet", AV_LOG_QUIET},     {"panic", AV_LOG_PANIC},     {"fatal", AV_LOG_FATAL},
      {"error", AV_LOG_ERROR},     {"warning", AV_LOG_WARNING}, {"info", AV_LOG_INFO},
      {"verbose", AV_LOG_VERBOSE}, {"debug", AV_LOG_DEBUG},
  };
  const auto known = levels.find(name);
  int avLevel = 0;
  if (known != levels.end()) {
    avLevel = known->second;
  } else {
    const char* end = name.data() + name.size();
    const auto [last, error] = std::from_chars(name.data(), end, avLevel);
    if (name.empty() || error != std::errc() || last != end)
      throw std::invalid_argument("'" + name + "' is not a valid integer value");
  }
  SetLogLevel(AVLevelToLogLevel(avLevel));
}

void TFFLogger::Log(const void* sender, TLogLevel level, const std::string& msg) {
  if (!OnLog) return;
  const TLogLevel current = LogLevel();
  const bool verboseRule = level == llVerbose && current != llQuiet;
  if (level > current && !verboseRule) return;
  DoLog({sender, std::this_thread::get_id(), level, msg});
}

void TFFLogger::LogFmt(const void* sender, TLogLevel level, const char* fmt, ...) {
  if (!OnLog) return;
  va_list args;
  va_start(args, fmt);
  std::string msg = FormatV(fmt, args);
  va_end(args);
  Log(sender, level, msg);
}

void TFFLogger::LogFromAV(std::thread::id threadID, int avLevel, const std::string& msg) {
  if (!OnLog) return;
  DoLog({this, threadID, AVLevelToLogLevel(avLevel), msg});
}

void TFFLogger::DoLog(const TLogInfo& info) {
  const auto raise = [this, &info] {
    OnLog(info.Sender, info.ThreadID, info.LogLevel, info.LogMsg);
  };
  if (TriggerEventInMainThread)
    RunInMainThread(raise);
  else
    raise();
}
