// Delimited text: the line rules on their own, then the window's export, import and
// structure listing on tables in a scratch folder, checked with fendral-cli and the
// other program's index checker.
#include <QFile>

#include "command_test_util.h"
#include "tv_textline.h"

namespace fendral::test {
namespace {

using Bytes = std::vector<QByteArray>;

TEST(TextLine, TheSeparatorAnswerNamesTabAndSpaceInAnyCase) {
  EXPECT_EQ(SeparatorOf(QStringLiteral("TAB")), QStringLiteral("\t"));
  EXPECT_EQ(SeparatorOf(QStringLiteral("tab")), QStringLiteral("\t"));
  EXPECT_EQ(SeparatorOf(QStringLiteral("Sps")), QStringLiteral(" "));
  EXPECT_EQ(SeparatorOf(QStringLiteral(";")), QStringLiteral(";"));
  EXPECT_EQ(SeparatorOf(QStringLiteral("ab")), QStringLiteral("ab"));
}

TEST(TextLine, JoiningWritesNothingAfterTheLastValueAndNothingForAnEmptyOne) {
  EXPECT_EQ(JoinValues({"A", "B", ""}, ";"), QByteArray("A;B;"));
  EXPECT_EQ(JoinValues({"", "B"}, "\t"), QByteArray("\tB"));
  EXPECT_EQ(JoinValues({"A"}, ";"), QByteArray("A"));
}

TEST(TextLine, SplittingGivesExactlyTheFieldCount) {
  EXPECT_EQ(SplitValues("A;B;C", ";", 3), (Bytes{"A", "B", "C"}));
  EXPECT_EQ(SplitValues("A;B;", ";", 3), (Bytes{"A", "B", ""}));
  EXPECT_EQ(SplitValues(";B;C", ";", 3), (Bytes{"", "B", "C"}));
  // Too many values: the extra ones are ignored; too few: the rest are empty.
  EXPECT_EQ(SplitValues("A;B;C;D", ";", 3), (Bytes{"A", "B", "C"}));
  EXPECT_EQ(SplitValues("A", ";", 3), (Bytes{"A", "", ""}));
  EXPECT_EQ(SplitValues("", ";", 2), (Bytes{"", ""}));
  // A separator of several characters is removed whole.
  EXPECT_EQ(SplitValues("A||B||", "||", 3), (Bytes{"A", "B", ""}));
  EXPECT_EQ(SplitValues("A B", " ", 2), (Bytes{"A", "B"}));
}

TEST(TextLine, ValuesThatCannotBeReadBackAreFound) {
  EXPECT_EQ(FirstUnsafeValue({"A", "B"}, ";"), -1);
  EXPECT_EQ(FirstUnsafeValue({"A", "x;y", "a\nb"}, ";"), 1);
  EXPECT_EQ(FirstUnsafeValue({"A", "a\r\nb"}, ";"), 1);
  EXPECT_EQ(WithoutLineEnd("a;b\r\n"), QByteArray("a;b"));
  EXPECT_EQ(WithoutLineEnd("a;b\n"), QByteArray("a;b"));
  EXPECT_EQ(WithoutLineEnd("a;b"), QByteArray("a;b"));
}

TEST(TextLine, DatesAreReadInTwoFormsAndCheckedAsDates) {
  EXPECT_EQ(ParseDate(QStringLiteral("20200102")), QDate(2020, 1, 2));
  EXPECT_EQ(ParseDate(QStringLiteral("2020-01-02")), QDate(2020, 1, 2));
  EXPECT_FALSE(ParseDate(QStringLiteral("20201301")));
  EXPECT_FALSE(ParseDate(QStringLiteral("2020-02-30")));
  EXPECT_FALSE(ParseDate(QStringLiteral("2020/01/02")));
  EXPECT_FALSE(ParseDate(QStringLiteral("202001")));
  EXPECT_EQ(DateText(QDate(1996, 12, 4)), QStringLiteral("19961204"));
}

// A FoxPro table (marked CP866) with a memo, a CDX on NAME and Cyrillic text.
class TextExchange : public WindowTest {
 protected:
  std::string MakeTable(const std::string& name, const std::string& jsonl) {
    const std::string path = dir.File(name + ".dbf");
    std::string out;
    EXPECT_EQ(Cli("create " + Quote(path) + " --type foxpro" + codepageOption +
                      " ID:N:5 NAME:C:12 NOTE:M:10 AMT:N:8:2 D:D:8 L:L:1",
                  &out),
              0)
        << out;
    if (!jsonl.empty()) {
      WriteText(dir.Path() / "in.jsonl", jsonl);
      EXPECT_EQ(
          Cli("import " + Quote(path) + " " + Quote(dir.File("in.jsonl")) + " --encoding cp866",
              &out),
          0)
          << out;
    }
    EXPECT_EQ(Cli("index " + Quote(path) + " " + Quote(dir.File(name + ".cdx")) +
                      " --tag NAME --key NAME",
                  &out),
              0)
        << out;
    return path;
  }
  std::string Sample() {
    return MakeTable("people",
                     "{\"fields\": {\"ID\": 1, \"NAME\": \"Привет\", \"NOTE\": \"ёлка\", \"AMT\": "
                     "1.5, \"D\": \"2020-01-02\", \"L\": true}}\n"
                     "{\"fields\": {\"ID\": 2, \"NAME\": \"abc\"}}\n"
                     "{\"fields\": {\"ID\": -3, \"NAME\": \" lead\", \"AMT\": -0.25, \"L\": false, "
                     "\"NOTE\": \"two words\"}}\n");
  }
  // Exports the open table to `file` with the separator answer `separator`.
  void Export(const QString& file, const QString& separator) {
    dialogs.inputs.push_back(file);
    dialogs.inputs.push_back(separator);
    window->ExportText();
    ASSERT_TRUE(AwaitWork());
  }
  void Import(const std::string& file, const QString& separator) {
    dialogs.files.push_back(QString::fromStdString(file));
    dialogs.inputs.push_back(separator);
    window->ImportText();
    ASSERT_TRUE(AwaitWork());
  }
  // An empty table with the fields of `people`, opened in the window.
  std::string OpenEmptyCopy() {
    const std::string path = MakeTable("empty", "");
    window->Start({QString::fromStdString(path)});
    return path;
  }
  // The language mark of the tables made; without one the "Dos" box chooses the code page.
  std::string codepageOption = " --codepage CP866";

