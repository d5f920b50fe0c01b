#include "Unit1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>

#include "tv_about.h"
#include "tv_apperror.h"
#include "tv_commandscope.h"
#include "tv_exchangecommands.h"
#include "tv_findcommand.h"
#include "tv_log.h"
#include "tv_replacecommand.h"
#include "tv_structurecommands.h"
#include "tv_tablecommands.h"
#include "tv_textcommands.h"
#include "tv_windowkeys.h"
#include "tv_windowsetup.h"

namespace fendral {

namespace {

// Under the application's organisation and name ("Fendral", set by main).
QSettings Settings() { return QSettings(); }

}  // namespace

// ---- Creation

TMainWindow::TMainWindow(TAppDialogs* dialogs, QWidget* parent)
    : QMainWindow(parent),
      dialogs_(dialogs),
      hTable1(std::make_unique<TTolvernDataSet>()),
      hTable2(std::make_unique<TTolvernDataSet>()),
      ds1(std::make_unique<TDataSource>(hTable1.get())),
      tMemo(std::make_unique<TMemTable>()),
      dsMemo(std::make_unique<TDataSource>(tMemo.get())) {
  if (!dialogs_) {
    ownDialogs_ = std::make_unique<TQtAppDialogs>(this);
    dialogs_ = ownDialogs_.get();
  }
  setObjectName(QStringLiteral("MainWindow"));
  setWindowTitle(tr("Fendral"));
  setAcceptDrops(true);

  pages_ = new QTabWidget(this);
  browsePage_ = new TBrowsePage(pages_);
  structurePage_ = new TStructurePage(pages_);
  pages_->addTab(browsePage_, tr("Browse"));
  pages_->addTab(structurePage_, tr("Structure DBF"));
  setCentralWidget(pages_);
  commands_ = new TCommandHost(*this, *pages_, *hTable1, *ds1, *dialogs_);
  commands_->BeforeWork = [this] {
    // The worker gets the table in browse state: an edit is posted here, or nothing runs.
    if (browsePage_->Grid()->Editing()) browsePage_->FocusGrid();
    if (hTable1->Active()) hTable1->CheckBrowseMode();
  };
  commands_->AfterWork = [this](const auto& outcome, auto error) { AfterCommand(outcome, error); };
  commands_->BusyChanged = [this](bool busy) {
    // Nothing that touches the table may run while it works.
    pages_->setEnabled(!busy);
    menuBar()->setEnabled(!busy);
    doctor_->SetBusy(busy);
  };
  doctor_ = new TTableDoctor(*this, *dialogs_);
  about_ = new TAboutBox(this);
  about_->hide();

  ConfigureObjects();
  menus_ = BuildMainMenus(*this, *menuBar());
  FillRecentMenu();
  panels_ = std::make_unique<TStatusPanels>(*statusBar());
  ConnectStructurePage();
  RestoreWindowPlace(*this);

  // Start-up state: the "Browse" page, no memo panel, no table.
  pages_->setCurrentWidget(browsePage_);
  browsePage_->ShowMemo(QString());
  browsePage_->ClearTags();
  pages_->setVisible(false);
  menus_.database->setEnabled(false);
  menus_.close->setEnabled(false);
  new TWindowKeys(*this);
}

TMainWindow::~TMainWindow() {
  // Work still running stops before the table it works on goes.
  commands_->Stop();
  QSettings settings = Settings();
  settings.setValue(QStringLiteral("window/geometry"), saveGeometry());
  browsePage_->SetTable(nullptr, nullptr);
  structurePage_->SetFieldTable(nullptr, nullptr);
  try {
    CloseTable();
  } catch (...) {
    LogSwallowed("closing the table with the window");
  }
}

void TMainWindow::ConfigureObjects() {
  SetUpTables({hTable1.get(), hTable2.get()});
  hTable1->SetUseDeleted(true);
  hTable2->SetUseDeleted(false);
  hTable1->OnIndexDamaged = [this](TTolvernDataSet&) {
    // Told in the middle of the dataset's work, maybe on the worker's thread: the window
    // follows on its own thread once that work has ended.
    if (damageReportPending_.exchange(true)) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
          damageReportPending_ = false;
          Run([&] { AfterIndexDamage(); });
        },
        Qt::QueuedConnection);
  };

  DefineStructureTable(*tMemo);
  structurePage_->SetFieldTable(tMemo.get(), dsMemo.get());
  structurePage_->SetTable(hTable1.get());
  structurePage_->SetDialogs(dialogs_);

  ds1->OnDataChange = [this](TDataSource&, TField*) { ShowRecordPosition(); };
  browsePage_->SetTable(hTable1.get(), ds1.get());
  browsePage_->SetDialogs(dialogs_);
  auto message = [this](const QString& text) { dialogs_->Message(tr("Fendral"), text); };
  connect(browsePage_, &TBrowsePage::errorRaised, this, message);
  connect(browsePage_->Grid(), &TBrowseGrid::EditFailed, this, message);
  connect(browsePage_, &TBrowsePage::statusMessage, this,
          [this](const QString& text) { statusBar()->showMessage(text, 8000); });
  connect(browsePage_, &TBrowsePage::findRequested, this, &TMainWindow::Find);
  connect(browsePage_, &TBrowsePage::copyRecordRequested, this, &TMainWindow::CopyRecord);
  connect(browsePage_, &TBrowsePage::dosChanged, this, &TMainWindow::ShowCodePage);
}

