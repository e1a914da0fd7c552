// Gallery sections of the shared drawing: gradients, borders, frames, bars, glyphs, buttons.
#include "Gallery.h"
#include "SkButton.h"
#include "SkCommon.h"

#include <QHBoxLayout>

namespace {

// A caption under a sample.
void Caption(QPainter& P, const TRect& Under, const QString& Text) {
  P.setPen(ToQColor(clBtnText));
  DrawString(P, Text, {Under.Left - 10, Under.Bottom + 2, Under.Right + 10, Under.Bottom + 18},
             DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
}

// Sample boxes in a row: column i of a grid with cells Width by Height.
TRect Cell(int Index, int Columns, int Width, int Height, int CellW, int CellH) {
  const int x = 10 + (Index % Columns) * CellW, y = 6 + (Index / Columns) * CellH;
  return {x, y, x + Width, y + Height};
}

GALLERY_SECTION(10, QStringLiteral("Gradients"), [](QWidget* Parent) {
  return PaintedSection(Parent, {520, 140}, [](QPainter& P) {
    static const char* const names[] = {
        "DiagonalUp",  "DiagonalDown", "HorizontalEnd", "HorizCenter", "HorizontalBox",
        "VerticalEnd", "VertCenter",   "VerticalBox",   "SquareBox",   "BigSquareBox"};
    for (int i = 0; i < 10; ++i) {
      const TRect r = Cell(i, 5, 80, 40, 102, 66);
      PaintGradient(P, r, TGradientDirection(i), RGB(255, 255, 255), RGB(51, 102, 204));
      Caption(P, r, QString::fromLatin1(names[i]));
    }
  });
});

const char* const FrameStyleNames[] = {"None",    "Flat",       "Groove",   "Bump",
                                       "Lowered", "ButtonDown", "Raised",   "ButtonUp",
                                       "Status",  "Popup",      "FlatBold", "FlatRounded"};

GALLERY_SECTION(20, QStringLiteral("Borders in system colours and in a base colour"),
                [](QWidget* Parent) {
                  return PaintedSection(Parent, {520, 190}, [](QPainter& P) {
                    for (int i = 0; i < 11; ++i) {
                      const TRect r = Cell(i, 6, 64, 24, 84, 46);
                      DrawBorder(P, r, TFrameStyleEx(i));
                      Caption(P, r, QString::fromLatin1(FrameStyleNames[i]));
                    }
                    for (int i = 1; i < 11; ++i) {
                      const TRect r = Cell(i - 1, 6, 64, 24, 84, 46).Offset(0, 96);
                      FillRect(P, r, RGB(120, 170, 230));
                      DrawColorBorder(P, r, RGB(120, 170, 230), TFrameStyleEx(i));
                      Caption(P, r, QString::fromLatin1(FrameStyleNames[i]));
                    }
                  });
                });

GALLERY_SECTION(30, QStringLiteral("Composite borders, edit frames, focus"), [](QWidget* Parent) {
  return PaintedSection(Parent, {520, 70}, [](QPainter& P) {
    TInnerOuterBorders b;
    b.BorderOuter = fsRaised;
    b.BorderInner = fsLowered;
    b.BorderWidth = 3;
    TRect r = Cell(0, 6, 70, 40, 84, 60);
    DrawInnerOuterBorders(P, r, b);
    b = {};
    b.BorderOuter = fsFlatRounded;
    b.FlatColor = clBtnShadow;
    b.Color = clWindow;
    b.BorderColor = clWindow;
    r = Cell(1, 6, 70, 40, 84, 60);
    FillRect(P, r.Inflated(-2, -2), clWindow);
    DrawInnerOuterBorders(P, r, b);
    b = {};
    b.BorderOuter = fsPopup;
    b.BevelWidth = 2;
    b.BorderInner = fsFlat;
    b.CutInnerFlatCorners = true;
    b.FlatColor = RGB(51, 102, 204);
    r = Cell(2, 6, 70, 40, 84, 60);
    DrawInnerOuterBorders(P, r, b);
    for (int i = 0; i < 2; ++i) {
      r = Cell(3 + i, 6, 70, 24, 84, 60);
      P.save();
      P.translate(r.Left, r.Top);
      FillRect(P, {0, 0, 70, 24}, clWindow);
      DrawFrame(P, 70, 24, i == 0 ? fsFlat : fsLowered, clWindow, clBtnShadow, AllSides, false);
      P.restore();
    }
    r = Cell(5, 6, 70, 24, 84, 60);
    FillRect(P, r, clWindow);
    DrawFocusBorder(P, r.Inflated(-2, -2));
  });
});

GALLERY_SECTION(40, QStringLiteral("Progress bars at 0, 25, 50 and 100 %"), [](QWidget* Parent) {
  return PaintedSection(Parent, {520, 150}, [](QPainter& P) {
    const int percents[] = {0, 25, 50, 100};
    for (int i = 0; i < 4; ++i) {
      const int y = 6 + i * 34;
      DrawLEDProgressBar(P, {10, y, 150, y + 14}, orHorizontal, clHighlight, clWindow, 20,
                         percents[i], false, false);
      TPercentBar bar;
      bar.Percent = percents[i];
      bar.ShowPercent = true;
      DrawPercentBar(P, {170, y, 310, y + 18}, bar, clHighlight, clWindow);
      DrawGradientPercentBar(P, {320, y, 460, y + 18}, bar, RGB(120, 200, 120), RGB(20, 120, 40),
                             clWindow, RGB(220, 220, 220), gdHorizontalEnd);
      DrawLEDProgressBar(P, {470 + i * 12, 6, 480 + i * 12, 140}, orVertical, RGB(20, 150, 60),
                         clWindow, 12, percents[i], false, false);
    }
  });
});

GALLERY_SECTION(50, QStringLiteral("Glyphs"), [](QWidget* Parent) {
  return PaintedSection(Parent, {520, 64}, [](QPainter& P) {
    const TSkArrowDirection directions[] = {adUp, adDown, adLeft, adRight};
    for (int i = 0; i < 4; ++i) {
      const TRect r{10 + i * 20, 6, 26 + i * 20, 22};
      DrawArrow(P, r, vsClassic, true, directions[i]);
      DrawArrow(P, r.Offset(0, 24), vsClassic, false, directions[i]);
    }
    DrawDropDownArrow(P, {90, 6, 106, 22}, vsClassic, true);
    DrawCloseCross(P, {110, 6, 126, 22}, clBtnText);
    DrawCloseButtonGlyph(P, {110, 30, 126, 46}, vsClassic, false);
    const TSkCheckState states[] = {cbUnchecked, cbChecked, cbGrayed};
    const TSkGlyphDrawState draws[] = {gdsNormal, gdsPressed, gdsHot, gdsDisabled};
    for (int s = 0; s < 3; ++s)
      for (int d = 0; d < 4; ++d) {
        TSkGlyphColors g;
        g.State = states[s];
        g.DrawState = draws[d];
        g.HotTrackStyle = d == 2 && s == 1 ? htsInterior : htsFrame;
        const TRect r{140 + d * 20 + s * 92, 6, 153 + d * 20 + s * 92, 19};
        DrawCheckBoxGlyph(P, r, g);
        if (s < 2) DrawRadioButtonGlyph(P, r.Offset(0, 24), g);
      }
  });
});

GALLERY_SECTION(
    60, QStringLiteral("Control buttons: raised, pressed, flat, hot, disabled"),
    [](QWidget* Parent) {
      auto* row = new QWidget(Parent);
      auto* layout = new QHBoxLayout(row);
      layout->setContentsMargins(10, 4, 0, 4);
      const TSkControlButtonStyle styles[] = {cbsLeft, cbsUp, cbsRight, cbsDown, cbsDropDown};
      for (TSkControlButtonStyle style : styles) {
        auto* button = new TSkControlButton(row);
        button->SetStyle(style);
        button->setFixedSize(17, 21);
        layout->addWidget(button);
      }
      layout->addWidget(PaintedSection(row, {200, 21}, [](QPainter& P) {
        const bool flags[][4] = {  // flat, down, mouse in, enabled
            {false, true, false, true}, {true, false, false, true},   {true, false, true, true},
            {true, true, true, true},   {false, false, false, false}, {true, false, true, false}};
        for (int i = 0; i < 6; ++i) {
          TSkControlButtonPaint b;
          b.Bounds = {i * 24, 0, i * 24 + 17, 21};
          b.Flat = flags[i][0];
          b.Down = flags[i][1];
          b.MouseInControl = flags[i][2];
          b.Enabled = flags[i][3];
          b.Style = cbsDropDown;
          PaintControlButton(P, b);
        }
      }));
      layout->addStretch();
      return row;
    });

GALLERY_SECTION(
    70, QStringLiteral("Button captions: normal, raised, recessed, shadow, disabled"),
    [](QWidget* Parent) {
      return PaintedSection(Parent, {520, 40}, [](QPainter& P) {
        const TTextStyle styles[] = {tsNormal, tsRaised, tsRecessed, tsShadow, tsNormal};
        for (int i = 0; i < 5; ++i) {
          TSkCaptionPaint c;
          c.Caption = QStringLiteral("&Caption");
          c.TextStyle = styles[i];
          c.Enabled = i < 4;
          c.Font = P.font();
          c.Font.setPointSize(11);
          DrawButtonCaption(P, c, {10 + i * 100, 4, 100 + i * 100, 36}, DT_CENTER | DT_WORDBREAK);
        }
      });
    });

}  // namespace
