// Repaints a window holding 100 bitmap buttons, 40 labels and 20 panels, as a busy window of the
// program does, and prints the median time of one full repaint. Runs offscreen unless a platform
// is set. Usage: fennick_controls_bench [repaints]
#include "SkBmpBtn.h"
#include "SkLabel.h"
#include "SkPanel.h"

#include <QApplication>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

QImage ButtonPicture() {
  QImage image(40, 28, QImage::Format_RGB32);
  image.fill(ToQColor(clOlive));
  QPainter p(&image);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(51, 102, 204));
  p.drawRoundedRect(QRect(0, 0, 40, 28), 5, 5);
  return image;
}

// 20 panels in a 5 by 4 grid, each holding 5 buttons and 2 labels; counts the panels' paints.
void Populate(QWidget& Window, int& PanelPaints) {
  const QImage picture = ButtonPicture();
  for (int i = 0; i < 20; ++i) {
    auto* panel = new TSkPanel(&Window);
    panel->setGeometry(10 + (i % 5) * 196, 10 + (i / 5) * 170, 186, 160);
    panel->SetBorderOuter(i % 2 ? fsFlatRounded : fsRaised);
    panel->SetCaption(i % 3 ? QString() : QStringLiteral("Panel %1").arg(i));
    panel->SetAlignmentVertical(avBottom);
    panel->OnPaint = [&PanelPaints](TSkCustomPanel&, QPainter&) { ++PanelPaints; };
    for (int b = 0; b < 5; ++b) {
      auto* button = new TSkBmpButton(panel);
      button->Bitmaps().SetUp(picture);
      button->move(8 + (b % 3) * 58, 8 + (b / 3) * 36);
    }
    for (int l = 0; l < 2; ++l) {
      auto* label = new TSkLabel(panel);
      label->SetCaption(QStringLiteral("Label %1 of panel %2").arg(l).arg(i));
      label->SetTextStyle(l ? tsShadow : tsNormal);
      label->move(8, 84 + l * 22);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int repaints = argc > 1 ? std::max(std::atoi(argv[1]), 1) : 200;
  QWidget window;
  window.resize(1000, 700);
  int panelPaints = 0;
  Populate(window, panelPaints);
  window.show();
  QApplication::processEvents();
  panelPaints = 0;
  // Every control paints itself into one canvas, as the window's backing store receives them.
  QImage canvas(window.size(), QImage::Format_ARGB32_Premultiplied);
  std::vector<double> times;
  for (int i = 0; i < repaints; ++i) {
    const auto start = std::chrono::steady_clock::now();
    window.render(&canvas);
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::sort(times.begin(), times.end());
  // A repaint that skipped the controls would measure nothing.
  if (panelPaints != 20 * repaints) {
    std::fprintf(stderr, "only %d of %d panel paints happened\n", panelPaints, 20 * repaints);
    return 1;
  }
  std::printf("controls: 100 bitmap buttons, 40 labels, 20 panels; %d repaints\n", repaints);
  std::printf("median full repaint: %.3f ms (fastest %.3f ms, slowest %.3f ms)\n",
              times[times.size() / 2], times.front(), times.back());
  return 0;
}
