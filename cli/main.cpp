// fendral-cli: the table engine from the command line, for scripts and tests.
// Exit codes: 0 success, 1 engine error (message on standard error), 2 dump met damaged
// values, verify found faults or repair left some unmended, 3 search found nothing, 64
// usage error.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "cli_common.h"
#include "fendral_version.h"
#include "kx6_eror.h"

namespace {

// One option of a command: `argument` names its value, empty for a flag.
struct OptionHelp {
  const char* name;
  const char* argument;
  const char* text;
};

const OptionHelp kEncoding{"--encoding", "NAME",
                           "code page of the table's text (an iconv name); default: the "
                           "table's language mark, else CP437"};
const OptionHelp kLockProtocol{"--lock-protocol", "auto|default|dbase4|clipper|foxpro",
                               "byte-range locks taken to share the table (default auto)"};
const OptionHelp kIndex{"--index", "FILE",
                        "also open this index file (NDX, NTX, CDX, MDX); repeatable"};
const OptionHelp kTag{"--tag", "NAME", "the order (tag) to use"};
const OptionHelp kFilter{"--filter", "EXPR", "only the records for which EXPR is true"};
const OptionHelp kDelimiter{"--delimiter", "C", "csv: the character between values (default ,)"};
const OptionHelp kTableEncoding{"--table-encoding", "NAME",
                                "code page of the table's text when --encoding names the "
                                "file's; default: the table's language mark, else CP437"};
const OptionHelp kHideDeleted{"--hide-deleted", "", "leave out the records marked deleted"};

struct Command {
  const char* name;
  fendral::cli::CommandFn run;
  const char* synopsis;  // the arguments after the command's name
  const char* summary;
  std::vector<OptionHelp> options;
};

const std::vector<Command>& Commands() {
  using namespace fendral::cli;
  static const std::vector<Command> commands = {
      {"info",
       &CmdInfo,
       "TABLE",
       "Print the table's header facts as one JSON object.",
       {kEncoding, kLockProtocol}},
      {"dump",
       &CmdDump,
       "TABLE",
       "Print every record as a JSON line (exit 2: damaged values).",
       {kEncoding, kIndex, kTag, kFilter, kHideDeleted, kLockProtocol}},
      {"eval",
       &CmdEval,
       "TABLE EXPR",
       "Print the value of the xBase expression EXPR for every record.",
       {kEncoding, kLockProtocol}},
      {"create",
       &CmdCreate,
       "TABLE --type TYPE NAME:TYPE:LEN[:DEC]...",
       "Create an empty table with the given fields.",
       {{"--type", "dbase3|dbase4|foxpro|clipper", "the table's format (required)"},
        {"--block-size", "N", "the memo file's block size"},
        {"--codepage", "MARK|NAME",
         "language mark to write: a byte in hexadecimal (0x03) or a code page (CP1252)"},
        {"--from-schema", "FILE",
         "make the table that export --schema described (instead of --type and fields)"}}},
      {"index",
       &CmdIndex,
       "TABLE INDEXFILE --key EXPR",
       "Build an index file, or a CDX or MDX tag, on a key expression.",
       {kTag,
        {"--key", "EXPR", "the key expression (required)"},
        {"--for", "EXPR", "index only the records for which EXPR is true"},
        {"--unique", "", "keep one key of each value"},
        {"--descending", "", "order the keys from the highest down"},
        kEncoding,
        kLockProtocol}},
      {"keys",
       &CmdKeys,
       "TABLE INDEXFILE",
       "Print an order's keys and record numbers, or look values up.",
       {kTag,
        {"--seek", "VALUE", "look VALUE up instead of listing the keys; repeatable"},
        kEncoding,
        kLockProtocol}},
      {"tags",
       &CmdTags,
       "TABLE INDEXFILE",
       "Print the tags of an index file, one JSON line each.",
       {kEncoding, kLockProtocol}},
      {"import",
       &CmdImport,
       "TABLE FILE",
       "Append the records of FILE (JSON Lines as dump writes, or CSV); nothing when a "
       "record is refused.",
       {{"--format", "jsonl|csv", "the file's format (default jsonl)"},
        {"--encoding", "NAME",
         "jsonl: code page of the table's text; csv: the file's character set (default "
         "UTF-8)"},
        kDelimiter,
        kTableEncoding,
        kIndex,
        kLockProtocol}},
      {"pack",
       &CmdPack,
       "TABLE",
       "Remove the records marked deleted (needs the table to itself).",
       {kIndex, kLockProtocol}},
      {"zap",
       &CmdZap,
       "TABLE",
       "Remove every record (needs the table to itself).",
       {kIndex, kLockProtocol}},
      {"reindex",
       &CmdReindex,
       "TABLE INDEXFILE...",
       "Rebuild the named index files (needs the table to itself).",
       {kIndex, kLockProtocol}},
      {"copy",
       &CmdCopy,
       "TABLE NEWTABLE",
       "Copy the records, in order and filtered, to a new table.",
       {kIndex, kTag, kFilter, kHideDeleted, kLockProtocol}},
      {"copy-structure",
       &CmdCopyStructure,
       "TABLE NEWTABLE",
       "Create an empty table with the fields of TABLE.",
       {kLockProtocol}},
      {"rename",
       &CmdRename,
       "TABLE NEWNAME",
       "Rename the table, its memo and production index (alone).",
       {kIndex, kLockProtocol}},
      {"search",
       &CmdSearch,
       "TABLE TEXT",
       "Print the first record holding TEXT (exit 3: none does).",
       {{"--field", "N", "search field N only (default 0: every field)"},
        {"--options", "BITS",
         "sum of 1 ignore case, 2 whole value, 4 wildcards * and ?, 16 keep the order, "
         "32 from the value's start"},
        kEncoding,
        kIndex,
        kTag,
        kHideDeleted,
        kLockProtocol}},
      {"delete",
       &CmdDelete,
       "TABLE RECNO...",
       "Mark the records deleted.",
       {kIndex, kLockProtocol}},
      {"recall",
       &CmdRecall,
       "TABLE RECNO...",
       "Remove the deletion mark of the records.",
       {kIndex, kLockProtocol}},
      {"replace",
       &CmdReplace,
       "TABLE RECNO FIELD=VALUE...",
       "Write values into the fields of a record.",
       {kIndex, kEncoding, kLockProtocol}},
      {"export",
       &CmdExport,
       "TABLE... --format FORMAT",
       "Write the records as CSV, JSON Lines, an SQLite file or for PostgreSQL.",
       {{"--format", "csv|jsonl|sqlite|postgresql", "the format to write (required)"},
        kDelimiter,
        {"--no-header", "", "csv: leave out the row of field names"},
        {"--lf", "", "csv: end rows with LF alone (default CRLF)"},
        {"--with-deleted", "", "also the records marked deleted, with a _deleted column (jsonl: its deleted member)"},
        {"--schema", "FILE", "jsonl: also write the table's make-up to FILE as JSON"},
        kTableEncoding,
        {"--encoding", "NAME",
         "csv: the file's character set (default UTF-8); others: code page of the table's "
         "text"},
        kIndex,
        kTag,
        kFilter,
        kLockProtocol,
        {"--to", "FILE|URL",
         "sqlite: the database file (created when missing); postgresql: a postgresql:// URL "
         "or key=value connection string to load into instead of writing a script"},
        {"--table", "NAME", "sqlite, postgresql: the SQL table's name (default: the file's name)"},
        {"--schema-only", "", "sqlite, postgresql: create the tables and indexes, no rows"},
        {"--drop", "", "sqlite, postgresql: drop a table of the same name first"}}},
      {"verify",
       &CmdVerify,
       "TABLE",
       "Check the table, its memo and index files; one JSON line per finding (exit 2: "
       "findings).",
       {kIndex, {"--deep", "", "also check every value and delete mark"}, kEncoding,
        kLockProtocol}},
      {"repair",
       &CmdRepair,
       "TABLE",
       "Mend what verify finds (needs the table to itself); originals are kept.",
       {kIndex,
        {"--dry-run", "", "only list what would change"},
        {"--compact-memo", "", "also rewrite the memo file without unused blocks"},
        {"--index-expr", "TAG=EXPR",
         "the key expression of a tag whose index file cannot be read; repeatable"},
        kEncoding,
        kLockProtocol}},
  };
  return commands;
}

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

void PrintUsage(std::FILE* out) {
  std::fprintf(out,
               "usage: fendral-cli COMMAND ARGS... [OPTIONS]\n"
               "       fendral-cli COMMAND --help\n"
               "       fendral-cli --help | --version\n\n"
               "The table engine of Fendral from the command line. Commands:\n");
  for (const auto& c : Commands()) std::fprintf(out, "  %-15s %s\n", c.name, c.summary);
  std::fprintf(out,
               "\nExit status: 0 success; 1 an error (the engine's message on standard "
               "error);\n2 dump met damaged values, verify found faults, repair left faults;\n"
               "3 search found nothing; 64 a command line it cannot run.\n");
}

void PrintCommandHelp(const Command& c) {
  std::printf("usage: fendral-cli %s %s [OPTIONS]\n\n%s\n", c.name, c.synopsis, c.summary);
  if (!c.options.empty()) std::printf("\nOptions:\n");
  for (const auto& o : c.options) {
    std::string head = o.name;
    if (*o.argument) head += std::string(" ") + o.argument;
    std::printf("  %s\n      %s\n", head.c_str(), o.text);
  }
}

// Engine messages may carry a carriage return; keep the report on one line.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return text;
}

