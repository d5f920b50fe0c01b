// The data grid over table datasets on real tables: what the cells show in each order, the
// current row and the dataset moving together, edits typed into cells and posted into the
// file with its indexes kept current, and a generated table of a million records.
#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QDateEdit>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRegularExpression>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

#include "Tolvern6DB.h"
#include "dataset_support.h"
#include "dbgrid.h"

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}

namespace fendral::test {
namespace {

// Sends a key press and release, then lets queued work run (an editor commits its data
// through a queued call).
void Key(QWidget& widget, int key, const QString& text = QString()) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(&widget, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QApplication::sendEvent(&widget, &release);
  QApplication::processEvents();
}

void Type(QWidget& widget, const QString& text) {
  for (QChar c : text) Key(widget, c.toUpper().unicode(), QString(c));
}

// The peers' reading of a table: one JSON object per record.
std::vector<QJsonObject> PeerRecords(const std::string& table) {
  std::string out;
  const int status = RunCommand(
      "perl " + Quote((SharedDir() / "peers" / "dump_table.pl").string()) + " " + Quote(table),
      &out);
  EXPECT_EQ(status, 0) << "dump_table.pl failed on " << table;
  return JsonLines(out);
}

// `fendral-cli keys` of an index file: the keys in the order walked, and every key with
// its record number sorted (files written by other programs order equal keys by when
// they were added, a fresh build by record number: both are current).
struct KeyWalk {
  std::vector<QString> keys;
  std::vector<std::pair<QString, int>> entries;
};
KeyWalk Keys(const std::string& table, const std::string& index) {
  std::string out;
  EXPECT_EQ(RunCli("keys " + Quote(table) + " " + Quote(index), &out), 0);
  KeyWalk walk;
  for (const QJsonObject& line : JsonLines(out)) {
    const QString key = line.value("key").toVariant().toString();
    walk.keys.push_back(key);
    walk.entries.emplace_back(key, line.value("recno").toInt());
  }
  std::sort(walk.entries.begin(), walk.entries.end());
  return walk;
}

class GridOnClip : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_SHARED();
    table = CopyFixtures(dir, {"peer-harbour/clip.dbf", "peer-harbour/clip.dbt",
                               "peer-harbour/clip_name.ntx", "peer-harbour/clip_amount.ntx"});
    grid.OnError = [this](const std::exception& e) { errors.push_back(e.what()); };
    grid.resize(1000, 700);
  }

  // Opens the table with deleted records shown and both indexes open (`tag` the order).
  void Open(const QString& tag = {}) {
    ds.SetUseDeleted(true);
    OpenTable(ds, table, {QStringLiteral("clip_name.ntx"), QStringLiteral("clip_amount.ntx")}, tag);
    grid.SetDataSource(&source);
    grid.show();
  }

  int Column(const char* field) { return grid.Model().ColumnOfField(ds.FieldByName(field)); }
  QString Cell(int row, const char* field) {
    return grid.Model().data(grid.Model().index(row, Column(field))).toString();
  }

  // Every cell's display text, row by row.
  std::vector<QStringList> GridTexts() {
    std::vector<QStringList> rows;
    TDataSetModel& model = grid.Model();
    for (int r = 0; r < model.rowCount(); ++r) {
      QStringList row;
      for (int c = 0; c < model.columnCount(); ++c) row << model.data(model.index(r, c)).toString();
      rows.push_back(row);
    }
    return rows;
  }

  // The dataset's display texts of the grid's columns from First to EOF, with the record
  // numbers seen.
  std::vector<QStringList> DataSetTexts(std::vector<int>* recnos) {
    std::vector<QStringList> rows;
    ds.DisableControls();
    for (ds.First(); !ds.Eof(); ds.Next()) {
      QStringList row;
      for (int c = 0; c < grid.Model().columnCount(); ++c)
        row << ds.FieldDisplayText(*grid.Model().FieldOfColumn(c));
      rows.push_back(row);
      recnos->push_back(ds.RecNo());
    }
    ds.First();
    ds.EnableControls();
    return rows;
  }

  TempDir dir;
  std::string table;
  TTolvernDataSet ds;
  TDataSource source{&ds};
  TDBGrid grid;
  std::vector<std::string> errors;
};

