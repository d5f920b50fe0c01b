#include "Unit1.h"

namespace fendral {

void TMainWindow::NewDbf() { dialogs_->Message(tr("Fendral"), QStringLiteral("NewDbf: under construction")); }
void TMainWindow::CreateOrModify() { dialogs_->Message(tr("Fendral"), QStringLiteral("CreateOrModify: under construction")); }

}  // namespace fendral