  static QByteArray Cp866(const char* utf8) {
    std::string bytes;
    EXPECT_TRUE(TTVCodePage::Get("CP866")->Encode(QString::fromUtf8(utf8), bytes));
    return QByteArray::fromStdString(bytes);
  }
};

TEST_F(TextExchange, ExportWritesOneLinePerRecordWithTheChosenSeparator) {
  const std::string path = Sample();
  window->Start({QString::fromStdString(path)});
  Export(QStringLiteral("out"), QStringLiteral(";"));  // relative, no extension
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  const QByteArray text = QByteArray::fromStdString(ReadText(dir.Path() / "out.txt"));
  EXPECT_EQ(text, "1;" + Cp866("Привет") + ";" + Cp866("ёлка") +
                      ";1.50;20200102;T\n"
                      "2;abc;;;;\n"  // the empty last fields end the line with separators
                      "-3; lead;two words;-0.25;;F\n");

  Export(QStringLiteral("tab.txt"), QStringLiteral("TAB"));
  EXPECT_EQ(QByteArray::fromStdString(ReadText(dir.Path() / "tab.txt")).split('\n')[1],
            QByteArray("2\tabc\t\t\t\t"));
  Export(QStringLiteral("sps.txt"), QStringLiteral("sps"));
  EXPECT_EQ(QByteArray::fromStdString(ReadText(dir.Path() / "sps.txt")).split('\n')[1],
            QByteArray("2 abc    "));
  ASSERT_TRUE(Table().Active());
  EXPECT_FALSE(window->Busy());
}

TEST_F(TextExchange, ExportWritesWhatTheBrowsePageShowsInItsOrder) {
  const std::string path = Open(SampleTable());
  Table().SetIndexName(QStringLiteral("CITY"));
  Table().SetFilter(QStringLiteral("AMOUNT > 5000"));
  Table().SetFiltered(true);
  std::vector<int> expected;
  const std::vector<QJsonObject> records = Dump(path);
  for (int recno : Order(path, dir.File("sample.cdx"), "CITY"))
    if (records[static_cast<size_t>(recno - 1)]
            .value("fields")
            .toObject()
            .value("AMOUNT")
            .toDouble() > 5000)
      expected.push_back(recno);
  ASSERT_FALSE(expected.empty());
  Table().Last();
  Export(QStringLiteral("shown.txt"), QStringLiteral(";"));
  // Some notes of the sample hold line breaks: the export says so, naming the first.
  ASSERT_EQ(dialogs.messages.size(), 1);
  EXPECT_TRUE(dialogs.messages[0].contains(QStringLiteral("field NOTES")));
  std::vector<int> ids;
  for (const QByteArray& line :
       QByteArray::fromStdString(ReadText(dir.Path() / "shown.txt")).split('\n'))
    if (const int id = line.split(';')[0].toInt(); id > 0) ids.push_back(id);
  EXPECT_EQ(ids, expected);                 // the sample's ID is its record number
  EXPECT_EQ(Table().RecNo(), expected[0]);  // back on the first record shown
}

TEST_F(TextExchange, ExportNamesTheFirstValueThatHoldsTheSeparator) {
  const std::string path = MakeTable("odd",
                                     "{\"fields\": {\"ID\": 1, \"NAME\": \"plain\"}}\n"
                                     "{\"fields\": {\"ID\": 2, \"NAME\": \"a;b\"}}\n"
                                     "{\"fields\": {\"ID\": 3, \"NOTE\": \"x\\ny\"}}\n");
  window->Start({QString::fromStdString(path)});
  Export(QStringLiteral("odd.txt"), QStringLiteral(";"));
  ASSERT_EQ(dialogs.messages.size(), 1);
  EXPECT_TRUE(dialogs.messages[0].contains(QStringLiteral("Record 2")));
  EXPECT_TRUE(dialogs.messages[0].contains(QStringLiteral("NAME")));
  EXPECT_EQ(QByteArray::fromStdString(ReadText(dir.Path() / "odd.txt")).count('\n'), 4);
}

TEST_F(TextExchange, ImportTakesShortLongAndSeparatorFirstLines) {
  const std::string path = OpenEmptyCopy();
  WriteText(dir.Path() / "lines.txt",
            ";starts;;;;\n"
            "7;x;y;1.25;20210304;F;extra;more\n"
            "8;short\r\n"
            "9");  // no line end at the end of the file
  Import(dir.File("lines.txt"), QStringLiteral(";"));
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  const std::vector<std::string> values = Values(path);
  ASSERT_EQ(values.size(), 4u);
  EXPECT_EQ(Object(values[0]).value("ID"), QJsonValue());
  EXPECT_EQ(Object(values[0]).value("NAME").toString(), QStringLiteral("starts"));
  EXPECT_EQ(Object(values[1]).value("AMT").toDouble(), 1.25);
  EXPECT_EQ(Object(values[1]).value("D").toString(), QStringLiteral("2021-03-04"));
  EXPECT_EQ(Object(values[1]).value("L").toBool(true), false);
  EXPECT_EQ(Object(values[1]).value("NOTE").toString(), QStringLiteral("y"));
  EXPECT_EQ(Object(values[2]).value("NAME").toString(), QStringLiteral("short"));
  EXPECT_EQ(Object(values[2]).value("AMT"), QJsonValue());
  EXPECT_EQ(Object(values[3]).value("ID").toInt(), 9);
  window->CloseDbf();
  ExpectIndexCurrent(path, dir.File("empty.cdx"));
}

TEST_F(TextExchange, AnEmptyFileAppendsNothing) {
  const std::string path = OpenEmptyCopy();
  WriteText(dir.Path() / "nothing.txt", "");
  Import(dir.File("nothing.txt"), QStringLiteral(";"));
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  EXPECT_TRUE(Values(path).empty());
  EXPECT_EQ(Table().RecordCount(), 0);
}

TEST_F(TextExchange, ABadValueAnywhereNamesItsLineAndAppendsNothing) {
  const std::string path = OpenEmptyCopy();
  WriteText(dir.Path() / "bad.txt", "1;one\n2;two\nthree;3\n4;four\n");
  Import(dir.File("bad.txt"), QStringLiteral(";"));
  ASSERT_EQ(dialogs.messages.size(), 1);
  EXPECT_TRUE(dialogs.messages[0].contains(QStringLiteral("Line 3")))
      << dialogs.messages[0].toStdString();
  EXPECT_TRUE(dialogs.messages[0].contains(QStringLiteral("ID")))
      << dialogs.messages[0].toStdString();
  ASSERT_TRUE(Table().Active());
  EXPECT_EQ(Table().State(), dsBrowse);
  EXPECT_FALSE(window->Busy());
  // The whole text is checked before anything is appended: the lines before the bad one
  // are not appended either, and the index stays as it was.
  EXPECT_TRUE(Values(path).empty());
  EXPECT_TRUE(Order(path, dir.File("empty.cdx"), "NAME").empty());
  window->CloseDbf();
  ExpectIndexCurrent(path, dir.File("empty.cdx"));

  WriteText(dir.Path() / "date.txt", "5;five;;;2020-02-30\n");
  window->Start({QString::fromStdString(path)});
  Import(dir.File("date.txt"), QStringLiteral(";"));
  ASSERT_EQ(dialogs.messages.size(), 2);
  EXPECT_TRUE(dialogs.messages[1].contains(QStringLiteral("Line 1, field D")))
      << dialogs.messages[1].toStdString();
  EXPECT_TRUE(Values(path).empty());
}

TEST_F(TextExchange, ImportAppendsBesideAProgramThatHasTheTableOpen) {
  REQUIRE_SHARED();
  const std::string path = Sample();
  const std::string log = dir.File("hold.log");
  ASSERT_TRUE(HoldWithLegacy(path, log)) << ReadText(log);

  window->Start({QString::fromStdString(path)});
  WriteText(dir.Path() / "more.txt", "10;ten\n11;eleven\n");
  Import(dir.File("more.txt"), QStringLiteral(";"));
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  EXPECT_FALSE(Table().Exclusive());
  EXPECT_EQ(Table().RecordCount(), 5);
  AwaitLegacyExit(log);
  window->CloseDbf();
  EXPECT_EQ(Values(path).size(), 5u);
  ExpectIndexCurrent(path, dir.File("people.cdx"));
}

// The record bytes of `table` apart from memo block numbers.
std::vector<QByteArray> RecordBytes(const std::string& table) {
  std::string out;
  EXPECT_EQ(Cli("info " + Quote(table), &out), 0) << out;
  const QJsonObject info = JsonLines(out).at(0);
  const int header = info.value("header_length").toInt();
  const int length = info.value("record_length").toInt();
  const std::vector<uint8_t> bytes = ReadBytes(table);
  std::vector<QByteArray> records;
  for (int r = 0; r < info.value("records").toInt(); ++r) {
    QByteArray record(reinterpret_cast<const char*>(bytes.data()) + header + r * length, length);
    for (const QJsonValue f : info.value("fields").toArray())
      if (f.toObject().value("type").toString() == QLatin1String("M"))
        record.replace(f.toObject().value("offset").toInt(), f.toObject().value("length").toInt(),
                       QByteArray(f.toObject().value("length").toInt(), '#'));
    records.push_back(record);
  }
  return records;
}

class RoundTrip : public TextExchange, public ::testing::WithParamInterface<bool> {};

TEST_P(RoundTrip, ExportThenImportIntoTheStructureGivesTheSameBytes) {
  codepageOption.clear();
  const std::string path = Sample();
  window->Start({QString::fromStdString(path)});
  if (Page().DosChecked() != GetParam()) Page().ToggleDos();
  ASSERT_EQ(Table().TranslateASCII(), GetParam());
  Export(QStringLiteral("trip.txt"), QStringLiteral("TAB"));
  const std::string copy = OpenEmptyCopy();
  if (Page().DosChecked() != GetParam()) Page().ToggleDos();
  ASSERT_EQ(Table().TranslateASCII(), GetParam());
  Import(dir.File("trip.txt"), QStringLiteral("TAB"));
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  window->CloseDbf();
  EXPECT_EQ(RecordBytes(copy), RecordBytes(path));
  EXPECT_EQ(Values(copy), Values(path));
  ExpectIndexCurrent(copy, dir.File("empty.cdx"));
}

INSTANTIATE_TEST_SUITE_P(DosBox, RoundTrip, ::testing::Values(true, false));

using StructureListing = WindowTest;

TEST_F(StructureListing, ListsFieldsAndEveryTag) {
  Open(SampleTable());
  dialogs.inputs.push_back(QStringLiteral("Listing.txt"));
  window->CopyStructureToText();
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  const std::string text = ReadText(dir.Path() / "Listing.txt");  // the case is kept
  EXPECT_EQ(text,
            "Table Name   : sample.dbf\n"
            "-------Fields-------\n"
            "ID;N;6;0\nNAME;C;24;0\nCITY;C;16;0\nAMOUNT;N;10;2\nJOINED;D;8;0\nACTIVE;L;1;0\n"
            "NOTES;M;10;0\n"
            "\n"
            "-------Index-------\n"
            "Tag       : CITY\nExpression: CITY\nFilter    : \nUnique    : False\n"
            "Ascending : True\n\n"
            "Tag       : JOINED\nExpression: DTOS(JOINED)\nFilter    : \nUnique    : False\n"
            "Ascending : True\n\n"
            "Tag       : NAME\nExpression: UPPER(NAME)\nFilter    : \nUnique    : False\n"
            "Ascending : True\n\n");
}

TEST_F(StructureListing, WithoutIndexFilesItEndsAfterTheFields) {
  const std::string path = CopyTableFiles(SampleTable(), dir.Path());
  fs::remove(dir.Path() / "sample.cdx");
  window->Start({QString::fromStdString(path)});
  dialogs.inputs.push_back(QStringLiteral("plain"));
  window->CopyStructureToText();
  ASSERT_TRUE(AwaitWork());
  const std::string text = ReadText(dir.Path() / "plain");
  EXPECT_EQ(text.substr(0, 36), "Table Name   : sample.dbf\n-------Fie");
  EXPECT_TRUE(text.ends_with("NOTES;M;10;0\n\n")) << text;
  EXPECT_EQ(text.find("Index"), std::string::npos);
}

}  // namespace
}  // namespace fendral::test
