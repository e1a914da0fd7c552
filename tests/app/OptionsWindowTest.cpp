#include "AppTestSupport.h"
#include "SkBtnEdt.h"
#include "SkCmboBx.h"
#include "U_Config.h"
#include "U_option.h"
#include "U_option_Gui.h"

#include <QCoreApplication>
#include <QDir>
#include <QKeyEvent>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

TEST(OptionsWindow, OkWritesOnlyWhatTheUserChanged) {
  TScratchFolder folder;
  const QString ini = folder.File("Fennick.ini");
  WriteTextFile(
      ini, "[Output]\nSnapshotPath=" + QFile::encodeName(folder.Path()) + "\nSnapshotExt=bmp\n");
  TMainSettings settings(ini, DataPlacesFor(folder.Path() + "/", true));
  const QByteArray before = ReadTextFile(ini);
  const QString refused = QStringLiteral("/proc/self");
  ASSERT_TRUE(QDir().mkpath(folder.File("shots")));
  const struct {
    const char* Name;
    QString Chosen;  // the folder dialog's answer
    int Format;
    QStringList Messages;
    QString Folder;
    bool Unchanged;
  } cases[] = {
      {"nothing changed", QString(), 0, {}, folder.Path(), true},
      {"a folder that cannot be written", refused, 0, {UnwritableFolderText}, folder.Path(), true},
      {"a new folder and format", folder.File("shots"), 1, {}, folder.File("shots"), false},
  };
  for (const auto& c : cases) {
    Toptionfrm form(settings);
    form.show();
    QStringList messages;
    form.AskFolder = [&](const QString& Caption, const QString& Start) {
      EXPECT_EQ(Caption, QStringLiteral("Select Output Folder"));
      EXPECT_EQ(Start, folder.Path());
      return c.Chosen;
    };
    form.ShowMessage = [&](const QString& Text) { messages << Text; };
    // The folder is chosen, never typed.
    QKeyEvent key(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QCoreApplication::sendEvent(form.EdtPath, &key);
    EXPECT_EQ(form.EdtPath->text(), folder.Path()) << c.Name;
    form.EdtPath->OnButtonClick();
    form.CbbFormat->setCurrentIndex(c.Format);
    form.accept();
    EXPECT_EQ(messages, c.Messages) << c.Name;
    EXPECT_EQ(settings.Value(TMainSettings::SnapshotPath), c.Folder) << c.Name;
    EXPECT_EQ(ReadTextFile(ini) == before, c.Unchanged) << c.Name;
  }
  EXPECT_EQ(settings.Value(TMainSettings::SnapshotExt), QStringLiteral("jpg"));
}

// The folder shown is the one snapshots go to: made again when it was deleted, and a folder
// that cannot take them is said when the window opens.
TEST(OptionsWindow, OpeningMakesTheFolderAgainOrSaysWhyItCannot) {
  TScratchFolder folder;
  WriteTextFile(folder.File("taken"), "a file where the folder would be");
  const struct {
    const char* Name;
    QString Folder;
    bool Warned;
  } cases[] = {{"deleted", folder.File("gone/shots"), false},
               {"a file", folder.File("taken"), true}};
  for (const auto& c : cases) {
    const QString ini = folder.File("Fennick.ini");
    WriteTextFile(ini, "[Output]\nSnapshotPath=" + QFile::encodeName(c.Folder) + "\n");
    TMainSettings settings(ini, DataPlacesFor(folder.Path() + "/", true));
    Toptionfrm form(settings);
    QStringList messages;
    form.ShowMessage = [&](const QString& Text) { messages << Text; };
    form.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(form.EdtPath->text(), c.Folder) << c.Name;
    EXPECT_EQ(QFileInfo(c.Folder).isDir(), !c.Warned) << c.Name;
    ASSERT_EQ(messages.size(), c.Warned ? 1 : 0) << c.Name;
    if (c.Warned) {
      EXPECT_TRUE(messages[0].startsWith("The snapshot folder " + c.Folder + " does not exist"))
          << qPrintable(messages[0]);
    }
  }
}

}  // namespace
