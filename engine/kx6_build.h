// Builders of new, empty tables. A builder collects field definitions and then writes the
// DBF (header, descriptors, terminator, end-of-file mark) and, when a field needs one, an
// empty memo file next to it:
//
//   KXO_DBFBuild    dBase III / Clipper  version 0x03, or 0x83 with a dBase III .dbt
//   KXO_DB4Build    dBase IV             version 0x03, or 0x8B with a dBase IV .dbt
//   KXO_DBFoxBuild  FoxPro               version 0x03, or 0xF5 with an .fpt
//
// The table name keeps the case the caller gave ("sales" becomes "sales.DBF" unless a
// table of that name exists in another case); the memo file takes the case of the table's
// extension (sales.dbf -> sales.dbt, SALES.DBF -> SALES.DBT). Existing files of those
// names are replaced.
//
// Definitions are checked when they are added: a bad or duplicate name reports 1003, a bad
// type, width or decimal count (or a record or header that would outgrow its 16-bit size)
// reports 1004. A refused definition is not added.
//
// A builder writes once: explicitly with WriteTable, otherwise when it is destroyed. It
// does not write on destruction after a refused definition or while an exception unwinds.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kx6_DBF.h"
#include "kx6_disk.h"

namespace tolvern {

using DbfDescriptor = std::array<uint8_t, kDescriptorSize>;

class KXO_DBFBuild : public TkxCollection<DbfDescriptor> {
 public:
  explicit KXO_DBFBuild(const std::string& fileName);
  ~KXO_DBFBuild() override;

  // Creates the table file (and the memo file when a field needs one) unless writing is
  // disabled or already done. Success: TableFile() is set afterwards.
  virtual void WriteTable();
  // Adds a field and answers its index in the list, or -1 when the definition was
  // refused. D, L, M, G and B get their fixed widths; C widths up to 65 535 are split over
  // the length and decimals bytes. Names are cut to 10 characters, ASCII letters upper-
  // cased; they start with a letter or "_" and hold letters, digits and "_" (bytes above
  // 127 count as letters).
  virtual int AddField(const std::string& name, char type, int length, int decimals);
  virtual void WriteDBFHeader();
  virtual void CreateMemoFile();

  const std::string& FileName() const { return fileName_; }
  // The memo file's path (whether or not one is needed).
  std::string MemoFileName() const;
  bool HasMemo() const { return hasMemo_; }
  int32_t RecordLength() const { return recordLength_; }
  uint16_t MemoBlockSize() const { return memoBlockSize_; }
  // Used by the FoxPro builder only; must be at least 1.
  void SetMemoBlockSize(uint16_t size) { memoBlockSize_ = size; }
  // The language mark (header byte 29) the table is written with; 0 (none) by default.
  uint8_t LanguageMark() const { return languageMark_; }
  void SetLanguageMark(uint8_t mark) { languageMark_ = mark; }
  // With stored types on, AddField also takes a field of another type as a table already
  // stores it (a table being rebuilt): any printable letter, its width 1-255 and its
  // decimals as given; P counts as a memo field. Off by default, so new tables hold only
  // the types above.
  void SetAcceptStoredTypes(bool on) { storedTypes_ = on; }
  bool WriteEnabled() const { return writeEnabled_; }
  void SetWriteEnabled(bool on) { writeEnabled_ = on; }
  // The table file object once WriteTable succeeded; nullptr before.
  KXO_DiskFile* TableFile() const { return tableFile_.get(); }
  uint8_t VersionWithoutMemo() const { return versionNoMemo_; }
  uint8_t VersionWithMemo() const { return versionWithMemo_; }

 protected:
  // Writes the table now if it is still due; never throws. Every builder that overrides
  // CreateMemoFile calls it from its own destructor, while the override still exists.
  void WriteIfPending() noexcept;
  // Creates (replacing) `name` and writes `bytes` at offset 0; the file is closed again.
  // A failure (reported through the error procedure) makes WriteTable fail.
  bool WriteNewFile(const std::string& name, const std::vector<uint8_t>& bytes);
  // The memo name stored in dBase memo headers: the table's base name, upper case, at most
  // 8 characters.
  const std::string& MemoName() const { return memoName_; }
  // The memo file's path with extension `ext` (".dbt", ".fpt") in the table's case.
  std::string MemoPath(const std::string& ext) const;
  void SetVersions(uint8_t withoutMemo, uint8_t withMemo) {
    versionNoMemo_ = withoutMemo;
    versionWithMemo_ = withMemo;
  }
  virtual std::string MemoExtension() const { return ".dbt"; }

 private:
  void Refuse(int32_t code, const std::string& info);
  void DiscardTable(bool created);

  uint16_t memoBlockSize_ = 512;
  uint8_t versionNoMemo_ = kVersionPlain;
  uint8_t versionWithMemo_ = kVersionDb3Memo;
  uint8_t languageMark_ = 0;
  std::unique_ptr<KXO_DiskFile> tableFile_;
  std::array<uint8_t, kDbfHeaderSize> header_{};
  std::string fileName_;
  bool hasMemo_ = false;
  int32_t recordLength_ = 1;
  std::string memoName_;
  bool writeEnabled_ = true;
  bool storedTypes_ = false;
  bool refused_ = false;
  bool attempted_ = false;
  bool writeFailed_ = false;
  int uncaughtAtCreate_ = 0;
};

// dBase IV tables: version 0x8B with a memo; the .dbt has 512-byte blocks and a free-block
// list.
class KXO_DB4Build : public KXO_DBFBuild {
 public:
  explicit KXO_DB4Build(const std::string& fileName);
  ~KXO_DB4Build() override;
  void CreateMemoFile() override;
};

// FoxPro tables: version 0xF5 with a memo; the .fpt's block size is MemoBlockSize()
// (64 unless changed before WriteTable).
class KXO_DBFoxBuild : public KXO_DBFBuild {
 public:
  explicit KXO_DBFoxBuild(const std::string& fileName);
  ~KXO_DBFoxBuild() override;
  void CreateMemoFile() override;

 protected:
  std::string MemoExtension() const override { return ".fpt"; }
};

}  // namespace tolvern
