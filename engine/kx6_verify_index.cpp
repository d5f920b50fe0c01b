// The index part of the table doctor: every tag of an index file checked (see
// kx6_verify_tag.h), plus what concerns the file as a whole (a CDX file's tag directory,
// sibling links and free list), and the tag definitions read back and built again.
#include "kx6_verify_index.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "kx6_bytes.h"
#include "kx6_cdx.h"
#include "kx6_eror.h"
#include "kx6_indx.h"
#include "kx6_mdx.h"
#include "kx6_ndx.h"
#include "kx6_ntx.h"
#include "kx6_sql.h"
#include "kx6_tool.h"
#include "kx6_verify_tag.h"

namespace tolvern {

using indexcheck::IndexPair;
using indexcheck::kStepEvery;
using indexcheck::PageOwners;
using indexcheck::Printable;
using indexcheck::Reporter;
using indexcheck::TagCheck;

namespace {

// Sibling links of CDX pages: each level, left to right, linked both ways and ended by
// "no page" at both ends.
void CheckCdxSiblings(KXobjIndexFile& file, TagCheck& check) {
  for (const std::vector<int32_t>& level : check.Levels()) {
    for (size_t i = 0; i < level.size(); ++i) {
      std::array<uint8_t, 12> head{};
      if (!file.PageRead(level[i], head.data(), 12)) continue;
      const ByteReader r(head.data(), head.size());
      const uint32_t left = r.U32LE(4);
      const uint32_t right = r.U32LE(8);
      const uint32_t wantLeft = i == 0 ? kCdxNoPage : static_cast<uint32_t>(level[i - 1]);
      const uint32_t wantRight =
          i + 1 == level.size() ? kCdxNoPage : static_cast<uint32_t>(level[i + 1]);
      if (left != wantLeft || right != wantRight)
        check.Report(TkxSeverity::kError, "sibling-link", 0,
                     "page " + std::to_string(level[i]) + " links to " +
                         std::to_string(static_cast<int32_t>(left)) + " and " +
                         std::to_string(static_cast<int32_t>(right)) + " instead of " +
                         std::to_string(static_cast<int32_t>(wantLeft)) + " and " +
                         std::to_string(static_cast<int32_t>(wantRight)));
    }
  }
}

// The CDX free list: pages inside the file, no loop, none that a tree uses.
void CheckCdxFreeList(KXobjCDXFile& cdx, const PageOwners& owners, Reporter& report) {
  KXobjCDXTag* directory = cdx.Directory();
  if (!directory) return;
  uint32_t page = directory->FreeList();
  std::unordered_set<uint32_t> seen;
  while (page != 0 && page != kCdxNoPage) {
    const std::string where = "free page " + std::to_string(page);
    if (page > INT32_MAX || !cdx.ValidNodePage(static_cast<int32_t>(page))) {
      report.Report("", TkxSeverity::kError, "free-list", 0, where + " lies outside the file");
      return;
    }
    if (!seen.insert(page).second) {
      report.Report("", TkxSeverity::kError, "free-list", 0, where + " is listed twice (a loop)");
      return;
    }
    if (owners.count(static_cast<int32_t>(page))) {
      report.Report("", TkxSeverity::kError, "free-list", 0, where + " is in use by a tag");
      return;
    }
    std::array<uint8_t, 4> next{};
    if (!cdx.PageRead(static_cast<int32_t>(page), next.data(), 4)) return;
    page = ByteReader(next.data(), next.size()).U32LE(0);
  }
}

// Where NDX and MDX files take their next new page from: it must lie past every page a
// tree uses, or the next page added overwrites one.
void CheckNextFree(KXobjIndexFile& file, TkxIndexFormat format, const PageOwners& owners,
                   Reporter& report) {
  if (owners.empty()) return;
  int64_t highest = 0;
  for (const auto& [page, owner] : owners) highest = std::max<int64_t>(highest, page);
  int64_t next = 0;
  int64_t span = 1;  // the units a page takes
  if (format == TkxIndexFormat::kNdx) {
    std::array<uint8_t, 8> head{};
    if (!file.PageRead(0, head.data(), 8)) return;
    next = ByteReader(head.data(), head.size()).U32LE(4);
  } else if (format == TkxIndexFormat::kMdx) {
    const auto& mdx = static_cast<KXobjMDXFile&>(file);
    next = mdx.Region().NextFreeBlock();
    span = mdx.PageUnits();
  } else {
    return;
  }
  if (next < highest + span)
    report.Report("", TkxSeverity::kError, "free-list", 0,
                  "the header's next free page " + std::to_string(next) +
                      " lies inside the pages in use (up to " + std::to_string(highest) + ")");
}

// Tag directory entries against the tags read.
void CheckCdxDirectory(KXobjCDXFile& cdx, TagCheck& directoryCheck) {
  std::unordered_set<int32_t> offsets;
  for (int i = 0; i < cdx.TagCount(); ++i)
    offsets.insert(static_cast<KXobjCDXTag*>(cdx.TagAt(i))->HeaderOffset());
  for (const IndexPair& p : directoryCheck.Pairs()) {
    if (!offsets.count(p.recno))
      directoryCheck.Report(TkxSeverity::kError, "tag-directory", 0,
                            "the directory entry " + Printable(directoryCheck.KeyOf(p)) +
                                " names offset " + std::to_string(p.recno) +
                                ", where no tag was read");
  }
}

std::string UpperBaseName(const std::string& path) {
  return UpperCase(std::filesystem::path(path).stem().string());
}

bool TagDescending(const KXobjIndexTag& tag) { return !tag.Ascending() || tag.DescendingCompare(); }

}  // namespace

TkxIndexFormat IndexFormatOfPath(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == ".ndx") return TkxIndexFormat::kNdx;
  if (ext == ".ntx") return TkxIndexFormat::kNtx;
  if (ext == ".cdx") return TkxIndexFormat::kCdx;
  if (ext == ".mdx") return TkxIndexFormat::kMdx;
  return TkxIndexFormat::kUnknown;
}

