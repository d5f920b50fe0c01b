// The window in the user's language: the program's own translation (fendral_<lang>.qm) and
// Qt's translation of its standard texts (buttons, file dialogs).
#pragma once

#include <QLocale>
#include <QStringList>

namespace fendral {

// The folders searched for the program's .qm files, first match wins: the installed folder
// next to the program (../share/fendral/translations), the folder the install prefix names,
// then the build tree's folder.
QStringList TranslationDirs();

// Installs into the running application the translations for `locale`. Answers true when
// the program's own translation was found; English needs none and answers false.
bool InstallTranslations(const QLocale& locale);

}  // namespace fendral