void TMainWindow::Start(const QStringList& arguments) {
  if (!arguments.isEmpty() && !arguments.first().isEmpty()) {
    const QString path = QFileInfo(arguments.first()).absoluteFilePath();
    Run([&] { OpenTable(path); });
  } else {
    OpenDbf();
  }
}

// ---- Errors and long work

void TMainWindow::Run(const std::function<void()>& command) {
  try {
    command();
  } catch (const EAbort&) {
  } catch (const std::exception& error) {
    ShowError(error);
  }
}

void TMainWindow::RunCommand(std::unique_ptr<TCommand> command, TAfterCommand after) {
  commands_->Run(std::move(command), std::move(after));
}

void TMainWindow::ShowError(const std::exception& error) {
  dialogs_->Message(tr("Fendral"), ErrorText(error));
}

// ---- Open-table and close-table procedures

void TMainWindow::OpenTable(const QString& path, const QStringList& moreIndexFiles) {
  TBusyCursor wait;
  CloseTable();
  try {
    OpenTableFiles(path, moreIndexFiles);
  } catch (...) {
    // Nothing is left half-open: no command may act on a table that is not shown.
    try {
      CloseTable();
    } catch (...) {
      LogSwallowed("closing a table that did not open");
    }
    throw;
  }
  ReportDamagedIndexes();
}

void TMainWindow::OpenTableFiles(const QString& path, const QStringList& moreIndexFiles) {
  const QFileInfo info(path);
  tableDirectory_ = info.path().isEmpty() ? QDir::currentPath() : info.absolutePath();
  if (!tableDirectory_.endsWith(QLatin1Char('/'))) tableDirectory_ += QLatin1Char('/');
  setWindowTitle(tr("Fendral") + QStringLiteral(" - ") + tableDirectory_ + info.fileName());
  hTable1->SetDatabaseName(tableDirectory_);
  hTable1->SetTableName(info.fileName());
  hTable1->SetReadAhead(true);
  hTable1->Open();
  ShowCodePage();
  panels_->ShowHeader(*hTable1);
  structurePage_->ShowFields();
  browsePage_->ShowTableMemo();
  menus_.database->setEnabled(true);
  structurePage_->OpenIndexFiles(moreIndexFiles);
  MarkDamagedIndexes();
  ApplyLockProtocol();
  structurePage_->ShowOpenTableType(
      static_cast<tolvern::TkxLokProtocol>(hTable1->Handler()->ChooseLockProtocol()));
  menus_.close->setEnabled(true);
  pages_->setVisible(true);
  structurePage_->SetMode(TStructurePage::Mode::Modify);
  structurePage_->ShowTableMemoBlockSize();
  if (pages_->currentWidget() == browsePage_) browsePage_->FocusGrid();
  if (hTable1->Handler()->Version() == 0x30) {
    browsePage_->SetNotice(tr("Visual FoxPro 3.0"));
    structurePage_->SetNotice(tr("Visual FoxPro 3.0 risk operations"));
  }
  RememberRecentTable(tableDirectory_ + info.fileName());
  FillRecentMenu();
  ShowRecordPosition();
}

