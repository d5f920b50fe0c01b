#include "Unit1.h"

namespace fendral {

void TMainWindow::ExportText() { dialogs_->Message(tr("Fendral"), QStringLiteral("ExportText: under construction")); }
void TMainWindow::ImportText() { dialogs_->Message(tr("Fendral"), QStringLiteral("ImportText: under construction")); }
void TMainWindow::CopyStructureToText() { dialogs_->Message(tr("Fendral"), QStringLiteral("CopyStructureToText: under construction")); }

}  // namespace fendral
