// JSON Lines with a schema sidecar: `export --format jsonl [--schema FILE]` writes the
// records as `dump` does and the table's make-up as JSON; `create TABLE --from-schema FILE`
// makes an empty table of that make-up (header, fields, memo file, index files) for
// `import` to fill.
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli_common.h"
#include "cli_values.h"
#include "exchange.h"
#include "exchange_output.h"
#include "json.h"
#include "kx6_DBF.h"
#include "kx6_build.h"
#include "kx6_dbsy.h"
#include "kx6_indx.h"
#include "kx6_memo.h"
#include "kx6_tool.h"
#include "platform/pf_path.h"
#include "table_open.h"
#include "text_codec.h"

namespace fendral::cli {

namespace {

constexpr int32_t kReadAheadBytes = 256 * 1024;
constexpr size_t kFlushAt = 64 * 1024;
// Visual FoxPro headers keep 263 bytes for the database container's name after the fields.
constexpr int kBacklinkBytes = 263;

bool IsVisualVersion(int version) { return version >= 0x30 && version <= 0x32; }

// --table-encoding, when given, is the table's code page for jsonl as for csv.
Arguments TableArguments(const Arguments& args) {
  Arguments table = args;
  if (auto page = args.Option("--table-encoding")) {
    table.options.erase("--encoding");
    table.options.emplace("--encoding", *page);
  }
  return table;
}

std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return text;
}

std::string MemoKind(tolvern::KXobjMemo* memo) {
  if (!memo) return "";
  if (dynamic_cast<tolvern::KXobjFXMemo20*>(memo)) return "fpt";
  if (dynamic_cast<tolvern::KXobjMemo4*>(memo)) return "dbt4";
  return "dbt3";
}

std::string Text(const TextCodec& codec, const std::string& bytes) {
  return JsonString(codec.ToUtf8(tolvern::Trim(bytes)));
}

std::string SchemaOf(tolvern::KXO_dBHandler& table, const TextCodec& codec) {
  tolvern::KXobjMemo* memo = nullptr;
  std::string memoKind;
  int blockSize = 0;
  if (table.HasMemo()) {
    try {
      memo = table.OpenMemo();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "fendral-cli: warning: %s\n", OneLine(e.what()).c_str());
    }
    if (memo) {
      memoKind = MemoKind(memo);
      blockSize = memo->MemoBlockSize();
    } else {
      // Without its memo file the table's version tells the kind; the size is the usual.
      const uint8_t v = table.Version();
      memoKind = v == tolvern::kVersionDb3Memo   ? "dbt3"
                 : v == tolvern::kVersionDb4Memo ? "dbt4"
                                                 : "fpt";
      blockSize = memoKind == "fpt" ? 64 : 512;
    }
  }
  std::string out = "{\n";
  out += "  \"version\": " + std::to_string(table.Version()) + ",\n";
  out += "  \"language_mark\": " + std::to_string(table.CodePageMark()) + ",\n";
  out += "  \"encoding\": " + JsonString(codec.CodePage()) + ",\n";
  out += "  \"header_flags\": " + std::to_string(table.HeaderFlags()) + ",\n";
  out += "  \"memo\": " + (memoKind.empty() ? std::string("null") : JsonString(memoKind)) + ",\n";
  out += "  \"memo_block_size\": " + std::to_string(blockSize) + ",\n";
  out += "  \"fields\": [";
  const auto& fields = table.Fields();
  for (size_t i = 0; i < fields.size(); ++i) {
    const auto& f = fields[i];
    out += i ? ",\n    " : "\n    ";
    out += "{\"name\": " + JsonString(codec.ToUtf8(f.name)) +
           ", \"type\": " + JsonString(std::string(1, f.type)) +
           ", \"width\": " + std::to_string(f.length) +
           ", \"decimals\": " + std::to_string(f.decimals) +
           ", \"flags\": " + std::to_string(f.flags) + "}";
  }
  out += fields.empty() ? "],\n" : "\n  ],\n";
  out += "  \"indexes\": [";
  const std::string production = table.ProductionIndexPath();
  bool first = true;
  for (int slot = 1; slot <= tolvern::KXO_dBHandler::kMaxIndexFiles; ++slot) {
    tolvern::KXobjIndexFile* file = table.IndexFile(slot);
    if (!file || file->TagCount() == 0) continue;
    out += first ? "\n    " : ",\n    ";
    first = false;
    const bool isProduction = !production.empty() && file->SameFile(production);
    out += "{\"file\": " + JsonString(tolvern::platform::FileNameOf(file->FileName())) +
           ", \"production\": " + (isProduction ? "true" : "false") + ", \"tags\": [";
    for (int t = 0; t < file->TagCount(); ++t) {
      const tolvern::KXobjIndexTag* tag = file->TagAt(t);
      out += t ? ",\n      " : "\n      ";
      out += "{\"name\": " + Text(codec, tag->TagName()) +
             ", \"expression\": " + Text(codec, tag->KeyExprText()) +
             ", \"for\": " + Text(codec, tag->ForExprText()) +
             ", \"unique\": " + (tag->Unique() ? "true" : "false") +
             ", \"descending\": " + (tag->Ascending() ? "false" : "true") + "}";
    }
    out += file->TagCount() ? "\n    ]}" : "]}";
  }
  out += first ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}