void TMainWindow::MarkDamagedIndexes() {
  QStringList names;
  for (const TTVDamagedIndex& damaged : hTable1->DamagedIndexes())
    names << QFileInfo(damaged.path).fileName();
  structurePage_->MarkDamagedFiles();
  browsePage_->MarkDamagedFiles(names);
  if (!names.isEmpty()) {
    // Reindex is how a damaged file is mended.
    menus_.reindex->setEnabled(true);
    structurePage_->SetReindexEnabled(true);
  }
}

void TMainWindow::ReportDamagedIndexes() {
  if (damageNotices_.TellUntold(*hTable1, *dialogs_)) doctor_->CheckSoon();
}

void TMainWindow::AfterIndexDamage() {
  if (!hTable1->Active()) return;
  if (Busy()) {
    // Long work is running: it is told once the work has ended.
    QTimer::singleShot(100, this, [this] { Run([&] { AfterIndexDamage(); }); });
    return;
  }
  // The order may have been a tag of the closed file: the rows follow natural order.
  if (hTable1->State() == dsBrowse && hTable1->GetCurrentTagName().isEmpty())
    hTable1->SetIndexName(QString());
  browsePage_->FillTags();
  browsePage_->Grid()->SetMarkedTitle(hTable1->GetCurrentTagName());
  MarkDamagedIndexes();
  browsePage_->ReloadRows();
  ReportDamagedIndexes();
}

void TMainWindow::ApplyLockProtocol() {
  // The engine's rule for what is open: NTX -> Clipper, CDX or FPT -> FoxPro, MDX or a
  // dBase IV table -> dBase IV, otherwise Default.
  const auto protocol =
      static_cast<tolvern::TkxLokProtocol>(hTable1->Handler()->ChooseLockProtocol());
  hTable1->SetLockProtocol(protocol);
  hTable2->SetLockProtocol(protocol);
  panels_->ShowLockProtocol(protocol);
}

void TMainWindow::CloseTable() {
  damageNotices_.Clear();
  doctor_->TableClosed();
  menus_.database->setEnabled(false);
  for (TTolvernDataSet* table : {hTable1.get(), hTable2.get()}) {
    if (!table->Active()) continue;
    table->SetIndexList(QString(), QString());
    table->Close();
  }
  structurePage_->Clear();
  browsePage_->ClearTags();
  menus_.reindex->setEnabled(false);
  panels_->Clear();
  pages_->setVisible(false);
  browsePage_->SetNotice(QString());
  menus_.close->setEnabled(false);
  browsePage_->ShowMemo(QString());
  setWindowTitle(tr("Fendral"));
}

void TMainWindow::PrepareNewTable(const QString& path, int seededLength) {
  CloseTable();
  pages_->setCurrentWidget(structurePage_);
  panels_->ShowNote(path);
  tableDirectory_ = QFileInfo(path).absolutePath() + QLatin1Char('/');
  hTable1->SetDatabaseName(tableDirectory_);
  hTable1->SetTableName(QFileInfo(path).fileName());
  structurePage_->SeedNewTable(seededLength);
  menus_.database->setEnabled(true);
  pages_->setVisible(true);
  menus_.close->setEnabled(true);
}

// ---- The structure page: its requests become commands; what they did shows on the pages.