TEST_F(GridOnClip, CellsAreTheDataSetsTextsInEveryOrderAndFilter) {
  struct Case {
    QString tag;
    QString filter;
    std::string dumpOptions;
  };
  const std::vector<Case> cases = {
      {{}, {}, ""},
      {QStringLiteral("clip_name"), {}, "--index " + Quote(dir.File("clip_name.ntx"))},
      {QStringLiteral("clip_amount"), QStringLiteral("AMOUNT > 500"),
       "--index " + Quote(dir.File("clip_amount.ntx")) + " --filter 'AMOUNT > 500'"},
      {QStringLiteral("clip_name"), QStringLiteral("AMOUNT < 300"),
       "--index " + Quote(dir.File("clip_name.ntx")) + " --filter 'AMOUNT < 300'"},
      {{}, QStringLiteral("AMOUNT > 500"), "--filter 'AMOUNT > 500'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tag.toStdString() + " / " + c.filter.toStdString());
    ds.Close();
    if (!c.filter.isEmpty()) {
      ds.SetFilter(c.filter);
      ds.SetFiltered(true);
    }
    Open(c.tag);
    std::vector<int> recnos;
    const std::vector<QStringList> expected = DataSetTexts(&recnos);
    EXPECT_EQ(recnos, DumpRecnos(table, c.dumpOptions));
    ASSERT_EQ(grid.Model().rowCount(), static_cast<int>(expected.size()));
    EXPECT_EQ(GridTexts(), expected);
    ASSERT_EQ(grid.Model().columnCount(), ds.FieldCount());
  }
  EXPECT_TRUE(errors.empty());
}

TEST_F(GridOnClip, ATableShownInAGridCanBeRenamedOnceClosed) {
  Open();
  ASSERT_GT(grid.Model().rowCount(), 0);
  ds.Close();
  const std::string renamed = dir.File("renamed.dbf");
  ds.RenameTable(QString::fromStdString(renamed));
  EXPECT_TRUE(fs::exists(renamed));
  EXPECT_FALSE(fs::exists(table));
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(grid.Model().rowCount(), 0);
  // The grid shows the table again under its new name.
  ds.SetTableName(QStringLiteral("renamed.dbf"));
  ds.Open();
  EXPECT_EQ(grid.Model().rowCount(), ds.RecordCount());
}

TEST_F(GridOnClip, MemoColumnShowsTheFirstLineOfTheMemo) {
  Open();
  const std::vector<QJsonObject> peer = PeerRecords(table);
  ASSERT_EQ(static_cast<int>(peer.size()), grid.Model().rowCount());
  int multiLine = 0;
  for (int r = 0; r < grid.Model().rowCount(); ++r) {
    const QString memo =
        peer[static_cast<size_t>(r)].value("fields").toObject().value("NOTES").toString();
    const QString firstLine = memo.section(QRegularExpression("\r\n|\n|\r"), 0, 0);
    if (firstLine != memo) ++multiLine;
    EXPECT_EQ(Cell(r, "NOTES"), firstLine) << "row " << r;
  }
  EXPECT_GT(multiLine, 0) << "the fixture should hold memos of several lines";
}

TEST_F(GridOnClip, CurrentRowAndDataSetMoveTogether) {
  Open(QStringLiteral("clip_name"));
  const std::vector<int> order = DumpRecnos(table, "--index " + Quote(dir.File("clip_name.ntx")));
  ASSERT_EQ(static_cast<int>(order.size()), grid.Model().rowCount());

  ds.First();
  ds.MoveBy(37);
  EXPECT_EQ(grid.currentIndex().row(), 37);
  ds.Last();
  EXPECT_EQ(grid.currentIndex().row(), grid.Model().rowCount() - 1);

  grid.setCurrentIndex(grid.Model().index(12, Column("CITY")));
  EXPECT_EQ(ds.RecNo(), order[12]);
  Key(grid, Qt::Key_Down);
  EXPECT_EQ(grid.currentIndex().row(), 13);
  EXPECT_EQ(ds.RecNo(), order[13]);
  EXPECT_EQ(grid.SelectedField(), ds.FieldByName("CITY"));
  Key(grid, Qt::Key_End, {});  // last column, same row
  Key(grid, Qt::Key_PageDown);
  EXPECT_GT(grid.currentIndex().row(), 13);
  EXPECT_EQ(ds.RecNo(), order[static_cast<size_t>(grid.currentIndex().row())]);
  EXPECT_TRUE(errors.empty());
}

TEST_F(GridOnClip, TypedEditIsPostedWhenTheRowIsLeftAndEveryIndexIsCurrent) {
  Open(QStringLiteral("clip_name"));
  const int row = 5;
  grid.setCurrentIndex(grid.Model().index(row, Column("NAME")));
  const int recno = ds.RecNo();
  const QString newName = QStringLiteral("AAAA, Typed");

  Type(grid, newName.left(1));  // typing starts an edit in the cell
  QLineEdit* editor = grid.viewport()->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr) << "typing did not open a cell editor";
  Type(*editor, newName.mid(1));
  Key(*editor, Qt::Key_Return, QStringLiteral("\r"));
  EXPECT_EQ(ds.State(), dsEdit);
  Key(grid, Qt::Key_Down);  // leaving the row posts
  ASSERT_TRUE(errors.empty()) << errors.front();
  EXPECT_EQ(ds.State(), dsBrowse);

  // The record moved to its place in the order, and the grid and dataset went with it.
  const std::vector<int> order = DumpRecnos(table, "--index " + Quote(dir.File("clip_name.ntx")));
  const auto at = std::find(order.begin(), order.end(), recno);
  ASSERT_NE(at, order.end());
  const int newRow = static_cast<int>(at - order.begin());
  EXPECT_EQ(Cell(newRow, "NAME"), newName);
  EXPECT_EQ(grid.Model().rowCount(), static_cast<int>(order.size()));
  EXPECT_EQ(grid.Model().CurrentRow(), grid.currentIndex().row());
  EXPECT_EQ(ds.RecNo(), order[static_cast<size_t>(grid.currentIndex().row())]);
  std::vector<int> seen;
  const std::vector<QStringList> texts = DataSetTexts(&seen);
  EXPECT_EQ(seen, order);
  EXPECT_EQ(GridTexts(), texts);

  // In the file, for the engine and for the peers.
  std::string dump;
  ASSERT_EQ(RunCli("dump " + Quote(table), &dump), 0);
  const std::vector<QJsonObject> ours = JsonLines(dump);
  ASSERT_GE(static_cast<int>(ours.size()), recno);
  EXPECT_EQ(
      ours[static_cast<size_t>(recno - 1)].value("fields").toObject().value("NAME").toString(),
      newName);
  const std::vector<QJsonObject> peer = PeerRecords(table);
  ASSERT_GE(static_cast<int>(peer.size()), recno);
  EXPECT_EQ(
      peer[static_cast<size_t>(recno - 1)].value("fields").toObject().value("NAME").toString(),
      newName);

  // Both open indexes walk as a fresh build over the changed table does.
  ds.Close();
  TempDir fresh;
  const std::string copy = fresh.File("clip.dbf");
  fs::copy_file(table, copy);
  fs::copy_file(dir.File("clip.dbt"), fresh.File("clip.dbt"));
  for (const auto& [file, key] :
       {std::pair{"clip_name.ntx", "NAME"}, {"clip_amount.ntx", "AMOUNT"}}) {
    SCOPED_TRACE(file);
    ASSERT_EQ(RunCli("index " + Quote(copy) + " " + Quote(fresh.File(file)) + " --key " + key), 0);
    const KeyWalk kept = Keys(table, dir.File(file));
    const KeyWalk built = Keys(copy, fresh.File(file));
    EXPECT_EQ(kept.keys, built.keys);
    EXPECT_EQ(kept.entries, built.entries);
    EXPECT_EQ(
        RunCommand("/usr/bin/python3 " + Quote((SharedDir() / "peers" / "index_walk.py").string()) +
                   " --compare " + Quote(dir.File(file)) + " " + Quote(table) + " >/dev/null"),
        0);
  }
}

