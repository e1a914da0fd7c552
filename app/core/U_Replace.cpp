#include "U_Replace.h"

#include <QFileInfo>

#include <algorithm>

namespace {

QString Quoted(QString Name) {
  Name.replace(QLatin1Char('\''), QStringLiteral("''"));
  return QLatin1Char('\'') + Name + QLatin1Char('\'');
}

// The name kept to at most Kept characters around "...": its start and its end.
QString Shortened(const QString& Name, qsizetype Kept) {
  if (Name.size() <= Kept) return Name;
  return Name.left(Kept - Kept / 2) + QStringLiteral("...") + Name.right(Kept / 2);
}

// "'a', 'b' and 'c'", each name kept to at most Kept characters.
QString QuotedList(const QStringList& Names, qsizetype Kept) {
  QStringList quoted;
  for (const QString& name : Names) quoted << Quoted(Shortened(name, Kept));
  if (quoted.size() < 2) return quoted.join(QString());
  const QString last = quoted.takeLast();
  return quoted.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

}  // namespace

QString ReplaceCaption(const QStringList& FileNames, int LineWidth,
                       const std::function<int(const QString&)>& TextWidth) {
  const QString lead = QStringLiteral("whether you want to replace existing file");
  QStringList names;
  qsizetype longest = 0;
  for (const QString& file : FileNames) {
    names << QFileInfo(file).fileName();
    longest = std::max(longest, names.back().size());
  }
  QString quoted = QuotedList(names, longest);
  if (TextWidth(lead + quoted) <= LineWidth) return lead + quoted;
  for (qsizetype kept = longest - 1; kept >= 0 && TextWidth(quoted) > LineWidth; --kept)
    quoted = QuotedList(names, kept);
  return lead + QStringLiteral("\r\n") + quoted;
}
