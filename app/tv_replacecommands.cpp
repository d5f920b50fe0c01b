#include "Unit1.h"

namespace fendral {

void TMainWindow::ModifyDbf() { dialogs_->Message(tr("Fendral"), QStringLiteral("ModifyDbf: under construction")); }
void TMainWindow::ConvertDosToAnsi() { dialogs_->Message(tr("Fendral"), QStringLiteral("ConvertDosToAnsi: under construction")); }
void TMainWindow::ConvertAnsiToDos() { dialogs_->Message(tr("Fendral"), QStringLiteral("ConvertAnsiToDos: under construction")); }

}  // namespace fendral
