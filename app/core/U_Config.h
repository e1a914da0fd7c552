// The application's configuration: where the program folder is, the settings files
// beside the program, and the helpers that several windows share which need no screen
// (those that do are in U_Config_Gui.h).
#pragma once

#include <QString>

// Used when "URL.cfg" names no page.
inline const QString DefaultHomePage = QStringLiteral("https://www.velmora.example/fennick/");

// The folder of the program file, with a trailing "/": settings, logs and outputs
// live beside the program. Tests point it at a scratch folder instead.
QString ProgramFolder();
void SetProgramFolder(const QString& Folder);

// The default when the file does not exist, else the INI value (default when missing).
QString ReadIniValue(const QString& FileName, const QString& Section, const QString& Ident,
                     const QString& Default);

// A page location ("HomePage", "HelpPage") from "URL.cfg" in the program folder.
QString ReadUrlConfig(const QString& Ident);

// The program's version, "1.2.3" or with the build number "1.2.3.4".
QString GetFileVersionText(bool WithBuild);
