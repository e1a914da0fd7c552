// The file properties window: the media facts of one list entry.
#pragma once

#include "SkinForm.h"

struct TFileOption;
struct TFileProperties;
class TSkGroupBox;
class TSkLabel;

class TFilePropertiesFrm : public TSkinForm {
  Q_OBJECT

 public:
  explicit TFilePropertiesFrm(QWidget* Parent = nullptr);

  // Fills the value labels; the name is shortened to fit its label.
  void ShowProperties(const TFileProperties& Properties);

  TSkGroupBox *grpVideo, *grpAudio;
  TSkLabel *lblFileName, *lblTimeLength, *lblResolution, *lblVideoBitRate, *lblFrameRate,
      *lblSampleRate, *lblChannel, *lblAudioBitRate;
};

// Probes the entry's input and shows the window modally over the main window.
void ShowFileProperties(const TFileOption& Entry, QWidget* Parent);