void VerifyIndexFile(KXO_dBHandler& table, const std::string& path, const TkxFindingSink& sink,
                     TkxProgress* progress) {
  Reporter report(sink, path);
  const TkxIndexFormat format = IndexFormatOfPath(path);
  if (format == TkxIndexFormat::kUnknown) {
    report.Report("", TkxSeverity::kError, "unreadable", 0, "not an index file name");
    return;
  }
  std::unique_ptr<KXobjIndexFile> file;
  try {
    file = MakeIndexFileOf(&table, path, false, false, true);
  } catch (const ETolvernCancelled&) {
    throw;
  } catch (const std::exception& e) {
    // What is left of a multi-tag file: the tags whose headers can be read.
    try {
      if (!IsMultiTagFormat(format)) throw;
      IndexDefinitionsOpen definitionsOnly;
      IndexDamagedTagsSkipped skipDamaged;
      file = MakeIndexFileOf(&table, path, false, false, true);
    } catch (const ETolvernCancelled&) {
      throw;
    } catch (const std::exception&) {
      report.Report("", TkxSeverity::kError, "unreadable", 0, e.what());
      report.Flush();
      return;
    }
  }
  if (!file || !file->Opened()) {
    report.Report("", TkxSeverity::kError, "unreadable", 0, "the file cannot be opened");
    report.Flush();
    return;
  }
  // The pages are read under the index file's read lock of the programs that share it, so
  // that none of them changes the trees half-way through the walks.
  TkxLokProtocol protocol = TkxLokProtocol::Default;
  switch (format) {
    case TkxIndexFormat::kNtx:
      protocol = TkxLokProtocol::ClipLock;
      break;
    case TkxIndexFormat::kCdx:
      protocol = TkxLokProtocol::FoxLock;
      break;
    case TkxIndexFormat::kMdx:
      protocol = TkxLokProtocol::DB4Lock;
      break;
    default:
      break;
  }
  file->LockProtocolSet(table.AutoLockProtocol() ? static_cast<int>(protocol)
                                                 : table.LockProtocol());
  struct ReadLock {
    KXobjIndexFile& file;
    bool held = false;
    ~ReadLock() {
      if (held) file.ReadUnlock();
    }
  } readLock{*file};
  try {
    readLock.held = file->ReadLock();
  } catch (const ETolvernError& e) {
    report.Report("", TkxSeverity::kWarning, "not-locked", 0,
                  std::string("checked without the read lock: ") + e.what());
  }
  for (const TkxSkippedTag& skipped : file->SkippedTags())
    report.Report(skipped.name, TkxSeverity::kError, "tag-header", 0, skipped.reason);
  PageOwners owners;
  std::vector<std::unique_ptr<TagCheck>> checks;
  auto* cdx = format == TkxIndexFormat::kCdx ? static_cast<KXobjCDXFile*>(file.get()) : nullptr;
  std::unique_ptr<TagCheck> directoryCheck;
  if (cdx && cdx->Directory())
    directoryCheck =
        std::make_unique<TagCheck>(table, *file, *cdx->Directory(), format, -1, report, owners, "");
  for (int i = 0; i < file->TagCount(); ++i) {
    KXobjIndexTag& tag = *file->TagAt(i);
    const std::string name =
        IsMultiTagFormat(format) ? UpperCase(tag.TagName()) : UpperBaseName(path);
    checks.push_back(
        std::make_unique<TagCheck>(table, *file, tag, format, i, report, owners, name));
  }

  const int64_t records = std::max<int32_t>(table.RecordCount(), 0);
  const int64_t tags = static_cast<int64_t>(checks.size());
  TkxProgressScope scope(progress, kStatusVerify, records * (tags + 1));
  if (directoryCheck) {
    directoryCheck->Walk([](int64_t) {});
    CheckCdxSiblings(*file, *directoryCheck);
    CheckCdxDirectory(*cdx, *directoryCheck);
  }
  for (size_t t = 0; t < checks.size(); ++t) {
    TagCheck& check = *checks[t];
    check.CheckHeader();
    const int64_t base = static_cast<int64_t>(t) * records;
    scope.Step(base);
    check.Walk([&](int64_t n) { scope.Step(base + std::min(n, records)); });
    if (cdx) CheckCdxSiblings(*file, check);
    check.SortPairs();
  }
  if (cdx) CheckCdxFreeList(*cdx, owners, report);
  CheckNextFree(*file, format, owners, report);

  if (readLock.held) {
    file->ReadUnlock();
    readLock.held = false;
  }
  // One pass over the records for every tag, read ahead as an index build reads them.
  const int64_t base = tags * records;
  scope.Step(base);
  struct ReadAhead {
    KXO_dBHandler& table;
    bool was;
    ~ReadAhead() { table.SetReadAheadOn(was); }
  } readAhead{table, table.ReadAheadOn()};
  table.SetReadAheadOn(true);
  for (int32_t recno = 1; recno <= records; ++recno) {
    table.KXO_dBaseFld::GetRecord(recno);
    if (table.Eof() || table.CurrentRecord() != recno) break;
    for (auto& check : checks) check->CheckRecord(recno);
    if (recno % kStepEvery == 0) scope.Step(base + recno);
  }
  for (auto& check : checks) check->FinishRecords(static_cast<int32_t>(records));
  report.Flush();
  file.reset();
}

