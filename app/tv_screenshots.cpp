#include "tv_screenshots.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>

#include "tv_about.h"
#include "tv_command.h"
#include "tv_commandtext.h"
#include "tv_exportdialog.h"
#include "tv_progressdialog.h"
#include "tv_worker.h"

namespace fendral {

namespace {

// A control of the window, found as a user's tools find it: by its name.
template <class T>
T& Control(QWidget& page, const char* name) {
  T* control = page.findChild<T*>(QLatin1String(name));
  if (!control) throw std::logic_error(std::string("no control ") + name);
  return *control;
}

bool Save(QWidget& widget, const QString& file) {
  QApplication::processEvents();
  const bool ok = widget.grab().save(file);
  std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "cannot write",
               file.toLocal8Bit().constData());
  return ok;
}

// Work that stands still at 42 % of an export until it is cancelled: the progress dialog
// as the user meets it, for as long as the picture takes.
class TStillExport final : public TCommand {
 public:
  QString Title() const override {
    return QCoreApplication::translate("TMainWindow", "Export base in TXT");
  }
  bool Prepare(TAppDialogs&) override { return true; }
  void Execute(tolvern::TkxProgress& progress) override {
    tolvern::TkxProgressScope scope(&progress, tolvern::kStatusExport, 1000);
    for (;;) {
      scope.Step(420);
      QThread::msleep(5);
    }
  }
  TCommandOutcome Finish(TAppDialogs&, std::exception_ptr) override { return {}; }
};

// Runs the window's event loop until `done` or a few seconds have passed.
bool AwaitShown(const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < 5000) QApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

// The window during long work with the progress dialog over it.
bool SaveProgress(TMainWindow& window, const QString& file) {
  TWorkRunner& worker = window.Worker();
  worker.SetDialogDelay(0);
  window.RunCommand(std::make_unique<TStillExport>());
  TProgressDialog* dialog = worker.Dialog();
  bool ok = AwaitShown([&] { return dialog->isVisible() && dialog->PercentShown() == 42; });
  if (ok) {
    QPixmap picture = window.grab();
    const QPixmap shown = dialog->grab();
    QPainter painter(&picture);
    const QRect place((picture.width() - shown.width()) / 2,
                      (picture.height() - shown.height()) / 2, shown.width(), shown.height());
    painter.drawPixmap(place.topLeft(), shown);
    painter.setPen(dialog->palette().color(QPalette::Shadow));
    painter.drawRect(place.adjusted(-1, -1, 0, 0));  // the window's edge, as a desktop draws it
    painter.end();
    ok = picture.save(file);
  }
  worker.Cancel();
  AwaitShown([&] { return !window.Busy(); });
  worker.SetDialogDelay(TWorkRunner::kDialogDelayMs);
  std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "cannot write",
               file.toLocal8Bit().constData());
  return ok && !window.Busy();
}

// The "Export as..." dialog as it opens for the shown table: CSV, the file beside the table.
bool SaveExportDialog(TMainWindow& window, const QString& file) {
  TExportDialog dialog(&window);
  dialog.setWindowTitle(TWindowText::tr("Export as"));
  TExportChoice choice;
  const QFileInfo table(window.Table1().Active() ? window.Table1().TableFilePath()
                                                 : QStringLiteral("sample.dbf"));
  choice.file = table.completeBaseName() + QStringLiteral(".csv");
  dialog.SetChoice(choice);
  dialog.show();
  dialog.adjustSize();
  const bool ok = Save(dialog, file);
  dialog.hide();
  return ok;
}

}  // namespace

