#include "tv_mainmenus.h"

#include <QSettings>

#include "Unit1.h"
#include "tv_commandtext.h"

namespace fendral {

namespace {

constexpr int kRecentTables = 8;

}  // namespace

TMainMenus BuildMainMenus(TMainWindow& w, QMenuBar& bar) {
  TMainMenus m;
  QMenu* file = bar.addMenu(TWindowText::tr("&File"));
  m.open = file->addAction(TWindowText::tr("Open DBF"), &w, &TMainWindow::OpenDbf);
  m.open->setShortcut(QKeySequence::Open);
  file->addAction(TWindowText::tr("New DBF"), &w, &TMainWindow::NewDbf);
  m.close = file->addAction(TWindowText::tr("Close DBF"), &w, &TMainWindow::CloseDbf);
  m.recent = file->addMenu(TWindowText::tr("Recent tables"));
  file->addSeparator();
  m.exit = file->addAction(TWindowText::tr("Exit"), &w, &QWidget::close);
  m.exit->setShortcut(QKeySequence::Quit);

  QMenu* db = m.database = bar.addMenu(TWindowText::tr("&Database"));
  m.reindex = db->addAction(TWindowText::tr("Reindex"), &w, &TMainWindow::Reindex);
  m.reindex->setEnabled(false);
  db->addAction(TWindowText::tr("Check table"), &w, [&w] { w.Doctor().Check(); });
  db->addAction(TWindowText::tr("Repair..."), &w, [&w] { w.Doctor().Repair(); });
  db->addSeparator();
  db->addAction(TWindowText::tr("Pack"), &w, &TMainWindow::Pack);
  db->addAction(TWindowText::tr("Zap"), &w, &TMainWindow::Zap);
  db->addAction(TWindowText::tr("Rename"), &w, &TMainWindow::RenameBase);
  db->addAction(TWindowText::tr("Delete Base"), &w, &TMainWindow::DeleteBase);
  db->addSeparator();
  db->addAction(TWindowText::tr("Copy to new name DBF"), &w, &TMainWindow::CopyToNewName);
  db->addAction(TWindowText::tr("Copy structure to base"), &w, &TMainWindow::CopyStructureToBase);
  db->addSeparator();
  db->addAction(TWindowText::tr("Convert DOS -> ANSII"), &w, &TMainWindow::ConvertDosToAnsi);
  db->addAction(TWindowText::tr("Convert ANSII -> DOS"), &w, &TMainWindow::ConvertAnsiToDos);
  db->addSeparator();
  db->addAction(TWindowText::tr("Export base in TXT"), &w, &TMainWindow::ExportText);
  db->addAction(TWindowText::tr("Import base from TXT"), &w, &TMainWindow::ImportText);
  db->addAction(TWindowText::tr("Copy structure to TXT"), &w, &TMainWindow::CopyStructureToText);
  // Data exchange with other programs.
  db->addSeparator();
  db->addAction(TWindowText::tr("Export as..."), &w, &TMainWindow::ExportAs);
  db->addAction(TWindowText::tr("Import CSV..."), &w, &TMainWindow::ImportCsv);

  // Shortcut texts only: the keys themselves are handled before any control sees them.
  QMenu* records = bar.addMenu(TWindowText::tr("&Records"));
  auto keyItem = [&w, records](const QString& text, const QString& keys,
                               std::function<void()> command) {
    QAction* action = records->addAction(text + QLatin1Char('\t') + keys);
    QObject::connect(action, &QAction::triggered, &w, [command] { command(); });
  };
  keyItem(TWindowText::tr("Find"), QStringLiteral("F7, Ctrl+F"), [&w] { w.Find(); });
  keyItem(TWindowText::tr("Find next"), QStringLiteral("F3, Shift+F7"), [&w] { w.FindNext(); });
  keyItem(TWindowText::tr("Goto Record"), QStringLiteral("F5"), [&w] { w.GotoRecord(); });
  keyItem(TWindowText::tr("Edit / Post"), QStringLiteral("F2"), [&w] { w.EditOrPost(); });
  keyItem(TWindowText::tr("Delete / Recall"), QStringLiteral("F8"), [&w] { w.ToggleDeleteMark(); });
  keyItem(TWindowText::tr("Copy record"), QStringLiteral("Ctrl+Insert"), [&w] { w.CopyRecord(); });
  keyItem(TWindowText::tr("Dos"), QStringLiteral("Shift+F8"), [&w] {
    if (!w.Busy()) w.BrowsePage()->ToggleDos();
  });
  keyItem(TWindowText::tr("Switch page"), QStringLiteral("F9"), [&w] { w.SwitchPage(); });
  bar.addAction(TWindowText::tr("About ..."), &w, &TMainWindow::ShowAbout);
  return m;
}

void FillRecentMenu(QMenu& menu, const std::function<void(const QString& path)>& open) {
  menu.clear();
  const QStringList recent = QSettings().value(QStringLiteral("recent")).toStringList();
  for (const QString& path : recent) menu.addAction(path, &menu, [open, path] { open(path); });
  menu.setEnabled(!recent.isEmpty());
}

void RememberRecentTable(const QString& path) {
  QSettings settings;
  QStringList recent = settings.value(QStringLiteral("recent")).toStringList();
  recent.removeAll(path);
  recent.prepend(path);
  while (recent.size() > kRecentTables) recent.removeLast();
  settings.setValue(QStringLiteral("recent"), recent);
}

}  // namespace fendral
