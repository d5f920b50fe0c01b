#include "Unit1.h"

#include <QLabel>
#include <QStatusBar>

namespace fendral {

TMainWindow::TMainWindow(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("Fendral"));
  setObjectName(QStringLiteral("MainWindow"));
  auto* placeholder = new QLabel(tr("No table open"), this);
  placeholder->setAlignment(Qt::AlignCenter);
  setCentralWidget(placeholder);
  statusBar()->showMessage(tr("Ready"));
  resize(900, 600);
}

}  // namespace fendral
