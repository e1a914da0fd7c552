#include "U_Replace.h"

#include <QFileInfo>

QString ReplaceCaption(const QString& FileName, int Columns) {
  QString name = QFileInfo(FileName).fileName();
  name.replace(QLatin1Char('\''), QStringLiteral("''"));
  const QString text =
      QStringLiteral("whether you want to replace existing file'") + name + QLatin1Char('\'');
  if (Columns <= 3 || text.size() <= Columns) return text;
  const QString rest = text.mid(Columns);
  const QString second =
      rest.size() <= Columns ? rest : rest.left(Columns - 3) + QStringLiteral("...'");
  return text.left(Columns) + QStringLiteral("\r\n") + second;
}