// ---------------------------------------------------------------------------------------
// Reading a schema

const JsonValue& Member(const JsonValue& object, const char* name, JsonValue::Kind kind) {
  const JsonValue* value = object.Member(name);
  if (!value || value->kind != kind)
    throw std::runtime_error(std::string("the schema's \"") + name + "\" is missing or not " +
                             (kind == JsonValue::Kind::Number   ? "a number"
                              : kind == JsonValue::Kind::String ? "a string"
                              : kind == JsonValue::Kind::Array  ? "a list"
                              : kind == JsonValue::Kind::Bool   ? "true or false"
                                                                : "an object"));
  return *value;
}

int Number(const JsonValue& object, const char* name, int low, int high) {
  const std::string& text = Member(object, name, JsonValue::Kind::Number).text;
  long value = 0;
  try {
    size_t used = 0;
    value = std::stol(text, &used);
    if (used != text.size()) throw std::invalid_argument(text);
  } catch (const std::exception&) {
    throw std::runtime_error(std::string("the schema's \"") + name + "\" is not a whole number");
  }
  if (value < low || value > high)
    throw std::runtime_error(std::string("the schema's \"") + name + "\" is out of range (" +
                             std::to_string(low) + " to " + std::to_string(high) + ")");
  return static_cast<int>(value);
}

std::string TableBytes(const TextCodec& codec, const std::string& text, const char* what) {
  std::string bytes;
  if (!codec.FromUtf8(text, bytes))
    throw std::runtime_error(std::string("the schema's ") + what + " " + text +
                             " has characters that " + codec.CodePage() + " cannot hold");
  return bytes;
}

struct SchemaField {
  std::string name;  // table bytes
  char type;
  int width;
  int decimals;
  int flags;
};

void PutLe(std::vector<uint8_t>& bytes, size_t at, uint32_t value, int size) {
  for (int i = 0; i < size; ++i) bytes[at + static_cast<size_t>(i)] = (value >> (8 * i)) & 0xFF;
}

// The header, field descriptors and end mark of an empty table.
std::vector<uint8_t> TableImage(int version, int flags, int mark,
                                const std::vector<SchemaField>& fields) {
  const bool visual = IsVisualVersion(version);
  const size_t headerLength = 32 + 32 * fields.size() + 1 + (visual ? kBacklinkBytes : 0);
  if (headerLength > 0xFFFF) throw std::runtime_error("the schema has too many fields");
  uint32_t recordLength = 1;
  for (const auto& f : fields) recordLength += static_cast<uint32_t>(f.width);
  if (recordLength > 0xFFFF) throw std::runtime_error("the schema's records are too long");
  std::vector<uint8_t> bytes(headerLength + 1, 0);
  bytes[0] = static_cast<uint8_t>(version);
  const std::time_t now = std::time(nullptr);
  std::tm today{};
  localtime_r(&now, &today);
  bytes[1] = static_cast<uint8_t>(today.tm_year % 256);
  bytes[2] = static_cast<uint8_t>(today.tm_mon + 1);
  bytes[3] = static_cast<uint8_t>(today.tm_mday);
  PutLe(bytes, 8, static_cast<uint32_t>(headerLength), 2);
  PutLe(bytes, 10, recordLength, 2);
  bytes[28] = static_cast<uint8_t>(flags);
  bytes[29] = static_cast<uint8_t>(mark);
  uint32_t offset = 1;
  for (size_t i = 0; i < fields.size(); ++i) {
    const SchemaField& f = fields[i];
    const size_t at = 32 + 32 * i;
    for (size_t c = 0; c < f.name.size() && c < 10; ++c) bytes[at + c] = f.name[c];
    bytes[at + 11] = static_cast<uint8_t>(f.type);
    if (visual) PutLe(bytes, at + 12, offset, 4);
    // Character widths above 255 run on into the decimals byte.
    const int width = f.width;
    bytes[at + 16] = static_cast<uint8_t>(width & 0xFF);
    bytes[at + 17] = static_cast<uint8_t>(f.type == 'C' ? width >> 8 : f.decimals);
    bytes[at + 18] = static_cast<uint8_t>(f.flags);
    offset += static_cast<uint32_t>(width);
  }
  bytes[32 + 32 * fields.size()] = 0x0D;
  bytes[headerLength] = 0x1A;
  return bytes;
}

}  // namespace

