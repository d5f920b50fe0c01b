// Helpers of the window tests: a QApplication-backed window with scripted dialogs over
// copies of tables in a scratch directory, and readings of the files through fendral-cli.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QString>
#include <QTest>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Unit1.h"
#include "test_support.h"

namespace fendral::test {

// Copies every file of `dir` whose name (before the extension) is `stem`, ignoring case,
// into `to`; answers the copied table's path.
inline std::string CopyTableFiles(const fs::path& table, const fs::path& to) {
  const std::string stem = table.stem().string();
  for (const auto& entry : fs::directory_iterator(table.parent_path())) {
    if (!entry.is_regular_file()) continue;
    const std::string name = entry.path().stem().string();
    if (QString::fromStdString(name).compare(QString::fromStdString(stem), Qt::CaseInsensitive) !=
        0)
      continue;
    fs::copy_file(entry.path(), to / entry.path().filename(), fs::copy_options::overwrite_existing);
  }
  return (to / table.filename()).string();
}

inline fs::path SampleTable() { return fs::path(FENDRAL_SOURCE_DIR) / "samples" / "sample.dbf"; }

// Every record of `table` as fendral-cli dumps it (one JSON object per record).
inline std::vector<QJsonObject> Dump(const std::string& table, const std::string& options = {}) {
  std::string out;
  const int status =
      RunCommand(std::string(FENDRAL_CLI) + " dump '" + table + "' " + options, &out);
  EXPECT_EQ(status, 0) << out;
  std::vector<QJsonObject> records;
  for (const QByteArray& line : QByteArray::fromStdString(out).split('\n'))
    if (!line.trimmed().isEmpty()) records.push_back(QJsonDocument::fromJson(line).object());
  return records;
}

// Record numbers of `table` in the order of `tag` of `indexFile`, as fendral-cli reads them.
inline std::vector<int> KeyOrder(const std::string& table, const std::string& indexFile,
                                 const std::string& tag) {
  std::string out;
  EXPECT_EQ(RunCommand(
                std::string(FENDRAL_CLI) + " keys '" + table + "' '" + indexFile + "' --tag " + tag,
                &out),
            0)
      << out;
  std::vector<int> order;
  for (const QByteArray& line : QByteArray::fromStdString(out).split('\n'))
    if (!line.trimmed().isEmpty())
      order.push_back(QJsonDocument::fromJson(line).object().value("recno").toInt());
  return order;
}

// A control of `parent` found by its object name, as accessibility tools and scripts find
// it; a failed check when there is none.
template <class T>
T* Control(QWidget& parent, const char* name) {
  T* control = parent.findChild<T*>(QLatin1String(name));
  EXPECT_NE(control, nullptr) << "no control named " << name;
  return control;
}

// A main window answering its questions from a script, on a scratch copy of tables.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_unique<TMainWindow>(&dialogs);
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  }
  void TearDown() override { window.reset(); }

  TBrowsePage& Page() { return *window->BrowsePage(); }
  TDataSetModel& Grid() { return window->BrowsePage()->Grid()->Model(); }
  int Column(const QString& fieldName) { return window->BrowsePage()->Grid()->ColumnOf(fieldName); }
  TTolvernDataSet& Table() { return window->Table1(); }
  // Presses `key` on the widget that has the focus in the window.
  void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* target = QApplication::focusWidget();
    if (!target || target->window() != window.get()) target = window->BrowsePage()->Grid();
    QTest::keyClick(target, key, modifiers);
  }
  // Lets the window's event loop run until the work it started has ended (Finish
  // included); false when it still runs after `ms`.
  bool AwaitWork(int ms = 30000) {
    return QTest::qWaitFor([this] { return !window->Busy(); }, ms);
  }
  std::string Open(const fs::path& source) {
    const std::string path = CopyTableFiles(source, dir.Path());
    window->Start({QString::fromStdString(path)});
    return path;
  }

  TempDir dir;
  TScriptedDialogs dialogs;
  std::unique_ptr<TMainWindow> window;
};

}  // namespace fendral::test