TEST_F(GridOnClip, RowsFollowPostsAppendsAndDeletesInAFilteredIndexOrder) {
  ds.SetFilter(QStringLiteral("AMOUNT > 0"));
  ds.SetFiltered(true);
  OpenTable(ds, table, {QStringLiteral("clip_name.ntx"), QStringLiteral("clip_amount.ntx")},
            QStringLiteral("clip_name"));  // deleted records hidden
  grid.SetDataSource(&source);
  grid.show();
  const std::string options =
      "--index " + Quote(dir.File("clip_name.ntx")) + " --filter 'AMOUNT > 0' --hide-deleted";
  const auto check = [&](const char* step) {
    SCOPED_TRACE(step);
    std::vector<int> recnos;
    const std::vector<QStringList> texts = DataSetTexts(&recnos);
    EXPECT_EQ(recnos, DumpRecnos(table, options));
    const std::vector<QStringList> cells = GridTexts();
    ASSERT_EQ(cells.size(), texts.size());
    for (size_t r = 0; r < cells.size(); ++r) EXPECT_EQ(cells[r], texts[r]) << "row " << r;
    EXPECT_TRUE(errors.empty());
  };
  check("opened");
  const int rows = grid.Model().rowCount();

  ds.MoveBy(3);
  ds.Edit();
  ds.FieldByName("NAME")->SetAsString(QStringLiteral("zz last"));
  ds.Post();
  EXPECT_EQ(grid.currentIndex().row(), rows - 1);
  check("key changed");

  ds.Append();
  ds.FieldByName("NAME")->SetAsString(QStringLiteral("Middle, New"));
  ds.FieldByName("AMOUNT")->SetAsFloat(12.5);
  ds.Post();
  EXPECT_EQ(grid.Model().rowCount(), rows + 1);
  EXPECT_EQ(Cell(grid.currentIndex().row(), "NAME"), QStringLiteral("Middle, New"));
  check("appended");

  ds.First();
  ds.Edit();
  ds.FieldByName("AMOUNT")->SetAsFloat(-1);  // leaves the filter
  ds.Post();
  EXPECT_EQ(grid.Model().rowCount(), rows);
  check("filtered out");

  ds.MoveBy(5);
  ds.Delete();
  EXPECT_EQ(grid.Model().rowCount(), rows - 1);
  check("deleted");
}

