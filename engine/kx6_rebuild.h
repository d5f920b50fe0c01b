// Rebuilding a table under a new field list or in another code page, and putting the
// result in the table's place through a replacement journal (see kx6_journal.h).
//
// Every physical record is carried over in record-number order, deleted ones with their
// mark, whatever order, filter or range the table object has. Each new field takes the
// value of the old field it names as its origin (none: it starts blank). Numbers are
// carried as decimal text: stored digits stay as they are when the width and decimals
// do, otherwise they are rounded on their digits. Memos are copied into the new memo
// file. The table keeps its version and memo kind; its language mark is kept unless
// the plan names one. Every index file open on the table is rebuilt for the new table
// in its own format; a tag whose key or FOR condition no longer works is dropped and
// named in the report (a file left without tags goes). The production index flag stays.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kx6_dbsy.h"

namespace tolvern {

struct TkxRebuildField {
  std::string name;
  char type = 'C';
  int length = 0;
  int decimals = 0;
  int origin = 0;  // the 1-based old field the values come from; 0: none (blank)
};

// The memo file a table without one gets when a memo field is added.
enum class TkxMemoKind { kDBase3, kDBase4, kFoxPro };

struct TkxRebuildPlan {
  std::vector<TkxRebuildField> fields;
  // Transcoding of character fields and text memos (iconv names); both empty: none.
  std::string fromCodePage;
  std::string toCodePage;
  int languageMark = -1;  // the header's language mark; -1 keeps the table's
  TkxMemoKind memoKindForPlainTable = TkxMemoKind::kFoxPro;
  int memoBlockSize = 0;  // a new FoxPro memo file's block size; 0: 64
  // Values that do not fit their new field: false refuses the rebuild; true cuts
  // character text to the width and leaves other fields blank.
  bool acceptMisfits = false;
  // Conversion to another kind of table. With `memoKind`, the new table's memo file is of
  // this kind (and its version byte follows), named with the kind's extension; memos are
  // copied into it and the old memo file goes. With `indexFormat`, every open index file
  // of another format is rebuilt in this one: a multi-tag file under the old file's name
  // with the new extension, keeping its tags; for a single-tag format one file per tag,
  // named after the tag, beside the old file. Tags the format cannot hold
  // (ConversionLosses) are dropped and named in the report.
  std::optional<TkxMemoKind> memoKind;
  std::optional<TkxIndexFormat> indexFormat;
};

// The version byte of a table of memo kind `kind`, with or without a memo file.
uint8_t VersionOfMemoKind(TkxMemoKind kind, bool withMemo);

// The index files of `table` rebuilt in `format`: for each open file of another format,
// its path and the paths it becomes.
struct TkxIndexConversion {
  std::string from;
  std::vector<std::string> to;
};
std::vector<TkxIndexConversion> IndexConversions(const KXO_dBHandler& table, TkxIndexFormat format);

// The tags of the open index files that `format` cannot hold, as "file: tag (reason)": a
// FOR condition or a descending order in NDX files.
std::vector<std::string> ConversionLosses(const KXO_dBHandler& table, TkxIndexFormat format);

// A value that does not fit its new field.
struct TkxMisfit {
  int32_t record;
  std::string field;  // the new field's name
};

// The language mark that names `codePage` for this table: where dBase and FoxPro programs
// use different marks for one code page, the one of the table's family: dBase for
// versions 0x83 and 0x8B and for plain tables with a dBase mark, FoxPro otherwise. 0 when
// no mark names the code page.
uint8_t LanguageMarkFor(const std::string& codePage, const KXO_dBaseDBF& table);

// The plan for the same field list: every field from itself.
TkxRebuildPlan SameFieldsPlan(const KXO_dBaseDBF& table);

// Reads every record and lists (up to `limit`) the values that would not fit their new
// field. Nothing is written.
std::vector<TkxMisfit> FindMisfits(KXO_dBHandler& table, const TkxRebuildPlan& plan,
                                   size_t limit = 50);

struct TkxRebuildReport {
  int32_t records = 0;
  std::vector<std::string> droppedTags;   // "file: tag (reason)"
  std::vector<std::string> droppedFiles;  // index files that had no tag left
};

// Rebuilds `table` (open for writing, unshared) by `plan` and replaces its files. The
// table object still describes the old files afterwards: the caller closes it and opens
// the table again. Before the replacement is committed, an error leaves the table as it
// was; 0x30 tables are refused before anything is written. The table's progress hears
// kStatusRebuild for the records and the index kinds for the index files; a stop
// (ETolvernCancelled, or the progress's own exception) discards everything made.
TkxRebuildReport RebuildTable(KXO_dBHandler& table, const TkxRebuildPlan& plan);

}  // namespace tolvern
