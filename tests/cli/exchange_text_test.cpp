// export --format csv|jsonl, import --format csv and create --from-schema: the formats,
// values that need quoting, refused files that leave the table as it was, order and filter.
#include <gtest/gtest.h>

#include <string>

#include "cli_test_util.h"

namespace fendral::test {
namespace {

class Exchange : public ::testing::Test {
 protected:
  std::string File(const std::string& name) { return dir_.File(name); }
  std::string Write(const std::string& name, const std::string& text) {
    WriteText(File(name), text);
    return File(name);
  }
  // Runs fendral-cli; the exit status must be `status`. Answers standard output.
  std::string Cli(const std::string& args, int status = 0) {
    std::string out, err;
    EXPECT_EQ(RunCli(args, &out, &err), status) << args << "\n" << err;
    last_error_ = err;
    return out;
  }
  std::string Dump(const std::string& table, const std::string& extra = "") {
    return Cli("dump " + Quote(table) + " " + extra);
  }
  // A FoxPro table in CP1251 whose values need everything CSV has: the delimiter, quotes,
  // line ends inside values, text outside ASCII, memo text, a binary memo, blanks, a "?"
  // logical and a deleted record.
  std::string AwkwardTable() {
    const std::string table = File("awk.dbf");
    Cli("create " + Quote(table) +
        " --type foxpro --codepage CP1251 NAME:C:20 AMT:N:9:2 BORN:D:8 OK:L:1 NOTE:M:10 "
        "PIC:G:10");
    const std::string lines =
        "{\"fields\": {\"NAME\": \"Иванов, \\\"Ваня\\\"\", \"AMT\": -1234.5, \"BORN\": "
        "\"1999-12-31\", \"OK\": true, \"NOTE\": \"line one\\r\\nline two; and \\\"more\\\"\","
        " \"PIC\": \"AAEC/w==\"}}\n"
        "{\"deleted\": true, \"fields\": {\"NAME\": \" lead\", \"OK\": \"?\"}}\n"
        "{\"fields\": {\"NAME\": \"plain\", \"AMT\": 0.05, \"OK\": false, \"NOTE\": \"\\n\"}}\n";
    Cli("import " + Quote(table) + " " + Quote(Write("awk.jsonl", lines)));
    return table;
  }

