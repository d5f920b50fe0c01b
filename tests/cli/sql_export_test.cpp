// export --format sqlite and --format postgresql: every value read back from the database
// (Python's sqlite3 module, and psql on a throwaway server) equals `dump`'s.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_test_util.h"
#include "pg_server.h"

namespace fendral::test {
namespace {

const std::string kChecker = std::string(FENDRAL_CLI_TESTS_DIR) + "/check_sql.py";

// A FoxPro table with every kind of value, blanks, deleted records, a field named like a
// keyword and one named like the record-number column, and a production index of four
// tags: two become indexes, two (a function, a FOR condition) cannot.
std::string MakeTable(const TempDir& dir, const std::string& name = "people") {
  const std::string table = dir.File(name + ".dbf");
  const std::string create =
      "create " + Quote(table) +
      " --type foxpro --codepage CP1252 _RECNO:C:6 ORDER:N:20 AMOUNT:N:12:2 COUNT:N:5 "
      "RATE:F:10:3 BORN:D:8 OK:L:1 NOTE:M:10 PIC:G:10 CITY:C:12";
  EXPECT_EQ(RunCli(create), 0);
  const std::string rows =
      R"({"fields": {"_RECNO": "a\tb", "ORDER": 12345678901234567890, "AMOUNT": -12.50, "COUNT": 42, "RATE": 1.25, "BORN": "2024-02-29", "OK": true, "NOTE": "two\nlines \\ and ½", "PIC": "AAEC/w==", "CITY": "Zürich"}})"
      "\n"
      R"({"fields": {"OK": "?", "CITY": "oslo"}})"
      "\n"
      R"({"fields": {"_RECNO": "gone", "COUNT": -7, "OK": false, "CITY": "Bern"}})"
      "\n"
      R"({"fields": {"_RECNO": "d", "AMOUNT": 0.05, "BORN": "1900-01-01", "OK": false, "CITY": "athina"}})"
      "\n";
  WriteText(dir.File("rows.jsonl"), rows);
  EXPECT_EQ(RunCli("import " + Quote(table) + " " + Quote(dir.File("rows.jsonl"))), 0);
  EXPECT_EQ(RunCli("delete " + Quote(table) + " 3"), 0);
  const std::string cdx = dir.File(name + ".cdx");
  for (const char* tag :
       {"--tag BYCITY --key 'UPPER(CITY)'", "--tag BYBOTH --key 'CITY+_RECNO' --descending",
        "--tag BYYEAR --key 'DTOS(BORN)'", "--tag SOME --key CITY --for 'COUNT > 0'"})
    EXPECT_EQ(RunCli("index " + Quote(table) + " " + Quote(cdx) + " " + std::string(tag)), 0)
        << tag;
  return table;
}

std::string Dump(const TempDir& dir, const std::string& table, const std::string& options = "") {
  const std::string file = dir.File("dump.jsonl");
  std::string out;
  EXPECT_EQ(RunCli("dump " + Quote(table) + " " + options, &out), 0);
  WriteText(file, out);
  return file;
}

// Runs the checker; answers its report, which ends in "N rows, 0 differences" when equal.
std::string Check(const std::string& args) {
  std::string report;
  RunCommand("python3 " + Quote(kChecker) + " " + args + " 2>&1", &report);
  return report;
}

std::string Sqlite(const std::string& db, const std::string& sql) {
  std::string out;
  EXPECT_EQ(RunCommand("sqlite3 " + Quote(db) + " " + Quote(sql) + " 2>&1", &out), 0) << out;
  return out;
}

TEST(SqliteExport, TypedColumnsIndexesAndEveryValueAsDumpReadsIt) {
  TempDir dir;
  const std::string table = MakeTable(dir);
  const std::string db = dir.File("out.sqlite");
  std::string out, err;
  ASSERT_EQ(RunCli("export " + Quote(table) + " --format sqlite --to " + Quote(db), &out, &err), 0)
      << err;
  EXPECT_EQ(
      Sqlite(db, "SELECT group_concat(name || ' ' || type, ', ') FROM pragma_table_info('people')"),
      "_recno INTEGER, _recno_1 TEXT, order TEXT, amount TEXT, count INTEGER, rate REAL, "
      "born TEXT, ok INTEGER, note TEXT, pic BLOB, city TEXT\n");
  // A keyword is quoted where the table is created.
  EXPECT_NE(Sqlite(db, "SELECT sql FROM sqlite_master WHERE name = 'people'").find("\"order\""),
            std::string::npos);
  EXPECT_EQ(Sqlite(db,
                   "SELECT name || ': ' || sql FROM sqlite_master WHERE type = 'index' "
                   "ORDER BY name"),
            "people_byboth: CREATE INDEX people_byboth ON people (city DESC, _recno_1 DESC)\n"
            "people_bycity: CREATE INDEX people_bycity ON people (upper(city))\n");
  EXPECT_NE(err.find("skipped tag BYYEAR"), std::string::npos) << err;
  EXPECT_NE(err.find("skipped tag SOME: it has a FOR condition"), std::string::npos) << err;
  // Deleted records are left out; numbers keep their digits; blanks are NULL.
  EXPECT_EQ(Sqlite(db,
                   "SELECT _recno, quote(\"order\"), quote(amount), quote(count), "
                   "quote(rate), quote(born), quote(ok), quote(pic) FROM people"),
            "1|'12345678901234567890'|'-12.50'|42|1.25|'2024-02-29'|1|X'000102FF'\n"
            "2|NULL|NULL|NULL|NULL|NULL|NULL|NULL\n"
            "4|NULL|'0.05'|NULL|NULL|'1900-01-01'|0|NULL\n");
  const std::string dump = Dump(dir, table);
  const std::string report = Check("sqlite " + Quote(db) + " people " + Quote(dump));
  EXPECT_NE(report.find("3 rows, 0 differences"), std::string::npos) << report;
}

TEST(SqliteExport, DeletedRecordsOrderAndFilterAsAsked) {
  TempDir dir;
  const std::string table = MakeTable(dir);
  const std::string db = dir.File("out.sqlite");
  std::string err;
  ASSERT_EQ(
      RunCli("export " + Quote(table) +
                 " --format sqlite --with-deleted --tag BYCITY --filter \"CITY <> 'oslo'\" --to " +
                 Quote(db),
             nullptr, &err),
      0)
      << err;
  const std::string dump = Dump(
      dir, table,
      "--tag BYCITY --index " + Quote(dir.File("people.cdx")) + " --filter \"CITY <> 'oslo'\"");
  const std::string report =
      Check("sqlite " + Quote(db) + " people " + Quote(dump) + " --with-deleted --ordered");
  EXPECT_NE(report.find("3 rows, 0 differences"), std::string::npos) << report;
  EXPECT_EQ(Sqlite(db, "SELECT _recno, _deleted FROM people ORDER BY rowid"), "4|0\n3|1\n1|0\n");
}

TEST(SqliteExport, SeveralTablesIntoOneFileInOneTransaction) {
  TempDir dir;
  const std::string first = MakeTable(dir, "people");
  const std::string second = MakeTable(dir, "Select");
  const std::string db = dir.File("both.sqlite");
  std::string err;
  ASSERT_EQ(
      RunCli("export " + Quote(first) + " " + Quote(second) + " --format sqlite --to " + Quote(db),
             nullptr, &err),
      0)
      << err;
  EXPECT_EQ(Sqlite(db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"),
            "people\nselect\n");
  EXPECT_EQ(Sqlite(db, "SELECT count(*) FROM \"select\""), "3\n");
  // A table that is there already stops the export, and nothing of it stays.
  const auto before = ReadBytes(db);
  EXPECT_EQ(
      RunCli("export " + Quote(second) + " " + Quote(first) + " --format sqlite --to " + Quote(db),
             nullptr, &err),
      1);
  EXPECT_NE(err.find("already exists"), std::string::npos) << err;
  EXPECT_EQ(ReadBytes(db), before);
  // --drop replaces it; --schema-only leaves it empty; --table renames it.
  ASSERT_EQ(
      RunCli("export " + Quote(first) + " --format sqlite --drop --schema-only --to " + Quote(db)),
      0);
  EXPECT_EQ(Sqlite(db, "SELECT count(*) FROM people"), "0\n");
  ASSERT_EQ(
      RunCli("export " + Quote(first) + " --format sqlite --table 'Mixed Case' --to " + Quote(db)),
      0);
  EXPECT_EQ(Sqlite(db, "SELECT count(*) FROM \"Mixed Case\""), "3\n");
  // A failed export into a new file leaves no file behind.
  const std::string fresh = dir.File("fresh.sqlite");
  EXPECT_EQ(RunCli("export " + Quote(first) + " --format sqlite --filter 'NOSUCH > 1' --to " +
                   Quote(fresh)),
            1);
  EXPECT_FALSE(fs::exists(fresh));
  EXPECT_EQ(RunCli("export " + Quote(first) + " --format sqlite"), 64);
}

TEST(SqliteExport, PeerWrittenTablesAsDumpReadsThem) {
  REQUIRE_SHARED();
  TempDir dir;
  ASSERT_TRUE(MakePeerTables(dir, 7, 250));  // more rows than one INSERT statement takes
  int tables = 0;
  for (const auto& entry : fs::directory_iterator(dir.Path())) {
    if (entry.path().extension() != ".dbf") continue;
    SCOPED_TRACE(entry.path().string());
    const std::string name = entry.path().stem().string();
    const std::string db = dir.File(name + ".sqlite");
    std::string err;
    ASSERT_EQ(RunCli("export " + Quote(entry.path().string()) +
                         " --format sqlite --with-deleted --table t --to " + Quote(db),
                     nullptr, &err),
              0)
        << err;
    const std::string report =
        Check("sqlite " + Quote(db) + " t " + Quote(Dump(dir, entry.path().string())) +
              " --with-deleted --ordered");
    EXPECT_NE(report.find(" 0 differences"), std::string::npos) << report;
    ++tables;
  }
  EXPECT_GE(tables, 6);
}

// ---------------------------------------------------------------------------------------
// PostgreSQL: a server of our own, never the system's cluster; a missing server fails.

PgServer& Server() {
  PgServer& server = PgServer::Instance();
  EXPECT_TRUE(server.Started()) << server.Error();
  return server;
}

// The rows of `table` in `database` as row_to_json writes them, in record-number order.
std::string Rows(const TempDir& dir, const std::string& database, const std::string& table) {
  std::string out;
  EXPECT_EQ(
      Server().Psql(database,
                    "-At -c " + Quote("SELECT row_to_json(t) FROM " + table + " t ORDER BY _recno"),
                    &out),
      0)
      << out;
  const std::string file = dir.File(database + ".rows");
  WriteText(file, out);
  return file;
}

std::string Query(const std::string& database, const std::string& sql) {
  std::string out;
  EXPECT_EQ(Server().Psql(database, "-At -c " + Quote(sql), &out), 0) << out;
  return out;
}

TEST(PostgresExport, ScriptThroughPsqlAndDirectLoadHoldWhatDumpReads) {
  PgServer& server = Server();
  ASSERT_TRUE(server.Started()) << server.Error();
  TempDir dir;
  const std::string table = MakeTable(dir);
  const std::string dump = Dump(dir, table, "");
  for (const std::string db : {"script", "url", "conninfo"}) {
    std::string error;
    ASSERT_TRUE(server.CreateDatabase(db, &error)) << error;
  }
  std::string script, err;
  ASSERT_EQ(RunCli("export " + Quote(table) + " --format postgresql", &script, &err), 0) << err;
  WriteText(dir.File("load.sql"), script);
  std::string out;
  ASSERT_EQ(server.Psql("script", "-f " + Quote(dir.File("load.sql")), &out), 0) << out;
  ASSERT_EQ(
      RunCli("export " + Quote(table) + " --format postgresql --to " + Quote(server.Url("url")),
             nullptr, &err),
      0)
      << err;
  EXPECT_NE(err.find("skipped tag BYYEAR"), std::string::npos) << err;
  ASSERT_EQ(RunCli("export " + Quote(table) + " --format postgresql --to " +
                       Quote(server.ConnInfo("conninfo")),
                   nullptr, &err),
            0)
      << err;
  for (const std::string db : {"script", "url", "conninfo"}) {
    SCOPED_TRACE(db);
    const std::string report = Check("rows " + Quote(Rows(dir, db, "people")) + " " + Quote(dump));
    EXPECT_NE(report.find("3 rows, 0 differences"), std::string::npos) << report;
    EXPECT_EQ(Query(db,
                    "SELECT string_agg(column_name || ' ' || "
                    "format_type(atttypid, atttypmod), ', ' ORDER BY attnum) "
                    "FROM information_schema.columns c JOIN pg_attribute a ON "
                    "a.attrelid = 'people'::regclass AND a.attname = c.column_name "
                    "WHERE c.table_name = 'people'"),
              "_recno integer, _recno_1 character varying(6), order numeric(20,0), amount "
              "numeric(12,2), count numeric(5,0), rate numeric(10,3), born date, ok boolean, "
              "note text, pic bytea, city character varying(12)\n");
    EXPECT_EQ(Query(db,
                    "SELECT indexdef FROM pg_indexes WHERE tablename = 'people' "
                    "ORDER BY indexname"),
              "CREATE INDEX people_byboth ON public.people USING btree (city DESC, _recno_1 "
              "DESC)\nCREATE INDEX people_bycity ON public.people USING btree "
              "(upper((city)::text))\n");
    EXPECT_EQ(Query(db, "SELECT \"order\", amount, note FROM people WHERE _recno = 1"),
              "12345678901234567890|-12.50|two\nlines \\ and ½\n");
  }
}

TEST(PostgresExport, DeletedRecordsSeveralTablesDropAndSchemaOnly) {
  PgServer& server = Server();
  ASSERT_TRUE(server.Started()) << server.Error();
  TempDir dir;
  const std::string first = MakeTable(dir, "people");
  const std::string second = MakeTable(dir, "Select");
  std::string error, err;
  ASSERT_TRUE(server.CreateDatabase("two", &error)) << error;
  const std::string url = server.Url("two");
  ASSERT_EQ(RunCli("export " + Quote(first) + " " + Quote(second) +
                       " --format postgresql --with-deleted --to " + Quote(url),
                   nullptr, &err),
            0)
      << err;
  const std::string report = Check("rows " + Quote(Rows(dir, "two", "\"select\"")) + " " +
                                   Quote(Dump(dir, second)) + " --with-deleted");
  EXPECT_NE(report.find("4 rows, 0 differences"), std::string::npos) << report;
  EXPECT_EQ(Query("two", "SELECT _recno, _deleted FROM people ORDER BY _recno"),
            "1|f\n2|f\n3|t\n4|f\n");

  // Without --drop the existing table stops the load: nothing of it is kept, not even the
  // table before it in the same command.
  EXPECT_EQ(
      RunCli("export " + Quote(first) + " --table fresh --format postgresql --to " + Quote(url)),
      0);
  EXPECT_EQ(RunCli("export " + Quote(second) + " " + Quote(first) + " --format postgresql --to " +
                       Quote(url),
                   nullptr, &err),
            1);
  EXPECT_NE(err.find("already exists"), std::string::npos) << err;
  EXPECT_EQ(Query("two", "SELECT count(*) FROM \"select\""), "4\n");
  // --drop replaces it; --schema-only leaves it empty.
  ASSERT_EQ(RunCli("export " + Quote(second) + " --format postgresql --drop --schema-only --to " +
                       Quote(url),
                   nullptr, &err),
            0)
      << err;
  EXPECT_EQ(Query("two", "SELECT count(*) FROM \"select\""), "0\n");
  // A server that is not there is an error, not a silent success.
  EXPECT_EQ(RunCli("export " + Quote(first) + " --format postgresql --to " +
                       Quote("host=" + dir.Path().string() + " user=postgres dbname=two"),
                   nullptr, &err),
            1);
  EXPECT_NE(err.find("cannot connect"), std::string::npos) << err;
  EXPECT_EQ(RunCli("export " + Quote(first) + " --format postgresql --to out.sql"), 64);
}

// Values PostgreSQL cannot hold (a date that is not one, text with a zero byte inside)
// become NULL with a warning and exit status 2, as dump does with damaged values; zero bytes
// that pad a text are dropped. SQLite keeps what dump shows.
TEST(PostgresExport, ValuesTheServerCannotTakeAreNullWithAWarning) {
  PgServer& server = Server();
  ASSERT_TRUE(server.Started()) << server.Error();
  TempDir dir;
  const std::string table = dir.File("odd.dbf");
  ASSERT_EQ(RunCli("create " + Quote(table) + " --type dbase3 DAY:D:8 NAME:C:6"), 0);
  WriteText(dir.File("rows.jsonl"), R"({"fields": {"DAY": "2024-02-29", "NAME": "abcdef"}})"
                                    "\n"
                                    R"({"fields": {"DAY": "2024-03-01", "NAME": "uvwxyz"}})"
                                    "\n");
  ASSERT_EQ(RunCli("import " + Quote(table) + " " + Quote(dir.File("rows.jsonl"))), 0);
  std::vector<uint8_t> bytes = ReadBytes(table);
  const std::string text(bytes.begin(), bytes.end());
  const size_t day = text.find("20240229");
  const size_t inner = text.find("abcdef");
  const size_t padded = text.find("uvwxyz");
  ASSERT_NE(day, std::string::npos);
  for (size_t i = 0; i < 8; ++i) bytes[day + i] = static_cast<uint8_t>("20231340"[i]);
  bytes[inner + 2] = 0;
  bytes[padded + 3] = bytes[padded + 4] = bytes[padded + 5] = 0;
  WriteBytes(table, bytes);

  std::string error, err;
  ASSERT_TRUE(server.CreateDatabase("odd", &error)) << error;
  EXPECT_EQ(RunCli("export " + Quote(table) + " --format postgresql --to " +
                       Quote(server.ConnInfo("odd")),
                   nullptr, &err),
            2);
  EXPECT_NE(err.find("record 1 field day: 2023-13-40 is not a date; written as null"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("record 1 field name: the text holds a zero byte"), std::string::npos) << err;
  EXPECT_EQ(Query("odd",
                  "SELECT _recno, coalesce(day::text, 'NULL'), coalesce(name, 'NULL') "
                  "FROM odd ORDER BY _recno"),
            "1|NULL|NULL\n2|2024-03-01|uvw\n");
  const std::string db = dir.File("odd.sqlite");
  ASSERT_EQ(RunCli("export " + Quote(table) + " --format sqlite --to " + Quote(db)), 0);
  EXPECT_EQ(Sqlite(db, "SELECT day, hex(name) FROM odd ORDER BY _recno"),
            "2023-13-40|616200646566\n2024-03-01|757677000000\n");
}

TEST(PostgresExport, PeerWrittenTablesAsDumpReadsThem) {
  REQUIRE_SHARED();
  PgServer& server = Server();
  ASSERT_TRUE(server.Started()) << server.Error();
  TempDir dir;
  ASSERT_TRUE(MakePeerTables(dir, 11, 40));
  std::string error;
  ASSERT_TRUE(server.CreateDatabase("peers", &error)) << error;
  int tables = 0;
  for (const auto& entry : fs::directory_iterator(dir.Path())) {
    if (entry.path().extension() != ".dbf") continue;
    SCOPED_TRACE(entry.path().string());
    const std::string name = entry.path().stem().string();
    std::string err;
    ASSERT_EQ(RunCli("export " + Quote(entry.path().string()) +
                         " --format postgresql --with-deleted --table t_" + name + " --to " +
                         Quote(server.Url("peers")),
                     nullptr, &err),
              0)
        << err;
    const std::string report = Check("rows " + Quote(Rows(dir, "peers", "t_" + name)) + " " +
                                     Quote(Dump(dir, entry.path().string())) + " --with-deleted");
    EXPECT_NE(report.find(" 0 differences"), std::string::npos) << report;
    ++tables;
  }
  EXPECT_GE(tables, 6);
}

}  // namespace
}  // namespace fendral::test
