// The dialogs' window chrome, loaded from the pictures of the program folder's "skin"
// folder into the window's parts, found by name, each time a dialog is shown.
#pragma once

class QWidget;
class TSkBmpButton;

// Each loads its pictures into the parts of that name (letter case ignored): the frame's
// picture labels, the bitmap buttons "btnok" and "btncancel", the caption buttons "btnmin" and
// "btnclose". A picture that is missing or unreadable is logged and its part keeps a plain
// face (a button its classic border). True when every picture was loaded.
bool LoadSkinFrame(QWidget* Form);
bool LoadSkinButtons(QWidget* Form);
bool LoadSkinCaptionButtons(QWidget* Form);
// Any other button of a window with the dialog buttons' pictures, stretched to its size.
bool LoadSkinButton(TSkBmpButton* Button);