void TMainWindow::ConnectStructurePage() {
  TStructurePage* page = structurePage_;
  connect(page, &TStructurePage::createRequested, this, &TMainWindow::CreateDbf);
  connect(page, &TStructurePage::modifyRequested, this, &TMainWindow::ModifyDbf);
  connect(page, &TStructurePage::reindexRequested, this, &TMainWindow::Reindex);
  connect(page, &TStructurePage::indexFilesChanged, this, &TMainWindow::IndexFilesChanged);
  connect(page, &TStructurePage::statusMessage, this,
          [this](const QString& text) { statusBar()->showMessage(text, 8000); });
  connect(page, &TStructurePage::errorRaised, this,
          [this](const QString& text) { dialogs_->Message(tr("Fendral"), text); });
  // After the work on an index file: the page shows what came of it, the rows follow.
  auto then = [this](std::function<void(const TCommandOutcome&)> show) {
    return [this, show](const TCommandOutcome& outcome) {
      Run([&] {
        show(outcome);
        browsePage_->ReloadRows();
      });
    };
  };
  connect(page, &TStructurePage::saveTagRequested, this, [this, then](const TTagRequest& r) {
    RunCommand(std::make_unique<TIndexOnCommand>(
        *hTable1, r, then([this, file = r.file](const TCommandOutcome& outcome) {
          outcome.done ? structurePage_->TagSaved(file) : IndexFilesChanged();
        })));
  });
  connect(page, &TStructurePage::deleteTagRequested, this,
          [this, then](const QString& file, const QString& tag) {
            RunCommand(std::make_unique<TDeleteTagCommand>(
                *hTable1, file, tag,
                then([this, file](const TCommandOutcome&) { structurePage_->TagDeleted(file); })));
          });
  connect(page, &TStructurePage::deleteIndexFileRequested, this, [this, then](const QString& f) {
    RunCommand(std::make_unique<TDeleteIndexFileCommand>(
        *hTable1, f, then([this](const TCommandOutcome&) { structurePage_->IndexFileDeleted(); })));
  });
}

void TMainWindow::IndexFilesChanged() {
  browsePage_->FillTags();
  const bool tags = hTable1->Active() && hTable1->GetTagCount() > 0;
  menus_.reindex->setEnabled(tags);
  structurePage_->SetReindexEnabled(tags);
  MarkDamagedIndexes();
}

QString TMainWindow::StartDirectory() const {
  if (!tableDirectory_.isEmpty()) return tableDirectory_;
  return Settings().value(QStringLiteral("dirs/tables"), QDir::homePath()).toString();
}

void TMainWindow::NewDbf() {
  if (Busy()) return;
  const QString path = dialogs_->SaveFile(tr("New DBF"), StartDirectory(), TableFileFilter());
  if (path.isEmpty()) return;
  Run([&] { PrepareNewTable(QFileInfo(path).absoluteFilePath(), 0); });
}

void TMainWindow::CreateOrModify() {
  if (!Busy() && pages_->isVisible()) structurePage_->PressCreate();
}

void TMainWindow::CreateDbf() {
  const QString path = hTable1->TableFilePath();
  std::unique_ptr<TCommand> command;
  Run([&] {
    command = std::make_unique<TCreateTableCommand>(
        *hTable1, structurePage_->NewTable(path, hTable1->CodePageInUse()),
        [this, path](const TCommandOutcome& outcome) {
          if (!outcome.done) return;
          Run([&] { OpenTable(path); });
          menus_.close->setEnabled(true);
        });
  });
  if (command) RunCommand(std::move(command));
}

// ---- Commands

void TMainWindow::OpenDbf() {
  if (Busy()) return;
  const QString path = dialogs_->OpenFile(tr("Open DBF"), StartDirectory(), TableFileFilter());
  if (path.isEmpty()) return;
  Run([&] {
    if (hTable1->Active()) CloseTable();
    if (QFileInfo(path).isFile()) {
      Settings().setValue(QStringLiteral("dirs/tables"), QFileInfo(path).absolutePath());
      OpenTable(QFileInfo(path).absoluteFilePath());
    } else {
      PrepareNewTable(QFileInfo(path).absoluteFilePath(), 8);
    }
  });
}

void TMainWindow::CloseDbf() {
  if (Busy()) return;
  Run([&] { CloseTable(); });
}

void TMainWindow::Find() { StartFind(false); }

void TMainWindow::FindNext() { StartFind(true); }

