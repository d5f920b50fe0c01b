#include "tv_dbfobject.h"

#include <algorithm>
#include <climits>

#include "tv_log.h"

namespace fendral {

namespace {

int32_t Clamp32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

}  // namespace

DBFObject::DBFObject(const std::string& name, bool readWrite, bool shared)
    : tolvern::KXO_dBHandler(name, readWrite, shared) {
  SetProgress(&relay_);
}

void DBFObject::Relay::Start(int32_t k, int64_t total) {
  kind = k;
  if (owner.OnStatus) owner.OnStatus(-1, k, Clamp32(total));
  if (target) target->Start(k, total);
}

bool DBFObject::Relay::Step(int64_t done) {
  if (owner.OnStatus) owner.OnStatus(kind, Clamp32(done), 0);
  return !target || target->Step(done);
}

void DBFObject::Relay::Finish() {
  // Called while a scope ends, possibly unwinding: nothing may escape.
  try {
    if (owner.OnStatus) owner.OnStatus(0, 0, 0);
  } catch (...) {
    LogSwallowed("the stop report of long work");
  }
  if (target) target->Finish();
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
