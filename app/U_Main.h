// The program's main window, the one window that lives for the whole run.
#pragma once

#include <QWidget>

class TMainfrm : public QWidget {
 public:
  explicit TMainfrm(QWidget* Parent = nullptr);

 protected:
  void resizeEvent(QResizeEvent* Event) override;
};
