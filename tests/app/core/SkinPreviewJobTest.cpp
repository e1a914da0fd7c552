#include "AppTestSupport.h"
#include "SkinPreviewJob.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

struct TResult {
  QString Movie, Error;
};

TResult Build(TSkinPreviewJob& Job, const QString& Skin) {
  TResult result;
  QEventLoop loop;
  QObject::connect(&Job, &TSkinPreviewJob::Finished, &loop,
                   [&](const QString& Movie, const QString& Error) {
                     result = {Movie, Error};
                     loop.quit();
                   });
  TSWFData settings;
  settings.bgcolor = 0xFF0000;
  Job.Start(Skin, settings, QSize(320, 240));
  if (Job.Running()) loop.exec();
  return result;
}

TEST(SkinPreviewJob, BuildsTheMovieInItsScratchFolderOrSaysWhyNot) {
  TScratchFolder folder;
  const QString scratch = folder.File("preview/");
  const QString skins = QStringLiteral(FENNICK_BIN_DIR "/templates/Player/");
  const QString tools = QStringLiteral(FENNICK_LIBAV_DIR "/");
  WriteTextFile(folder.File("swfdata.dll"), "#!/bin/sh\nexec sleep 600\n");
  QFile::setPermissions(folder.File("swfdata.dll"), QFile::ReadOwner | QFile::ExeOwner);
  const struct {
    const char* Name;
    QString Tools, Skin;
    int TimeLimit;
    bool Made;
    QString ErrorHas;
  } cases[] = {
      {"the skin", tools, skins + "Player01.swf", 60000, true, ""},
      {"no skin", tools, skins + "Gone.swf", 60000, false, "Gone.swf"},
      {"a tool that hangs", folder.Path() + "/", skins + "None.swf", 0, false, "too long"},
      {"no tools", folder.File("none/"), skins + "None.swf", 60000, false, "swfdata.dll"},
  };
  for (const auto& c : cases) {
    QFile::remove(scratch + "Fennick.swf");
    TSkinPreviewJob job(c.Tools, scratch, c.TimeLimit);
    const TResult result = Build(job, c.Skin);
    EXPECT_EQ(!result.Movie.isEmpty(), c.Made) << c.Name << ": " << result.Error.toStdString();
    EXPECT_TRUE(result.Error.contains(c.ErrorHas)) << c.Name << ": " << result.Error.toStdString();
    EXPECT_EQ(QFileInfo::exists(scratch + "Fennick.swf"), c.Made) << c.Name;
    if (c.Made) {
      const QByteArray movie = ReadTextFile(result.Movie);
      EXPECT_TRUE(movie.startsWith("CWS") || movie.startsWith("FWS")) << c.Name;
    }
  }
  EXPECT_EQ(QFileInfo(scratch).permissions() & (QFile::ReadOther | QFile::WriteOther), 0);
}

}  // namespace
