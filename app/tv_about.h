// The About window: the program's name and version, closed with "Ok".
#pragma once

#include <QDialog>

namespace fendral {

class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutBox(QWidget* parent = nullptr);
};

}  // namespace fendral
