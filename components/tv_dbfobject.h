// The table handler of a table dataset: the engine's handler with its three hooks
// (record acceptance, progress reports, formula requests) handed to the dataset, and
// record locks and reads by record number that do not depend on the handler's position.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "kx6_dbsy.h"

namespace fendral {

class DBFObject : public tolvern::KXO_dBHandler {
 public:
  // The long work of the handler reports to ReportTo's progress.
  DBFObject(const std::string& name, bool readWrite, bool shared);

  // Asked for every record a positioned read stops on; unset accepts all.
  std::function<bool()> OnAccept;
  // Where the long work reports and learns that it is to stop; null: nowhere, never.
  void ReportTo(tolvern::TkxProgress* progress) { relay_.target = progress; }
  tolvern::TkxProgress* ReportTarget() const { return relay_.target; }
  // command, function, result buffer, type, changed; answers 0 when handled.
  std::function<int(const std::string&, const std::string&, std::span<uint8_t>, char&, bool&)>
      OnFormula;
  // Told of every index file that is found damaged and closed (see IndexDamaged).
  std::function<void(const tolvern::TkxDamagedIndex&)> OnIndexDamaged;

  bool AcceptRecord() override { return !OnAccept || OnAccept(); }
  int FormulaRequest(const std::string& command, const std::string& function,
                     std::span<uint8_t> result, char& type, bool& changed) override;
  void IndexDamaged(const tolvern::TkxDamagedIndex& damaged) override {
    if (OnIndexDamaged) OnIndexDamaged(damaged);
  }

  // Takes the lock of record `n` (the one region lock of the table object). False when
  // another program holds it.
  bool LockRecordNumber(int32_t n);
  // Reads record `n` from the file itself, never from the read-ahead window, into the
  // record buffer, whatever the order, filter or deleted-record setting.
  void ReadFromFile(int32_t n);

 private:
  // Hands every report to the target progress, which may change while the handler is open.
  struct Relay final : tolvern::TkxProgress {
    void Start(int32_t kind, int64_t total) override;
    bool Step(int64_t done) override;
    void Finish() override;
    tolvern::TkxProgress* target = nullptr;
  };
  Relay relay_;
};

}  // namespace fendral
