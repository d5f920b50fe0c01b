// Simple index checks: an index file is read through the engine's own open, and rebuilt
// through the engine's own index creation.
#include <cctype>
#include <memory>

#include "kx6_eror.h"
#include "kx6_indx.h"
#include "kx6_verify_index.h"

namespace tolvern {

TkxIndexFormat IndexFormatOfPath(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  const size_t slash = path.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return TkxIndexFormat::kUnknown;
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (ext == "NDX") return TkxIndexFormat::kNdx;
  if (ext == "NTX") return TkxIndexFormat::kNtx;
  if (ext == "CDX") return TkxIndexFormat::kCdx;
  if (ext == "MDX") return TkxIndexFormat::kMdx;
  return TkxIndexFormat::kUnknown;
}

void VerifyIndexFile(KXO_dBHandler& table, const std::string& path, const TkxFindingSink& sink,
                     TkxProgress*) {
  std::string reason;
  try {
    const int result = table.OpenIndexFile(path);
    if (result != 0 && result != -1) reason = "the index file cannot be opened";
  } catch (const ETolvernError& e) {
    reason = e.what();
  }
  try {
    table.CloseIndexFile(path);
  } catch (const ETolvernError&) {
  }
  if (!reason.empty()) {
    TkxFinding f;
    f.part = "index";
    f.file = path;
    f.code = "index-unreadable";
    f.detail = reason;
    sink(f);
  }
}

TkxIndexDefinitions ReadIndexDefinitions(const std::string& path) {
  TkxIndexDefinitions defs;
  defs.path = path;
  defs.format = IndexFormatOfPath(path);
  std::unique_ptr<KXobjIndexFile> file;
  try {
    file = MakeIndexFileOf(nullptr, path, false, false, true);
  } catch (const ETolvernError&) {
    file.reset();
  }
  if (!file || !file->Opened() || file->TagCount() == 0)
    throw ETolvernError(path + ": the tag definitions cannot be read");
  for (int i = 0; i < file->TagCount(); ++i) {
    const KXobjIndexTag* tag = file->TagAt(i);
    TkxTagDefinition def;
    def.name = tag->TagName();
    def.key = tag->KeyExprText();
    def.forExpr = tag->ForExprText();
    def.unique = tag->Unique();
    def.descending = !tag->Ascending();
    defs.tags.push_back(def);
  }
  return defs;
}

void BuildIndexFromDefinitions(KXO_dBHandler& table, const TkxIndexDefinitions& definitions,
                               const std::string& newPath, TkxProgress*) {
  for (const TkxTagDefinition& tag : definitions.tags) {
    table.IndexOn(newPath, tag.name, tag.descending ? 1 : 0, !tag.unique, tag.forExpr,
                  tag.key);
  }
}

}  // namespace tolvern
