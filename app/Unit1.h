// The main window of Fendral: one browsed table, the "Browse" and "Structure DBF" pages,
// the menus and the status bar (record position, header stamp, lock protocol).
//
// The window owns the two table datasets (hTable1, the browsed table; hTable2, the target
// of copy commands), the data source ds1 over hTable1 and the structure table tMemo. Every
// question goes through the dialog interface it is given.
//
// Its keys: tv_windowkeys.h. Long work runs on a worker thread (tv_commandhost.h). Closing
// never loses work unasked: a record edit is posted first (or the user is asked before it
// is dropped), a changed field list is confirmed, and closing while work runs asks whether
// to cancel it.
#pragma once

#include <QMainWindow>
#include <QTabWidget>
#include <atomic>
#include <functional>
#include <memory>

#include "Tolvern6DB.h"
#include "datasource.h"
#include "memtable.h"
#include "tv_appdialogs.h"
#include "tv_browsepage.h"
#include "tv_command.h"
#include "tv_commandhost.h"
#include "tv_damagenotices.h"
#include "tv_mainmenus.h"
#include "tv_statuspanels.h"
#include "tv_structurepage.h"
#include "tv_tabledoctor.h"

class QKeyEvent;
class QMimeData;

namespace fendral {

class TAboutBox;

class TMainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // `dialogs` answers the window's questions (not owned); null uses Qt dialogs.
  explicit TMainWindow(TAppDialogs* dialogs = nullptr, QWidget* parent = nullptr);
  ~TMainWindow() override;

  // Start-up: opens the table named by the first argument, or runs "Open DBF".
  void Start(const QStringList& arguments);

  // --- The procedures other commands reuse
  // Opens `path`; when the table cannot be opened, everything is closed again.
  // Opens the table at `path` with its index files named like it, and also the files of
  // `moreIndexFiles` (the tag files a conversion made under other names).
  void OpenTable(const QString& path, const QStringList& moreIndexFiles = {});
  void CloseTable();

  // What the window does after a command's Finish, on its own thread (the command lives
  // until it has run); not called when the command failed.
  using TAfterCommand = std::function<void(const TCommandOutcome& outcome)>;
  // Runs `command` and returns at once: Prepare here (nothing more happens when it says
  // no), Execute on a worker thread with the progress dialog, then Finish and `after` here.
  // A pending record edit is posted first. Until it has ended the window refuses other
  // commands and leaves the browsed table to the worker. Errors reach the user in a
  // message box; a cancel is no error. Refused (dropped) while other work runs.
  void RunCommand(std::unique_ptr<TCommand> command, TAfterCommand after = {});

  // --- Commands (each shows its errors in a message box)
  void OpenDbf();
  void CloseDbf();
  void Reindex();
  void Find();
  void FindNext();
  void GotoRecord();
  void ToggleDeleteMark();
  void EditOrPost();
  // Appends a new record holding the current record's values and leaves it in insert
  // state (the navigator's "Copy record", Ctrl+Insert in the grid).
  void CopyRecord();
  void Escape();
  void SwitchPage();
  void ShowAbout();

  // --- Structure page commands
  void NewDbf();
  // The create button: the page's mode says whether it writes the new table or rebuilds
  // the open one.
  void CreateOrModify();

  // --- The "Database" menu (each runs its command of app/commands/)
  void ModifyDbf();
  void ConvertDosToAnsi();
  void ConvertAnsiToDos();
  void Pack();
  void Zap();
  void RenameBase();
  void DeleteBase();
  void CopyToNewName();
  void CopyStructureToBase();
  void ExportText();
  void ImportText();
  void ExportAs();
  void ImportCsv();
  void CopyStructureToText();
  // Opens the first local file of dropped `data`; false when there is none (or the table
  // is busy) and nothing was done.
  bool OpenDropped(const QMimeData& data);

  // --- What the window shows (for the screenshot program and tests)
  TTolvernDataSet& Table1() { return *hTable1; }
  TTolvernDataSet& Table2() { return *hTable2; }
  TMemTable& StructureTable() { return *tMemo; }
  TDataSource& Source() { return *ds1; }
  TBrowsePage* BrowsePage() const { return browsePage_; }
  TStructurePage* StructurePage() const { return structurePage_; }
  QTabWidget* Pages() const { return pages_; }
  QString StatusText(int panel) const;
  // The status bar's panel of the code page in use ("CP866"; empty while no table is open).
  QString CodePageShown() const { return panels_->Text(3); }
  QMenu* DatabaseMenu() const { return menus_.database; }
  QAction* CloseAction() const { return menus_.close; }
  // True from a command's start to the end of its Finish: other commands are refused.
  bool Busy() const { return commands_->Busy(); }
  // What runs the commands' work (its dialog, its delay).
  TWorkRunner& Worker() { return commands_->Worker(); }
  // "Check table" and "Repair..." with the list of findings.
  TTableDoctor& Doctor() { return *doctor_; }
  const QString& LastSearch() const { return lastSearch_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void ConfigureObjects();
  // Runs a command; an error reaches the user in a message box, a silent abort nowhere.
  void Run(const std::function<void()>& command);
  void ShowError(const std::exception& error);
  // The window may close: a record edit is posted (or, asked, dropped), a changed field
  // list is confirmed. False when the user keeps the window.
  bool MayClose();
  // The code page in use: the "Dos" box and the status panel.
  void ShowCodePage();
  void StartFind(bool next);
  void ShowRecordPosition();
  void OpenTableFiles(const QString& path, const QStringList& moreIndexFiles);
  // Says once, in one message, which index files the table now works without and why;
  // marks them in the index-file list and the tag selector.
  void ReportDamagedIndexes();
  void MarkDamagedIndexes();
  // After an index file was found damaged while the table is open: the grid and the
  // order follow, and the user is told.
  void AfterIndexDamage();
  void ApplyLockProtocol();
  void PrepareNewTable(const QString& path, int seededLength);
  void FillRecentMenu();
  // Where the file dialogs start: the open table's directory, else the last one used.
  QString StartDirectory() const;

  // Structure page wiring: its requests become commands, their outcomes show.
  void ConnectStructurePage();
  void CreateDbf();
  void IndexFilesChanged();

  // What the window does with the table after a command: reopen, close, read again.
  // `error`: what the command ended with (then a failure here is shown, not thrown).
  void AfterCommand(const TCommandOutcome& outcome, std::exception_ptr error);

  TAppDialogs* dialogs_;
  std::unique_ptr<TAppDialogs> ownDialogs_;
  std::unique_ptr<TTolvernDataSet> hTable1;
  std::unique_ptr<TTolvernDataSet> hTable2;
  std::unique_ptr<TDataSource> ds1;
  std::unique_ptr<TMemTable> tMemo;
  std::unique_ptr<TDataSource> dsMemo;  // feeds the structure page's field grid

  QTabWidget* pages_;
  TBrowsePage* browsePage_;
  TStructurePage* structurePage_;
  TAboutBox* about_;
  TMainMenus menus_;
  std::unique_ptr<TStatusPanels> panels_;

  QString tableDirectory_;
  QString lastSearch_;
  TCommandHost* commands_;
  TTableDoctor* doctor_;
  TDamageNotices damageNotices_;

  std::atomic<bool> damageReportPending_{false};  // set on whatever thread the table reports
};

}  // namespace fendral