TEST_F(GridOnClip, EscapeCancelsTheEditAndLeavesTheFileAlone) {
  Open();
  const std::vector<uint8_t> before = ReadBytes(table);
  grid.setCurrentIndex(grid.Model().index(3, Column("CITY")));
  const QString city = Cell(3, "CITY");

  // Esc in the cell editor drops the typed text before it reaches the record.
  Type(grid, QStringLiteral("Q"));
  QLineEdit* editor = grid.viewport()->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  Key(*editor, Qt::Key_Escape);
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(Cell(3, "CITY"), city);

  // Esc on the grid cancels an edit the record already holds.
  Type(grid, QStringLiteral("Z"));
  editor = grid.viewport()->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  Type(*editor, QStringLiteral("ebra"));
  Key(*editor, Qt::Key_Return, QStringLiteral("\r"));
  ASSERT_EQ(ds.State(), dsEdit);
  EXPECT_EQ(Cell(3, "CITY"), QStringLiteral("Zebra"));
  Key(grid, Qt::Key_Escape);
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(Cell(3, "CITY"), city);
  Key(grid, Qt::Key_Down);
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ReadBytes(table), before);
  EXPECT_TRUE(errors.empty());
}

TEST_F(GridOnClip, DeletedRowsArePaintedByTheHook) {
  const QColor grey(0xc0, 0xc0, 0xc0);
  grid.Model().OnCellData = [this, grey](const TRecordBuffer&, const TField&, int role) {
    return role == Qt::BackgroundRole && ds.IsDeleted() ? QVariant(grey) : QVariant();
  };
  Open();
  std::set<int> deleted;
  for (const QJsonObject& record : PeerRecords(table))
    if (record.value("deleted").toBool()) deleted.insert(record.value("recno").toInt());
  ASSERT_FALSE(deleted.empty());

  // Away from the current cell, whose selection colour would cover the hook's.
  ds.Last();
  grid.scrollToTop();
  const QImage image = grid.viewport()->grab().toImage();
  const int column = Column("CITY");
  int greyRows = 0;
  int plainRows = 0;
  for (int r = 0; r < grid.Model().rowCount(); ++r) {
    const QRect cell = grid.visualRect(grid.Model().index(r, column));
    if (cell.bottom() >= image.height() / image.devicePixelRatio()) break;
    const QColor pixel =
        image.pixelColor(static_cast<int>((cell.right() - 3) * image.devicePixelRatio()),
                         static_cast<int>(cell.center().y() * image.devicePixelRatio()));
    if (deleted.count(r + 1)) {
      EXPECT_EQ(pixel, grey) << "deleted row " << r;
      ++greyRows;
    } else {
      EXPECT_NE(pixel, grey) << "live row " << r;
      ++plainRows;
    }
  }
  EXPECT_GT(greyRows, 0);
  EXPECT_GT(plainRows, 0);
}

