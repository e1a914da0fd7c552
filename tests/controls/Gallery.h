// The control gallery: every control of the library on one window, in sections. Each unit adds
// its own sections from its own file with a GALLERY_SECTION line, so additions never touch one
// another; sections are laid out by their order number.
#pragma once

#include "SkGrafx.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

struct TGallerySection {
  int Order;
  QString Title;
  // Builds the section's content as a child of Parent (the gallery sizes it to its sizeHint).
  std::function<QWidget*(QWidget* Parent)> Build;
};

// The registered sections, in order.
std::vector<TGallerySection>& GallerySections();

struct TGalleryRegistrar {
  explicit TGalleryRegistrar(TGallerySection Section);
};

#define GALLERY_CONCAT2(a, b) a##b
#define GALLERY_CONCAT(a, b) GALLERY_CONCAT2(a, b)
// Registers a section: GALLERY_SECTION(order, "Title", [](QWidget* parent) { ... });
#define GALLERY_SECTION(order, title, ...)       \
  static const TGalleryRegistrar GALLERY_CONCAT( \
      GallerySection, __LINE__)(TGallerySection{order, title, __VA_ARGS__})

// A section painted by a function into a widget of a fixed size.
QWidget* PaintedSection(QWidget* Parent, QSize Size, std::function<void(QPainter&)> Paint);
