// How the main window's datasets start: the code-page pair the user last chose, shared
// opens, and the in-memory structure table the "Structure DBF" page edits.
#pragma once

#include <QMainWindow>

#include "Tolvern6DB.h"
#include "memtable.h"

namespace fendral {

// Sets `tables` up for shared use with the remembered code-page pair (default CP866 and
// CP1251; an unknown remembered pair falls back to it) and remembers the pair in use.
void SetUpTables(std::initializer_list<TTolvernDataSet*> tables);

// Defines and opens the structure table: Field, Name, DBF Type, Len, Dec and Origin (the
// field a row came from), with column titles in the user's language.
void DefineStructureTable(TMemTable& table);

// Puts `window` where it was last closed (saved as "window/geometry"); the first time,
// centred on the screen.
void RestoreWindowPlace(QMainWindow& window);

}  // namespace fendral
