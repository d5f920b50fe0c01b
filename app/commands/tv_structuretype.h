// What the structure page hands to the commands that write files: a new table's
// description, a tag to build, and a change of the table's kind, with the question that
// names what such a change converts and loses.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>

#include "tv_create.h"

namespace tolvern {
class KXO_dBHandler;
struct TkxRebuildPlan;
}  // namespace tolvern

namespace fendral {

class TAppDialogs;

// A new, empty table: where, its field lines ("NAME;T;LEN;DEC"), kind and memo block size.
struct TNewTableRequest {
  QString path;
  QStringList fieldLines;
  TkxDBFTypes type = TkxDBFTypes::FoxPro2;
  uint16_t memoBlockSize = 64;
  std::string codePage;  // the field names are stored in it
};

// A tag to build into an index file.
struct TTagRequest {
  QString file;  // full path of the index file
  QString tag;
  QString expression;
  QString filter;
  bool ascending = true;
  bool unique = false;
  bool addToFile = false;  // into the existing file (opened first when it is not open)
};

// The kind of table ("DBF Type" position 0..3: Clipper, dBase III, dBase IV, FoxPro) the
// open table is and the one chosen, with their names as the user reads them.
struct TTableTypeChange {
  int from = -1;  // -1: no table was open, nothing is converted
  int to = -1;
  QString fromName;
  QString toName;
};

}  // namespace fendral
