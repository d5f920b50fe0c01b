// fendral-cli index / keys / tags: building index tags and reading them back.
//
//   index TABLE INDEXFILE [--tag NAME] --key EXPR [--for EXPR] [--unique] [--descending]
//   keys TABLE INDEXFILE [--tag NAME] [--seek VALUE]...
//   tags TABLE INDEXFILE
//
// `keys` prints one line per key in index order: {"recno": N, "key": K}, K a string for
// character and logical keys (trailing blanks removed), a number for numeric keys, and
// "YYYY-MM-DD" or null for date keys. With --seek it prints one line per value instead:
// {"seek": V, "found": bool, "recno": N} (an exact seek; recno 0 when not found).
#include <cstdio>
#include <memory>
#include <string>

#include "cli_common.h"
#include "kx6_DBF.h"
#include "kx6_Date.h"
#include "kx6_cdx.h"
#include "kx6_cnst.h"
#include "kx6_dbsy.h"
#include "kx6_eror.h"
#include "kx6_fld.h"
#include "kx6_glbl.h"
#include "kx6_indx.h"
#include "kx6_mdx.h"
#include "kx6_ndx.h"
#include "kx6_ntx.h"
#include "kx6_sql.h"
#include "kx6_tool.h"
#include "platform/pf_path.h"
#include "text_codec.h"