int RunCommand(const Command& command, const std::vector<std::string>& rest) {
  for (const auto& arg : rest) {
    if (arg == "--") break;
    if (IsHelp(arg)) {
      PrintCommandHelp(command);
      return 0;
    }
  }
  std::vector<std::string> valued, flags;
  for (const auto& o : command.options) (*o.argument ? valued : flags).push_back(o.name);
  try {
    return command.run(fendral::cli::ParseArguments(rest, valued, flags));
  } catch (const fendral::cli::UsageError& e) {
    std::fprintf(stderr, "fendral-cli %s: %s\n", command.name, e.message.c_str());
    return 64;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", OneLine(e.what()).c_str());
    return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return 64;
  }
  const std::string name = argv[1];
  if (IsHelp(name)) {
    PrintUsage(stdout);
    return 0;
  }
  if (name == "--version") {
    std::printf("fendral-cli %s\n", FENDRAL_VERSION);
    return 0;
  }
  for (const auto& command : Commands()) {
    if (name == command.name) return RunCommand(command, {argv + 2, argv + argc});
  }
  if (name.size() > 1 && name[0] == '-')
    std::fprintf(stderr, "fendral-cli: unknown option %s\n", name.c_str());
  else
    std::fprintf(stderr, "fendral-cli: unknown command %s\n", name.c_str());
  PrintUsage(stderr);
  return 64;
}
