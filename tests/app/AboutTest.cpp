#include "AppTestSupport.h"
#include "U_Config.h"
#include "U_about.h"
#include "UrlCatcher.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

class AboutBox : public testing::Test {
 protected:
  void SetUp() override { SetProgramFolder(Folder.Path()); }
  void TearDown() override { SetProgramFolder(QString()); }

  void WriteHomePage(const QByteArray& Page) {
    WriteTextFile(Folder.File(QStringLiteral("URL.cfg")), "[URL]\nHomePage=" + Page + "\n");
  }

  TScratchFolder Folder;
};

void Click(QWidget* Widget, QEvent::Type Type) {
  const QPointF at = QRectF(Widget->rect()).center();
  QMouseEvent event(Type, at, Widget->mapToGlobal(at), Qt::LeftButton,
                    Type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(Widget, &event);
}

QColor TextColor(const QLabel* Label) { return Label->palette().color(QPalette::WindowText); }

TEST_F(AboutBox, ShowsTheVersionTheHomePageAndTheNotice) {
  WriteHomePage("https://www.velmora.example/home/");
  Taboutfrm about;
  about.show();

  EXPECT_EQ(about.windowTitle(), QStringLiteral("About"));
  EXPECT_EQ(about.lblVersion->text(), QStringLiteral("Version " FENNICK_PROJECT_VERSION));
  EXPECT_EQ(about.lblHomePage->text(), QStringLiteral("Home Page:"));
  EXPECT_EQ(about.lblurl->text(), QStringLiteral("https://www.velmora.example/home/"));
  EXPECT_TRUE(about.lblNotice->text().contains(QStringLiteral("Velmora")))
      << qPrintable(about.lblNotice->text());
  // Every text is whole inside the picture.
  for (const QLabel* label : {about.lblVersion, about.lblNotice, about.lblHomePage, about.lblurl})
    EXPECT_TRUE(about.rect().contains(label->geometry())) << qPrintable(label->text());
}

TEST_F(AboutBox, WithoutAHomePageInUrlCfgTheLinkShowsTheMakersPage) {
  Taboutfrm about;
  about.show();
  EXPECT_EQ(about.lblurl->text(), DefaultHomePage);
}

TEST_F(AboutBox, IsACaptionlessPictureWithItsColours) {
  Taboutfrm about;
  about.show();
  EXPECT_TRUE(about.windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_EQ(about.imgBd->geometry(), about.rect());
  ASSERT_FALSE(about.imgBd->Picture().isNull());
  EXPECT_EQ(about.imgBd->Picture().size(), about.size());
  EXPECT_EQ(TextColor(about.lblurl), QColor(0x20, 0x8A, 0xDE));
  EXPECT_EQ(TextColor(about.lblVersion), QColor(0xEE, 0xEE, 0xF3));
  EXPECT_EQ(TextColor(about.lblNotice), QColor(Qt::white));
  EXPECT_EQ(TextColor(about.lblHomePage), QColor(Qt::white));
  EXPECT_EQ(about.lblurl->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(AboutBox, APressOnThePictureClosesTheModalBoxEvenUnderTheTexts) {
  Taboutfrm about;
  // The plain texts let presses through to the picture; the link keeps its own.
  EXPECT_EQ(about.childAt(about.lblNotice->geometry().center()), about.imgBd);
  EXPECT_EQ(about.childAt(about.lblVersion->geometry().center()), about.imgBd);
  QTimer::singleShot(0, &about, [&about] { Click(about.imgBd, QEvent::MouseButtonPress); });
  EXPECT_EQ(about.exec(), QDialog::Rejected);
  EXPECT_FALSE(about.isVisible());
}

TEST_F(AboutBox, ALongHomePageEndsInsideThePictureAndAClickOpensItWhole) {
  const QByteArray page = "https://www.velmora.example/" + QByteArray(200, 'p') + "/";
  WriteHomePage(page);
  Taboutfrm about;
  about.show();
  EXPECT_TRUE(about.rect().contains(about.lblurl->geometry())) << about.lblurl->geometry().right();
  EXPECT_TRUE(about.lblurl->text().startsWith(QStringLiteral("https://www.velmora.example/")));
  EXPECT_TRUE(about.lblurl->text().endsWith(QChar(0x2026))) << qPrintable(about.lblurl->text());

  TUrlCatcher browser;
  Click(about.lblurl, QEvent::MouseButtonPress);
  Click(about.lblurl, QEvent::MouseButtonRelease);
  ASSERT_EQ(browser.Opened.size(), 1);
  EXPECT_EQ(browser.Opened[0], QUrl(QString::fromLatin1(page)));
}

TEST_F(AboutBox, TheLinkUnderlinesUnderTheMouse) {
  Taboutfrm about;
  about.show();
  EXPECT_FALSE(about.lblurl->font().underline());
  QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), about.lblurl->mapToGlobal(QPointF(2, 2)));
  QApplication::sendEvent(about.lblurl, &enter);
  EXPECT_TRUE(about.lblurl->font().underline());
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(about.lblurl, &leave);
  EXPECT_FALSE(about.lblurl->font().underline());
}

TEST_F(AboutBox, AClickOnTheLinkOpensTheHomePageReadAgainAndKeepsTheBoxOpen) {
  WriteHomePage("https://old.velmora.example/");
  Taboutfrm about;
  about.show();
  WriteHomePage("https://new.velmora.example/");
  TUrlCatcher browser;
  ASSERT_EQ(about.childAt(about.lblurl->geometry().center()), about.lblurl);
  Click(about.lblurl, QEvent::MouseButtonPress);
  Click(about.lblurl, QEvent::MouseButtonRelease);
  ASSERT_EQ(browser.Opened.size(), 1);
  EXPECT_EQ(browser.Opened[0], QUrl(QStringLiteral("https://new.velmora.example/")));
  EXPECT_TRUE(about.isVisible());
}

// The keyboard reaches the link: it shows that it has the focus, and Enter or Space opens the
// home page as a click does.
TEST_F(AboutBox, TabReachesTheLinkWhichShowsItsFocusAndOpensWithEnterOrSpace) {
  WriteHomePage("https://www.velmora.example/home/");
  Taboutfrm about;
  about.show();
  QApplication::setActiveWindow(&about);
  about.lblurl->clearFocus();
  const QImage unfocused = about.lblurl->grab().toImage();
  QTest::keyClick(&about, Qt::Key_Tab);
  ASSERT_TRUE(about.lblurl->hasFocus());
  EXPECT_NE(about.lblurl->grab().toImage(), unfocused);
  TUrlCatcher browser;
  for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space})
    QTest::keyClick(about.lblurl, key);
  EXPECT_EQ(browser.Opened,
            QList<QUrl>(3, QUrl(QStringLiteral("https://www.velmora.example/home/"))));
  EXPECT_TRUE(about.isVisible());
}

}  // namespace
