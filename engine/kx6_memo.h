// Memo files: the .DBT of dBase III tables (KXobjMemo), the .DBT of dBase IV tables
// with its free-block list (KXobjMemo4) and the .FPT of FoxPro tables (KXobjFXMemo20).
//
// The table record holds the number of a memo's first block; everything else is here.
// Every block number and length word read from a file is checked against the file's
// size before it is used: a memo that points outside its file, or whose length runs
// past the end, is reported as 1005 "dBase memo record has format error" (sub-code
// 6199) and reads as empty. Header and block-header fields go through ByteReader and
// ByteWriter; block offsets are 64-bit.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kx6_disk.h"

namespace tolvern {

class KXO_dBaseDBF;

// The part of block 0 that is read and written as one unit.
inline constexpr int kMemoHeaderSize = 32;
// The block header in front of dBase IV and FoxPro memos.
inline constexpr int kMemoBlockHeaderSize = 8;
// FoxPro files keep their header in the first 512 bytes; no memo starts before that.
inline constexpr int kFoxMemoHeaderBytes = 512;
// Memo data moves to and from the disk in pieces of at most this many bytes.
inline constexpr int32_t kMemoChunk = 32768;
// The dBase III end mark.
inline constexpr uint8_t kMemoEndMark = 0x1A;

// The .DBT file of dBase III tables (version 0x83), and the base of the other two.
//
// dBase III memos have no block header: the text starts at the block's first byte and
// ends at the first 0x1A (written as 0x1A 0x1A, the rest of the last block zero), or at
// the end of the file. Block size 512.
class KXobjMemo : public KXO_DiskFile {
 public:
  // Opens `memoName` with the table's access and sharing. A missing file reports
  // "File not found" (2, sub-code 6101) and leaves the object closed.
  KXobjMemo(KXO_dBaseDBF* owner, uint8_t version, bool readWrite, bool shared,
            const std::string& memoName);
  ~KXobjMemo() override;

  // With an owner table, errors go to the table's FileError.
  void FileError(int32_t code, int32_t subCode, const char* info) override;

  // Length of the data of the memo that starts at `block`; 0 for block 0. A damaged
  // block header or a block outside the file reports 1005 (sub-code 6199) and answers 0.
  int32_t MemoDataLength(int32_t block);
  // The bytes of the memo at `block` (at most `maxSize` of them); empty for block 0 and
  // for a damaged memo (reported as for MemoDataLength). Sets the current block and the
  // block count that a following MemoWrite of the same memo uses for in-place reuse.
  std::vector<uint8_t> MemoRead(int32_t block, size_t maxSize = SIZE_MAX);
  // FoxPro files mark each memo with a block type: a picture, text, or an object (the
  // memos of general fields). Files of other formats have text only.
  static constexpr uint32_t kPictureBlock = 0;
  static constexpr uint32_t kTextBlock = 1;
  static constexpr uint32_t kObjectBlock = 2;
  // The block type of the memo MemoRead read last (kTextBlock in files without types), so
  // that a copy of the memo keeps it.
  uint32_t LastBlockType() const { return lastBlockType_; }
  // Writes `data` as the memo that is now at `block` (0 = none), in place when it fits,
  // and answers the memo's block; 0 for an empty memo without a block, and 0 when the
  // memo lock could not be had (nothing written). FoxPro files mark it with `blockType`.
  int32_t MemoWrite(const uint8_t* data, size_t size, int32_t block,
                    uint32_t blockType = kTextBlock);
  // Writes `data` as a new memo and answers its block, even for an empty memo (a block
  // that holds a memo of length 0): copies keep an empty memo apart from no memo. 0 when
  // the memo lock could not be had.
  int32_t MemoWriteNew(const uint8_t* data, size_t size, uint32_t blockType = kTextBlock);
  int32_t MemoBlockSize() const { return blockSize_; }

