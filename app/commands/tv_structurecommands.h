// The structure page's commands that write files: a new table, a tag built into an index
// file (a long index build), a tag deleted, an index file deleted. Each works on the
// browsed table it is given and asks nothing while it runs; an index build reports
// through the table's progress. `after` (may be empty) runs on the window's thread once
// the command has finished, with what happened, so that the window and the page show the
// files as they are now.
#pragma once

#include <functional>

#include "Tolvern6DB.h"
#include "tv_command.h"
#include "tv_structuretype.h"

namespace fendral {

using TAfterCommand = std::function<void(const TCommandOutcome&)>;

// What the structure commands share: the table, the hook and the outcome's flags.
class TStructureCommand : public TCommand {
 public:
  TCommandOutcome Finish(TAppDialogs& dialogs, std::exception_ptr error) override;

 protected:
  TStructureCommand(TTolvernDataSet& table, TAfterCommand after)
      : table_(table), after_(std::move(after)) {}
  // Runs `work` with the table reporting to `progress`.
  void WithProgress(tolvern::TkxProgress& progress, const std::function<void()>& work);
  // Adds what the command made or kept to a successful outcome.
  virtual void Describe(TCommandOutcome&) {}

  TTolvernDataSet& table_;

 private:
  TAfterCommand after_;
};

// Writes a new, empty table. Asks before an existing table is replaced.
class TCreateTableCommand final : public TStructureCommand {
 public:
  TCreateTableCommand(TTolvernDataSet& table, TNewTableRequest request, TAfterCommand after);
  QString Title() const override;
  bool Prepare(TAppDialogs& dialogs) override;
  void Execute(tolvern::TkxProgress& progress) override;

 private:
  void Describe(TCommandOutcome& outcome) override;
  TNewTableRequest request_;
  std::vector<TTVFieldLine> fields_;
  bool replace_ = false;
};

// Builds a tag: into a new index file, or added to an existing one. The table's index
// files are all closed afterwards.
class TIndexOnCommand final : public TStructureCommand {
 public:
  TIndexOnCommand(TTolvernDataSet& table, TTagRequest request, TAfterCommand after);
  QString Title() const override;
  bool Prepare(TAppDialogs& dialogs) override;
  void Execute(tolvern::TkxProgress& progress) override;

 private:
  void Describe(TCommandOutcome& outcome) override;
  TTagRequest request_;
  bool newFile_ = false;
};

// Deletes `tag` from the index file `file`; the table's index files are closed afterwards.
class TDeleteTagCommand final : public TStructureCommand {
 public:
  TDeleteTagCommand(TTolvernDataSet& table, QString file, QString tag, TAfterCommand after);
  QString Title() const override;
  bool Prepare(TAppDialogs& dialogs) override;
  void Execute(tolvern::TkxProgress& progress) override;

 private:
  QString file_;
  QString tag_;
};

// Closes and deletes the index file `file`.
class TDeleteIndexFileCommand final : public TStructureCommand {
 public:
  TDeleteIndexFileCommand(TTolvernDataSet& table, QString file, TAfterCommand after);
  QString Title() const override;
  bool Prepare(TAppDialogs& dialogs) override;
  void Execute(tolvern::TkxProgress& progress) override;

 private:
  QString file_;
};

}  // namespace fendral
