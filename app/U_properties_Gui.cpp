#include "U_properties_Gui.h"

#include "SkBmpBtn.h"
#include "SkLabel.h"
#include "SkPanel.h"
#include "U_Config_Gui.h"
#include "U_properties.h"

#include <QLabel>

namespace {

constexpr int RowHeight = 22;
constexpr int NameWidth = 90;

// A caption and, right of it, the value label (which starts as "unknown").
TSkLabel* AddRow(QWidget* Parent, const QString& Caption, int Left, int Top, int ValueWidth) {
  auto* caption = new TSkLabel(Parent);
  caption->SetCaption(Caption);
  caption->setGeometry(Left, Top, NameWidth, RowHeight - 4);
  auto* value = new TSkLabel(Parent);
  value->SetCaption(UnknownProperty);
  value->setGeometry(Left + NameWidth, Top, ValueWidth, RowHeight - 4);
  return value;
}

TSkGroupBox* AddGroup(QWidget* Parent, const QString& Caption, const QRect& Where) {
  auto* group = new TSkGroupBox(Parent);
  group->SetCaption(Caption);
  group->setGeometry(Where);
  return group;
}

// FitTextToWidth works on a plain label; a skinned label gets the same fitted text.
QString Fitted(const TSkLabel* Label, const QString& Text) {
  return ShortenText(Label->font(), Text, Label->width());
}

}  // namespace

TFilePropertiesFrm::TFilePropertiesFrm(QWidget* Parent)
    : TSkinForm(QStringLiteral("File Properties"), Parent) {
  SetClientSize(QSize(380, 262));
  lblFileName = AddRow(Client(), QStringLiteral("File Name:"), 14, 12, 266);
  lblTimeLength = AddRow(Client(), QStringLiteral("Time Length:"), 14, 12 + RowHeight, 266);
  grpVideo = AddGroup(Client(), QStringLiteral("Video"), QRect(10, 62, 175, 150));
  grpAudio = AddGroup(Client(), QStringLiteral("Audio"), QRect(195, 62, 175, 150));
  lblResolution = AddRow(grpVideo, QStringLiteral("Resolution:"), 8, 28, 72);
  lblVideoBitRate = AddRow(grpVideo, QStringLiteral("Bit Rate:"), 8, 28 + 2 * RowHeight, 72);
  lblFrameRate = AddRow(grpVideo, QStringLiteral("Frame Rate:"), 8, 28 + 4 * RowHeight, 72);
  lblSampleRate = AddRow(grpAudio, QStringLiteral("Sample Rate:"), 8, 28, 72);
  lblChannel = AddRow(grpAudio, QStringLiteral("Channel:"), 8, 28 + 2 * RowHeight, 72);
  lblAudioBitRate = AddRow(grpAudio, QStringLiteral("Bit Rate:"), 8, 28 + 4 * RowHeight, 72);
  OkButton()->move(295, 226);
}

void TFilePropertiesFrm::ShowProperties(const TFileProperties& Properties) {
  lblFileName->SetCaption(Fitted(lblFileName, Properties.FileName));
  lblTimeLength->SetCaption(Properties.TimeLength);
  lblResolution->SetCaption(Properties.Resolution);
  lblVideoBitRate->SetCaption(Properties.VideoBitRate);
  lblFrameRate->SetCaption(Properties.FrameRate);
  lblSampleRate->SetCaption(Properties.SampleRate);
  lblChannel->SetCaption(Properties.Channel);
  lblAudioBitRate->SetCaption(Properties.AudioBitRate);
}

void ShowFileProperties(const TFileOption& Entry, QWidget* Parent) {
  TFilePropertiesFrm form(Parent);
  form.ShowProperties(FilePropertiesOf(Entry));
  form.exec();
}
