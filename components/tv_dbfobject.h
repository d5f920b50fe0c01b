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
  using tolvern::KXO_dBHandler::KXO_dBHandler;

  // Asked for every record a positioned read stops on; unset accepts all.
  std::function<bool()> OnAccept;
  std::function<void(int32_t, int32_t, int32_t)> OnStatus;
  // command, function, result buffer, type, changed; answers 0 when handled.
  std::function<int(const std::string&, const std::string&, std::span<uint8_t>, char&, bool&)>
      OnFormula;
  // Told of every index file that is found damaged and closed (see IndexDamaged).
  std::function<void(const tolvern::TkxDamagedIndex&)> OnIndexDamaged;

  bool AcceptRecord() override { return !OnAccept || OnAccept(); }
  void StatusUpdate(int32_t stat1, int32_t stat2, int32_t stat3) override;
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
};

}  // namespace fendral
