// A list entry as the main window adds a file, for the tests that convert one for real.
#pragma once

#include "ConvertHere.h"
#include "FFEncode.h"
#include "FFLoad.h"
#include "FFUtils.h"
#include "U_Config.h"
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
// thread; a SWF to package is left unpackaged.
inline void ConvertEntry(TFileOption& Entry) {
  FFLoader().SetLibraryPath(FENNICK_LIBAV_DIR);
  ASSERT_TRUE(FFLoader().Load(AllLibraries)) << FFLoader().LastErrorMessage();
  RegisterFilter("nativeeq");  // as the main window does
  RegisterFilter("nativehue");
  ASSERT_TRUE(ConvertHere({{&Entry, true, {}}}, [](const TPackagingJob&) { return QString(); }));
}