void TMainWindow::StartFind(bool next) {
  if (Busy() || !hTable1->Active() || (next && lastSearch_.isEmpty())) return;
  auto command = std::make_unique<TFindCommand>(
      *hTable1, lastSearch_,
      next ? TFindCommand::TFrom::kAfterCurrent : TFindCommand::TFrom::kFirst);
  const TFindCommand* find = command.get();
  RunCommand(std::move(command), [this, find](const TCommandOutcome& outcome) {
    if (outcome.cancelled) return;
    if (find->FoundField() < 1) {
      statusBar()->showMessage(tr("\"%1\" not found").arg(lastSearch_), 8000);
      return;
    }
    browsePage_->ReloadRows();
    const TFieldDefs& defs = hTable1->FieldDefs();
    if (find->FoundField() <= defs.Count())
      browsePage_->Grid()->SelectField(defs[find->FoundField() - 1].Name);
    browsePage_->FocusGrid();
  });
}

void TMainWindow::GotoRecord() {
  if (!Busy() && hTable1->Active()) Run([&] { browsePage_->GotoRecord(); });
}

void TMainWindow::ToggleDeleteMark() {
  if (Busy() || !hTable1->Active()) return;
  Run([&] { browsePage_->ToggleDeleteMark(); });
}

void TMainWindow::EditOrPost() {
  if (!Busy() && hTable1->Active()) Run([&] { browsePage_->EditOrPost(); });
}

void TMainWindow::CopyRecord() {
  if (!Busy() && hTable1->Active()) Run([&] { browsePage_->CopyRecord(); });
}

void TMainWindow::Escape() {
  if (Busy()) return;
  // The record's edit is cancelled first; with nothing open the window closes.
  bool closeWindow = false;
  Run([&] { closeWindow = !browsePage_->CancelEdit(); });
  if (closeWindow) close();
}

void TMainWindow::SwitchPage() {
  if (Busy() || !pages_->isVisible()) return;
  pages_->setCurrentWidget(pages_->currentWidget() == browsePage_
                               ? static_cast<QWidget*>(structurePage_)
                               : static_cast<QWidget*>(browsePage_));
}

void TMainWindow::ShowAbout() { about_->exec(); }

void TMainWindow::ShowRecordPosition() {
  if (!hTable1->Active() || commands_->Worker().Running() || hTable1->BusyState() != 0) return;
  try {
    panels_->ShowPosition(*hTable1);
  } catch (const std::exception&) {
    LogSwallowed("showing the record position");
  }
}

QString TMainWindow::StatusText(int panel) const {
  return panel >= 0 && panel <= 2 ? panels_->Text(panel) : statusBar()->currentMessage();
}

// ---- The "Database" menu: each item runs its command; the window shows what came of it.

void TMainWindow::Reindex() { RunCommand(std::make_unique<TReindexCommand>(*hTable1)); }
void TMainWindow::Pack() { RunCommand(std::make_unique<TPackCommand>(*hTable1)); }
void TMainWindow::Zap() { RunCommand(std::make_unique<TZapCommand>(*hTable1)); }
void TMainWindow::RenameBase() {
  RunCommand(std::make_unique<TRenameCommand>(*hTable1, tableDirectory_));
}
void TMainWindow::DeleteBase() { RunCommand(std::make_unique<TDeleteBaseCommand>(*hTable1)); }
void TMainWindow::CopyToNewName() {
  RunCommand(std::make_unique<TCopyTableCommand>(*hTable1, *hTable2, tableDirectory_, false));
}
void TMainWindow::CopyStructureToBase() {
  RunCommand(std::make_unique<TCopyTableCommand>(*hTable1, *hTable2, tableDirectory_, true));
}
void TMainWindow::ConvertDosToAnsi() {
  RunCommand(std::make_unique<TReplaceCommand>(*hTable1, TReplaceCommand::kDosToAnsi));
}
void TMainWindow::ConvertAnsiToDos() {
  RunCommand(std::make_unique<TReplaceCommand>(*hTable1, TReplaceCommand::kAnsiToDos));
}
void TMainWindow::ExportText() {
  RunCommand(std::make_unique<TExportTextCommand>(*hTable1, tableDirectory_));
}
void TMainWindow::ImportText() {
  RunCommand(std::make_unique<TImportTextCommand>(*hTable1, tableDirectory_));
}
void TMainWindow::ExportAs() {
  RunCommand(std::make_unique<TExportAsCommand>(*hTable1, tableDirectory_));
}
void TMainWindow::ImportCsv() {
  RunCommand(std::make_unique<TImportCsvCommand>(*hTable1, tableDirectory_));
}
void TMainWindow::CopyStructureToText() {
  RunCommand(std::make_unique<TStructureTextCommand>(*hTable1, *tMemo, tableDirectory_));
}

