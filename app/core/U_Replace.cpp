#include "U_Replace.h"

#include <QFileInfo>

namespace {

QString Quoted(QString Name) {
  Name.replace(QLatin1Char('\''), QStringLiteral("''"));
  return QLatin1Char('\'') + Name + QLatin1Char('\'');
}

}  // namespace

QString ReplaceCaption(const QString& FileName, int LineWidth,
                       const std::function<int(const QString&)>& TextWidth) {
  const QString lead = QStringLiteral("whether you want to replace existing file");
  const QString name = QFileInfo(FileName).fileName();
  QString quoted = Quoted(name);
  if (TextWidth(lead + quoted) <= LineWidth) return lead + quoted;
  for (qsizetype kept = name.size() - 1; kept >= 0 && TextWidth(quoted) > LineWidth; --kept)
    quoted = Quoted(name.left(kept - kept / 2) + QStringLiteral("...") + name.right(kept / 2));
  return lead + QStringLiteral("\r\n") + quoted;
}