TEST_F(GridOnClip, EditorsFitTheFieldsAndLogicalsAreCheckBoxes) {
  Open();
  TDataSetModel& model = grid.Model();
  const std::vector<QJsonObject> peer = PeerRecords(table);
  ASSERT_EQ(static_cast<int>(peer.size()), model.rowCount());

  // A character field takes no more than its width.
  grid.setCurrentIndex(model.index(0, Column("CITY")));
  Type(grid, QStringLiteral("A"));
  auto* line = grid.viewport()->findChild<QLineEdit*>();
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->maxLength(), 15);
  Type(*line, QStringLiteral("bcdefghijklmnopqrstu"));
  Key(*line, Qt::Key_Return, QStringLiteral("\r"));
  EXPECT_EQ(Cell(0, "CITY"), QStringLiteral("Abcdefghijklmno"));

  // Logicals are check boxes that follow the stored value; toggling one edits the record.
  const int active = Column("ACTIVE");
  EXPECT_TRUE(model.flags(model.index(1, active)) & Qt::ItemIsUserCheckable);
  EXPECT_FALSE(model.flags(model.index(1, active)) & Qt::ItemIsEditable);
  for (int r = 0; r < model.rowCount(); ++r) {
    const QString stored =
        peer[static_cast<size_t>(r)].value("fields").toObject().value("ACTIVE").toString();
    const int expected = stored == "T"   ? Qt::Checked
                         : stored == "F" ? Qt::Unchecked
                                         : Qt::PartiallyChecked;
    EXPECT_EQ(model.data(model.index(r, active), Qt::CheckStateRole).toInt(), expected)
        << "row " << r;
  }
  Key(grid, Qt::Key_Down);  // posts the city
  ASSERT_TRUE(errors.empty()) << errors.front();
  const bool wasActive = peer[1].value("fields").toObject().value("ACTIVE").toString() == "T";
  ASSERT_TRUE(model.setData(model.index(1, active), wasActive ? Qt::Unchecked : Qt::Checked,
                            Qt::CheckStateRole));
  EXPECT_EQ(ds.State(), dsEdit);

  // A date editor, whose lowest date is the empty date.
  const QModelIndex born = model.index(1, Column("BORN"));
  grid.setCurrentIndex(born);
  grid.edit(born);
  auto* date = grid.viewport()->findChild<QDateEdit*>();
  ASSERT_NE(date, nullptr);
  EXPECT_EQ(date->date().toString(Qt::ISODate),
            peer[1].value("fields").toObject().value("BORN").toString());
  date->setDate(date->minimumDate());
  Key(*date, Qt::Key_Return, QStringLiteral("\r"));
  EXPECT_TRUE(ds.FieldByName("BORN")->IsNull());
  Key(grid, Qt::Key_Down);
  ASSERT_TRUE(errors.empty()) << errors.front();
  EXPECT_EQ(ds.State(), dsBrowse);

  const std::vector<QJsonObject> after = PeerRecords(table);
  ASSERT_EQ(after.size(), peer.size());
  EXPECT_EQ(after[0].value("fields").toObject().value("CITY").toString(), "Abcdefghijklmno");
  EXPECT_EQ(after[1].value("fields").toObject().value("ACTIVE").toString(), wasActive ? "F" : "T");
  EXPECT_TRUE(after[1].value("fields").toObject().value("BORN").isNull());
}

