// Gallery sections of the controls: bitmap buttons, progress bars, labels, status panes, panels,
// group boxes, check boxes and radio buttons, each in its main states.
#include "Gallery.h"
#include "SkBmpBtn.h"
#include "SkLabel.h"
#include "SkPanel.h"
#include "SkPrgres.h"
#include "SkRadChk.h"
#include "SkStatus.h"

namespace {

// A section of a fixed size whose children are placed by hand.
QWidget* Area(QWidget* Parent, QSize Size) {
  auto* area = new QWidget(Parent);
  area->setFixedSize(Size);
  return area;
}

template <typename T>
T* Place(QWidget* Area, int X, int Y, int W = 0, int H = 0) {
  auto* control = new T(Area);
  control->move(X, Y);
  if (W > 0) control->resize(W, H);
  return control;
}

// A button picture of our own: a rounded blue face with a white play triangle; the corners in
// the key colour.
QImage ButtonPicture(int W, int H, QColor Face) {
  QImage image(W, H, QImage::Format_RGB32);
  image.fill(ToQColor(clOlive));
  QPainter p(&image);
  p.setPen(Qt::NoPen);
  p.setBrush(Face);
  p.drawRoundedRect(QRect(0, 0, W, H), 5, 5);
  p.setBrush(Qt::white);
  const QPoint c(W / 2, H / 2);
  p.drawPolygon(QPolygon({c + QPoint(-4, -6), c + QPoint(6, 0), c + QPoint(-4, 6)}));
  return image;
}

GALLERY_SECTION(100,
                QStringLiteral("Bitmap buttons: up, down, disabled, framed, tiled; focused, "
                               "disabled panel"),
                [](QWidget* Parent) {
                  QWidget* area = Area(Parent, {520, 96});
                  const QImage up = ButtonPicture(40, 28, QColor(51, 102, 204));
                  const QImage down = ButtonPicture(40, 28, QColor(20, 60, 150));
                  const auto button = [&](int X, int Y) {
                    auto* b = Place<TSkBmpButton>(area, X, Y);
                    b->Bitmaps().SetUp(up);
                    b->Bitmaps().SetDown(down);
                    return b;
                  };
                  button(10, 14);
                  auto* stays = button(62, 14);
                  stays->SetGroupIndex(1);
                  stays->SetDown(true);
                  button(114, 14)->setEnabled(false);
                  button(166, 12)->SetButtonBorder(bbSingle);
                  auto* framed = button(220, 10);
                  framed->SetButtonBorder(bbButton);
                  auto* captioned = Place<TSkBmpButton>(area, 286, 12, 110, 32);
                  captioned->SetButtonSize(bszNeither);
                  captioned->SetButtonBorder(bbButton);
                  captioned->Bitmaps().SetUp(ButtonPicture(24, 20, QColor(51, 102, 204)));
                  captioned->SetCaption(QStringLiteral("&Convert"));
                  captioned->SetShowFocus(false);
                  auto* tiled = Place<TSkBmpButton>(area, 410, 12);
                  tiled->SetButtonSize(bszTileToButton);
                  tiled->Bitmaps().SetUp(ButtonPicture(16, 16, QColor(0, 150, 80)));
                  tiled->resize(96, 32);
                  button(10, 56)->setFocus();  // the picture alone shows it: no dotted square
                  auto* panel = Place<QWidget>(area, 62, 56, 48, 30);
                  panel->setEnabled(false);
                  auto* onPanel = new TSkBmpButton(panel);
                  onPanel->Bitmaps().SetUp(up);
                  return area;
                });

GALLERY_SECTION(110, QStringLiteral("Progress bars: solid, segments, gradient, parts, vertical"),
                [](QWidget* Parent) {
                  QWidget* area = Area(Parent, {520, 90});
                  auto* solid = Place<TSkProgressBar>(area, 10, 6, 220, 20);
                  solid->SetPercent(25);
                  auto* led = Place<TSkProgressBar>(area, 10, 34, 220, 20);
                  led->SetBarStyle(bsLED);
                  led->SetPercent(60);
                  auto* gradient = Place<TSkProgressBar>(area, 10, 62, 220, 20);
                  gradient->SetBarStyle(bsGradient);
                  gradient->SetBorderOuter(fsFlatRounded);
                  gradient->SetFlatColor(clBlack);
                  gradient->SetFlatColorAdjustment(0);
                  gradient->SetPercent(75);
                  auto* parts = Place<TSkProgressBar>(area, 250, 6, 220, 20);
                  parts->SetBorderOuter(fsFlat);
                  parts->SetBorderInner(fsLowered);
                  parts->SetTotalParts(8);
                  parts->SetPartsComplete(3);
                  parts->SetShowParts(true);
                  auto* full = Place<TSkProgressBar>(area, 250, 34, 220, 20);
                  full->SetPercent(100);
                  auto* vertical = Place<TSkProgressBar>(area, 490, 6, 20, 76);
                  vertical->SetShowPercent(false);
                  vertical->SetPercent(40);
                  return area;
                });

GALLERY_SECTION(120, QStringLiteral("Labels: looks, borders, turned, curved, blinking, URL"),
                [](QWidget* Parent) {
                  QWidget* area = Area(Parent, {520, 110});
                  const auto label = [&](int X, int Y, const QString& Text) {
                    auto* l = Place<TSkLabel>(area, X, Y);
                    l->SetCaption(Text);
                    return l;
                  };
                  label(10, 6, QStringLiteral("Normal"));
                  label(80, 6, QStringLiteral("Raised"))->SetTextStyle(tsRaised);
                  label(150, 6, QStringLiteral("Recessed"))->SetTextStyle(tsRecessed);
                  auto* shadow = label(230, 6, QStringLiteral("Shadow"));
                  shadow->SetTextStyle(tsShadow);
                  shadow->SetShadowDepth(1);
                  label(300, 6, QStringLiteral("Disabled"))->setEnabled(false);
                  auto* bordered = label(10, 34, QStringLiteral("Bordered with a margin"));
                  TInnerOuterBorders borders;
                  borders.BorderOuter = fsFlatRounded;
                  borders.FlatColor = clBtnShadow;
                  borders.BorderColor = clWindow;
                  bordered->SetBorders(borders);
                  bordered->SetTextMargin(3);
                  bordered->SetColor(clWindow);
                  auto* status = label(180, 34, QStringLiteral("Lowered, highlighted"));
                  TInnerOuterBorders lowered;
                  lowered.BorderOuter = fsLowered;
                  status->SetBorders(lowered);
                  status->SetTextMargin(2);
                  status->SetFontColor(clHighlight);
                  auto* turned = label(380, 4, QStringLiteral("Turned 30°"));
                  turned->SetAngle(30);
                  auto* curved = Place<TSkLabel>(area, 430, 30);
                  curved->SetAutoSize(false);
                  curved->resize(84, 80);
                  curved->SetRotation(roCurve);
                  curved->SetCaption(QStringLiteral("along an arc"));
                  auto* url = Place<TSkURLLabel>(area, 10, 70);
                  url->SetCaption(QStringLiteral("https://example.com/fennick"));
                  auto* visited = Place<TSkURLLabel>(area, 200, 70);
                  visited->SetCaption(QStringLiteral("visited link"));
                  visited->SetVisited(true);
                  return area;
                });

GALLERY_SECTION(130, QStringLiteral("Status panes: flat, sunken, centred, progress"),
                [](QWidget* Parent) {
                  QWidget* area = Area(Parent, {520, 30});
                  const auto pane = [&](int X, const QString& Text, TFrameStyle Style) {
                    auto* p = Place<TSkCustomStatusPane>(area, X, 5, 110, 20);
                    p->SetCaption(Text);
                    p->SetFrameStyle(Style);
                    return p;
                  };
                  pane(10, QStringLiteral("Ready"), fsFlat);
                  pane(126, QStringLiteral("12 files"), fsStatus);
                  auto* centred = pane(242, QStringLiteral("Centred"), fsPopup);
                  centred->SetAlignment(taCenter);
                  auto* progress = Place<TSkProgressStatus>(area, 358, 5, 150, 20);
                  progress->SetShowPercent(true);
                  progress->SetPercent(45);
                  return area;
                });

GALLERY_SECTION(140, QStringLiteral("Panels and group boxes"), [](QWidget* Parent) {
  QWidget* area = Area(Parent, {520, 196});
  auto* raised = Place<TSkPanel>(area, 10, 6, 110, 50);
  raised->SetCaption(QStringLiteral("Raised"));
  auto* backdrop = Place<TSkPanel>(area, 130, 6, 130, 50);
  backdrop->SetBorderOuter(fsNone);
  backdrop->SetColor(RGB(204, 224, 255));
  auto* rounded = Place<TSkPanel>(backdrop, 10, 6, 110, 38);
  rounded->SetBorderOuter(fsFlatRounded);
  rounded->SetFlatColor(clBlack);
  rounded->SetFlatColorAdjustment(0);
  rounded->SetColor(RGB(240, 240, 240));
  rounded->SetCaption(QStringLiteral("Rounded"));
  auto* gradient = Place<TSkPanel>(area, 270, 6, 110, 50);
  gradient->SetVisualStyle(vsGradient);
  gradient->SetBorderOuter(fsFlat);
  gradient->SetCaption(QStringLiteral("Gradient"));
  auto* grid = Place<TSkPanel>(area, 390, 6, 120, 50);
  grid->SetBorderOuter(fsLowered);
  grid->SetShowGrid(true);
  grid->SetColor(clWindow);
  grid->SetGridStyle(gsDottedLines);
  const auto group = [&](int X, int Y, const QString& Text, TSkGroupBoxStyle Style) {
    auto* g = Place<TSkGroupBox>(area, X, Y, 160, 60);
    g->SetCaption(Text);
    g->SetGroupStyle(Style);
    auto* inside = new TSkLabel(g);
    inside->SetCaption(QStringLiteral("Inside"));
    inside->move(g->ClientRect().Left + 6, g->ClientRect().Top + 4);
    return g;
  };
  group(10, 64, QStringLiteral("Flat"), gsFlat);
  group(180, 64, QStringLiteral("Standard"), gsStandard);
  group(350, 64, QStringLiteral("Banner"), gsBanner);
  group(10, 130, QStringLiteral("Underline"), gsUnderline);
  group(180, 130, QStringLiteral("Top line"), gsTopLine);
  group(350, 130, QStringLiteral("Disabled"), gsFlat)->setEnabled(false);
  return area;
});

GALLERY_SECTION(150, QStringLiteral("Check boxes and radio buttons"), [](QWidget* Parent) {
  QWidget* area = Area(Parent, {520, 48});
  const auto box = [&](int X, int Y, const QString& Text, TSkCheckState State) {
    auto* b = Place<TSkCheckBox>(area, X, Y);
    b->AllowGrayed = true;
    b->SetState(State);
    b->SetCaption(Text);
    return b;
  };
  box(10, 4, QStringLiteral("Unchecked"), cbUnchecked);
  box(110, 4, QStringLiteral("Checked"), cbChecked);
  box(200, 4, QStringLiteral("Grayed"), cbGrayed);
  box(290, 4, QStringLiteral("Disabled"), cbChecked)->setEnabled(false);
  box(390, 4, QStringLiteral("Read-only"), cbChecked)->SetReadOnly(true);
  auto* radios = Area(area, {520, 22});
  radios->move(0, 26);
  const QString names[] = {QStringLiteral("MP4 input"), QStringLiteral("FLV output"),
                           QStringLiteral("SWF output")};
  for (int i = 0; i < 3; ++i) {
    auto* r = Place<TSkRadioButton>(radios, 10 + 100 * i, 0);
    r->SetCaption(names[i]);
    r->SetChecked(i == 1);
  }
  auto* off = Place<TSkRadioButton>(radios, 310, 0);
  off->SetCaption(QStringLiteral("Disabled"));
  off->setEnabled(false);
  return area;
});

}  // namespace
