#include "AppTestSupport.h"
#include "SkinForm.h"
#include "U_Config.h"
#include "SkBmpBtn.h"
#include "VelLog.h"
#include "uLoadUI.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <gtest/gtest.h>

namespace {

const char* const FramePieces[] = {"imgtleft", "imgtright",  "imgtCenter", "imgltop", "imglbottom",
                                   "imgrtop",  "imgrbottom", "imgBb",      "imglogo"};

// The log in a scratch folder and the skin of the given program folder.
class SkinForm : public testing::Test {
 protected:
  void SetUp() override { InitVelLog(Folder.Path()); }
  void TearDown() override {
    SetProgramFolder(QString());
    VelLog = TVelLog();
  }
  QStringList LogTexts() const {
    QStringList texts;
    for (const QString& line : ReadLines(VelLog.FileName())) texts << line.mid(19).trimmed();
    return texts;
  }

  TScratchFolder Folder;
};

void Mouse(QWidget* Target, QEvent::Type Type, QPoint At) {
  const QPoint global = Target->mapToGlobal(At);
  QMouseEvent event(Type, At, global, Qt::LeftButton,
                    Type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(Target, &event);
}

TEST_F(SkinForm, ShowsTheSkinLogsEnterAndLeaveAndItsCloseButtonCancels) {
  SetProgramFolder(QStringLiteral(FENNICK_BIN_DIR));
  TSkinForm form(QStringLiteral("Information"));
  form.OkButton();
  form.CancelButton();
  form.show();
  for (const char* name : FramePieces)
    EXPECT_FALSE(form.findChild<QLabel*>(QLatin1String(name))->pixmap().isNull()) << name;
  const QList<TSkBmpButton*> buttons = form.findChildren<TSkBmpButton*>();
  EXPECT_EQ(buttons.size(), 4);
  for (TSkBmpButton* button : buttons) {
    EXPECT_FALSE(button->Bitmaps().Up().isNull()) << qPrintable(button->objectName());
    EXPECT_FALSE(button->Bitmaps().Hot().isNull()) << qPrintable(button->objectName());
    EXPECT_EQ(button->ButtonBorder(), bbNone);
  }
  EXPECT_EQ(form.OkButton()->size(), QSize(75, 25));
  form.CloseButton()->Click();
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.result(), QDialog::Rejected);
  EXPECT_EQ(LogTexts(), (QStringList{"Enter TSkinForm", "Leave TSkinForm"}));
}

TEST_F(SkinForm, AMissingOrDamagedSkinPictureIsLoggedAndTheWindowStillOpens) {
  SetProgramFolder(Folder.Path());
  ASSERT_TRUE(QDir().mkpath(Folder.File(QStringLiteral("skin"))));
  ASSERT_TRUE(QFile::copy(QStringLiteral(FENNICK_BIN_DIR "/skin/Top_Left.jpg"),
                          Folder.File(QStringLiteral("skin/Top_Left.jpg"))));
  WriteTextFile(Folder.File(QStringLiteral("skin/top_mid.jpg")), "not a picture");
  TSkinForm form(QStringLiteral("Information"));
  form.EnterText = QStringLiteral("Enter CreateSWFFrm!");
  EXPECT_FALSE(LoadSkinFrame(&form));
  form.show();
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(form.findChild<QLabel*>(QStringLiteral("imgtleft"))->pixmap().isNull());
  QLabel* middle = form.findChild<QLabel*>(QStringLiteral("imgtCenter"));
  EXPECT_TRUE(middle->pixmap().isNull());
  EXPECT_TRUE(middle->autoFillBackground());
  EXPECT_EQ(form.CloseButton()->ButtonBorder(), bbButton);  // a classic face instead
  const QStringList log = LogTexts();
  EXPECT_EQ(log.filter(QStringLiteral("Cannot load the skin picture")).size(), 2 * 8 + 4);
  EXPECT_EQ(log.filter(QStringLiteral("skin/top_mid.jpg")).size(), 2);
  EXPECT_EQ(log.last(), QStringLiteral("Enter CreateSWFFrm!"));
}

TEST_F(SkinForm, TheRoundRegionFollowsEverySize) {
  TSkinForm form(QStringLiteral("Information"));
  form.show();
  for (const QSize size : {QSize(300, 200), QSize(120, 60), QSize(640, 480)}) {
    form.resize(size);
    const QRegion mask = form.mask();
    EXPECT_TRUE(mask.contains(QPoint(size.width() / 2, size.height() / 2)));
    for (const QPoint corner :
         {QPoint(0, 0), QPoint(size.width() - 1, 0), QPoint(0, size.height() - 1),
          QPoint(size.width() - 1, size.height() - 1)})
      EXPECT_FALSE(mask.contains(corner)) << size.width() << " " << corner.x() << "," << corner.y();
    EXPECT_TRUE(mask.contains(QPoint(size.width() - 1, size.height() / 2)));
    EXPECT_TRUE(mask.contains(QPoint(size.width() / 2, size.height() - 1)));
  }
}

TEST_F(SkinForm, TheCaptionDragsTheWindowAndMinimiseMinimisesTheProgram) {
  TSkinForm form(QStringLiteral("Information"));
  QWidget other;
  other.show();
  form.move(100, 100);
  form.show();
  QLabel* caption = form.CaptionLabel();
  const QPoint start = form.pos();
  Mouse(caption, QEvent::MouseButtonPress, QPoint(20, 10));
  Mouse(caption, QEvent::MouseMove, QPoint(50, 30));
  Mouse(caption, QEvent::MouseButtonRelease, QPoint(50, 30));
  EXPECT_EQ(form.pos(), start + QPoint(30, 20));

  form.MinimiseButton()->Click();
  EXPECT_TRUE(form.isMinimized());
  EXPECT_TRUE(other.isMinimized());
  EXPECT_TRUE(form.isVisible());  // minimised, not closed
}

TEST_F(SkinForm, OpensWithTheFocusOnItsDefaultButtonAndNeverOnTheCaption) {
  struct Case {
    const char* Name;
    bool Ok, Cancel;
    const char* Focused;  // object name, empty for none
  };
  const Case cases[] = {{"OK and Cancel", true, true, "btnok"},
                        {"Cancel alone", false, true, "btncancel"},
                        {"no button", false, false, ""}};
  for (const Case& c : cases) {
    TSkinForm form(QStringLiteral("Information"));
    if (c.Ok) form.OkButton();
    if (c.Cancel) form.CancelButton();
    form.show();
    QApplication::setActiveWindow(&form);
    QWidget* focused = form.focusWidget();
    EXPECT_EQ(focused ? focused->objectName() : QString(), QLatin1String(c.Focused)) << c.Name;
    for (TSkBmpButton* caption : {form.MinimiseButton(), form.CloseButton()})
      EXPECT_EQ(caption->focusPolicy(), Qt::NoFocus) << c.Name;
  }
}

}  // namespace