// ---------------------------------------------------------------------------------------
// A generated table of a million records.

constexpr int kBigRecords = 1000000;

// Key of record i: a permutation of 0 .. kBigRecords-1 over the records.
int BigKey(int i) { return static_cast<int>((static_cast<int64_t>(i) * 7919) % kBigRecords); }
QString BigName(int i) { return QStringLiteral("K%1").arg(BigKey(i), 7, 10, QLatin1Char('0')); }

// A dBase III table: NAME C(10), AMOUNT N(10,2).
void WriteBigTable(const std::string& path) {
  std::vector<uint8_t> header(32 + 2 * 32 + 1, 0);
  header[0] = 0x03;
  header[1] = 124;
  header[2] = 1;
  header[3] = 15;
  const uint32_t count = kBigRecords;
  const uint16_t headerSize = static_cast<uint16_t>(header.size());
  const uint16_t recordSize = 1 + 10 + 10;
  std::memcpy(&header[4], &count, 4);
  std::memcpy(&header[8], &headerSize, 2);
  std::memcpy(&header[10], &recordSize, 2);
  const auto field = [&](int n, const char* name, char type, uint8_t length, uint8_t decimals) {
    uint8_t* f = &header[static_cast<size_t>(32 + 32 * n)];
    std::memcpy(f, name, std::strlen(name));
    f[11] = static_cast<uint8_t>(type);
    f[16] = length;
    f[17] = decimals;
  };
  field(0, "NAME", 'C', 10, 0);
  field(1, "AMOUNT", 'N', 10, 2);
  header.back() = 0x0D;
  FILE* out = std::fopen(path.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  std::fwrite(header.data(), 1, header.size(), out);
  char record[32];
  for (int i = 1; i <= kBigRecords; ++i) {
    std::snprintf(record, sizeof record, " K%07d  %10.2f", BigKey(i), (i % 2000) * 0.5);
    std::fwrite(record, 1, recordSize, out);
  }
  std::fputc(0x1A, out);
  std::fclose(out);
}

TEST(GridOnAMillionRecords, RowCountLastRowAndAnIndexOrder) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "a million records belong to the plain build";
#endif
  TempDir dir;
  const std::string table = dir.File("big.dbf");
  WriteBigTable(table);
  TTolvernDataSet ds;
  TDataSource source(&ds);
  TDBGrid grid;
  std::vector<std::string> errors;
  grid.OnError = [&](const std::exception& e) { errors.push_back(e.what()); };
  grid.resize(800, 600);
  OpenTable(ds, table);
  grid.SetDataSource(&source);
  grid.show();
  TDataSetModel& model = grid.Model();
  const int name = model.ColumnOfField(ds.FieldByName("NAME"));
  ASSERT_EQ(model.rowCount(), kBigRecords);
  EXPECT_EQ(model.data(model.index(kBigRecords - 1, name)).toString(), BigName(kBigRecords));
  EXPECT_EQ(model.data(model.index(0, name)).toString(), BigName(1));
  ds.Last();
  EXPECT_EQ(grid.currentIndex().row(), kBigRecords - 1);
  EXPECT_EQ(ds.RecNo(), kBigRecords);

  ds.Close();
  ASSERT_EQ(RunCli("index " + Quote(table) + " " + Quote(dir.File("big_name.ntx")) + " --key NAME"),
            0);
  OpenTable(ds, table, {QStringLiteral("big_name.ntx")}, QStringLiteral("big_name"));
  ASSERT_EQ(model.rowCount(), kBigRecords);
  EXPECT_EQ(model.data(model.index(0, name)).toString(), QStringLiteral("K0000000"));
  EXPECT_EQ(model.data(model.index(kBigRecords - 1, name)).toString(), QStringLiteral("K0999999"));
  EXPECT_EQ(grid.currentIndex().row(), 0);
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), QStringLiteral("K0000000"));
  ds.Last();
  EXPECT_EQ(grid.currentIndex().row(), kBigRecords - 1);
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), QStringLiteral("K0999999"));
  EXPECT_TRUE(errors.empty());
}

}  // namespace
}  // namespace fendral::test
