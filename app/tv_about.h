// The About window: the program's name, version and licence, the table engine and the file
// the settings are kept in; closed with "Ok".
#pragma once

#include <QDialog>

namespace fendral {

class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutBox(QWidget* parent = nullptr);
};

}  // namespace fendral