  // The lock offsets of the table's protocol (Default, DB4Lock, ClipLock, FoxLock);
  // other values keep the old offsets.
  virtual void SetMemoLockProtocol(int protocol);
  // Renames the memo file to follow the table's new name (a full path): the new table
  // name with the memo's current extension. DBT files also get the new name (upper
  // case, at most 8 characters) in header bytes 8-15.
  virtual bool RenameMemo(const std::string& tableName);
  // FoxPro: sets the next free block in the header and cuts the file there (needs
  // exclusive access). Nothing for DBT files.
  virtual void SetNextFreeBlock(int32_t block);
  // Gives the blocks of the memo at `block` back to the file (files with a free list;
  // others keep them), under the memo lock of a shared file.
  void FreeMemo(int32_t block);
  // Empties the file (exclusive access): no memos, the next free block the first one a
  // memo can take, the file cut after its 512 header bytes; the other header bytes stay.
  void Clear();
  // FoxPro files, exclusive access: moves the memo at `block` with its block header to
  // block `next` (raised to the first block a memo can take, never above `block`) and
  // answers where it is now; `next` becomes the block after it. Answers -1 when the memo
  // cannot be read: it stays where it is, untouched, and `next` as it was.
  int32_t MoveMemoDown(int32_t block, int64_t& next);

  KXO_dBaseDBF* Owner() const { return owner_; }
  uint8_t Version() const { return version_; }
  // The memo most recently read or allocated, and the blocks it takes.
  int32_t CurrentBlock() const { return currentBlock_; }
  int64_t BlockCount() const { return blockCount_; }
  // The file header or block header as last read or built.
  const std::array<uint8_t, kMemoHeaderSize>& HeaderBuffer() const { return header_; }
  int MemoLockProtocol() const { return protocol_; }
  uint32_t AppendLockOffset() const { return appendLockOffset_; }
  uint32_t FileLockOffset() const { return fileLockOffset_; }
  uint32_t FileLockLength() const { return fileLockLength_; }

 protected:
  // MemoWrite without its rule that an empty memo needs no block.
  int32_t WriteMemoAt(const uint8_t* data, size_t size, int32_t block, uint32_t blockType);
  // Chooses the block(s) for a memo of `length` data bytes, sets the current block and
  // the block count and builds the block header in the header buffer. False (after a
  // report) when the file is too damaged to place it.
  virtual bool AllocateBlocks(int64_t length);
  // Gives the blocks of the memo at `block` back (dBase IV only).
  virtual void FreeBlocks(int32_t block);
  // Prepares the pad written after a memo's data (dBase III: starts with 0x1A 0x1A).
  virtual void FillEndMark(uint8_t* pad, size_t size);
  // The total length (data + block header) from the block header in the header
  // buffer; false when the header is not recognised.
  virtual bool MemoLength(int64_t& total);
  // The block type in the block header just read (files with block headers).
  virtual uint32_t HeaderBlockType() const { return kTextBlock; }
  // The bytes written in front of a memo's data (0 for dBase III, 8 otherwise).
  virtual int BlockHeaderSize() const { return 0; }
  // The pad written after a memo whose block header and data take `used` bytes.
  virtual int64_t TailLength(int64_t used) const;
  // The first block that can hold a memo.
  virtual int64_t FirstDataBlock() const { return 1; }
  // The next-free word of the file header in header_ (bytes 0-3, the variant's order).
  virtual uint32_t NextFreeWord() const;
  virtual void SetNextFreeWord(uint32_t block);
  // Whether RenameMemo rewrites the name in the header.
  virtual bool NameInHeader() const { return true; }

  // Takes the memo lock of a shared file, retrying MemoLockWaitTotal /
  // MemoLockWaitStep times; reports 1112 and answers false when it is not had.
  // `tookLock` tells whether an UnlockRegion is owed.
  bool LockMemo(bool& tookLock);
  bool LockMemo() {
    bool took = false;
    return LockMemo(took);
  }
  // Puts n blocks at the file's next free block and moves that past them.
  bool AllocateAtEnd(int64_t n);

