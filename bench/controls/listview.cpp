// Times a framed list view of 10,000 rows: filling, the three-click sort on two columns, and
// scrolling through every page with each page painted, as the user sees it. Prints one line per
// step with its wall time; run with QT_QPA_PLATFORM=offscreen.
#include "SkListVw.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QScrollBar>

#include <cstdio>
#include <random>

namespace {

constexpr int Rows = 10000;

QString Time(int Seconds) {
  return QStringLiteral("%1:%2:%3")
      .arg(Seconds / 3600, 2, 10, QLatin1Char('0'))
      .arg(Seconds / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(Seconds % 60, 2, 10, QLatin1Char('0'));
}

void Report(const char* Step, const QElapsedTimer& Timer, int Count = 1) {
  const double ms = double(Timer.nsecsElapsed()) / 1e6;
  std::printf("%-34s %9.1f ms", Step, ms);
  if (Count > 1) std::printf("  (%d times, %.2f ms each)", Count, ms / Count);
  std::printf("\n");
}

// Lets the view lay itself out as the event loop does, then paints it.
void Settle(TSkListView& List) {
  QCoreApplication::processEvents();
  List.viewport()->repaint();
}

// Clicks a header section as the user does.
void ClickColumn(TSkListView& List, int Column) {
  emit List.header()->sectionClicked(Column);
  Settle(List);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  QApplication app(argc, argv);
  TSkListView list;
  list.resize(560, 400);
  list.AlphaSortAll = true;
  list.setHeaderLabels({QStringLiteral("Title"), QStringLiteral("StartTime"),
                        QStringLiteral("EndTime"), QStringLiteral("Duration")});
  list.show();

  std::mt19937 random(7);
  QList<QTreeWidgetItem*> items;
  QElapsedTimer timer;
  timer.start();
  for (int i = 0; i < Rows; ++i) {
    const int start = int(random() % 36000), length = int(random() % 600);
    const QString title = i % 10 == 0 ? QString() : QStringLiteral("Clip %1").arg(random() % Rows);
    items << new QTreeWidgetItem({title, Time(start), Time(start + length), Time(length)});
  }
  list.addTopLevelItems(items);
  Settle(list);
  Report("fill 10,000 rows and paint", timer);

  for (int column : {0, 3}) {
    for (const char* way : {"ascending", "descending", "ascending again"}) {
      timer.restart();
      ClickColumn(list, column);
      const QByteArray step =
          QStringLiteral("sort column %1 %2").arg(column).arg(QLatin1String(way)).toUtf8();
      Report(step.constData(), timer);
    }
  }

  QScrollBar* bar = list.verticalScrollBar();
  int pages = 0;
  timer.restart();
  for (bar->setValue(0); bar->value() < bar->maximum(); ++pages) {
    bar->setValue(bar->value() + bar->pageStep());
    Settle(list);
  }
  Report("scroll page by page, painted", timer, pages);

  int lines = 0;
  timer.restart();
  for (bar->setValue(bar->maximum()); bar->value() > bar->maximum() - 2000; ++lines) {
    bar->setValue(bar->value() - 16 * 3);  // one wheel notch: three rows of 16 pixels
    Settle(list);
  }
  Report("wheel notches upwards, painted", timer, lines);
  return 0;
}