bool WriteScreenshots(TMainWindow& window, TScriptedDialogs& dialogs, const QString& outDir) {
  QDir().mkpath(outDir);
  bool ok = Save(window, outDir + QStringLiteral("/browse-natural.png"));
  ok = SaveProgress(window, outDir + QStringLiteral("/progress.png")) && ok;

  TBrowsePage* page = window.BrowsePage();
  auto& tags = Control<QComboBox>(*page, "TagSelector");
  if (tags.count() > 1) {
    tags.setCurrentIndex(1);
    page->ChooseTag(1);
    ok = Save(window, outDir + QStringLiteral("/browse-ordered.png")) && ok;
    tags.setCurrentIndex(0);
    page->ChooseTag(0);
  }

  // The filter panel with a term a title click wrote (the third record's value of the
  // second column, or of the only one), switched on.
  auto& filterPanelBox = Control<QCheckBox>(*page, "FilterPanelBox");
  auto& filterOnBox = Control<QCheckBox>(*page, "FilterOnBox");
  filterPanelBox.setChecked(true);
  TTolvernDataSet& table = window.Table1();
  if (table.FieldCount() > 0 && table.RecordCount() >= 3) {
    table.SetRecNo(3);
    page->AddFilterTerm(table.Field(std::min(table.FieldCount() - 1, 1))->FieldName());
    filterOnBox.click();
  }
  ok = Save(window, outDir + QStringLiteral("/browse-filter.png")) && ok;
  if (filterOnBox.isChecked()) filterOnBox.click();
  filterPanelBox.setChecked(false);

  window.Pages()->setCurrentWidget(window.StructurePage());
  TStructurePage* structure = window.StructurePage();
  auto& files = Control<QListWidget>(*structure, "IndexFileList");
  auto& tagList = Control<QListWidget>(*structure, "TagList");
  if (files.count() > 0) {
    QListWidgetItem* file = files.item(0);
    files.setCurrentItem(file);
    emit files.itemClicked(file);
    if (tagList.count() > 0) tagList.setCurrentItem(tagList.item(0));  // the editor follows
  }
  ok = Save(window, outDir + QStringLiteral("/structure.png")) && ok;

  // A new table with three fields being defined.
  QTemporaryDir scratch;
  dialogs.files.push_back(scratch.filePath(QStringLiteral("newtable.dbf")));
  window.NewDbf();
  TMemTable& fields = window.StructureTable();
  const char* const rows[][4] = {
      {"NAME", "C", "30", "0"}, {"PRICE", "N", "12", "2"}, {"NOTES", "M", "10", "0"}};
  bool first = true;
  for (const auto& row : rows) {
    if (!first) fields.Append();
    first = false;
    fields.FieldByName(QStringLiteral("Name"))->SetAsString(QLatin1String(row[0]));
    fields.FieldByName(QStringLiteral("DBF Type"))->SetAsString(QLatin1String(row[1]));
    fields.FieldByName(QStringLiteral("Len"))->SetAsString(QLatin1String(row[2]));
    fields.FieldByName(QStringLiteral("Dec"))->SetAsString(QLatin1String(row[3]));
    fields.Post();
  }
  ok = Save(window, outDir + QStringLiteral("/structure-new.png")) && ok;

  // The menus side by side, each as it drops down, and the About box.
  QList<QPixmap> menus;
  for (QAction* action : window.menuBar()->actions())
    if (QMenu* menu = action->menu()) {
      menu->adjustSize();
      menus << menu->grab();
    }
  int width = 0, height = 0;
  for (const QPixmap& menu : menus) {
    width += menu.width() + 8;
    height = std::max(height, menu.height());
  }
  QPixmap strip(std::max(width, 1), std::max(height, 1));
  strip.fill(Qt::white);
  QPainter painter(&strip);
  int x = 0;
  for (const QPixmap& menu : menus) {
    painter.drawPixmap(x, 0, menu);
    x += menu.width() + 8;
  }
  painter.end();
  const QString menusFile = outDir + QStringLiteral("/menus.png");
  const bool menusOk = !menus.isEmpty() && strip.save(menusFile);
  std::fprintf(menusOk ? stdout : stderr, "%s %s\n", menusOk ? "wrote" : "cannot write",
               menusFile.toLocal8Bit().constData());
  ok = menusOk && ok;
  if (auto* about = window.findChild<TAboutBox*>()) {
    about->adjustSize();
    ok = Save(*about, outDir + QStringLiteral("/about.png")) && ok;
  }
  ok = SaveExportDialog(window, outDir + QStringLiteral("/export-dialog.png")) && ok;
  return ok;
}

bool SaveFindings(TMainWindow& window, const QString& file) {
  window.Doctor().Check();
  TFindingsDialog& findings = *window.Doctor().Findings();
  bool ok = AwaitShown([&] { return !window.Busy() && findings.isVisible(); });
  if (ok) {
    findings.resize(820, 300);
    QApplication::processEvents();
    QPixmap picture = window.grab();
    const QPixmap shown = findings.grab();
    QPainter painter(&picture);
    const QRect place((picture.width() - shown.width()) / 2,
                      (picture.height() - shown.height()) / 2, shown.width(), shown.height());
    painter.drawPixmap(place.topLeft(), shown);
    painter.setPen(findings.palette().color(QPalette::Shadow));
    painter.drawRect(place.adjusted(-1, -1, 0, 0));
    painter.end();
    ok = picture.save(file);
  }
  findings.hide();
  std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "cannot write",
               file.toLocal8Bit().constData());
  return ok;
}

}  // namespace fendral
