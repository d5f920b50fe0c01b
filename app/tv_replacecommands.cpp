// The commands that replace the browsed table's files as a whole: "Modify DBF" and the two
// code-page converts. The table is rebuilt by the engine beside itself and put in place
// through its replacement journal, so it is never half replaced.
#include <QApplication>
#include <QFileInfo>
#include <QSettings>

#include "Unit1.h"
#include "tv_apptext.h"
#include "tv_codepage.h"
#include "kx6_cpage.h"
#include "kx6_rebuild.h"
#include "platform/pf_text.h"

namespace fendral {

namespace {

constexpr int kMisfitsShown = 10;

// The table open exclusively for the scope; afterwards closed, shared again, and the
// open-table procedure run on `path` (also after an error, so the window shows the table
// as it is on disk).
class TExclusiveTable {
 public:
  TExclusiveTable(TTolvernDataSet& table, std::function<void()> reopen)
      : table_(table), reopen_(std::move(reopen)) {
    const QStringList indexFiles = table_.IndexFiles();
    table_.SetIndexList(QString(), QString());
    table_.Close();
    table_.SetExclusive(true);
    table_.SetIndexFiles(indexFiles);
    try {
      table_.Open();
    } catch (...) {
      // Another program has the table open: it is shown again as it was.
      table_.SetExclusive(false);
      reopen_();
      throw;
    }
  }
  ~TExclusiveTable() {
    try {
      if (table_.Active()) {
        table_.SetIndexList(QString(), QString());
        table_.Close();
      }
      table_.SetExclusive(false);
      reopen_();
    } catch (const std::exception&) {
      // The error that ended the command is the one the user sees.
    }
  }
  TExclusiveTable(const TExclusiveTable&) = delete;
  TExclusiveTable& operator=(const TExclusiveTable&) = delete;

 private:
  TTolvernDataSet& table_;
  std::function<void()> reopen_;
};

// The cursor and the busy window for the scope.
class TBusyScope {
 public:
  explicit TBusyScope(std::function<void(bool)> setBusy) : setBusy_(std::move(setBusy)) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    setBusy_(true);
  }
  ~TBusyScope() {
    setBusy_(false);
    QApplication::restoreOverrideCursor();
  }
  TBusyScope(const TBusyScope&) = delete;
  TBusyScope& operator=(const TBusyScope&) = delete;

