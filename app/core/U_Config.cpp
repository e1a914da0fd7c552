#include "U_Config.h"

#include "IniFiles.h"

#include <QCoreApplication>

namespace {

QString ProgramFolderOverride;

}  // namespace

QString ProgramFolder() {
  const QString folder = ProgramFolderOverride.isEmpty() ? QCoreApplication::applicationDirPath()
                                                         : ProgramFolderOverride;
  return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

void SetProgramFolder(const QString& Folder) { ProgramFolderOverride = Folder; }

QString ReadIniValue(const QString& FileName, const QString& Section, const QString& Ident,
                     const QString& Default) {
  return TIniFile(FileName).ReadString(Section, Ident, Default);
}

QString ReadUrlConfig(const QString& Ident) {
  return ReadIniValue(ProgramFolder() + QStringLiteral("URL.cfg"), QStringLiteral("URL"), Ident,
                      DefaultHomePage);
}

QString GetFileVersionText(bool WithBuild) {
  const QString version = QStringLiteral("%1.%2.%3")
                              .arg(FENNICK_VERSION_MAJOR)
                              .arg(FENNICK_VERSION_MINOR)
                              .arg(FENNICK_VERSION_PATCH);
  return WithBuild ? version + QStringLiteral(".%1").arg(FENNICK_VERSION_TWEAK) : version;
}