void TMainWindow::ModifyDbf() {
  const TTableTypeChange change = structurePage_->TypeChange();
  TModifyChoice choice;
  choice.chosenType = change.to;
  choice.chosenName = change.toName;
  choice.openType = change.from;
  choice.openName = change.fromName;
  choice.memoBlockSize = structurePage_->BlockSizeText().trimmed().toInt();
  RunCommand(std::make_unique<TReplaceCommand>(*hTable1, *tMemo, choice));
}

void TMainWindow::AfterCommand(const TCommandOutcome& outcome, std::exception_ptr error) {
  try {
    if (outcome.closed) CloseTable();
    if (!outcome.reopen.isEmpty()) {
      OpenTable(outcome.reopen, outcome.reopenIndexFiles);
      if (outcome.translateASCII && hTable1->Active()) {
        hTable1->SetTranslateASCII(*outcome.translateASCII);
        ShowCodePage();
      }
    }
    if (!hTable1->Active()) return;
    if (outcome.tagsChanged) {
      // Damaged files that were rebuilt are open again; the others stay marked.
      damageNotices_.Reset(*hTable1);
      browsePage_->FillTags();
      MarkDamagedIndexes();
    }
    if (outcome.toFirst) hTable1->First();
    if (outcome.refresh || outcome.toFirst) browsePage_->ReloadRows();
  } catch (const std::exception& failure) {
    // The command's own error is shown after this one.
    if (!error) throw;
    ShowError(failure);
  }
}

// ---- Keys, closing, dropping, recent tables

void TMainWindow::closeEvent(QCloseEvent* event) {
  if (Busy()) {
    // The work cannot end under the user's feet.
    event->ignore();
    commands_->CloseAsked();
    return;
  }
  if (!MayClose()) {
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

bool TMainWindow::MayClose() {
  if (!browsePage_->SettleEdit()) return false;
  if (structurePage_->FieldListChanged()) {
    const QString question = hTable1->Active() ? tr("Discard the changes to the field list?")
                                               : tr("Discard the new table's field list?");
    if (!dialogs_->ConfirmDefaultNo(tr("Fendral"), question)) return false;
  }
  return true;
}

void TMainWindow::ShowCodePage() {
  if (hTable1->Active()) browsePage_->ShowDos(hTable1->TranslateASCII());
  panels_->ShowCodePage(*hTable1);
}

void TMainWindow::changeEvent(QEvent* event) {
  // The system's locale changed: fields show numbers and dates in it from now on.
  if (event->type() == QEvent::LocaleChange) DefaultLocaleChanged();
  QMainWindow::changeEvent(event);
}

void TMainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!Busy() && event->mimeData()->hasUrls() && event->mimeData()->urls().first().isLocalFile())
    event->acceptProposedAction();
}

void TMainWindow::dropEvent(QDropEvent* event) {
  if (OpenDropped(*event->mimeData())) event->acceptProposedAction();
}

bool TMainWindow::OpenDropped(const QMimeData& data) {
  if (Busy() || !data.hasUrls() || !data.urls().first().isLocalFile()) return false;
  const QString path = data.urls().first().toLocalFile();
  if (!QFileInfo(path).isFile()) return false;
  Run([&] { OpenTable(QFileInfo(path).absoluteFilePath()); });
  return true;
}

void TMainWindow::FillRecentMenu() {
  fendral::FillRecentMenu(*menus_.recent, [this](const QString& path) {
    if (!Busy()) Run([&] { OpenTable(path); });
  });
}

}  // namespace fendral
