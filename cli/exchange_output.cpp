#include "exchange_output.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "platform/pf_file.h"
#include "platform/pf_misc.h"

namespace fendral::cli {

namespace {

constexpr int32_t kReadAheadBytes = 256 * 1024;

}  // namespace

ExchangeTable::ExchangeTable(const ExchangeOptions& options, bool forImport) {
  if (options.table) {
    table_ = options.table;
  } else {
    owned_ = std::make_unique<tolvern::KXO_dBHandler>(options.tablePath, forImport, true);
    owned_->OpenProductionIndex();
    if (!forImport) owned_->SetReadAhead(kReadAheadBytes);
    table_ = owned_.get();
  }
  showDeleted_ = table_->ShowDeleted();
  if (!forImport) table_->SetShowDeleted(options.withDeleted);
  codec_ = std::make_unique<TextCodec>(
      options.codePage.empty() ? CodePageForMark(table_->CodePageMark()) : options.codePage);
}

ExchangeTable::~ExchangeTable() { table_->SetShowDeleted(showDeleted_); }

PendingFile::PendingFile(std::string target) : target_(std::move(target)) {
  std::filesystem::path where(target_);
  const std::string folder = where.parent_path().string();
  try {
    // Built by appending: GCC 12 warns (wrongly) about a literal prepended to a temporary.
    std::string prefix = ".";
    prefix += where.filename().string();
    prefix += '.';
    temp_ = tolvern::platform::UniqueTempFile(folder, prefix, ".part");
  } catch (const std::exception&) {
    throw std::runtime_error("Cannot create file " + target_);
  }
}

PendingFile::~PendingFile() {
  if (stream_) std::fclose(stream_);
  if (!committed_) {
    std::error_code ec;
    std::filesystem::remove(temp_, ec);
  }
}

std::FILE* PendingFile::Stream() {
  if (!stream_) {
    stream_ = std::fopen(temp_.c_str(), "wb");
    if (!stream_) throw std::runtime_error("Cannot create file " + target_);
  }
  return stream_;
}

void PendingFile::Commit() {
  if (stream_) {
    const bool ok = std::fflush(stream_) == 0 && !std::ferror(stream_);
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    if (!ok || !closed) throw std::runtime_error("Cannot write file " + target_);
  }
  // The temporary name was made readable by its owner only; the file is an ordinary one.
  ::chmod(temp_.c_str(), 0644);
  if (tolvern::platform::ReplaceFile(temp_, target_) != 0)
    throw std::runtime_error("Cannot write file " + target_);
  committed_ = true;
}

void WriteAll(std::FILE* out, const std::string& bytes, const std::string& path) {
  if (std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() && !path.empty())
    throw std::runtime_error("Cannot write file " + path + ": " + std::strerror(errno));
}

}  // namespace fendral::cli
