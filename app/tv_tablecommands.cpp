#include "Unit1.h"

namespace fendral {

void TMainWindow::Pack() { dialogs_->Message(tr("Fendral"), QStringLiteral("Pack: under construction")); }
void TMainWindow::Zap() { dialogs_->Message(tr("Fendral"), QStringLiteral("Zap: under construction")); }
void TMainWindow::RenameBase() { dialogs_->Message(tr("Fendral"), QStringLiteral("RenameBase: under construction")); }
void TMainWindow::DeleteBase() { dialogs_->Message(tr("Fendral"), QStringLiteral("DeleteBase: under construction")); }
void TMainWindow::CopyToNewName() { dialogs_->Message(tr("Fendral"), QStringLiteral("CopyToNewName: under construction")); }
void TMainWindow::CopyStructureToBase() { dialogs_->Message(tr("Fendral"), QStringLiteral("CopyStructureToBase: under construction")); }

}  // namespace fendral
