// Gallery sections of the input controls: edits, spin and button edits, combo boxes, the colour
// edit and picker, the memo and the list view, in their states.
#include "Gallery.h"
#include "SkBorder.h"
#include "SkBtnEdt.h"
#include "SkCmboBx.h"
#include "SkListVw.h"
#include "SkSpnEdt.h"

#include <QFormLayout>
#include <QLabel>

namespace {

// A titled column of labelled controls.
QWidget* Form(QWidget* Parent, const std::vector<std::pair<const char*, QWidget*>>& Rows) {
  auto* box = new QWidget(Parent);
  auto* form = new QFormLayout(box);
  form->setContentsMargins(4, 2, 4, 2);
  form->setVerticalSpacing(5);
  for (const auto& [label, control] : Rows) {
    control->setParent(box);
    control->setFixedSize(control->size());
    form->addRow(QString::fromLatin1(label), control);
  }
  return box;
}

template <class T>
T* Sized(T* Control, int Width, int Height = 21) {
  Control->resize(Width, Height);
  return Control;
}

TSkEdit* Edit(const char* Text, const std::function<void(TSkEdit&)>& Setup) {
  auto* edit = Sized(new TSkEdit, 170);
  edit->setText(QString::fromLatin1(Text));
  Setup(*edit);
  return edit;
}

GALLERY_SECTION(300, QStringLiteral("Framed edits"), [](QWidget* Parent) {
  return Form(Parent,
              {{"Plain", Edit("Some text", [](TSkEdit&) {})},
               {"Flat frame", Edit("Flat frame", [](TSkEdit& e) { e.SetFrameVisible(true); })},
               {"Hot tracking", Edit("Hot tracking",
                                     [](TSkEdit& e) {
                                       e.SetFrameHotTrack(true);
                                       e.SetFrameHotColor(RGB(51, 102, 204));
                                     })},
               {"Read-only", Edit("Read-only",
                                  [](TSkEdit& e) {
                                    e.SetFrameVisible(true);
                                    e.SetReadOnly(true);
                                  })},
               {"Disabled", Edit("Disabled",
                                 [](TSkEdit& e) {
                                   e.SetFrameVisible(true);
                                   e.setEnabled(false);
                                 })},
               {"Text hint", Edit("",
                                  [](TSkEdit& e) {
                                    e.SetFrameVisible(true);
                                    e.SetTextHint(QStringLiteral("Type a name"));
                                  })},
               {"Drop button", Edit("Drop-down",
                                    [](TSkEdit& e) {
                                      e.SetFrameVisible(true);
                                      e.SetDropButtonVisible(true);
                                    })},
               {"Flat drop", Edit("Flat drop button", [](TSkEdit& e) {
                  e.SetFrameVisible(true);
                  e.SetFlatButtons(true);
                  e.SetDropButtonVisible(true);
                })}});
});

GALLERY_SECTION(310, QStringLiteral("Spin, button and colour edits, combo boxes"),
                [](QWidget* Parent) {
                  auto* spin = Sized(new TSkSpinEdit, 70);
                  spin->SetMax(1920);
                  spin->SetMin(80);
                  spin->SetFrameVisible(true);
                  auto* wide = Sized(new TSkSpinEdit, 70);
                  wide->Buttons().SetDirection(sdLeftRight);
                  wide->Buttons().SetOrientation(orHorizontal);
                  wide->SetMax(256);
                  wide->SetValue(256);
                  auto* readOnly = Sized(new TSkSpinEdit, 70);
                  readOnly->SetValue(42);
                  readOnly->SetReadOnly(true);
                  auto* folder = Sized(new TSkButtonEdit, 220);
                  folder->setText(QStringLiteral("/home/user/Snapshot"));
                  folder->SetFrameVisible(true);
                  folder->SetButtonKind(bkFolder);
                  folder->SetAltBtnVisible(true);
                  folder->SetAltBtnKind(bkReject);
                  auto* colour = Sized(new TSkColorEdit, 70);
                  colour->SetSelectedColor(0x0066FF);
                  auto* none = Sized(new TSkColorEdit, 70);
                  none->SetFrameVisible(true);
                  const auto combo = [](bool ReadOnly, bool Flat) {
                    auto* c = Sized(new TSkComboBox, 170);
                    c->addItems({QStringLiteral("H.264 in FLV"), QStringLiteral("Sorenson Spark")});
                    c->SetFrameVisible(true);
                    c->SetReadOnly(ReadOnly);
                    c->SetFlatButtons(Flat);
                    return c;
                  };
                  return Form(Parent, {{"Spin 80..1920", spin},
                                       {"Left/right", wide},
                                       {"Read-only", readOnly},
                                       {"Button edit", folder},
                                       {"Colour", colour},
                                       {"No colour", none},
                                       {"Combo box", combo(false, false)},
                                       {"Flat button", combo(false, true)},
                                       {"Read-only", combo(true, false)}});
                });

GALLERY_SECTION(320, QStringLiteral("Colour picker"), [](QWidget* Parent) {
  auto* picker = new TSkColorPicker(Parent);
  picker->SetDefaultColor(clBlack);
  picker->SetShown(true, true, true, true);
  picker->SetSelectedColor(0x0066FF);
  picker->setFixedSize(picker->sizeHint());
  return picker;
});

GALLERY_SECTION(330, QStringLiteral("Memo and list view"), [](QWidget* Parent) {
  auto* memo = Sized(new TSkMemo, 220, 60);
  memo->SetFrameVisible(true);
  memo->setPlainText(QStringLiteral("Input #0, flv, from 'clip.flv':\n  Duration: 00:00:10.00"));
  auto* list = Sized(new TSkListView, 320, 110);
  list->SetFrameVisible(true);
  list->AlphaSortAll = true;
  list->setHeaderLabels({QStringLiteral("Title"), QStringLiteral("StartTime"),
                         QStringLiteral("EndTime"), QStringLiteral("Duration")});
  for (int i = 0; i < 3; ++i) list->setColumnWidth(i, 70);
  const char* const rows[][4] = {{"Clip 2", "00:00:05", "00:00:10", "00:00:05"},
                                 {"Clip 1", "00:00:00", "00:00:05", "00:00:05"},
                                 {"", "00:00:10", "00:00:12", "00:00:02"}};
  for (const auto& row : rows) {
    QStringList texts;
    for (const char* t : row) texts << QString::fromLatin1(t);
    list->addTopLevelItem(new QTreeWidgetItem(texts));
  }
  list->SortByColumn(0, false);
  list->SetSortColumn(0, false);
  return Form(Parent, {{"Memo", memo}, {"List view", list}});
});

}  // namespace
