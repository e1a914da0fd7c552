#include "Gallery.h"

#include <QPainter>

#include <algorithm>

namespace {

class TPaintedSection : public QWidget {
 public:
  TPaintedSection(QWidget* Parent, QSize Size, std::function<void(QPainter&)> Paint)
      : QWidget(Parent), FSize(Size), FPaint(std::move(Paint)) {
    setFixedSize(Size);
  }
  QSize sizeHint() const override { return FSize; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), ToQColor(clBtnFace));
    FPaint(painter);
  }

 private:
  QSize FSize;
  std::function<void(QPainter&)> FPaint;
};

}  // namespace

std::vector<TGallerySection>& GallerySections() {
  static std::vector<TGallerySection> sections;
  return sections;
}

TGalleryRegistrar::TGalleryRegistrar(TGallerySection Section) {
  auto& sections = GallerySections();
  const auto at =
      std::upper_bound(sections.begin(), sections.end(), Section.Order,
                       [](int Order, const TGallerySection& Other) { return Order < Other.Order; });
  sections.insert(at, std::move(Section));
}

QWidget* PaintedSection(QWidget* Parent, QSize Size, std::function<void(QPainter&)> Paint) {
  return new TPaintedSection(Parent, Size, std::move(Paint));
}
