// The table and the output file of an exchange with a file.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "exchange.h"
#include "kx6_dbsy.h"
#include "text_codec.h"

namespace fendral::cli {

// The table of `options`: the caller's handler, or the path opened shared (read-write for
// an import) with its production index. Deleted records are shown as `withDeleted` says
// for an export; the caller's setting comes back at the end of the scope.
class ExchangeTable {
 public:
  ExchangeTable(const ExchangeOptions& options, bool forImport);
  ~ExchangeTable();
  ExchangeTable(const ExchangeTable&) = delete;
  ExchangeTable& operator=(const ExchangeTable&) = delete;

  tolvern::KXO_dBHandler& operator*() { return *table_; }
  const TextCodec& Codec() const { return *codec_; }

 private:
  std::unique_ptr<tolvern::KXO_dBHandler> owned_;
  tolvern::KXO_dBHandler* table_ = nullptr;
  std::unique_ptr<TextCodec> codec_;
  bool showDeleted_ = true;
};

// A file that appears under its name only complete: written under a temporary name in the
// same folder and put in place by Commit; the temporary file is removed when the scope ends
// without Commit.
class PendingFile {
 public:
  explicit PendingFile(std::string target);
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  const std::string& TempPath() const { return temp_; }
  // The temporary file open for writing.
  std::FILE* Stream();
  // Closes the stream and renames the file to its target; throws when either fails.
  void Commit();

 private:
  std::string target_;
  std::string temp_;
  std::FILE* stream_ = nullptr;
  bool committed_ = false;
};

// Writes `bytes` to `out`; throws naming `path` when the file does not take them.
void WriteAll(std::FILE* out, const std::string& bytes, const std::string& path);

}  // namespace fendral::cli
