// A list entry as the main window adds a file, for the tests that convert one for real.
#pragma once

#include "FFEncode.h"
#include "FFUtils.h"
#include "U_Config.h"
#include "U_Converting.h"
#include "U_FileOption.h"

#include <gtest/gtest.h>

#include <string>

// The built-in defaults (not those of a defaults file), a 320x240 picture, the given skin.
inline TFileOption DefaultEntry(const std::string& Input, const std::string& Output,
                                const QString& Skin) {
  TFileOption entry;
  InitInputOptions(entry.Input);
  InitOutputOptions(entry.Output);
  InitFileOption(entry, QStringLiteral("320x240"));
  ApplyFormatDefault(entry, TFormatDefault());
  entry.PlayerSkin = ProgramFolder() + QStringLiteral("templates/Player/") + Skin;
  entry.Input.FileName = Input;
  entry.Output.FileName = Output;
  entry.Duration = 5000000;
  return entry;
}

// Converts the entry as the conversion window does (its plan, its filters), in the calling
// thread; every overwrite question is answered Cancel.
inline void ConvertEntry(TFileOption& Entry) {
  struct TNoQuestion : IOverwriteAsker {
    int AskReplaceFile(const QString&) override { return raCancel; }
  };
  TFFEncoder Encoder;
  ASSERT_TRUE(Encoder.LoadAVLib(FENNICK_LIBAV_DIR)) << Encoder.LastErrMsg;
  RegisterFilter("nativeeq");  // as the main window does
  RegisterFilter("nativehue");
  TEncoderTasks Tasks(Encoder);
  TNoQuestion Asker;
  TConvertPlan Plan(Tasks, Asker);
  Plan.Build({{&Entry, true, {}}});
  ASSERT_EQ(Plan.TaskCount(), 1) << Tasks.LastError();
  bool Finished = false;
  std::string Error;
  Encoder.OnTerminate = [&](void*, const TTerminateInfo& Info) {
    if (Info.TaskIndex != 0) return;
    Finished = Info.Finished;
    Error = Info.ExceptionMsg;
  };
  Encoder.StartTask(0);
  ASSERT_TRUE(Finished) << Error;
}