  TempDir dir_;
  std::string last_error_;
};

TEST_F(Exchange, CsvQuotesWhatNeedsItAndWritesIsoDatesLogicalsAndPointNumbers) {
  const std::string table = AwkwardTable();
  EXPECT_EQ(Cli("export " + Quote(table) + " --format csv"),
            "NAME,AMT,BORN,OK,NOTE,PIC\r\n"
            "\"Иванов, \"\"Ваня\"\"\",-1234.50,1999-12-31,true,\"line one\r\nline two; and "
            "\"\"more\"\"\",AAEC/w==\r\n"
            "plain,0.05,,false,\"\n\",\r\n");
  // --with-deleted adds the column and the record; --lf, --no-header and --delimiter.
  EXPECT_EQ(Cli("export " + Quote(table) +
                " --format csv --with-deleted --lf --no-header --delimiter ';'"),
            "\"Иванов, \"\"Ваня\"\"\";-1234.50;1999-12-31;true;\"line one\r\nline two; and "
            "\"\"more\"\"\";AAEC/w==;false\n"
            "\" lead\";;;;;;true\n"
            "plain;0.05;;false;\"\n\";;false\n");
  // The file's character set: CP1251 bytes, not UTF-8.
  const std::string cp1251 = Cli("export " + Quote(table) + " --format csv --encoding CP1251");
  EXPECT_NE(cp1251.find("\xC8\xE2\xE0\xED\xEE\xE2"), std::string::npos);
  Cli("export " + Quote(table) + " --format csv --encoding ISO-8859-1", 1);
  EXPECT_NE(last_error_.find("cannot hold"), std::string::npos) << last_error_;
}

TEST_F(Exchange, CsvRoundTripsEveryValueAlsoUnderADecimalCommaLocale) {
  const std::string table = AwkwardTable();
  const std::string schema = File("awk.schema.json");
  Cli("export " + Quote(table) + " --format jsonl --schema " + Quote(schema));
  int n = 0;
  for (const std::string delimiter : {",", ";", "tab"}) {
    SCOPED_TRACE(delimiter);
    const std::string copy = File("copy" + std::to_string(++n) + ".dbf");
    Cli("create " + Quote(copy) + " --from-schema " + Quote(schema));
    const std::string text = Cli("export " + Quote(table) +
                                 " --format csv --with-deleted --delimiter " + Quote(delimiter));
    Write("in.csv", text);
    // Numbers are read and written with a point whatever the locale says.
    std::string err;
    EXPECT_EQ(RunCommand("LC_ALL=de_DE.UTF-8 LANG=de_DE.UTF-8 " + Quote(FENDRAL_CLI) + " import " +
                             Quote(copy) + " " + Quote(File("in.csv")) +
                             " --format csv --delimiter " + Quote(delimiter) + " 2>&1",
                         &err),
              0)
        << err;
    EXPECT_EQ(Dump(copy), Dump(table));
    std::string again;
    RunCommand("LC_ALL=de_DE.UTF-8 " + Quote(FENDRAL_CLI) + " export " + Quote(copy) +
                   " --format csv --with-deleted --delimiter " + Quote(delimiter),
               &again);
    EXPECT_EQ(again, text);
  }
}

TEST_F(Exchange, CsvInCp866TablesAndByteOrderMarksAndBothLineEnds) {
  const std::string table = File("dos.dbf");
  Cli("create " + Quote(table) + " --type dbase3 --codepage CP866 NAME:C:10 QTY:N:5:0");
  // A byte-order mark, LF and CRLF rows, a lone quoted CRLF, columns in another order and
  // in other case, one column left out.
  Write("bom.csv",
        "\xEF\xBB\xBFqty,name\n"
        "7,Жук\r\n"
        "\"8\",\"ёлка\"\n"
        ",\n");
  Cli("import " + Quote(table) + " " + Quote(File("bom.csv")) + " --format csv");
  EXPECT_EQ(Dump(table),
            "{\"recno\": 1, \"deleted\": false, \"fields\": {\"NAME\": \"Жук\", \"QTY\": 7}}\n"
            "{\"recno\": 2, \"deleted\": false, \"fields\": {\"NAME\": \"ёлка\", \"QTY\": 8}}\n"
            "{\"recno\": 3, \"deleted\": false, \"fields\": {\"NAME\": \"\", \"QTY\": null}}\n");
  // The table's bytes are CP866: Ж is 0x86.
  EXPECT_NE(ReadText(table).find("\x86\xE3\xAA"), std::string::npos);
  Write("cp.csv", "NAME\r\n\x86\xE3\xAA\r\n");
  Cli("import " + Quote(table) + " " + Quote(File("cp.csv")) + " --format csv --encoding CP866");
  EXPECT_NE(Dump(table).find("{\"recno\": 4, \"deleted\": false, \"fields\": {\"NAME\": \"Жук\""),
            std::string::npos);
}

TEST_F(Exchange, ARefusedFileAppendsNothingAndNamesLineColumnAndField) {
  const std::string table = File("keep.dbf");
  Cli("create " + Quote(table) + " --type foxpro NAME:C:8 AMT:N:6:2 NOTE:M:10");
  Cli("index " + Quote(table) + " " + Quote(File("keep.cdx")) + " --tag NAMES --key NAME");
  Cli("import " + Quote(table) + " " +
      Quote(Write("one.jsonl", "{\"fields\": {\"NAME\": \"first\", \"NOTE\": \"memo\"}}\n")));
  const auto dbf = ReadBytes(table), fpt = ReadBytes(File("keep.fpt")),
             cdx = ReadBytes(File("keep.cdx"));
  auto unchanged = [&] {
    EXPECT_EQ(ReadBytes(table), dbf);
    EXPECT_EQ(ReadBytes(File("keep.fpt")), fpt);
    EXPECT_EQ(ReadBytes(File("keep.cdx")), cdx);
  };
  // The bad value sits on line 4: the memo before it spans two lines.
  Write("bad.csv",
        "NAME,AMT,NOTE\r\n"
        "ok,1.5,\"a memo\r\nover two lines\"\r\n"
        "bad,12345.678,x\r\n");
  Cli("import " + Quote(table) + " " + Quote(File("bad.csv")) + " --format csv", 1);
  EXPECT_EQ(last_error_,
            "line 4, column 2 (AMT): Field 'AMT' cannot hold \"12345.678\": Number too large to "
            "fit in field - 12345.68 - AMT\n");
  unchanged();
  for (const auto& [text, message] : std::vector<std::pair<std::string, std::string>>{
           {"NAME,AMT\nok,1\nx,1.2.3\n",
            "line 3, column 2 (AMT): Field 'AMT' cannot hold \"1.2.3\": not a number"},
           {"NAME,WHO,AMT,WHAT\nx,1,2,3\n",
            "line 1: the table has no field for the columns WHO, WHAT"},
           {"NAME,AMT\nok,1\ntoo,many,values\n", "line 3: 3 values, the header names 2 columns"},
           {"NAME\n\"open\n", "line 2, column 1: a quoted value is not closed"},
           {"NAME\na\"b\n",
            "line 2, column 1: a quote inside a value that does not start with one"},
           {"NAME,_deleted\nx,maybe\n",
            "line 2, column 2 (_deleted): \"maybe\" is not true or false"},
           {"NAME\nlonger than eight\n",
            "line 2, column 1 (NAME): Field 'NAME' cannot hold \"longer than eight\": longer than "
            "the field's 8 characters"}}) {
    SCOPED_TRACE(text);
    Cli("import " + Quote(table) + " " + Quote(Write("bad2.csv", text)) + " --format csv", 1);
    EXPECT_EQ(last_error_, message + "\n");
    unchanged();
  }
  // JSON Lines too: the good lines before the refused one are not appended.
  Cli("import " + Quote(table) + " " +
          Quote(Write("bad.jsonl",
                      "{\"fields\": {\"NAME\": \"a\", \"NOTE\": \"new memo\"}}\n"
                      "{\"fields\": {\"AMT\": \"x\"}}\n")),
      1);
  EXPECT_EQ(last_error_.rfind("line 2: Field 'AMT' cannot hold \"x\"", 0), 0u) << last_error_;
  unchanged();
  // A good file appends, and the index follows.
  Write("good.csv", "name,_deleted\r\nzed,false\r\nabc,true\r\n");
  Cli("import " + Quote(table) + " " + Quote(File("good.csv")) + " --format csv");
  EXPECT_EQ(Cli("export " + Quote(table) + " --format csv --with-deleted --index " +
                Quote(File("keep.cdx")) + " --tag NAMES"),
            "NAME,AMT,NOTE,_deleted\r\nabc,,,true\r\nfirst,,memo,false\r\nzed,,,false\r\n");
}

TEST_F(Exchange, ExportFollowsTheOrderAndFilterAndLeavesDeletedRecordsOut) {
  const std::string table = File("ord.dbf");
  Cli("create " + Quote(table) + " --type dbase3 NAME:C:6 N:N:3:0");
  Cli("import " + Quote(table) + " " +
      Quote(Write("r.jsonl",
                  "{\"fields\": {\"NAME\": \"c\", \"N\": 1}}\n"
                  "{\"fields\": {\"NAME\": \"a\", \"N\": 2}}\n"
                  "{\"deleted\": true, \"fields\": {\"NAME\": \"b\", \"N\": 3}}\n"
                  "{\"fields\": {\"NAME\": \"d\", \"N\": 4}}\n")));
  Cli("index " + Quote(table) + " " + Quote(File("ord.ntx")) + " --key NAME");
  const std::string order = " --index " + Quote(File("ord.ntx")) + " --filter 'N > 1'";
  EXPECT_EQ(Cli("export " + Quote(table) + " --format csv --lf" + order), "NAME,N\na,2\nd,4\n");
  EXPECT_EQ(Cli("export " + Quote(table) + " --format csv --lf --with-deleted" + order),
            "NAME,N,_deleted\na,2,false\nb,3,true\nd,4,false\n");
  EXPECT_EQ(Cli("export " + Quote(table) + " --format jsonl" + order),
            "{\"recno\": 2, \"fields\": {\"NAME\": \"a\", \"N\": 2}}\n"
            "{\"recno\": 4, \"fields\": {\"NAME\": \"d\", \"N\": 4}}\n");
  EXPECT_EQ(Cli("export " + Quote(table) + " --format jsonl --with-deleted" + order),
            Dump(table, order));
}

TEST_F(Exchange, TheSchemaRebuildsHeaderFieldsMemoAndIndexes) {
  const std::string table = AwkwardTable();
  Cli("index " + Quote(table) + " " + Quote(File("awk.cdx")) +
      " --tag BYNAME --key 'UPPER(NAME)' --for '!DELETED()'");
  Cli("index " + Quote(table) + " " + Quote(File("awk.cdx")) +
      " --tag BYAMT --key AMT --descending --unique");
  Cli("index " + Quote(table) + " " + Quote(File("born.ndx")) + " --key BORN");
  const std::string lines =
      Cli("export " + Quote(table) + " --format jsonl --with-deleted --schema " +
          Quote(File("s.json")) + " --index " + Quote(File("born.ndx")));
  const std::string schema = ReadText(File("s.json"));
  EXPECT_NE(schema.find("\"version\": 245"), std::string::npos) << schema;
  EXPECT_NE(schema.find("\"language_mark\": 201"), std::string::npos);
  EXPECT_NE(schema.find("\"memo_block_size\": 64"), std::string::npos);
  EXPECT_NE(schema.find("{\"name\": \"AMT\", \"type\": \"N\", \"width\": 9, \"decimals\": 2, "
                        "\"flags\": 0}"),
            std::string::npos);
  EXPECT_NE(schema.find("{\"name\": \"BYAMT\", \"expression\": \"AMT\", \"for\": \"\", "
                        "\"unique\": true, \"descending\": true}"),
            std::string::npos);
  EXPECT_NE(schema.find("{\"file\": \"born.ndx\", \"production\": false"), std::string::npos);

  TempDir other;
  const std::string copy = other.File("awk.dbf");
  Cli("create " + Quote(copy) + " --from-schema " + Quote(File("s.json")));
  Write("s.jsonl", lines);
  Cli("import " + Quote(copy) + " " + Quote(File("s.jsonl")) + " --index " +
      Quote(other.File("born.ndx")));
  EXPECT_EQ(Dump(copy), Dump(table));
  // Header bytes 0 (version) and 29 (language mark), and the field descriptors.
  const auto a = ReadBytes(table), b = ReadBytes(copy);
  ASSERT_GT(a.size(), 32u + 6 * 32);
  ASSERT_GT(b.size(), 32u + 6 * 32);
  EXPECT_EQ(a[0], b[0]);
  EXPECT_EQ(a[29], b[29]);
  EXPECT_EQ(std::vector<uint8_t>(a.begin() + 32, a.begin() + 32 + 6 * 32),
            std::vector<uint8_t>(b.begin() + 32, b.begin() + 32 + 6 * 32));
  EXPECT_EQ(Cli("tags " + Quote(copy) + " " + Quote(other.File("awk.cdx"))),
            Cli("tags " + Quote(table) + " " + Quote(File("awk.cdx"))));
  for (const std::string tag : {"BYNAME", "BYAMT"}) {
    EXPECT_EQ(Dump(copy, "--index " + Quote(other.File("awk.cdx")) + " --tag " + tag),
              Dump(table, "--index " + Quote(File("awk.cdx")) + " --tag " + tag))
        << tag;
  }
  EXPECT_EQ(Dump(copy, "--index " + Quote(other.File("born.ndx"))),
            Dump(table, "--index " + Quote(File("born.ndx"))));
  // An index file of that name beside the new table is not replaced.
  Cli("create " + Quote(other.File("again.dbf")) + " --from-schema " + Quote(File("s.json")), 1);
  EXPECT_NE(last_error_.find("born.ndx exists already"), std::string::npos) << last_error_;
}

void ExpectFixtureCheckPasses(const std::string& mode) {
  REQUIRE_SHARED();
  TempDir work;
  std::string report;
  const int status =
      RunCommand("python3 " + Quote(std::string(FENDRAL_CLI_TESTS_DIR) + "/check_exchange.py") +
                     " " + mode + " " + Quote(FENDRAL_CLI) + " " + Quote(SharedDir().string()) +
                     " " + Quote(work.Path().string()) + " 2>&1",
                 &report);
  EXPECT_EQ(status, 0) << report;
  EXPECT_NE(report.find(", 0 differences"), std::string::npos) << report;
}

TEST(ExchangeFixtures, EveryFixtureTableRebuildsFromItsSchema) {
  ExpectFixtureCheckPasses("schema");
}

TEST(ExchangeFixtures, PythonsCsvModuleReadsOurCsvAsTheDumpAndItImportsBack) {
  ExpectFixtureCheckPasses("csv");
}

}  // namespace
}  // namespace fendral::test