namespace {

void WriteSchema(tolvern::KXO_dBHandler& table, const TextCodec& codec, const std::string& path) {
  const std::string schema = SchemaOf(table, codec);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!(file << schema) || !file.flush()) throw std::runtime_error("Cannot write file " + path);
}

// Writes the records of `table` as dump lines to `target` (`path` names the file in errors;
// empty for standard output).
ExchangeResult WriteJsonLines(tolvern::KXO_dBHandler& table, const TextCodec& codec,
                              bool withDeleted, std::FILE* target, const std::string& path,
                              tolvern::TkxProgress* progress) {
  ExchangeResult result;
  tolvern::TkxProgressScope scope(progress, tolvern::kStatusExport, table.RecordCount());
  RecordWriter writer(table, codec);
  std::string out;
  out.reserve(kFlushAt + 4096);
  for (table.GetRecord(tolvern::PosTop); !table.Eof(); table.GetRecord(tolvern::PosNext)) {
    result.clean &= writer.Write(out, withDeleted);
    out += '\n';
    if (out.size() >= kFlushAt) {
      WriteAll(target, out, path);
      out.clear();
    }
    scope.Step(++result.records);
  }
  WriteAll(target, out, path);
  return result;
}

}  // namespace

int ExportJsonLines(const Arguments& args) {
  if (args.positional.size() != 1)
    throw UsageError{
        "usage: fendral-cli export TABLE --format jsonl [--schema FILE] "
        "[--with-deleted] [--encoding NAME]"};
  const Arguments tableArgs = TableArguments(args);
  const auto schemaFile = args.Option("--schema");
  OpenOptions options;
  options.productionIndex = schemaFile.has_value();
  auto opened = OpenTable(args.positional[0], tableArgs, options);
  tolvern::KXO_dBHandler& table = *opened;
  const TextCodec codec(TableEncoding(tableArgs, table.CodePageMark()));
  if (schemaFile) WriteSchema(table, codec, *schemaFile);
  const bool withDeleted = args.Flag("--with-deleted");
  if (!withDeleted) table.SetShowDeleted(false);
  if (!table.CurrentOrder()) table.SetReadAhead(kReadAheadBytes);
  const ExchangeResult result = WriteJsonLines(table, codec, withDeleted, stdout, "", nullptr);
  std::fflush(stdout);
  return result.clean ? 0 : 2;
}

ExchangeResult ExportJsonLinesFile(const ExchangeOptions& options, tolvern::TkxProgress* progress) {
  ExchangeTable table(options, false);
  std::unique_ptr<PendingFile> schema;
  if (!options.schemaFile.empty()) {
    schema = std::make_unique<PendingFile>(options.schemaFile);
    WriteSchema(*table, table.Codec(), schema->TempPath());
  }
  PendingFile file(options.file);
  ExchangeResult result = WriteJsonLines(*table, table.Codec(), options.withDeleted, file.Stream(),
                                         options.file, progress);
  if (schema) schema->Commit();
  file.Commit();
  return result;
}

