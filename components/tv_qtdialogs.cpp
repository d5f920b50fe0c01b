#include "tv_qtdialogs.h"

#include <QApplication>
#include <QMessageBox>

namespace fendral {

bool TQtDialogs::Confirm(const QString& caption, const QString& text) {
  QWidget* parent = parent_ ? parent_->window() : QApplication::activeWindow();
  return QMessageBox::question(parent, caption, text, QMessageBox::Ok | QMessageBox::Cancel,
                               QMessageBox::Ok) == QMessageBox::Ok;
}

}  // namespace fendral
