// Pictures of what the main window shows, written as PNG files: the browse page in natural
// order, the same during long work with the progress dialog over it (progress.png), in the
// first index order (its column title red), with the filter panel open and
// a filter built by a title click switched on, the structure page with the table open
// (its first index file chosen, the tag editor showing its first tag), and the structure
// page while a new table is being defined ("New DBF" in a scratch directory), the menus as
// they drop down (menus.png) and the About box (about.png).
#pragma once

#include <QString>

#include "Unit1.h"

namespace fendral {

// Writes the pictures of the table `window` has open into `outDir`; `dialogs` must be the
// window's own. False when a picture could not be written (each is named on stdout or
// stderr). Any table the window shows can be pictured, whatever its fields.
bool WriteScreenshots(TMainWindow& window, TScriptedDialogs& dialogs, const QString& outDir);

// Runs "Check table" on the table `window` has open and writes the window with the list of
// findings over it to `file`. False when the check did not end or the file was not written.
bool SaveFindings(TMainWindow& window, const QString& file);

}  // namespace fendral
