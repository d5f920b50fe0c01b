// fendral-cli create and import: new tables through the builders, and records appended
// from dump lines.
#include <charconv>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "cli_common.h"
#include "cli_values.h"
#include "exchange.h"
#include "json.h"
#include "kx6_build.h"
#include "kx6_cpage.h"
#include "kx6_fld.h"
#include "table_open.h"
#include "text_codec.h"

namespace fendral::cli {

namespace {

std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return text;
}

// NAME:TYPE:LENGTH[:DECIMALS]
struct FieldDefinition {
  std::string name;
  char type;
  int length;
  int decimals;
};

FieldDefinition ParseFieldDefinition(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t colon = text.find(':', start);
    parts.push_back(text.substr(start, colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  auto number = [&](const std::string& s) {
    if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos || s.size() > 6)
      throw UsageError{"bad field definition " + text + " (NAME:TYPE:LENGTH[:DECIMALS])"};
    return std::stoi(s);
  };
  if (parts.size() < 3 || parts.size() > 4 || parts[0].empty() || parts[1].size() != 1)
    throw UsageError{"bad field definition " + text + " (NAME:TYPE:LENGTH[:DECIMALS])"};
  return {parts[0], static_cast<char>(std::toupper(static_cast<unsigned char>(parts[1][0]))),
          number(parts[2]), parts.size() == 4 ? number(parts[3]) : 0};
}

// --codepage: a mark byte in hexadecimal ("0x03", "C9") or the name of a code page that a
// mark names ("CP1252", "cp866").
uint8_t ParseLanguageMark(const std::string& text) {
  std::string digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
    digits = digits.substr(2);
  if (!digits.empty() && digits.size() <= 2 &&
      digits.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos) {
    unsigned value = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    return static_cast<uint8_t>(value);
  }
  if (auto mark = tolvern::MarkOfCodePage(text)) return *mark;
  throw UsageError{"--codepage " + text +
                   ": give a mark byte in hexadecimal (0x03) or a code page that a mark names "
                   "(CP437, CP850, CP1252, CP866, ...)"};
}

}  // namespace

int CmdCreate(const Arguments& args) {
  const char* usage =
      "usage: fendral-cli create TABLE --type dbase3|dbase4|foxpro|clipper "
      "[--block-size N] [--codepage MARK|NAME] FIELD...\n"
      "       fendral-cli create TABLE --from-schema FILE";
  if (args.Option("--from-schema")) return CreateFromSchema(args);
  if (args.positional.size() < 2) throw UsageError{usage};
  const std::string type = args.Option("--type").value_or("");
  std::unique_ptr<tolvern::KXO_DBFBuild> builder;
  const std::string& name = args.positional[0];
  if (type == "dbase3" || type == "clipper") {
    builder = std::make_unique<tolvern::KXO_DBFBuild>(name);
  } else if (type == "dbase4") {
    builder = std::make_unique<tolvern::KXO_DB4Build>(name);
  } else if (type == "foxpro") {
    builder = std::make_unique<tolvern::KXO_DBFoxBuild>(name);
  } else {
    throw UsageError{usage};
  }
  if (auto size = args.Option("--block-size")) {
    if (type != "foxpro") throw UsageError{"--block-size applies to foxpro tables only"};
    const std::string& s = *size;
    if (s.empty() || s.size() > 5 || s.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(s) < 1 || std::stoi(s) > 65535)
      throw UsageError{"--block-size must be a number from 1 to 65535"};
    builder->SetMemoBlockSize(static_cast<uint16_t>(std::stoi(s)));
  }
  if (auto codePage = args.Option("--codepage"))
    builder->SetLanguageMark(ParseLanguageMark(*codePage));
  std::vector<FieldDefinition> definitions;
  for (size_t i = 1; i < args.positional.size(); ++i)
    definitions.push_back(ParseFieldDefinition(args.positional[i]));
  builder->SetWriteEnabled(false);
  for (const auto& f : definitions) {
    if (builder->AddField(f.name, f.type, f.length, f.decimals) < 0) return 1;
  }
  builder->SetWriteEnabled(true);
  builder->WriteTable();
  return 0;
}

int CmdImport(const Arguments& args) {
  const std::string format = args.Option("--format").value_or("jsonl");
  if (format == "csv") return ImportCsv(args);
  if (format != "jsonl") throw UsageError{"unknown format " + format + " (jsonl or csv)"};
  if (args.positional.size() != 2)
    throw UsageError{"usage: fendral-cli import TABLE FILE.jsonl [--encoding NAME]"};
  std::ifstream in(args.positional[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "Cannot find file %s\n", args.positional[1].c_str());
    return 1;
  }
  OpenOptions options;
  options.readWrite = true;
  options.productionIndex = true;
  auto opened = OpenTable(args.positional[0], args, options);
  tolvern::KXO_dBHandler& table = *opened;
  const TextCodec codec(TableEncoding(args, table.CodePageMark()));
  RecordReader reader(table, codec);
  std::string text;
  // Two passes: the first only stores each line into the record buffer, so that a line
  // the table cannot take stops the import before a record is appended; the second appends.
  for (int pass = 0; pass < 2; ++pass) {
    in.clear();
    in.seekg(0);
    int lineNumber = 0;
    while (std::getline(in, text)) {
      ++lineNumber;
      if (!text.empty() && text.back() == '\r') text.pop_back();
      if (text.find_first_not_of(" \t") == std::string::npos) continue;
      try {
        const JsonValue line = ParseJson(text);
        reader.Fill(line);
        if (pass == 0) continue;
        reader.WriteMemos();
        table.AppendRecord();
        const JsonValue* deleted = line.Member("deleted");
        if (deleted && deleted->kind == JsonValue::Kind::Bool && deleted->boolean) {
          table.DeleteRecord();
        }
      } catch (const std::exception& e) {
        std::fprintf(stderr, "line %d: %s\n", lineNumber, OneLine(e.what()).c_str());
        return 1;
      }
    }
  }
  table.FlushFile();
  return 0;
}

}  // namespace fendral::cli
