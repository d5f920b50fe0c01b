// The main window of Fendral.
#pragma once

#include <QMainWindow>

namespace fendral {

class TMainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit TMainWindow(QWidget* parent = nullptr);
};

}  // namespace fendral
