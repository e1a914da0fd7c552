// The engine's single logger: every message the engine writes itself and every line FFmpeg
// writes through av_log, filtered by level, assembled into whole lines per thread, repeats
// folded, and handed to one event.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "FFBaseComponent.h"

enum TLogLevel : int { llQuiet, llPanic, llFatal, llError, llWarning, llInfo, llVerbose, llDebug };

// FFmpeg's level of a log level: -8, 0, 8 ... 48.
int LogLevelToAVLevel(TLogLevel level);
// The log level of an FFmpeg level, clamped to llQuiet .. llDebug.
TLogLevel AVLevelToLogLevel(int avLevel);

struct TLogInfo {
  const void* Sender = nullptr;
  std::thread::id ThreadID;
  TLogLevel LogLevel = llInfo;
  std::string LogMsg;
};

// Sender is the object that logged (the logger itself for FFmpeg's lines, nullptr for none).
using TLogEvent = std::function<void(const void* sender, std::thread::id threadID,
                                     TLogLevel logLevel, const std::string& logMsg)>;

class TFFLogger : public TFFBaseComponent {
 public:
  // Only one logger exists at a time: an auto-created one (see FFLogger()) gives way to a new
  // one; a second explicitly made one is a programming error.
  TFFLogger();
  ~TFFLogger() override;
  TFFLogger(const TFFLogger&) = delete;
  TFFLogger& operator=(const TFFLogger&) = delete;

  // Installs the log callback into the loaded avutil and applies LogLevel to it.
  void HookAVLog();
  // Passes LogLevel on to avutil when it is loaded.
  void ApplyLogLevel();

  TLogLevel LogLevel() const { return FLogLevel; }
  void SetLogLevel(TLogLevel level);
  // "quiet", "panic", "fatal", "error", "warning", "info", "verbose", "debug", or an FFmpeg level
  // as a decimal number; anything else throws std::invalid_argument.
  void SetLogLevelByName(const std::string& name);

  // Any thread. Delivered when OnLog is set and the level passes LogLevel (llVerbose passes
  // whenever LogLevel is not llQuiet).
  void Log(const void* sender, TLogLevel level, const std::string& msg);
  void LogFmt(const void* sender, TLogLevel level, const char* fmt, ...)
      __attribute__((format(printf, 4, 5)));
  // FFmpeg's lines, from the log callback on whatever thread FFmpeg logs from; already filtered.
  void LogFromAV(std::thread::id threadID, int avLevel, const std::string& msg);

  // Raise OnLog on the main thread (the logging thread waits) rather than on the logging thread.
  std::atomic<bool> TriggerEventInMainThread{true};
  // Set before any work starts: it is read from every logging thread.
  TLogEvent OnLog;

 private:
  friend TFFLogger& FFLogger();
  void DoLog(const TLogInfo& info);

  bool FAutoCreated = false;
  std::atomic<TLogLevel> FLogLevel{llInfo};
};

// The single logger, made (and marked auto-created) on first use when none exists.
TFFLogger& FFLogger();
