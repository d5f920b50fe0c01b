#include "tv_dbfobject.h"

#include <algorithm>
#include <climits>

#include "tv_log.h"

namespace fendral {

DBFObject::DBFObject(const std::string& name, bool readWrite, bool shared)
    : tolvern::KXO_dBHandler(name, readWrite, shared) {
  SetProgress(&relay_);
}

void DBFObject::Relay::Start(int32_t kind, int64_t total) {
  if (target) target->Start(kind, total);
}

bool DBFObject::Relay::Step(int64_t done) { return !target || target->Step(done); }

void DBFObject::Relay::Finish() {
  // Called while a scope ends, possibly unwinding: nothing may escape.
  try {
    if (target) target->Finish();
  } catch (...) {
    LogSwallowed("the stop report of long work");
  }
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
