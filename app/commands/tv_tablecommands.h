// The table commands of the "Database" menu: reindex, pack, zap, rename, delete, and the
// two copies (with records, or the structure only) with every index file recreated beside
// the copy. Each works on the browsed table's dataset and says in its outcome what the
// window does with the table afterwards (open it again, or close it).
#pragma once

#include <QString>
#include <QStringList>

#include "Tolvern6DB.h"
#include "tv_command.h"

namespace fendral {

// Deletes the table's DBF and memo file, the index file of its current order and the
// index files named like it; the dataset is closed afterwards. Throws when a file that is
// there cannot be deleted.
void DeleteTableFiles(TTolvernDataSet& table);

// Rebuilds every open index file of the table (damaged ones included, where their tag
// definitions can be read); the outcome names those that could not be rebuilt.
class TReindexCommand : public TCommand {
 public:
  explicit TReindexCommand(TTolvernDataSet& table) : table_(table) {}
  QString Title() const override;
  bool Prepare(TAppDialogs& dialogs) override;
  void Execute(tolvern::TkxProgress& progress) override;
  TCommandOutcome Finish(TAppDialogs& dialogs, std::exception_ptr error) override;

 private:
  TTolvernDataSet& table_;
};

// Removes the records that carry the delete mark, with the table to itself; asks first
// when there are any.
class TPackCommand : public TCommand {
 public:
  explicit TPackCommand(TTolvernDataSet& table) : table_(table) {}
  QString Title() const override;
  bool Prepare(TAppDialogs& dialogs) override;
  void Execute(tolvern::TkxProgress& progress) override;
  TCommandOutcome Finish(TAppDialogs& dialogs, std::exception_ptr error) override;

 private:
  TTolvernDataSet& table_;
  QString path_;
  int64_t kept_ = 0;
};

// Removes every record, with the table to itself; asks first.
class TZapCommand : public TCommand {
 public:
  explicit TZapCommand(TTolvernDataSet& table) : table_(table) {}
  QString Title() const override;
  bool Prepare(TAppDialogs& dialogs) override;
  void Execute(tolvern::TkxProgress& progress) override;
  TCommandOutcome Finish(TAppDialogs& dialogs, std::exception_ptr error) override;

 private:
  TTolvernDataSet& table_;
  QString path_;
};

// Renames the table's files (memo and index files named like it too) to the name the
// user types; a name without "." gets ".dbf", a relative one lies in the table's directory.
class TRenameCommand : public TCommand {
 public:
  TRenameCommand(TTolvernDataSet& table, QString tableDirectory)
      : table_(table), directory_(std::move(tableDirectory)) {}
  QString Title() const override;
  bool Prepare(TAppDialogs& dialogs) override;
  void Execute(tolvern::TkxProgress& progress) override;
  TCommandOutcome Finish(TAppDialogs& dialogs, std::exception_ptr error) override;

 private:
  TTolvernDataSet& table_;
  QString directory_;
  QString path_;
  QString target_;
  bool renamed_ = false;
};

// Deletes the table's files (DeleteTableFiles); asks first.
class TDeleteBaseCommand : public TCommand {
 public:
  explicit TDeleteBaseCommand(TTolvernDataSet& table) : table_(table) {}
  QString Title() const override;
  bool Prepare(TAppDialogs& dialogs) override;
  void Execute(tolvern::TkxProgress& progress) override;
  TCommandOutcome Finish(TAppDialogs& dialogs, std::exception_ptr error) override;

 private:
  TTolvernDataSet& table_;
  QString path_;
};

// "Copy to new name DBF" (records in the browsed order, with their memos) or, with
// `structureOnly`, "Copy structure to base" (an empty table of the same fields), each with
// the table's tags recreated in index files named like the copy. `target` is the other
// dataset the tags are built through. A cancelled or failed copy removes what it made.
class TCopyTableCommand : public TCommand {
 public:
  TCopyTableCommand(TTolvernDataSet& table, TTolvernDataSet& target, QString tableDirectory,
                    bool structureOnly)
      : table_(table),
        target_(target),
        directory_(std::move(tableDirectory)),
        structureOnly_(structureOnly) {}
  QString Title() const override;
  bool Prepare(TAppDialogs& dialogs) override;
  void Execute(tolvern::TkxProgress& progress) override;
  TCommandOutcome Finish(TAppDialogs& dialogs, std::exception_ptr error) override;

 private:
  void RecreateIndexes(tolvern::TkxProgress& progress);

  TTolvernDataSet& table_;
  TTolvernDataSet& target_;
  QString directory_;
  bool structureOnly_;
  QString copyPath_;
  QStringList made_;
  int64_t records_ = 0;
};

}  // namespace fendral