  // Reads the 32-byte file header into header_ (zero-filled past the end of a short
  // file); answers the bytes that were there.
  int64_t ReadFileHeader();
  // The file size in blocks, counting a partial last block.
  int64_t FileEndBlock();
  int64_t BlockOffset(int64_t block) const { return block * static_cast<int64_t>(blockSize_); }
  // 1005, sub-code 6199.
  void ReportDamage();
  // The data length of the memo at `block` and the blocks it is known to take; -1 when
  // the memo is damaged or outside the file (reported when `report`).
  int64_t MeasureMemo(int32_t block, bool report, int64_t* occupied);
  // dBase III: bytes from `offset` up to the first 0x1A or the end of the file, at most
  // `limit` of them; collected into `out` when given.
  int64_t ScanText(int64_t offset, int64_t fileSize, uint64_t limit, std::vector<uint8_t>* out,
                   bool& terminated);

  KXO_dBaseDBF* owner_;
  uint8_t version_;
  int32_t currentBlock_ = 0;
  int64_t blockCount_ = 0;
  uint32_t lastBlockType_ = kTextBlock;   // of the memo read last
  uint32_t writeBlockType_ = kTextBlock;  // of the memo being written
  int32_t blockSize_ = 512;
  std::array<uint8_t, kMemoHeaderSize> header_{};
  int protocol_ = 0;
  uint32_t appendLockOffset_ = 0x7FFFFFFE;
  uint32_t fileLockOffset_ = 0x40000000;
  uint32_t fileLockLength_ = 0x3FFFFFFF;
  uint32_t memoLockOffset_ = 0;
  uint32_t memoLockLength_ = 1;
};

// The .DBT file of dBase IV tables (version 0x8B): block size from header bytes 20-23,
// an 8-byte block header (0xFF 0xFF 0x08 0x00, total length) and a list of free runs
// that starts at header bytes 0-3 and ends at the file's end block.
class KXobjMemo4 : public KXobjMemo {
 public:
  KXobjMemo4(KXO_dBaseDBF* owner, uint8_t version, bool readWrite, bool shared,
             const std::string& memoName);

 protected:
  bool AllocateBlocks(int64_t length) override;
  void FreeBlocks(int32_t block) override;
  void FillEndMark(uint8_t* pad, size_t size) override;
  bool MemoLength(int64_t& total) override;
  int BlockHeaderSize() const override { return kMemoBlockHeaderSize; }
  int64_t TailLength(int64_t used) const override;

  struct Fit {
    int64_t prev = 0;  // block whose link points at the run (0 = the file header)
    int64_t run = 0;   // the first run of at least n blocks, or the end block
    int64_t runSize = 0;
    int64_t runNext = 0;
    bool found = false;
  };
  // Walks the free list (at most one step per block of the file) looking for a run of
  // at least `n` blocks. False after reporting 1005 for a damaged list.
  bool FindRun(int64_t n, int64_t end, Fit& fit);
};

// The .FPT file of FoxPro tables (version 0xF5, and 0x30 tables with a memo): block
// size in header bytes 6-7 (big-endian; 0 means 1-byte blocks), next free block in
// bytes 0-3 (big-endian), an 8-byte block header (type, length, big-endian).
class KXobjFXMemo20 : public KXobjMemo {
 public:
  KXobjFXMemo20(KXO_dBaseDBF* owner, uint8_t version, bool readWrite, bool shared,
                const std::string& memoName);

  void SetNextFreeBlock(int32_t block) override;

 protected:
  bool AllocateBlocks(int64_t length) override;
  void FillEndMark(uint8_t* pad, size_t size) override;
  bool MemoLength(int64_t& total) override;
  uint32_t HeaderBlockType() const override;
  int BlockHeaderSize() const override { return kMemoBlockHeaderSize; }
  int64_t TailLength(int64_t used) const override;
  int64_t FirstDataBlock() const override;
  uint32_t NextFreeWord() const override;
  void SetNextFreeWord(uint32_t block) override;
  bool NameInHeader() const override { return false; }
};

// Opens the memo file of `owner` for its version; nullptr when that version has none.
// The file is the table's path with the extension .DBT or .FPT, found without regard
// to case. A missing memo file reports "File not found" (sub-code 6101).
std::unique_ptr<KXobjMemo> MakeMemo(KXO_dBaseDBF* owner);

}  // namespace tolvern
