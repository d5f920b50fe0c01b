// fendral-cli commands that maintain a table: pack, zap, reindex, copy, copy-structure,
// rename, search, and the record edits delete, recall and replace.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli_common.h"
#include "cli_values.h"
#include "kx6_dbsy.h"
#include "kx6_glbl.h"
#include "kx6_indx.h"
#include "platform/pf_path.h"
#include "platform/pf_sync.h"
#include "table_open.h"
#include "text_codec.h"

namespace fendral::cli {

namespace {

int32_t ParseRecNo(const std::string& text) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 1 || value > INT32_MAX)
    throw UsageError{"not a record number: " + text};
  return static_cast<int32_t>(value);
}

OpenOptions Exclusive() {
  OpenOptions o;
  o.readWrite = true;
  o.shared = false;
  o.productionIndex = true;
  return o;
}

OpenOptions SharedWrite() {
  OpenOptions o;
  o.readWrite = true;
  o.shared = true;
  o.productionIndex = true;
  return o;
}

// Locks the current record the way an editor does, or fails with the engine's message.
class RecordLock {
 public:
  // Another program holding the record is waited for a bounded time, as the engine
  // waits for its own locks.
  explicit RecordLock(tolvern::KXO_dBHandler& table) : table_(table) {
    const uint32_t step = std::max<uint32_t>(1, tolvern::MemoLockWaitStep);
    const uint32_t attempts = std::max<uint32_t>(1, tolvern::MemoLockWaitTotal / step);
    for (uint32_t i = 0; !table_.LockRecord(); ++i) {
      if (i + 1 >= attempts) throw tolvern::ETolvernError("Record is locked by another user");
      tolvern::platform::SleepMs(step);
    }
  }
  ~RecordLock() {
    try {
      table_.UnlockRegion();
    } catch (...) {
    }
  }

 private:
  tolvern::KXO_dBHandler& table_;
};

void ReadRecord(tolvern::KXO_dBHandler& table, int32_t recno) {
  if (recno > table.RecordCount())
    throw tolvern::ETolvernError("Record request beyond range of table");
  table.GetRecord(recno);
}

}  // namespace

int CmdPack(const Arguments& args) {
  if (args.positional.size() != 1) throw UsageError{"usage: fendral-cli pack TABLE [--index FILE]..."};
  auto table = OpenTable(args.positional[0], args, Exclusive());
  table->Pack();
  table->FlushFile();
  return 0;
}

int CmdZap(const Arguments& args) {
  if (args.positional.size() != 1) throw UsageError{"usage: fendral-cli zap TABLE [--index FILE]..."};
  auto table = OpenTable(args.positional[0], args, Exclusive());
  table->Zap();
  table->FlushFile();
  return 0;
}

int CmdReindex(const Arguments& args) {
  if (args.positional.size() < 2) throw UsageError{"usage: fendral-cli reindex TABLE INDEXFILE..."};
  OpenOptions options = Exclusive();
  options.productionIndex = false;
  auto table = OpenTable(args.positional[0], args, options);
  for (size_t i = 1; i < args.positional.size(); ++i) {
    const int result = table->OpenIndexFile(tolvern::platform::AbsolutePath(args.positional[i]));
    if (result > 0) throw tolvern::ETolvernError("Cannot open index file " + args.positional[i]);
  }
  table->ReindexAll();
  table->FlushFile();
  return 0;
}

int CmdCopy(const Arguments& args) {
  if (args.positional.size() != 2)
    throw UsageError{"usage: fendral-cli copy TABLE NEWTABLE [--index FILE] [--tag NAME] "
                     "[--filter EXPR] [--hide-deleted]"};
  auto table = OpenTable(args.positional[0], args, OpenOptions{});
  table->CopyTable(args.positional[1]);
  return 0;
}

int CmdCopyStructure(const Arguments& args) {
  if (args.positional.size() != 2)
    throw UsageError{"usage: fendral-cli copy-structure TABLE NEWTABLE"};
  auto table = OpenTable(args.positional[0], args, OpenOptions{});
  table->CopyStructure(args.positional[1]);
  return 0;
}