int CreateFromSchema(const Arguments& args) {
  if (args.positional.size() != 1)
    throw UsageError{"usage: fendral-cli create TABLE --from-schema FILE"};
  if (args.Option("--type") || args.Option("--codepage") || args.Option("--block-size"))
    throw UsageError{"--from-schema takes the type, code page and block size from the schema"};
  const std::string schemaPath = *args.Option("--from-schema");
  std::ifstream in(schemaPath, std::ios::binary);
  if (!in) throw std::runtime_error("Cannot find file " + schemaPath);
  std::stringstream text;
  text << in.rdbuf();
  JsonValue schema;
  try {
    schema = ParseJson(text.str());
  } catch (const std::exception& e) {
    throw std::runtime_error(schemaPath + ": " + e.what());
  }
  if (schema.kind != JsonValue::Kind::Object)
    throw std::runtime_error(schemaPath + ": a JSON object expected");

  const int version = Number(schema, "version", 1, 255);
  const int mark = Number(schema, "language_mark", 0, 255);
  const int flags = schema.Member("header_flags") ? Number(schema, "header_flags", 0, 255) : 0;
  const TextCodec codec(schema.Member("encoding")
                            ? Member(schema, "encoding", JsonValue::Kind::String).text
                            : TableEncoding(args, static_cast<uint8_t>(mark)));
  std::string memo;
  if (const JsonValue* m = schema.Member("memo"); m && m->kind != JsonValue::Kind::Null)
    memo = Member(schema, "memo", JsonValue::Kind::String).text;
  if (!memo.empty() && memo != "dbt3" && memo != "dbt4" && memo != "fpt")
    throw std::runtime_error("the schema's \"memo\" is not dbt3, dbt4, fpt or null");
  const int blockSize = memo.empty() ? 0 : Number(schema, "memo_block_size", 1, 65535);

  std::vector<SchemaField> fields;
  for (const JsonValue& f : Member(schema, "fields", JsonValue::Kind::Array).items) {
    if (f.kind != JsonValue::Kind::Object)
      throw std::runtime_error("the schema's fields are objects");
    SchemaField field;
    const std::string& name = Member(f, "name", JsonValue::Kind::String).text;
    field.name = TableBytes(codec, name, "field name");
    if (field.name.empty() || field.name.size() > 10)
      throw std::runtime_error("the schema's field name \"" + name + "\" is empty or too long");
    const std::string& type = Member(f, "type", JsonValue::Kind::String).text;
    if (type.size() != 1 || static_cast<unsigned char>(type[0]) < 0x21 ||
        static_cast<unsigned char>(type[0]) > 0x7E)
      throw std::runtime_error("the schema's field " + name + " has no one-letter type");
    field.type = type[0];
    field.width = Number(f, "width", 1, field.type == 'C' ? 65535 : 255);
    field.decimals = Number(f, "decimals", 0, 255);
    field.flags = f.Member("flags") ? Number(f, "flags", 0, 255) : 0;
    fields.push_back(std::move(field));
  }
  if (fields.empty()) throw std::runtime_error("the schema names no fields");

  // Index files other than the production index keep their names, beside the new table;
  // one that exists already is not replaced.
  struct IndexPlan {
    std::string path;
    const JsonValue* tags;
  };
  std::vector<IndexPlan> indexes;
  std::string tablePath = args.positional[0];
  if (tolvern::platform::ExtensionOf(tablePath).empty()) tablePath += ".dbf";
  const std::string folder =
      tolvern::platform::DirectoryOf(tolvern::platform::AbsolutePath(tablePath));
  if (schema.Member("indexes")) {
    for (const JsonValue& index : Member(schema, "indexes", JsonValue::Kind::Array).items) {
      if (index.kind != JsonValue::Kind::Object)
        throw std::runtime_error("the schema's indexes are objects");
      const std::string& file = Member(index, "file", JsonValue::Kind::String).text;
      const std::string ext = tolvern::platform::ExtensionOf(file);
      const JsonValue* production = index.Member("production");
      std::string path;
      if (production && production->kind == JsonValue::Kind::Bool && production->boolean) {
        path = tolvern::platform::ReplaceExtension(
            tolvern::platform::AbsolutePath(tablePath),
            tolvern::platform::MatchExtensionCase(tolvern::platform::ExtensionOf(tablePath), ext));
      } else {
        if (file.empty() || file.find('/') != std::string::npos)
          throw std::runtime_error("the schema's index file name " + file + " is not a name");
        path = (std::filesystem::path(folder) / file).string();
        if (std::filesystem::exists(path))
          throw std::runtime_error("Index file " + path + " exists already");
      }
      indexes.push_back({path, &Member(index, "tags", JsonValue::Kind::Array)});
    }
  }

  // The builder makes the table's memo file (and a table that is then written over with
  // the schema's own header, which keeps names, types and flags byte for byte).
  std::unique_ptr<tolvern::KXO_DBFBuild> builder;
  if (memo == "fpt") {
    builder = std::make_unique<tolvern::KXO_DBFoxBuild>(tablePath);
    builder->SetMemoBlockSize(static_cast<uint16_t>(blockSize));
  } else if (memo == "dbt4") {
    builder = std::make_unique<tolvern::KXO_DB4Build>(tablePath);
  } else {
    builder = std::make_unique<tolvern::KXO_DBFBuild>(tablePath);
  }
  builder->SetLanguageMark(static_cast<uint8_t>(mark));
  builder->SetWriteEnabled(false);
  if (builder->AddField(memo.empty() ? "C" : "M", memo.empty() ? 'C' : 'M', 1, 0) < 0) return 1;
  builder->SetWriteEnabled(true);
  builder->WriteTable();
  if (!builder->TableFile()) return 1;
  const std::string written = builder->FileName();
  builder.reset();
  {
    const std::vector<uint8_t> image = TableImage(version, flags & ~1, mark, fields);
    std::ofstream out(written, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
    if (!out.flush()) throw std::runtime_error("Cannot write file " + written);
  }

  if (indexes.empty()) return 0;
  // The new table's production index starts empty, like the table.
  for (const IndexPlan& plan : indexes)
    if (std::filesystem::exists(plan.path)) std::filesystem::remove(plan.path);
  // A tag that cannot be built on the empty table, or that the engine could build but not
  // keep current as other programs key it, is left out with a warning: the table is still
  // made, and `index` can add the tag later.
  auto warn = [](const std::string& tag, const std::string& file, const std::string& why) {
    std::fprintf(stderr, "fendral-cli: warning: tag %s of %s not rebuilt: %s\n", tag.c_str(),
                 file.c_str(), OneLine(why).c_str());
  };
  {
    tolvern::KXO_dBHandler table(written, true, false);
    table.SetLockProtocol(LockProtocolOption(args));
    for (const IndexPlan& plan : indexes) {
      const std::string file = tolvern::platform::FileNameOf(plan.path);
      for (const JsonValue& tag : plan.tags->items) {
        if (tag.kind != JsonValue::Kind::Object)
          throw std::runtime_error("the schema's tags are objects");
        const std::string key =
            TableBytes(codec, Member(tag, "expression", JsonValue::Kind::String).text, "key");
        const std::string condition =
            tag.Member("for") ? TableBytes(codec, Member(tag, "for", JsonValue::Kind::String).text,
                                           "FOR condition")
                              : std::string();
        const std::string name =
            tag.Member("name") ? Member(tag, "name", JsonValue::Kind::String).text : "";
        const JsonValue* unique = tag.Member("unique");
        const JsonValue* descending = tag.Member("descending");
        try {
          table.IndexOn(plan.path, name, descending && descending->boolean ? 1 : 0,
                        !(unique && unique->boolean), condition, key);
        } catch (const std::exception& e) {
          warn(name, file, e.what());
        }
      }
    }
  }
  tolvern::KXO_dBHandler table(written, true, false);
  table.SetLockProtocol(LockProtocolOption(args));
  for (const IndexPlan& plan : indexes) {
    if (!std::filesystem::exists(plan.path) || table.OpenIndexFile(plan.path) > 0) continue;
    for (int slot = 1; slot <= tolvern::KXO_dBHandler::kMaxIndexFiles; ++slot) {
      tolvern::KXobjIndexFile* file = table.IndexFile(slot);
      if (!file || !file->SameFile(plan.path)) continue;
      std::vector<std::pair<std::string, std::string>> refused;
      for (int t = 0; t < file->TagCount(); ++t) {
        const tolvern::KXobjIndexTag* tag = file->TagAt(t);
        if (!tag->Maintainable()) refused.emplace_back(tag->TagName(), tag->ReadOnlyReason());
      }
      for (const auto& [name, why] : refused) {
        warn(name, tolvern::platform::FileNameOf(plan.path), why);
        table.DeleteTag(plan.path, name);
      }
      break;
    }
  }
  return 0;
}

}  // namespace fendral::cli