TkxIndexDefinitions ReadIndexDefinitions(const std::string& path) {
  TkxIndexDefinitions definitions;
  definitions.path = path;
  definitions.format = IndexFormatOfPath(path);
  if (definitions.format == TkxIndexFormat::kUnknown)
    throw ETolvernError(path + ": not an index file name");
  std::unique_ptr<KXobjIndexFile> file;
  {
    IndexDefinitionsOpen definitionsOnly;
    IndexDamagedTagsSkipped skipDamaged;
    file = MakeIndexFileOf(nullptr, path, false, false, true);
  }
  if (!file || !file->Opened()) throw ETolvernError(path + ": the file cannot be opened");
  // The tags in the order their headers lie in the file: the order they were made in, which
  // a rebuild keeps so that it lays the file out as before.
  std::vector<const KXobjIndexTag*> ordered;
  for (int i = 0; i < file->TagCount(); ++i) ordered.push_back(file->TagAt(i));
  auto place = [](const KXobjIndexTag* tag) -> int64_t {
    if (const auto* cdxTag = dynamic_cast<const KXobjCDXTag*>(tag)) return cdxTag->HeaderOffset();
    return tag->HeaderPage();
  };
  std::stable_sort(
      ordered.begin(), ordered.end(),
      [&](const KXobjIndexTag* x, const KXobjIndexTag* y) { return place(x) < place(y); });
  for (const KXobjIndexTag* tagAt : ordered) {
    const KXobjIndexTag& tag = *tagAt;
    if (const auto* cdxTag = dynamic_cast<const KXobjCDXTag*>(&tag);
        cdxTag && !cdxTag->LoadError().empty())
      continue;
    TkxTagDefinition definition;
    definition.name = IsMultiTagFormat(definitions.format) ? tag.TagName() : UpperBaseName(path);
    definition.key = Trim(tag.KeyExprText());
    definition.forExpr = tag.HasFor() ? Trim(tag.ForExprText()) : std::string();
    definition.unique = tag.Unique();
    definition.descending = TagDescending(tag);
    if (const auto* cdxTag = dynamic_cast<const KXobjCDXTag*>(&tag))
      definition.generalCollation = cdxTag->Collation() == CdxCollation::General;
    if (definition.key.empty()) continue;
    definitions.tags.push_back(std::move(definition));
  }
  if (definitions.tags.empty()) throw ETolvernError(path + ": no tag definition can be read");
  return definitions;
}