int CmdRename(const Arguments& args) {
  if (args.positional.size() != 2) throw UsageError{"usage: fendral-cli rename TABLE NEWNAME"};
  OpenOptions options = Exclusive();
  auto table = OpenTable(args.positional[0], args, options);
  table->RenameTo(args.positional[1]);
  return 0;
}

int CmdSearch(const Arguments& args) {
  if (args.positional.size() != 2)
    throw UsageError{"usage: fendral-cli search TABLE TEXT [--field N] [--options BITS]"};
  auto table = OpenTable(args.positional[0], args, OpenOptions{});
  int32_t field = 0;
  if (auto f = args.Option("--field")) field = static_cast<int32_t>(std::strtol(f->c_str(), nullptr, 10));
  if (auto o = args.Option("--options"))
    table->SearchOptions = static_cast<uint16_t>(std::strtol(o->c_str(), nullptr, 0));
  const TextCodec codec(TableEncoding(args, table->CodePageMark()));
  std::string text;
  if (!codec.FromUtf8(args.positional[1], text)) throw UsageError{"the text does not fit the table's code page"};
  int32_t recno = 0;
  if (!table->SearchText(text, field, false, 0, recno)) return 3;
  std::printf("{\"recno\": %d, \"field\": %d}\n", recno, field);
  return 0;
}

int CmdDelete(const Arguments& args) {
  if (args.positional.size() < 2) throw UsageError{"usage: fendral-cli delete TABLE RECNO..."};
  auto table = OpenTable(args.positional[0], args, SharedWrite());
  for (size_t i = 1; i < args.positional.size(); ++i) {
    ReadRecord(*table, ParseRecNo(args.positional[i]));
    RecordLock lock(*table);
    table->DeleteRecord();
  }
  table->FlushFile();
  return 0;
}

int CmdRecall(const Arguments& args) {
  if (args.positional.size() < 2) throw UsageError{"usage: fendral-cli recall TABLE RECNO..."};
  auto table = OpenTable(args.positional[0], args, SharedWrite());
  for (size_t i = 1; i < args.positional.size(); ++i) {
    ReadRecord(*table, ParseRecNo(args.positional[i]));
    RecordLock lock(*table);
    table->RecallRecord();
  }
  table->FlushFile();
  return 0;
}

int CmdReplace(const Arguments& args) {
  if (args.positional.size() < 3)
    throw UsageError{"usage: fendral-cli replace TABLE RECNO FIELD=VALUE..."};
  auto table = OpenTable(args.positional[0], args, SharedWrite());
  const TextCodec codec(TableEncoding(args, table->CodePageMark()));
  const int32_t recno = ParseRecNo(args.positional[1]);
  ReadRecord(*table, recno);
  RecordLock lock(*table);
  table->GetRecord(recno);  // the record as it is now that it is locked
  // Every value is checked into the record buffer first; a refusal writes nothing.
  MemoUpdate memos(*table, codec);
  for (size_t i = 2; i < args.positional.size(); ++i) {
    const std::string& assignment = args.positional[i];
    const size_t eq = assignment.find('=');
    if (eq == std::string::npos || eq == 0) throw UsageError{"expected FIELD=VALUE: " + assignment};
    std::string name, value;
    if (!codec.FromUtf8(assignment.substr(0, eq), name) ||
        !codec.FromUtf8(assignment.substr(eq + 1), value))
      throw UsageError{"text that the table's code page cannot hold: " + assignment};
    const tolvern::DbfFieldInfo* field = table->FindField(name);
    if (!field) return 1;
    PutEnteredValue(*table, *field, value, assignment.substr(eq + 1), memos, codec);
  }
  memos.WriteNew();
  table->PutRecord(recno);
  memos.FreeReplaced();
  table->FlushFile();
  return 0;
}

}  // namespace fendral::cli
