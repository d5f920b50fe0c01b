// "Check table" and "Repair...": the table doctor on the browsed table. The check reads the
// table, its memo file and its open index files and collects every finding; the repair
// closes the table (it needs it to itself), mends what it can with the originals kept in a
// folder beside the table, and says in its outcome to open the table again.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "Tolvern6DB.h"
#include "kx6_verify.h"
#include "tv_command.h"

namespace fendral {

class TCheckTableCommand : public TCommand {
 public:
  explicit TCheckTableCommand(TTolvernDataSet& table) : table_(table) {}
  QString Title() const override;
  bool Prepare(TAppDialogs& dialogs) override;
  void Execute(tolvern::TkxProgress& progress) override;
  TCommandOutcome Finish(TAppDialogs& dialogs, std::exception_ptr error) override;

  // After Finish: the table checked, what was found, and the summary.
  const QString& TablePath() const { return path_; }
  const std::vector<tolvern::TkxFinding>& Findings() const { return findings_; }
  const tolvern::TkxVerifySummary& Summary() const { return summary_; }

 private:
  TTolvernDataSet& table_;
  QString path_;
  tolvern::TkxVerifyOptions options_;
  std::vector<tolvern::TkxFinding> findings_;
  tolvern::TkxVerifySummary summary_;
};

class TRepairTableCommand : public TCommand {
 public:
  explicit TRepairTableCommand(TTolvernDataSet& table) : table_(table) {}
  QString Title() const override;
  // Asks first (No is the default answer).
  bool Prepare(TAppDialogs& dialogs) override;
  void Execute(tolvern::TkxProgress& progress) override;
  // The report is the outcome's message; the table is opened again, also after an error.
  TCommandOutcome Finish(TAppDialogs& dialogs, std::exception_ptr error) override;

  const tolvern::TkxRepairReport& Report() const { return report_; }
  // The report as the user reads it.
  static QString ReportText(const tolvern::TkxRepairReport& report);

 private:
  TTolvernDataSet& table_;
  QString path_;
  QStringList indexFiles_;
  tolvern::TkxRepairOptions options_;
  tolvern::TkxRepairReport report_;
  bool ran_ = false;
};

}  // namespace fendral