 private:
  std::function<void(bool)> setBusy_;
};

tolvern::TkxMemoKind MemoKindOf(int typeButton) {
  switch (typeButton) {
    case TStructurePage::kDBaseIV:
      return tolvern::TkxMemoKind::kDBase4;
    case TStructurePage::kFoxPro:
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

void TMainWindow::ModifyDbf() { ReplaceTableFiles(TReplaceKind::kModify); }
void TMainWindow::ConvertDosToAnsi() { ReplaceTableFiles(TReplaceKind::kDosToAnsi); }
void TMainWindow::ConvertAnsiToDos() { ReplaceTableFiles(TReplaceKind::kAnsiToDos); }

bool TMainWindow::ConvertPair(bool toAnsi, std::string& from, std::string& to, QString& refusal) {
  bool oem = true;
  const std::string marked = CodePageForLanguageMark(hTable1->Handler()->CodePageMark(), &oem);
  if (marked.empty()) {
    // A table that names no code page converts between the configured pair.
    from = toAnsi ? hTable1->OemCodePage() : hTable1->AnsiCodePage();
    to = toAnsi ? hTable1->AnsiCodePage() : hTable1->OemCodePage();
    return true;
  }
  if (toAnsi != oem) {
    refusal = (toAnsi ? tr("The table is already in the Windows (ANSI) code page %1; it was not "
                           "converted.")
                      : tr("The table is already in the DOS (OEM) code page %1; it was not "
                           "converted."))
                  .arg(QString::fromStdString(marked));
    return false;
  }
  from = marked;
  if (toAnsi) {
    to = AnsiCounterpartOf(marked);
    if (to.empty()) {
      refusal = tr("No Windows (ANSI) code page is known for the DOS code page %1; the table was "
                   "not converted.")
                    .arg(QString::fromStdString(marked));
      return false;
    }
    return true;
  }
  // Back to the DOS page the table came from, when this program converted it.
  const QString previous = PreviousOemPage(QFileInfo(hTable1->TableFilePath()).absoluteFilePath());
  to = previous.isEmpty() ? hTable1->OemCodePage() : previous.toStdString();
  return true;
}

void TMainWindow::ReplaceTableFiles(TReplaceKind kind) {
  if (busy_ || !hTable1->Active()) return;
  const QString caption = kind == TReplaceKind::kModify      ? tr("Modify DBF")
                          : kind == TReplaceKind::kDosToAnsi ? tr("Convert DOS -> ANSII")
                                                             : tr("Convert ANSII -> DOS");
  if (hTable1->Handler()->Version() == tolvern::kVersionVisual) {
    dialogs_->Message(caption, tr("Tables of version 0x30 (Visual FoxPro) cannot be rebuilt; "
                                  "the table was not changed."));
    return;
  }
  Run([&] {
    // The new field list: the structure table in its order, each row with the field it
    // came from.
    tolvern::TkxRebuildPlan plan;
    if (kind == TReplaceKind::kModify) {
      if (tMemo->State() == dsEdit || tMemo->State() == dsInsert) tMemo->Post();
      for (tMemo->First(); !tMemo->Eof(); tMemo->Next()) {
        const QString type = tMemo->FieldByName(QStringLiteral("DBF Type"))->AsString();
        const int origin = tMemo->FieldByName(QStringLiteral("Origin"))->AsInteger();
        plan.fields.push_back(
            {FieldNameBytes(tMemo->FieldByName(QStringLiteral("Name"))->AsString().trimmed(),
                            hTable1->CodePageInUse()),
             type.isEmpty() ? 'C' : type.at(0).toUpper().toLatin1(),
             tMemo->FieldByName(QStringLiteral("Len"))->AsInteger(),
             tMemo->FieldByName(QStringLiteral("Dec"))->AsInteger(), origin});
      }
      plan.memoKindForPlainTable = MemoKindOf(structurePage_->TypeButtonChecked());
      plan.memoBlockSize = structurePage_->blockSizeBox->text().trimmed().toInt();
      if (!PlanTableTypeConversion(plan)) return;
    } else {
      // Between the table's own pair; a table already in the target kind of page stays.
      const bool toAnsi = kind == TReplaceKind::kDosToAnsi;
      QString refusal;
      plan = tolvern::SameFieldsPlan(*hTable1->Handler());
      if (!ConvertPair(toAnsi, plan.fromCodePage, plan.toCodePage, refusal)) {
        dialogs_->Message(caption, refusal);
        return;
      }
      plan.languageMark = tolvern::LanguageMarkFor(plan.toCodePage, *hTable1->Handler());
    }

    const QString path = QFileInfo(hTable1->TableFilePath()).absoluteFilePath();
    TBusyScope busy([this](bool on) { SetBusy(on); });
    // The window stays busy until the files are in place.

    // A conversion to a one-tag format makes one file per tag, named after the tag: the
    // reopened table keeps them open, so that they stay current.
    QStringList tagFiles;
    if (plan.indexFormat && !tolvern::IsMultiTagFormat(*plan.indexFormat))
      for (const auto& conversion : tolvern::IndexConversions(*hTable1->Handler(), *plan.indexFormat))
        for (const std::string& file : conversion.to) tagFiles << QString::fromStdString(file);
    bool converted = false;
    TExclusiveTable exclusive(*hTable1, [this, path, kind, &converted, &tagFiles] {
      OpenTable(path, tagFiles);
      // The open chose the page by the new mark; a table left without one (no mark names
      // its new page) shows the kind of page it was converted to.
      if (converted && hTable1->Active() &&
          CodePageForLanguageMark(hTable1->Handler()->CodePageMark()).empty()) {
        hTable1->SetTranslateASCII(kind == TReplaceKind::kAnsiToDos);
        ShowCodePage();
      }
    });
    tolvern::KXO_dBHandler& handler = *hTable1->Handler();

    // Values that no longer fit are named, and nothing changes unless the user agrees.
    if (kind == TReplaceKind::kModify) {
      const auto misfits = tolvern::FindMisfits(handler, plan, kMisfitsShown + 1);
      if (!misfits.empty()) {
        QString list;
        for (size_t i = 0; i < misfits.size() && i < static_cast<size_t>(kMisfitsShown); ++i)
          list += tr("record %1, field %2\n")
                      .arg(misfits[i].record)
                      .arg(QString::fromStdString(misfits[i].field));
        if (misfits.size() > static_cast<size_t>(kMisfitsShown)) list += tr("and more\n");
        if (!dialogs_->Confirm(caption,
                               tr("These values do not fit their new fields:\n%1\nText is cut "
                                  "to the new width, other values are left blank. Modify the "
                                  "table?")
                                   .arg(list)))
          return;
        plan.acceptMisfits = true;
      }
    }

    const tolvern::TkxRebuildReport report = tolvern::RebuildTable(handler, plan);
    if (kind != TReplaceKind::kModify) {
      converted = true;
      RememberPreviousOemPage(path,
                              kind == TReplaceKind::kDosToAnsi ? plan.fromCodePage : std::string());
    }
    if (!report.droppedTags.empty()) {
      QString list;
      for (const auto& tag : report.droppedTags) list += QString::fromStdString(tag) + "\n";
      dialogs_->Message(caption, tr("These index tags no longer fit the table and were "
                                    "removed:\n%1")
                                     .arg(list));
    }
  });
}

}  // namespace fendral