namespace fendral::cli {

namespace {

constexpr int32_t kReadAheadBytes = 256 * 1024;
constexpr size_t kFlushAt = 64 * 1024;

using tolvern::TkxIndexFormat;

TkxIndexFormat FormatOf(const std::string& path) {
  const TkxIndexFormat format = tolvern::IndexFormatOf(path);
  if (format == TkxIndexFormat::kUnknown)
    throw tolvern::ETolvernError("index files of type " +
                                 tolvern::UpperCase(tolvern::platform::ExtensionOf(path)) +
                                 " are not supported here");
  return format;
}

// Opened shared, for writing only when `create`; multi-tag files are created when missing
// and never replaced.
std::unique_ptr<tolvern::KXobjIndexFile> OpenIndex(tolvern::KXO_dBaseFld& table,
                                                   const std::string& path, bool create) {
  FormatOf(path);
  std::unique_ptr<tolvern::KXobjIndexFile> file =
      tolvern::MakeIndexFileOf(&table, path, create, create, true);
  if (!file || !file->Opened())
    throw tolvern::ETolvernError(tolvern::FormatMessage(tolvern::kMsgCannotFindFile, {path}));
  return file;
}

// The lock protocol of the programs that share the index file: --lock-protocol, or the one
// the table handler would choose with this file open.
int ProtocolFor(const Arguments& args, const std::string& path) {
  const int given = LockProtocolOption(args);
  if (given != tolvern::kLockProtocolAuto) return given;
  switch (FormatOf(path)) {
    case TkxIndexFormat::kNtx:
      return static_cast<int>(tolvern::TkxLokProtocol::ClipLock);
    case TkxIndexFormat::kCdx:
      return static_cast<int>(tolvern::TkxLokProtocol::FoxLock);
    case TkxIndexFormat::kMdx:
      return static_cast<int>(tolvern::TkxLokProtocol::DB4Lock);
    default:
      return static_cast<int>(tolvern::TkxLokProtocol::Default);
  }
}

tolvern::KXobjIndexTag* PickTag(const tolvern::KXobjIndexFile& file, const Arguments& args) {
  tolvern::KXobjIndexTag* tag = nullptr;
  if (auto name = args.Option("--tag")) {
    tag = file.TagByName(*name);
    if (!tag)
      throw tolvern::ETolvernError(tolvern::FormatMessage(tolvern::kMsgTagNotFound, {*name}));
  } else {
    tag = file.TagAt(0);
    if (!tag) throw tolvern::ETolvernError(file.FileName() + " holds no index tag");
  }
  return tag;
}

// Table text of a command-line (UTF-8) value.
std::string TableText(const TextCodec& codec, const std::string& utf8) {
  std::string bytes;
  if (!codec.FromUtf8(utf8, bytes))
    throw UsageError{"'" + utf8 + "' has characters the table's code page lacks"};
  return bytes;
}

std::string DateJson(int32_t day) {
  if (day <= 0) return "null";
  int y = 0, m = 0, d = 0;
  tolvern::GlobalDateConverter().DecodeDay(day, y, m, d);
  if (y == 0) return "null";
  char text[16];
  std::snprintf(text, sizeof text, "\"%04d-%02d-%02d\"", y, m, d);
  return text;
}

// A CDX key: numbers and dates from their sortable form; collation weights and keys of
// an unknown kind as "hex:..." (they cannot be turned back into text).
void AppendCdxKey(std::string& out, const tolvern::KXobjCDXTag& tag, const TextCodec& codec) {
  tolvern::TkxVariant value;
  tag.KeyValue(tag.CurrentKey(), value);
  switch (value.VariantType()) {
    case tolvern::TkxVariant::kFloat:
      out += JsonNumber(value.AsFloat());
      return;
    case tolvern::TkxVariant::kDate:
      out += DateJson(value.AsDate());
      return;
    case tolvern::TkxVariant::kText: {
      const std::string text = tolvern::TrimRight(value.AsText());
      codec.AppendJson(out, text.data(), text.size());
      return;
    }
    default: {
      static const char* digits = "0123456789abcdef";
      std::string hex = "\"hex:";
      for (int32_t i = 0; i < value.Length(); ++i) {
        hex += digits[value.Data()[i] >> 4];
        hex += digits[value.Data()[i] & 15];
      }
      out += hex + "\"";
      return;
    }
  }
}

// The JSON value of the tag's current key.
void AppendKey(std::string& out, const tolvern::KXobjIndexTag& tag, const TextCodec& codec) {
  const tolvern::KXobjIndexKeyData& key = tag.CurrentKey();
  if (tag.KindMarker() == tolvern::kTagKindCdx) {
    AppendCdxKey(out, static_cast<const tolvern::KXobjCDXTag&>(tag), codec);
    return;
  }
  const bool text = key.VariantType() == tolvern::TkxVariant::kText;
  const std::string bytes = text ? key.AsText() : std::string();
  switch (tag.KeyType()) {
    case 'N':
      if (tag.KindMarker() == tolvern::kTagKindMdx) {
        out += JsonNumber(tolvern::KXobjMDXTag::KeyNumber(key));
        return;
      }
      out += JsonNumber(text ? tolvern::KXobjNTXTag::KeyNumber(bytes) : key.AsFloat());
      return;
    case 'D': {
      if (text) {
        const std::string trimmed = tolvern::Trim(bytes);
        out += trimmed.size() == 8 && trimmed != "00000000"
                   ? DateJson(tolvern::GlobalDateConverter().TextToDay(trimmed))
                   : "null";
      } else {
        const double day = key.AsFloat();
        out += day >= 1 && day < 2147483648.0 ? DateJson(static_cast<int32_t>(day)) : "null";
      }
      return;
    }
    default: {
      const std::string value = tolvern::TrimRight(text ? bytes : key.AsText());
      codec.AppendJson(out, value.data(), value.size());
      return;
    }
  }
}

// Walks the order; a damaged file whose pages are reached more than once cannot make the
// walk run on beyond the number of entries the file could hold.
int WalkKeys(tolvern::KXobjIndexTag& tag, const TextCodec& codec) {
  const int64_t size = tag.File()->Disk()->FileSize();
  // A compressed CDX leaf entry takes as little as 2 bytes.
  const int64_t limit = size / (tag.KindMarker() == tolvern::kTagKindCdx ? 2 : 8) + 16;
  int64_t count = 0;
  std::string out;
  out.reserve(kFlushAt + 512);
  for (int32_t recno = tag.Goto(tolvern::PosTop); !tag.Eof(); recno = tag.Goto(tolvern::PosNext)) {
    if (++count > limit)
      throw tolvern::ETolvernError(tag.File()->FileName() +
                                   ": the order holds more keys than the file can (a loop)");
    out += "{\"recno\": " + std::to_string(recno) + ", \"key\": ";
    AppendKey(out, tag, codec);
    out += "}\n";
    if (out.size() >= kFlushAt) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

// Fails before any file is touched when an expression cannot be compiled or evaluated.
void CheckExpression(tolvern::KXO_dBaseFld& table, const std::string& text, const char* what) {
  tolvern::TkxExpHandler handler(table.ExpressionLink(), text);
  if (!handler.HasRoot()) throw UsageError{std::string(what) + " expression is empty"};
  tolvern::TkxExpValue value;
  handler.EvaluateToBuffer(value);
}

}  // namespace

int CmdKeys(const Arguments& args) {
  if (args.positional.size() != 2)
    throw UsageError{"usage: fendral-cli keys TABLE INDEXFILE [--tag NAME] [--seek VALUE]..."};
  tolvern::KXO_dBaseFld table(args.positional[0], false, true);
  table.SetLockProtocol(LockProtocolOption(args));
  const TextCodec codec(TableEncoding(args, table.CodePageMark()));
  auto file = OpenIndex(table, args.positional[1], false);
  // Its reads take the read lock of the programs that write it.
  file->LockProtocolSet(ProtocolFor(args, args.positional[1]));
  tolvern::KXobjIndexTag* tag = PickTag(*file, args);

  const std::vector<std::string> seeks = args.Options("--seek");
  if (seeks.empty()) return WalkKeys(*tag, codec);

  table.SetExactMatch(true);
  std::string out;
  for (const std::string& value : seeks) {
    tolvern::KXobjIndexKeyData key(256);
    key.SetText(TableText(codec, value));
    key.SetReference(tolvern::kSearchAnyRecord);
    const int32_t recno = tag->Seek(key);
    out += "{\"seek\": " + JsonString(value) + ", \"found\": " + (recno > 0 ? "true" : "false") +
           ", \"recno\": " + std::to_string(recno > 0 ? recno : 0) + "}\n";
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

int CmdTags(const Arguments& args) {
  if (args.positional.size() != 2) throw UsageError{"usage: fendral-cli tags TABLE INDEXFILE"};
  tolvern::KXO_dBaseFld table(args.positional[0], false, true);
  table.SetLockProtocol(LockProtocolOption(args));
  const TextCodec codec(TableEncoding(args, table.CodePageMark()));
  auto file = OpenIndex(table, args.positional[1], false);
  std::string out;
  for (int i = 0; i < file->TagCount(); ++i) {
    const tolvern::KXobjIndexTag* tag = file->TagAt(i);
    out += "{\"name\": ";
    codec.AppendJson(out, tag->TagName().data(), tag->TagName().size());
    out += ", \"key\": ";
    const std::string key = tolvern::Trim(tag->KeyExprText());
    codec.AppendJson(out, key.data(), key.size());
    out += ", \"for\": ";
    const std::string condition = tolvern::Trim(tag->ForExprText());
    codec.AppendJson(out, condition.data(), condition.size());
    out += std::string(", \"unique\": ") + (tag->Unique() ? "true" : "false");
    out += std::string(", \"ascending\": ") + (tag->Ascending() ? "true" : "false");
    out += ", \"key_type\": \"" + std::string(1, tag->KeyType()) + "\"";
    out += ", \"key_length\": " + std::to_string(tag->KeyLength()) + "}\n";
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

int CmdIndex(const Arguments& args) {
  const char* usage =
      "usage: fendral-cli index TABLE INDEXFILE [--tag NAME] --key EXPR [--for EXPR] "
      "[--unique] [--descending]";
  const auto keyOption = args.Option("--key");
  if (args.positional.size() != 2 || !keyOption) throw UsageError{usage};
  const std::string& indexPath = args.positional[1];
  const TkxIndexFormat format = FormatOf(indexPath);
  const std::string forOption = args.Option("--for").value_or("");
  const bool descending = args.Flag("--descending");
  if (format == TkxIndexFormat::kNdx) {
    if (!tolvern::Trim(forOption).empty())
      throw UsageError{"NDX index files cannot hold a FOR condition; use an NTX file"};
    if (descending) throw UsageError{"NDX index files are always ascending; use an NTX file"};
  }

  // The tag is built the way the table's own index creation builds it; the table is
  // opened for writing because new index files take the table's modes.
  tolvern::KXO_dBHandler table(args.positional[0], true, true);
  table.SetLockProtocol(LockProtocolOption(args));
  const TextCodec codec(TableEncoding(args, table.CodePageMark()));
  const std::string keyExpr = TableText(codec, *keyOption);
  const std::string forExpr = TableText(codec, forOption);
  CheckExpression(table, keyExpr, "the key");
  if (!tolvern::Trim(forExpr).empty()) CheckExpression(table, forExpr, "the FOR");
  table.IndexOn(tolvern::platform::AbsolutePath(indexPath), args.Option("--tag").value_or(""),
                descending ? 1 : 0, !args.Flag("--unique"), forExpr, keyExpr);
  return 0;
}

}  // namespace fendral::cli
