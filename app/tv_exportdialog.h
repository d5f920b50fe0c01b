// The "Export as..." dialog: the format, the file and the options of an export. It only
// asks; the export command does the work.
#pragma once

#include <QDialog>

#include "tv_appdialogs.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;

namespace fendral {

class TExportDialog : public QDialog {
  Q_OBJECT
 public:
  explicit TExportDialog(QWidget* parent = nullptr);
  void SetChoice(const TExportChoice& choice);
  TExportChoice Choice() const;

 private:
  void FormatChanged();
  void Browse();

  QComboBox* format_;
  QLineEdit* file_;
  QComboBox* delimiter_;
  QCheckBox* header_;
  QComboBox* encoding_;
  QCheckBox* withDeleted_;
  QRadioButton* currentOrder_;
  QRadioButton* allRecords_;
};

}  // namespace fendral
