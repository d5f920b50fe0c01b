#include "tv_dbfobject.h"

namespace fendral {

void DBFObject::StatusUpdate(int32_t stat1, int32_t stat2, int32_t stat3) {
  if (OnStatus) OnStatus(stat1, stat2, stat3);
}

int DBFObject::FormulaRequest(const std::string& command, const std::string& function,
                              std::span<uint8_t> result, char& type, bool& changed) {
  if (!OnFormula) return -1;
  return OnFormula(command, function, result, type, changed);
}

bool DBFObject::LockRecordNumber(int32_t n) {
  SetCurrentRecord(n);
  return LockRecord();
}

void DBFObject::ReadFromFile(int32_t n) {
  DropReadAhead();
  tolvern::KXO_dBaseFld::GetRecord(n);
}

}  // namespace fendral
