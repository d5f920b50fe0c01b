// The table doctor's part for index files: checking every page and every key of an NDX,
// NTX, CDX or MDX file against the table, reading back the tag definitions of a damaged
// file, and building a fresh file from definitions. Used by VerifyTable and RepairTable.
#pragma once

#include <string>
#include <vector>

#include "kx6_dbsy.h"
#include "kx6_verify.h"

namespace tolvern {

struct TkxTagDefinition {
  std::string name;     // the tag's name; for NDX and NTX the file's base name upper-cased
  std::string key;      // key expression
  std::string forExpr;  // FOR condition; empty: none
  bool unique = false;
  bool descending = false;
  bool generalCollation = false;  // CDX: keys by the GENERAL collation, not byte order
};

struct TkxIndexDefinitions {
  std::string path;
  TkxIndexFormat format = TkxIndexFormat::kUnknown;
  std::vector<TkxTagDefinition> tags;
};

// The index format of `path` by its extension (.ndx .ntx .cdx .mdx, any case).
TkxIndexFormat IndexFormatOfPath(const std::string& path);

// Checks every page and tag of the index file `path` and every key against the records of
// `table`, which is open for reading with no index file open. Findings go to `sink` with
// part "index"; `progress` is stepped (kStatusVerify, by records or keys) and a stop throws
// ETolvernCancelled. Never writes.
void VerifyIndexFile(KXO_dBHandler& table, const std::string& path, const TkxFindingSink& sink,
                     TkxProgress* progress);

// The tag definitions stored in `path`, read as far as the file allows. Throws ETolvernError
// when not one definition can be read.
TkxIndexDefinitions ReadIndexDefinitions(const std::string& path);

// Writes a new index file at `newPath` in `definitions.format` holding the tags of
// `definitions`, built from the records of `table` (open, to itself, with no index file
// open). A tag whose key or FOR condition does not compile against the table throws
// ETolvernError naming it.
void BuildIndexFromDefinitions(KXO_dBHandler& table, const TkxIndexDefinitions& definitions,
                               const std::string& newPath, TkxProgress* progress);

}  // namespace tolvern