void BuildIndexFromDefinitions(KXO_dBHandler& table, const TkxIndexDefinitions& definitions,
                               const std::string& newPath, TkxProgress* progress) {
  if (definitions.format == TkxIndexFormat::kUnknown)
    throw ETolvernError(newPath + ": no index format given");
  if (!IsMultiTagFormat(definitions.format) && definitions.tags.size() != 1)
    throw ETolvernError(newPath + ": a single-tag index file needs exactly one tag");
  // The engine picks the format by the extension: build under a name that has the right
  // one, then take the name asked for.
  static const char* const kExt[] = {"", ".ndx", ".ntx", ".cdx", ".mdx"};
  std::string buildPath = newPath;
  if (IndexFormatOfPath(newPath) != definitions.format)
    buildPath = newPath + kExt[static_cast<int>(definitions.format)];
  std::error_code ignored;
  std::filesystem::remove(buildPath, ignored);
  // Each definition is checked against the table before anything is built.
  for (const TkxTagDefinition& tag : definitions.tags) {
    try {
      TkxExpHandler key(table.ExpressionLink(), tag.key);
      if (!Trim(tag.forExpr).empty()) TkxExpHandler condition(table.ExpressionLink(), tag.forExpr);
    } catch (const std::exception& e) {
      throw ETolvernError("tag " + tag.name + ": " + e.what());
    }
  }
  // The table's progress is the caller's for the build; a file left half-made goes.
  struct Scope {
    KXO_dBHandler& table;
    TkxProgress* saved;
    std::string path;
    bool keep = false;
    ~Scope() {
      table.SetProgress(saved);
      std::error_code ignored;
      if (!keep) std::filesystem::remove(path, ignored);
    }
  } scope{table, table.Progress(), buildPath};
  table.SetProgress(progress);
  table.CloseAllIndexes();
  for (const TkxTagDefinition& tag : definitions.tags) {
    const int sort = tag.generalCollation ? (tag.descending ? 8 : 7) : (tag.descending ? 1 : 0);
    try {
      table.IndexOn(buildPath, tag.name, sort, !tag.unique, tag.forExpr, tag.key);
    } catch (const ETolvernCancelled&) {
      throw;
    } catch (const std::exception& e) {
      throw ETolvernError("tag " + tag.name + ": " + e.what());
    }
  }
  if (!std::filesystem::exists(buildPath)) throw ETolvernError(newPath + ": nothing was built");
  if (buildPath != newPath) {
    std::error_code failed;
    std::filesystem::rename(buildPath, newPath, failed);
    if (failed) throw ETolvernError(newPath + ": " + failed.message());
  }
  scope.keep = true;
}

}  // namespace tolvern
