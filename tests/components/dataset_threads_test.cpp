// Two table datasets worked on two threads at once, as long work on a worker runs beside
// the window: each creates its table, appends records with text outside ASCII, builds an
// index and reads the records in its order with their dates formatted; both read what
// they wrote.
#include <gtest/gtest.h>

#include <QDate>
#include <thread>

#include "dataset_support.h"

namespace fendral {
namespace {

using test::TempDir;

QString Q(const std::string& s) { return QString::fromStdString(s); }

struct Outcome {
  QStringList names;  // in NAME order
  QStringList dates;
  std::string error;
};

// Creates `name`.dbf in the dataset's directory with `records` records, indexes it by
// NAME and reads it back in that order.
Outcome Work(TTolvernDataSet& ds, const QString& name, int records) {
  Outcome out;
  try {
    ds.SetTableName(name + QStringLiteral(".dbf"));
    TCreateTolvernDataSet create;
    create.SetDBFTable(&ds);
    create.SetDBFType(TkxDBFTypes::FoxPro2);
    create.SetCreateFields({QStringLiteral("NAME;C;12;0"), QStringLiteral("BORN;D;8;0")});
    if (!create.CreateTable()) {
      out.error = "the table was not created";
      return out;
    }
    for (int i = 0; i < records; ++i)
      ds.AppendRecord({QStringLiteral("Жук %1").arg(records - i, 4, 10, QLatin1Char('0')),
                       QDate(2001, 1 + i % 12, 1 + i % 28)});
    ds.IndexOn(name + QStringLiteral(".ntx"), QString(), 0, true, QString(),
               QStringLiteral("NAME"));
    ds.SetIndexFiles({name + QStringLiteral(".ntx")});
    ds.SetIndexName(name.toUpper());
    for (ds.First(); !ds.Eof(); ds.Next()) {
      out.names << ds.FieldByName(QStringLiteral("NAME"))->AsString();
      out.dates << ds.FieldByName(QStringLiteral("BORN"))->DisplayText();
    }
    ds.Close();
  } catch (const std::exception& e) {
    out.error = e.what();
  }
  return out;
}

TEST(DatasetThreads, TwoDatasetsOnTwoThreadsReadWhatTheyWrote) {
  TempDir dir;
  TTolvernDataSet first;
  TTolvernDataSet second;
  // The directory is named on this thread: it may add an alias to the program's list.
  first.SetDatabaseName(Q(dir.Path().string()));
  second.SetDatabaseName(Q(dir.Path().string()));
  Outcome a, b;
  std::thread worker([&] { a = Work(first, QStringLiteral("worker"), 800); });
  b = Work(second, QStringLiteral("window"), 400);
  worker.join();
  ASSERT_EQ(a.error, "");
  ASSERT_EQ(b.error, "");
  ASSERT_EQ(a.names.size(), 800);
  ASSERT_EQ(b.names.size(), 400);
  EXPECT_EQ(a.names.front(), QStringLiteral("Жук 0001"));
  EXPECT_EQ(a.names.back(), QStringLiteral("Жук 0800"));
  EXPECT_EQ(b.names.back(), QStringLiteral("Жук 0400"));
  // What one dataset reads with no other thread at work.
  TTolvernDataSet alone;
  alone.SetDatabaseName(Q(dir.Path().string()));
  const Outcome expected = Work(alone, QStringLiteral("alone"), 800);
  ASSERT_EQ(expected.error, "");
  EXPECT_EQ(a.names, expected.names);
  EXPECT_EQ(a.dates, expected.dates);
  EXPECT_FALSE(a.dates.front().isEmpty());
  for (qsizetype i = 1; i < a.names.size(); ++i)
    ASSERT_LT(a.names[i - 1], a.names[i]) << "the worker's index is in NAME order at " << i;
}

}  // namespace
}  // namespace fendral
