#include "tv_replacecommand.h"

#include <QFileInfo>
#include <QSettings>

#include "kx6_cpage.h"
#include "kx6_memo.h"
#include "kx6_rebuild.h"
#include "platform/pf_text.h"
#include "tv_appdialogs.h"
#include "tv_codepage.h"
#include "tv_commandtext.h"
#include "tv_resolve.h"
#include "tv_tableaccess.h"

namespace fendral {

namespace {

constexpr int kMisfitsShown = 10;

tolvern::TkxMemoKind MemoKindOf(int typePosition) {
  switch (typePosition) {
    case 2:
      return tolvern::TkxMemoKind::kDBase4;
    case 3:
      return tolvern::TkxMemoKind::kFoxPro;
    default:
      return tolvern::TkxMemoKind::kDBase3;
  }
}

// The DOS page each table converted to ANSI came from, by the table's path: an ANSI -> DOS
// convert returns the table to it.
const QString kPreviousOemPages = QStringLiteral("codepages/previousOem");

QString PreviousOemPage(const QString& path) {
  return QSettings().value(kPreviousOemPages).toMap().value(path).toString();
}

void RememberPreviousOemPage(const QString& path, const std::string& page) {
  QSettings settings;
  QVariantMap pages = settings.value(kPreviousOemPages).toMap();
  if (page.empty())
    pages.remove(path);
  else
    pages.insert(path, QString::fromStdString(page));
  settings.setValue(kPreviousOemPages, pages);
}

// A field name in the table's bytes (names are ASCII as a rule).
std::string FieldNameBytes(const QString& name, const std::string& codePage) {
  std::string bytes;
  if (tolvern::platform::FromUtf8(name.toStdString(), codePage, bytes)) return bytes;
  return name.toLatin1().toStdString();
}

}  // namespace

TReplaceCommand::TReplaceCommand(TTolvernDataSet& table, TDataSet& fields, TModifyChoice choice)
    : table_(table), fields_(&fields), kind_(kModify), choice_(std::move(choice)) {}

TReplaceCommand::TReplaceCommand(TTolvernDataSet& table, TKind kind) : table_(table), kind_(kind) {}

TReplaceCommand::~TReplaceCommand() = default;

QString TReplaceCommand::Title() const {
  return kind_ == kModify      ? TWindowText::tr("Modify DBF")
         : kind_ == kDosToAnsi ? TWindowText::tr("Convert DOS -> ANSII")
                               : TWindowText::tr("Convert ANSII -> DOS");
}

bool TReplaceCommand::Prepare(TAppDialogs& dialogs) {
  if (!table_.Active()) return false;
  if (table_.Handler()->Version() == tolvern::kVersionVisual) {
    dialogs.Message(Title(),
                    TWindowText::tr("Tables of version 0x30 (Visual FoxPro) cannot be rebuilt; "
                                    "the table was not changed."));
    return false;
  }
  table_.CheckBrowseMode();
  path_ = QFileInfo(table_.TableFilePath()).absoluteFilePath();
  plan_ = std::make_unique<tolvern::TkxRebuildPlan>();
  if (!(kind_ == kModify ? PlanFields(dialogs) : PlanConvert(dialogs))) return false;

  // A conversion to a one-tag format makes one file per tag, named after the tag: the
  // reopened table keeps them open, so that they stay current.
  if (plan_->indexFormat && !tolvern::IsMultiTagFormat(*plan_->indexFormat))
    for (const auto& conversion : tolvern::IndexConversions(*table_.Handler(), *plan_->indexFormat))
      for (const std::string& file : conversion.to) tagFiles_ << FromPath8(file);
  return true;
}

bool TReplaceCommand::PlanFields(TAppDialogs& dialogs) {
  // The new field list: the structure table in its order, each row with the field it came
  // from.
  TDataSet& rows = *fields_;
  rows.CheckBrowseMode();
  for (rows.First(); !rows.Eof(); rows.Next()) {
    const QString type = rows.FieldByName(QStringLiteral("DBF Type"))->AsString();
    plan_->fields.push_back(
        {FieldNameBytes(rows.FieldByName(QStringLiteral("Name"))->AsString().trimmed(),
                        table_.CodePageInUse()),
         type.isEmpty() ? 'C' : type.at(0).toUpper().toLatin1(),
         rows.FieldByName(QStringLiteral("Len"))->AsInteger(),
         rows.FieldByName(QStringLiteral("Dec"))->AsInteger(),
         rows.FieldByName(QStringLiteral("Origin"))->AsInteger()});
  }
  plan_->memoKindForPlainTable = MemoKindOf(choice_.chosenType);
  plan_->memoBlockSize = choice_.memoBlockSize;
  if (!PlanTypeConversion(dialogs)) return false;

  // Values that no longer fit are named, and nothing changes unless the user agrees.
  const auto misfits = tolvern::FindMisfits(*table_.Handler(), *plan_, kMisfitsShown + 1);
  if (misfits.empty()) return true;
  QString list;
  for (size_t i = 0; i < misfits.size() && i < static_cast<size_t>(kMisfitsShown); ++i)
    list += TWindowText::tr("record %1, field %2\n")
                .arg(misfits[i].record)
                .arg(QString::fromStdString(misfits[i].field));
  if (misfits.size() > static_cast<size_t>(kMisfitsShown)) list += TWindowText::tr("and more\n");
  if (!dialogs.Confirm(Title(),
                       TWindowText::tr("These values do not fit their new fields:\n%1\nText is "
                                       "cut to the new width, other values are left blank. "
                                       "Modify the table?")
                           .arg(list)))
    return false;
  plan_->acceptMisfits = true;
  return true;
}

bool TReplaceCommand::PlanTypeConversion(TAppDialogs& dialogs) {
  const int chosen = choice_.chosenType;
  if (choice_.openType < 0 || chosen == choice_.openType || chosen < 0 || chosen > 3) return true;
  using tolvern::TkxIndexFormat;
  using tolvern::TkxMemoKind;
  const QString& from = choice_.openName;
  const QString& to = choice_.chosenName;
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
  const Kind& kind = kinds[chosen];
  bool memoFields = false;
  for (const tolvern::TkxRebuildField& field : plan_->fields) {
    memoFields = memoFields || std::string("MBGP").find(field.type) != std::string::npos;
    if (std::string(kind.types).find(field.type) == std::string::npos) {
      dialogs.Message(
          TWindowText::tr("Modify DBF"),
          TWindowText::tr("A %1 table cannot hold the field %2 of type %3. The table was "
                          "not changed.")
              .arg(to, QString::fromStdString(field.name), QChar(field.type)));
      return false;
    }
  }
  tolvern::KXO_dBHandler& handler = *table_.Handler();
  const uint8_t newVersion = tolvern::VersionOfMemoKind(kind.memo, memoFields);
  QString question =
      TWindowText::tr("Convert the table from %1 to %2?\n\nVersion byte: 0x%3 -> 0x%4\n")
          .arg(from, to)
          .arg(QString::number(handler.Version(), 16).toUpper().rightJustified(2, '0'),
               QString::number(newVersion, 16).toUpper().rightJustified(2, '0'));
  const QString tableName = table_.TableName();
  const QString stem = QFileInfo(tableName).completeBaseName();
  const bool upper = QFileInfo(tableName).suffix() == QFileInfo(tableName).suffix().toUpper();
  QString memoName = stem + (kind.memo == TkxMemoKind::kFoxPro ? ".fpt" : ".dbt");
  if (upper) memoName = stem + QFileInfo(memoName).suffix().prepend('.').toUpper();
  const QString memoKind = kind.memo == TkxMemoKind::kFoxPro   ? TWindowText::tr("FoxPro")
                           : kind.memo == TkxMemoKind::kDBase4 ? TWindowText::tr("dBase IV")
                                                               : TWindowText::tr("dBase III");
  if (memoFields) {
    const QString old = handler.HasMemo() && handler.OpenMemo()
                            ? QFileInfo(FromPath8(handler.Memo()->FileName())).fileName()
                            : TWindowText::tr("none");
    question += TWindowText::tr("Memo file: %1 -> %2 (%3; every memo is moved)\n")
                    .arg(old, memoName, memoKind);
  } else if (handler.HasMemo() && handler.OpenMemo()) {
    question += TWindowText::tr("Memo file: %1 -> none (no memo field is left)\n")
                    .arg(QFileInfo(FromPath8(handler.Memo()->FileName())).fileName());
  }
  for (const tolvern::TkxIndexConversion& c : tolvern::IndexConversions(handler, kind.index)) {
    QStringList targets;
    for (const std::string& path : c.to) targets << QFileInfo(FromPath8(path)).fileName();
    question +=
        TWindowText::tr("Index file: %1 -> %2\n")
            .arg(QFileInfo(FromPath8(c.from)).fileName(),
                 targets.isEmpty() ? TWindowText::tr("none") : targets.join(QStringLiteral(", ")));
  }
  const auto losses = tolvern::ConversionLosses(handler, kind.index);
  if (!losses.empty()) {
    question += TWindowText::tr("\nThese tags cannot be held and are dropped:\n");
    for (const std::string& loss : losses) question += QString::fromStdString(loss) + "\n";
  }
  if (!dialogs.Confirm(TWindowText::tr("Modify DBF"), question)) return false;
  plan_->memoKind = kind.memo;
  plan_->indexFormat = kind.index;
  return true;
}

bool TReplaceCommand::PlanConvert(TAppDialogs& dialogs) {
  // Between the table's own pair; a table already in the target kind of page stays.
  const bool toAnsi = kind_ == kDosToAnsi;
  *plan_ = tolvern::SameFieldsPlan(*table_.Handler());
  bool oem = true;
  const std::string marked = CodePageForLanguageMark(table_.Handler()->CodePageMark(), &oem);
  std::string& from = plan_->fromCodePage;
  std::string& to = plan_->toCodePage;
  if (marked.empty()) {
    // A table that names no code page converts between the configured pair.
    from = toAnsi ? table_.OemCodePage() : table_.AnsiCodePage();
    to = toAnsi ? table_.AnsiCodePage() : table_.OemCodePage();
  } else if (toAnsi != oem) {
    dialogs.Message(
        Title(),
        (toAnsi ? TWindowText::tr("The table is already in the Windows (ANSI) code page %1; it "
                                  "was not converted.")
                : TWindowText::tr("The table is already in the DOS (OEM) code page %1; it was "
                                  "not converted."))
            .arg(QString::fromStdString(marked)));
    return false;
  } else {
    from = marked;
    if (toAnsi) {
      to = AnsiCounterpartOf(marked);
      if (to.empty()) {
        dialogs.Message(Title(),
                        TWindowText::tr("No Windows (ANSI) code page is known for the DOS code "
                                        "page %1; the table was not converted.")
                            .arg(QString::fromStdString(marked)));
        return false;
      }
    } else {
      // Back to the DOS page the table came from, when this program converted it.
      const QString previous = PreviousOemPage(path_);
      to = previous.isEmpty() ? table_.OemCodePage() : previous.toStdString();
    }
  }
  plan_->languageMark = tolvern::LanguageMarkFor(to, *table_.Handler());
  return true;
}

void TReplaceCommand::Execute(tolvern::TkxProgress& progress) {
  TExclusiveTable unshared(table_);
  TTableProgress use(table_, progress);
  const tolvern::TkxRebuildReport report = tolvern::RebuildTable(*table_.Handler(), *plan_);
  replaced_ = true;
  records_ = report.records;
  for (const std::string& tag : report.droppedTags) dropped_ << QString::fromStdString(tag);
  if (kind_ != kModify)
    RememberPreviousOemPage(path_, kind_ == kDosToAnsi ? plan_->fromCodePage : std::string());
}

TCommandOutcome TReplaceCommand::Finish(TAppDialogs& dialogs, std::exception_ptr error) {
  TCommandOutcome outcome = OutcomeAfter(error);
  outcome.records = records_;
  outcome.reopen = path_;
  outcome.reopenIndexFiles = tagFiles_;
  outcome.skipped = dropped_;
  // The open chooses the page by the new mark; a table left without one (no mark names its
  // new page) shows the kind of page it was converted to.
  if (replaced_ && kind_ != kModify && plan_->languageMark == 0)
    outcome.translateASCII = kind_ == kAnsiToDos;
  if (!dropped_.isEmpty())
    dialogs.Message(Title(), TWindowText::tr("These index tags no longer fit the table and were "
                                             "removed:\n%1")
                                 .arg(dropped_.join(QLatin1Char('\n')) + QLatin1Char('\n')));
  return outcome;
}

}  // namespace fendral
