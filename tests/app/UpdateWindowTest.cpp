#include "ServedFiles.h"
#include "SkEdit.h"
#include "SkLabel.h"
#include "SkPrgres.h"
#include "U_Config.h"
#include "U_updata_Gui.h"
#include "TabChain.h"
#include "UrlCatcher.h"

#include <QApplication>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

const QString TooLarge = QStringLiteral(
    "The answer from http://localhost/download/fnk/update.ini is larger than 256 KB: the "
    "download was stopped.");

TEST(UpdateWindow, ShowsWhatTheServerSaid) {
  const QByteArray own = "[Fennick]\nVersion=" + GetFileVersionText(true).toLatin1() + "\n";
  const struct {
    const char* Name;
    QMap<QString, QByteArray> Files;
    QString Info;  // empty: the news are shown instead
    QString Version;
    QMap<QString, QString> Stopped = {};
  } cases[] = {
      {"equal", {{"update.ini", own}}, UpdateResultText(urLatest), {}},
      {"older", {{"update.ini", "[Fennick]\nVersion=0.9\n"}}, UpdateResultText(urOlder), {}},
      {"missing", {}, UpdateResultText(urFailed), {}},
      {"newer",
       {{"update.ini", "[Fennick]\nVersion=9.1\n"}, {"whatsnew.xml", "faster"}},
       {},
       "9.1"},
      {"too large", {}, TooLarge, {}, {{"update.ini", TooLarge}}},
  };
  for (const auto& c : cases) {
    TScratchFolder cache;
    auto served = std::make_unique<TServedFiles>();
    served->Files = c.Files;
    served->Stopped = c.Stopped;
    TUpdatefrm form(std::move(served), QStringLiteral("http://localhost"), cache.Path() + "/");
    form.show();
    EXPECT_TRUE(form.progress->isHidden()) << c.Name;
    const QString info = form.lblUpdateinfo->isHidden() ? QString() : form.lblUpdateinfo->Caption();
    EXPECT_EQ(info, c.Info) << c.Name;
    EXPECT_EQ(form.mmonew->isHidden(), !c.Info.isEmpty()) << c.Name;
    EXPECT_EQ(form.lblURL->isHidden(), !c.Info.isEmpty()) << c.Name;
    EXPECT_EQ(form.lbVersion->Caption(), c.Version) << c.Name;
  }
}

TEST(UpdateWindow, ClosingAbortsTheDownload) {
  TScratchFolder cache;
  auto served = std::make_unique<TServedFiles>();
  served->Hold = true;
  TServedFiles& server = *served;
  TUpdatefrm form(std::move(served), QStringLiteral("http://localhost"), cache.Path() + "/");
  form.show();
  EXPECT_TRUE(form.Check().Running());
  form.reject();
  EXPECT_FALSE(form.Check().Running());
  EXPECT_EQ(server.Aborts, 1);
}

// With a newer version shown, Tab reaches "Download Here" and every stop shows its focus;
// Enter or Space on the link opens the download page.
TEST(UpdateWindow, TabReachesTheDownloadLinkWhichOpensWithEnterOrSpace) {
  TScratchFolder cache;
  auto served = std::make_unique<TServedFiles>();
  served->Files = {{"update.ini", "[Fennick]\nVersion=9.1\n"}, {"whatsnew.xml", "faster"}};
  TUpdatefrm form(std::move(served), QStringLiteral("http://localhost"), cache.Path() + "/");
  form.show();
  QApplication::setActiveWindow(&form);
  ASSERT_TRUE(form.lblURL->isVisible());
  const QList<TTabStop> stops = WalkTabChain(form);
  EXPECT_EQ(StopsWithoutFocus(stops), "");
  ASSERT_TRUE(std::any_of(stops.begin(), stops.end(),
                          [&](const TTabStop& Stop) { return Stop.Control == form.lblURL; }));
  form.lblURL->setFocus(Qt::TabFocusReason);
  TUrlCatcher browser;
  for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Space})
    QTest::keyClick(form.lblURL, key);
  EXPECT_EQ(browser.Opened, QList<QUrl>(2, QUrl(QStringLiteral("http://localhost/download/fnk/"))));
  EXPECT_TRUE(form.isVisible());
}

}  // namespace
