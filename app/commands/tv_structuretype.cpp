#include "tv_structuretype.h"

#include <QCoreApplication>
#include <QFileInfo>

#include "kx6_memo.h"
#include "kx6_rebuild.h"
#include "tv_appdialogs.h"

namespace fendral {

namespace {

QString FileName(const std::string& path) {
  return QFileInfo(QString::fromStdString(path)).fileName();
}

}  // namespace

bool PlanTableTypeConversion(tolvern::KXO_dBHandler& handler, const QString& tableName,
                             const TTableTypeChange& change, TAppDialogs& dialogs,
                             tolvern::TkxRebuildPlan& plan) {
  if (change.from < 0 || change.to < 0 || change.to > 3 || change.to == change.from) return true;
  using tolvern::TkxIndexFormat;
  using tolvern::TkxMemoKind;
  const QString caption = QCoreApplication::translate("fendral::TMainWindow", "Modify DBF");
  // What each kind of table holds: its field types, memo file and index format.
  struct Kind {
    const char* types;
    TkxMemoKind memo;
    TkxIndexFormat index;
  };
  static const Kind kinds[] = {{"CNDLM", TkxMemoKind::kDBase3, TkxIndexFormat::kNtx},
                               {"CNDLM", TkxMemoKind::kDBase3, TkxIndexFormat::kNdx},
                               {"CNDLMFBG", TkxMemoKind::kDBase4, TkxIndexFormat::kMdx},
                               {"CNDLMFGP", TkxMemoKind::kFoxPro, TkxIndexFormat::kCdx}};
  const Kind& kind = kinds[change.to];
  bool memoFields = false;
  for (const tolvern::TkxRebuildField& field : plan.fields) {
    memoFields = memoFields || std::string("MBGP").find(field.type) != std::string::npos;
    if (std::string(kind.types).find(field.type) == std::string::npos) {
      dialogs.Message(
          caption,
          QCoreApplication::translate("fendral::TMainWindow",
                                      "A %1 table cannot hold the field %2 of type %3. The table "
                                      "was not changed.")
              .arg(change.toName, QString::fromStdString(field.name), QChar(field.type)));
      return false;
    }
  }
  const uint8_t newVersion = tolvern::VersionOfMemoKind(kind.memo, memoFields);
  QString question =
      QCoreApplication::translate(
          "fendral::TMainWindow",
          "Convert the table from %1 to %2?\n\nVersion byte: 0x%3 -> 0x%4\n")
          .arg(change.fromName, change.toName)
          .arg(QString::number(handler.Version(), 16).toUpper().rightJustified(2, '0'),
               QString::number(newVersion, 16).toUpper().rightJustified(2, '0'));
  const QString stem = QFileInfo(tableName).completeBaseName();
  const QString suffix = QFileInfo(tableName).suffix();
  QString memoName = stem + (kind.memo == TkxMemoKind::kFoxPro ? ".fpt" : ".dbt");
  if (suffix == suffix.toUpper())
    memoName = stem + QFileInfo(memoName).suffix().prepend('.').toUpper();
  const QString memoKind = kind.memo == TkxMemoKind::kFoxPro
                               ? QCoreApplication::translate("fendral::TMainWindow", "FoxPro")
                           : kind.memo == TkxMemoKind::kDBase4
                               ? QCoreApplication::translate("fendral::TMainWindow", "dBase IV")
                               : QCoreApplication::translate("fendral::TMainWindow", "dBase III");
  const QString none = QCoreApplication::translate("fendral::TMainWindow", "none");
  const bool oldMemo = handler.HasMemo() && handler.OpenMemo();
  if (memoFields) {
    question += QCoreApplication::translate("fendral::TMainWindow",
                                            "Memo file: %1 -> %2 (%3; every memo is moved)\n")
                    .arg(oldMemo ? FileName(handler.Memo()->FileName()) : none, memoName, memoKind);
  } else if (oldMemo) {
    question += QCoreApplication::translate("fendral::TMainWindow",
                                            "Memo file: %1 -> none (no memo field is left)\n")
                    .arg(FileName(handler.Memo()->FileName()));
  }
  for (const tolvern::TkxIndexConversion& c : tolvern::IndexConversions(handler, kind.index)) {
    QStringList targets;
    for (const std::string& path : c.to) targets << FileName(path);
    question +=
        QCoreApplication::translate("fendral::TMainWindow", "Index file: %1 -> %2\n")
            .arg(FileName(c.from), targets.isEmpty() ? none : targets.join(QStringLiteral(", ")));
  }
  const auto losses = tolvern::ConversionLosses(handler, kind.index);
  if (!losses.empty()) {
    question += QCoreApplication::translate("fendral::TMainWindow",
                                            "\nThese tags cannot be held and are dropped:\n");
    for (const std::string& loss : losses) question += QString::fromStdString(loss) + "\n";
  }
  if (!dialogs.Confirm(caption, question)) return false;
  plan.memoKind = kind.memo;
  plan.indexFormat = kind.index;
  return true;
}

}  // namespace fendral
