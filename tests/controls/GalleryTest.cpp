// Lays out every gallery section on one window and saves its picture into the build tree. The
// xvfb run shows it on a real X server; the offscreen run checks the layout alone.
#include "Gallery.h"

#include <QApplication>
#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// Two columns of titled sections, in order.
std::unique_ptr<QWidget> BuildGallery() {
  auto window = std::make_unique<QWidget>();
  window->setWindowTitle(QStringLiteral("Control gallery"));
  QPalette palette = window->palette();
  palette.setColor(QPalette::Window, ToQColor(clBtnFace));
  window->setPalette(palette);
  auto* grid = new QGridLayout(window.get());
  grid->setHorizontalSpacing(24);
  grid->setVerticalSpacing(6);
  const auto& sections = GallerySections();
  const int rows = int(sections.size() + 1) / 2;
  for (int i = 0; i < int(sections.size()); ++i) {
    auto* box = new QWidget(window.get());
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    auto* title = new QLabel(sections[size_t(i)].Title, box);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    column->addWidget(title);
    column->addWidget(sections[size_t(i)].Build(box));
    column->addStretch();
    grid->addWidget(box, i % rows, i / rows, Qt::AlignTop | Qt::AlignLeft);
  }
  return window;
}

TEST(Gallery, ShowsEverySectionWithoutOverlap) {
  ASSERT_FALSE(GallerySections().empty());
  std::unique_ptr<QWidget> window = BuildGallery();
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  QList<QRect> placed;
  for (QObject* child : window->children()) {
    auto* box = qobject_cast<QWidget*>(child);
    if (!box) continue;
    const QRect geometry = box->geometry();
    EXPECT_TRUE(window->rect().contains(geometry)) << qPrintable(box->findChild<QLabel*>()->text());
    for (const QRect& other : placed) EXPECT_FALSE(geometry.intersects(other));
    placed << geometry;
  }
  EXPECT_EQ(placed.size(), qsizetype(GallerySections().size()));
  const QImage shot = window->grab().toImage();
  const QString folder = QStringLiteral(FENNICK_SCREENSHOT_DIR);
  ASSERT_TRUE(QDir().mkpath(folder));
  const bool onX = QGuiApplication::platformName() == QStringLiteral("xcb");
  const QString name = onX ? QStringLiteral("controls_gallery.png")
                           : QStringLiteral("controls_gallery_offscreen.png");
  EXPECT_TRUE(shot.save(folder + QLatin1Char('/') + name));
  EXPECT_EQ(shot.pixelColor(2, 2), ToQColor(clBtnFace));
}

}  // namespace
