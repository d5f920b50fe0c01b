#include "kx6_memo.h"

#include <algorithm>
#include <limits>

#include "kx6_DBF.h"
#include "kx6_bytes.h"
#include "kx6_glbl.h"
#include "kx6_tool.h"
#include "platform/pf_path.h"
#include "platform/pf_sync.h"

namespace tolvern {

namespace {

constexpr int64_t kMaxBlock = std::numeric_limits<int32_t>::max();
// The largest memo this engine writes: its length must fit the 32-bit length words
// and MemoDataLength's answer.
constexpr uint64_t kMaxMemoLength = static_cast<uint64_t>(kMaxBlock) - 64;

int64_t CeilDiv(int64_t a, int64_t b) { return b <= 0 ? 0 : (a + b - 1) / b; }

// The pad after a memo whose data (with its block header) takes `used` bytes: the
// rest of its last block.
int64_t PadToBlock(int64_t used, int64_t blockSize) {
  if (blockSize <= 1) return 0;
  const int64_t t = used % blockSize;
  return t > 0 ? blockSize - t : 0;
}

// Unlocks the memo region when it goes out of scope (also when an error is raised).
class MemoLockGuard {
 public:
  MemoLockGuard(KXO_DiskFile* file, bool locked) : file_(file), locked_(locked) {}
  ~MemoLockGuard() {
    if (locked_) file_->UnlockRegion();
  }
  MemoLockGuard(const MemoLockGuard&) = delete;
  MemoLockGuard& operator=(const MemoLockGuard&) = delete;

 private:
  KXO_DiskFile* file_;
  bool locked_;
};

}  // namespace

// ---------------------------------------------------------------------------------------
// KXobjMemo (dBase III)

KXobjMemo::KXobjMemo(KXO_dBaseDBF* owner, uint8_t version, bool readWrite, bool shared,
                     const std::string& memoName)
    : KXO_DiskFile(memoName, readWrite, shared), owner_(owner), version_(version) {
  blockSize_ = 512;
  currentBlock_ = 0;
  blockCount_ = 0;
  if (!FileExisted()) {
    CheckError(ErrFileNotFound, SubMemoMissing);
    return;  // an error procedure that returns leaves the object closed
  }
  OpenFile();
}

KXobjMemo::~KXobjMemo() = default;

void KXobjMemo::FileError(int32_t code, int32_t subCode, const char* info) {
  if (owner_) {
    owner_->FileError(code, subCode, info);
  } else {
    KXO_DiskFile::FileError(code, subCode, info);
  }
}

void KXobjMemo::ReportDamage() { CheckError(ErrMemoFormat, SubMemoHeader); }

int64_t KXobjMemo::ReadFileHeader() {
  header_.fill(0);
  const int64_t got = ReadAt(0, header_.data(), kMemoHeaderSize);
  return got < 0 ? 0 : got;
}

int64_t KXobjMemo::FileEndBlock() {
  const int64_t size = FileSize();
  if (size < 0) return -1;
  return CeilDiv(size, blockSize_);
}

uint32_t KXobjMemo::NextFreeWord() const { return ByteReader(header_).U32LE(0); }

void KXobjMemo::SetNextFreeWord(uint32_t block) { ByteWriter(header_).U32LE(0, block); }

bool KXobjMemo::MemoLength(int64_t& total) {
  // dBase III memos have no block header: the length query answers 0.
  total = 0;
  return true;
}

void KXobjMemo::FillEndMark(uint8_t* pad, size_t size) {
  ByteWriter out(pad, size);
  out.Fill(0, 0, size);
  out.Fill(0, kMemoEndMark, std::min<size_t>(2, size));
}

void KXobjMemo::FreeBlocks(int32_t) {}

void KXobjMemo::SetNextFreeBlock(int32_t) {}

void KXobjMemo::Clear() {
  std::vector<uint8_t> head(kFoxMemoHeaderBytes, 0);
  ReadAt(0, head.data(), static_cast<int64_t>(head.size()));
  ReadFileHeader();
  SetNextFreeWord(static_cast<uint32_t>(FirstDataBlock()));
  std::copy_n(header_.begin(), 4, head.begin());
  WriteAt(0, head.data(), static_cast<int64_t>(head.size()));
  TruncateAt(kFoxMemoHeaderBytes);
  currentBlock_ = 0;
  blockCount_ = 0;
  FlushFile();
}

int32_t KXobjMemo::MoveMemoDown(int32_t block, int64_t& next) {
  std::vector<uint8_t> data;
  std::array<uint8_t, kMemoBlockHeaderSize> head = {0, 0, 0, 1, 0, 0, 0, 0};
  try {
    data = MemoRead(block);
    ReadAt(BlockOffset(block), head.data(), kMemoBlockHeaderSize);
  } catch (const ETolvernError&) {
    return -1;
  }
  const int64_t target = std::min<int64_t>(std::max(next, FirstDataBlock()), block);
  ByteWriter(head).U32BE(4, static_cast<uint32_t>(data.size()));
  if (target != block) {
    WriteAt(BlockOffset(target), head.data(), kMemoBlockHeaderSize);
    if (!data.empty())
      WriteAt(BlockOffset(target) + kMemoBlockHeaderSize, data.data(),
              static_cast<int64_t>(data.size()));
  }
  next = target + CeilDiv(kMemoBlockHeaderSize + static_cast<int64_t>(data.size()), blockSize_);
  return static_cast<int32_t>(target);
}

int64_t KXobjMemo::ScanText(int64_t offset, int64_t fileSize, uint64_t limit,
                            std::vector<uint8_t>* out, bool& terminated) {
  terminated = false;
  int64_t length = 0;
  int64_t chunk = 512;
  std::vector<uint8_t> buffer;
  while (offset + length < fileSize && static_cast<uint64_t>(length) < limit) {
    const int64_t want = std::min<int64_t>(chunk, fileSize - (offset + length));
    buffer.resize(static_cast<size_t>(want));
    const int64_t got = ReadAt(offset + length, buffer.data(), want);
    if (got <= 0) break;
    const uint8_t* begin = buffer.data();
    const uint8_t* mark = std::find(begin, begin + got, kMemoEndMark);
    int64_t take = mark - begin;
    bool found = take < got;
    const uint64_t room = limit - static_cast<uint64_t>(length);
    if (static_cast<uint64_t>(take) > room) {
      take = static_cast<int64_t>(room);
      found = false;
    }
    if (out) out->insert(out->end(), begin, begin + take);
    length += take;
    if (found) {
      terminated = true;
      break;
    }
    if (got < want) break;
    chunk = std::min<int64_t>(chunk * 2, kMemoChunk);
  }
  return length;
}

int64_t KXobjMemo::MeasureMemo(int32_t block, bool report, int64_t* occupied) {
  if (occupied) *occupied = 0;
  auto damaged = [&]() -> int64_t {
    if (report) ReportDamage();
    return -1;
  };
  if (block < FirstDataBlock()) return damaged();
  const int64_t fileSize = FileSize();
  if (fileSize < 0) return -1;
  const int64_t offset = BlockOffset(block);
  if (offset >= fileSize) return damaged();

  const int headerSize = BlockHeaderSize();
  if (headerSize == 0) {
    bool terminated = false;
    const int64_t length =
        ScanText(offset, fileSize, std::numeric_limits<uint64_t>::max(), nullptr, terminated);
    if (occupied) *occupied = CeilDiv(length + (terminated ? 1 : 0), blockSize_);
    return length;
  }

  header_.fill(0);
  const int64_t want = std::min<int64_t>(kMemoHeaderSize, fileSize - offset);
  const int64_t got = ReadAt(offset, header_.data(), want);
  if (got < headerSize) return damaged();
  int64_t total = 0;
  if (!MemoLength(total) || total < headerSize || total > fileSize - offset) return damaged();
  if (occupied) *occupied = CeilDiv(total, blockSize_);
  return total - headerSize;
}

int32_t KXobjMemo::MemoDataLength(int32_t block) {
  if (block == 0) return 0;
  const int64_t length = MeasureMemo(block, true, nullptr);
  if (length <= 0) return 0;
  return static_cast<int32_t>(std::min<int64_t>(length, kMaxBlock));
}

std::vector<uint8_t> KXobjMemo::MemoRead(int32_t block, size_t maxSize) {
  std::vector<uint8_t> data;
  lastBlockType_ = kTextBlock;
  if (maxSize == 0) return data;
  currentBlock_ = block;
  blockCount_ = 0;
  if (block == 0) return data;

  const int headerSize = BlockHeaderSize();
  if (headerSize == 0) {
    // dBase III: the text runs from the block's first byte to the first 0x1A.
    if (block < FirstDataBlock()) {
      ReportDamage();
      return data;
    }
    const int64_t fileSize = FileSize();
    if (fileSize < 0) return data;
    const int64_t offset = BlockOffset(block);
    if (offset >= fileSize) {
      ReportDamage();
      return data;
    }
    bool terminated = false;
    const int64_t length = ScanText(offset, fileSize, maxSize, &data, terminated);
    // The blocks known to belong to this memo: those its text (and its mark) touch.
    blockCount_ = CeilDiv(length + (terminated ? 1 : 0), blockSize_);
    return data;
  }

  const int64_t length = MeasureMemo(block, true, nullptr);
  if (length < 0) return data;
  lastBlockType_ = HeaderBlockType();
  const int64_t size =
      std::min<int64_t>(length, static_cast<int64_t>(std::min<uint64_t>(maxSize, INT64_MAX)));
  blockCount_ = CeilDiv(size + headerSize, blockSize_);
  data.resize(static_cast<size_t>(size));
  const int64_t start = BlockOffset(block) + headerSize;
  int64_t done = 0;
  while (done < size) {
    const int64_t piece = std::min<int64_t>(size - done, kMemoChunk);
    const int64_t got = ReadAt(start + done, data.data() + done, piece);
    done += std::max<int64_t>(got, 0);
    if (got < piece) break;  // the file shrank under us: keep what was there
  }
  data.resize(static_cast<size_t>(done));
  return data;
}

int64_t KXobjMemo::TailLength(int64_t used) const {
  // dBase III: 0x1A 0x1A and zeros up to the end of the memo's n blocks.
  return std::max<int64_t>(0, blockCount_ * blockSize_ - used);
}

int32_t KXobjMemo::MemoWrite(const uint8_t* data, size_t size, int32_t block,
                             uint32_t blockType) {
  if (size == 0 && block == 0) return 0;
  return WriteMemoAt(data, size, block, blockType);
}

int32_t KXobjMemo::MemoWriteNew(const uint8_t* data, size_t size, uint32_t blockType) {
  return WriteMemoAt(data, size, 0, blockType);
}

int32_t KXobjMemo::WriteMemoAt(const uint8_t* data, size_t size, int32_t block,
                               uint32_t blockType) {
  writeBlockType_ = blockType;
  if (block < 0) block = 0;  // a damaged field: there is no memo to reuse
  if (size > kMaxMemoLength || (size > 0 && data == nullptr)) {
    CheckError(ErrInvalidAccess, SubWriteAt);
    return block;
  }

  bool tookLock = false;
  if (Shared() && !LockMemo(tookLock)) return 0;
  MemoLockGuard guard(this, tookLock);

  if (block != currentBlock_) {
    // The caller writes a memo it did not just read: find out how many blocks the memo
    // now at `block` takes, so that an in-place rewrite never runs into its neighbour.
    int64_t occupied = 0;
    if (block > 0) MeasureMemo(block, false, &occupied);
    blockCount_ = occupied;
  }
  currentBlock_ = block;
  const int64_t length = static_cast<int64_t>(size);
  if (!AllocateBlocks(length)) return block;

  const int headerSize = BlockHeaderSize();
  const int64_t offset = BlockOffset(currentBlock_);
  if (headerSize > 0) WriteAt(offset, header_.data(), headerSize);
  for (int64_t done = 0; done < length;) {
    const int64_t piece = std::min<int64_t>(length - done, kMemoChunk);
    WriteAt(offset + headerSize + done, data + done, piece);
    done += piece;
  }
  const int64_t used = headerSize + length;
  const int64_t tail = TailLength(used);
  if (tail > 0) {
    std::vector<uint8_t> pad(static_cast<size_t>(tail), 0);
    FillEndMark(pad.data(), pad.size());
    WriteAt(offset + used, pad.data(), tail);
  }
  return currentBlock_;
}

void KXobjMemo::FreeMemo(int32_t block) {
  if (block <= 0) return;
  bool tookLock = false;
  if (Shared() && !LockMemo(tookLock)) return;
  MemoLockGuard guard(this, tookLock);
  FreeBlocks(block);
  if (currentBlock_ == block) {
    currentBlock_ = 0;
    blockCount_ = 0;
  }
}

bool KXobjMemo::AllocateAtEnd(int64_t n) {
  ReadFileHeader();
  const int64_t end = FileEndBlock();
  if (end < 0) return false;
  int64_t next = NextFreeWord();
  // The header's next free block is trusted when it lies at the end of the file (or one
  // block past it); a value inside the file or far beyond it is damage, and the memo
  // goes to the end of the file instead, where it can overwrite nothing.
  if (next < end || next > end + 1) next = end;
  next = std::max(next, FirstDataBlock());
  if (next + n > kMaxBlock) {
    CheckError(101, SubWriteAt);  // the file cannot grow further
    return false;
  }
  currentBlock_ = static_cast<int32_t>(next);
  SetNextFreeWord(static_cast<uint32_t>(next + n));
  WriteAt(0, header_.data(), kMemoHeaderSize);
  return true;
}

bool KXobjMemo::AllocateBlocks(int64_t length) {
  const int64_t n = CeilDiv(length + 2, blockSize_);
  if (currentBlock_ < 1 || blockCount_ < n) {
    if (!AllocateAtEnd(n)) return false;
  }
  blockCount_ = n;
  header_.fill(0);
  return true;
}

void KXobjMemo::SetMemoLockProtocol(int protocol) {
  TkxLockOffsets offsets{};
  if (!LockOffsetsOf(protocol, offsets)) return;
  fileLockOffset_ = offsets.fileLockOffset;
  appendLockOffset_ = offsets.appendLockOffset;
  fileLockLength_ = offsets.fileLockLength;
  memoLockOffset_ = offsets.memoLockOffset;
  memoLockLength_ = offsets.memoLockLength;
  protocol_ = protocol;
}

bool KXobjMemo::LockMemo(bool& tookLock) {
  tookLock = false;
  if (!Shared()) return true;
  // This object already holds the whole file (a pack or zap): nothing more to take.
  if (LockCount() > 0 && HasExclusiveAccess()) return true;

  if (LockRegionWaiting(memoLockOffset_, memoLockLength_)) {
    tookLock = true;
    return true;
  }
  CheckError(LastError() != 0 ? LastError() : ErrLocked, SubMemoLock);
  return false;
}

bool KXobjMemo::RenameMemo(const std::string& tableName) {
  const std::string newName =
      platform::ReplaceExtension(tableName, platform::ExtensionOf(FileName()));
  if (!RenameTo(newName)) return false;
  if (!NameInHeader() || !ReadWrite()) return true;
  // Read-modify-write: only the name bytes change; whatever other programs keep in the
  // rest of the header stays.
  const int64_t got = ReadFileHeader();
  std::string name = UpperCase(NameWithoutExtension(newName));
  if (name.size() > 8) name.resize(8);
  ByteWriter out(header_);
  out.Fill(8, 0, 8);
  out.Bytes(8, name.data(), name.size());
  WriteAt(0, header_.data(), std::max<int64_t>(got, 16));
  return true;
}

// ---------------------------------------------------------------------------------------
// KXobjMemo4 (dBase IV)

KXobjMemo4::KXobjMemo4(KXO_dBaseDBF* owner, uint8_t version, bool readWrite, bool shared,
                       const std::string& memoName)
    : KXobjMemo(owner, version, readWrite, shared, memoName) {
  if (IsClosed()) return;
  ReadFileHeader();
  // Block sizes of dBase IV and later are multiples of 64 up to 32K (the fixtures all
  // say 512); 0 or anything else is not a block size, and 512 is used.
  const uint32_t size = ByteReader(header_).U32LE(20);
  blockSize_ = (size == 0 || size % 64 != 0 || size > 32768) ? 512 : static_cast<int32_t>(size);
}

bool KXobjMemo4::MemoLength(int64_t& total) {
  ByteReader in(header_);
  if (in.U16LE(0) != 0xFFFF) return false;
  total = in.U32LE(4);
  return true;
}

void KXobjMemo4::FillEndMark(uint8_t*, size_t) {}

int64_t KXobjMemo4::TailLength(int64_t used) const { return PadToBlock(used, blockSize_); }

bool KXobjMemo4::FindRun(int64_t n, int64_t end, Fit& fit) {
  fit = Fit{};
  ReadFileHeader();
  int64_t pointer = ByteReader(header_).U32LE(0);
  int64_t prev = 0;
  // A list of free runs in a file of `end` blocks has fewer than `end` runs; a walk
  // that takes more steps is going round in a circle.
  for (int64_t steps = 0; pointer != end; ++steps) {
    if (pointer < 1 || pointer > end || steps >= end) {
      ReportDamage();
      return false;
    }
    std::array<uint8_t, kMemoBlockHeaderSize> chain{};
    if (ReadAt(BlockOffset(pointer), chain.data(), kMemoBlockHeaderSize) < kMemoBlockHeaderSize) {
      ReportDamage();
      return false;
    }
    ByteReader in(chain);
    const int64_t next = in.U32LE(0);
    const int64_t size = in.U32LE(4);
    // A memo's block header is not a free run, and a run ends inside the file.
    if (in.U16LE(0) == 0xFFFF || size < 1 || pointer + size > end) {
      ReportDamage();
      return false;
    }
    if (size >= n) {
      fit.prev = prev;
      fit.run = pointer;
      fit.runSize = size;
      fit.runNext = next;
      fit.found = true;
      return true;
    }
    prev = pointer;
    pointer = next;
  }
  fit.prev = prev;
  fit.run = end;
  return true;
}

void KXobjMemo4::FreeBlocks(int32_t block) {
  const int64_t end = FileEndBlock();
  if (block < 1 || block >= end) return;
  // Only a memo is given back: a block whose header is no memo's (already free,
  // damaged) stays as it is, so that nothing is ever put on the list twice.
  std::array<uint8_t, kMemoBlockHeaderSize> head{};
  if (ReadAt(BlockOffset(block), head.data(), kMemoBlockHeaderSize) < kMemoBlockHeaderSize) return;
  ByteReader in(head);
  if (in.U16LE(0) != 0xFFFF) return;
  const int64_t total = in.U32LE(4);
  if (total < kMemoBlockHeaderSize) return;
  const int64_t m = CeilDiv(total, blockSize_);
  if (block + m > end) return;

  ReadFileHeader();
  ByteWriter chain(head);
  chain.U32LE(0, ByteReader(header_).U32LE(0));
  chain.U32LE(4, static_cast<uint32_t>(m));
  WriteAt(BlockOffset(block), head.data(), kMemoBlockHeaderSize);
  ByteWriter out(header_);
  out.U32LE(0, static_cast<uint32_t>(block));
  out.U32LE(4, 0);
  WriteAt(0, header_.data(), kMemoHeaderSize);
}

bool KXobjMemo4::AllocateBlocks(int64_t length) {
  const int64_t size = blockSize_;
  // ceil((Length + 8) / size): the blocks the memo fills, the same count FreeBlocks
  // gives back later.
  const int64_t n = std::max<int64_t>(1, CeilDiv(length + kMemoBlockHeaderSize, size));

  int64_t fileSize = FileSize();
  if (fileSize < 0) return false;
  if (fileSize < size) {
    // A header-only file (24 bytes from some programs): make the first block whole.
    // It holds no memo and no free run, so the list is empty (head = end = 1).
    ReadFileHeader();
    ByteWriter out(header_);
    out.U32LE(0, 1);
    if (ByteReader(header_).U32LE(20) == 0) out.U32LE(20, static_cast<uint32_t>(size));
    std::vector<uint8_t> first(static_cast<size_t>(size), 0);
    ByteWriter(first).Bytes(0, header_.data(), header_.size());
    WriteAt(0, first.data(), size);
    fileSize = size;
  }
  const int64_t end = CeilDiv(fileSize, size);

  // Check the whole list before anything changes, so that a damaged list leaves the
  // file (and the old memo) as it was.
  Fit fit;
  if (!FindRun(std::numeric_limits<int64_t>::max(), end, fit)) return false;
  if (currentBlock_ >= 1) FreeBlocks(currentBlock_);
  if (!FindRun(n, end, fit)) return false;

  int64_t newLink = 0;
  if (fit.found) {
    if (fit.runSize == n) {
      newLink = fit.runNext;
    } else {
      std::array<uint8_t, kMemoBlockHeaderSize> rest{};
      ByteWriter out(rest);
      out.U32LE(0, static_cast<uint32_t>(fit.runNext));
      out.U32LE(4, static_cast<uint32_t>(fit.runSize - n));
      WriteAt(BlockOffset(fit.run + n), rest.data(), kMemoBlockHeaderSize);
      newLink = fit.run + n;
    }
  } else {
    if (end + n > kMaxBlock) {
      CheckError(101, SubWriteAt);  // the file cannot grow further
      return false;
    }
    newLink = end + n;
  }

  if (fit.prev == 0) {
    ReadFileHeader();
    ByteWriter(header_).U32LE(0, static_cast<uint32_t>(newLink));
    WriteAt(0, header_.data(), kMemoHeaderSize);
  } else {
    std::array<uint8_t, kMemoBlockHeaderSize> link{};
    ReadAt(BlockOffset(fit.prev), link.data(), kMemoBlockHeaderSize);
    ByteWriter(link).U32LE(0, static_cast<uint32_t>(newLink));
    WriteAt(BlockOffset(fit.prev), link.data(), kMemoBlockHeaderSize);
  }

  currentBlock_ = static_cast<int32_t>(fit.run);
  blockCount_ = n;
  header_.fill(0);
  ByteWriter out(header_);
  out.U16LE(0, 0xFFFF);
  out.U16LE(2, kMemoBlockHeaderSize);
  out.U32LE(4, static_cast<uint32_t>(length + kMemoBlockHeaderSize));
  return true;
}

// ---------------------------------------------------------------------------------------
// KXobjFXMemo20 (FoxPro)

KXobjFXMemo20::KXobjFXMemo20(KXO_dBaseDBF* owner, uint8_t version, bool readWrite, bool shared,
                             const std::string& memoName)
    : KXobjMemo(owner, version, readWrite, shared, memoName) {
  if (IsClosed()) return;
  ReadFileHeader();
  // The low 16 bits of the big-endian word at 4; 0 means 1-byte blocks.
  const uint16_t size = ByteReader(header_).U16BE(6);
  blockSize_ = size == 0 ? 1 : size;
}

int64_t KXobjFXMemo20::FirstDataBlock() const {
  return std::max<int64_t>(1, CeilDiv(kFoxMemoHeaderBytes, blockSize_));
}

uint32_t KXobjFXMemo20::NextFreeWord() const { return ByteReader(header_).U32BE(0); }

void KXobjFXMemo20::SetNextFreeWord(uint32_t block) { ByteWriter(header_).U32BE(0, block); }

bool KXobjFXMemo20::MemoLength(int64_t& total) {
  ByteReader in(header_);
  // 0 picture, 1 text, 2 object (general fields): all read as the memo's bytes.
  if (in.U32BE(0) > 2) return false;
  total = static_cast<int64_t>(in.U32BE(4)) + kMemoBlockHeaderSize;
  return true;
}

uint32_t KXobjFXMemo20::HeaderBlockType() const { return ByteReader(header_).U32BE(0); }

void KXobjFXMemo20::FillEndMark(uint8_t*, size_t) {}

int64_t KXobjFXMemo20::TailLength(int64_t used) const { return PadToBlock(used, blockSize_); }

bool KXobjFXMemo20::AllocateBlocks(int64_t length) {
  const int64_t n = (length + kMemoBlockHeaderSize) / blockSize_ + 1;
  if (currentBlock_ < 1 || blockCount_ < n) {
    if (!AllocateAtEnd(n)) return false;
  }
  blockCount_ = n;
  header_.fill(0);
  ByteWriter out(header_);
  out.U32BE(0, writeBlockType_);
  out.U32BE(4, static_cast<uint32_t>(length));
  return true;
}

void KXobjFXMemo20::SetNextFreeBlock(int32_t block) {
  // Never into the header.
  const int64_t next = std::max<int64_t>(block, FirstDataBlock());
  currentBlock_ = static_cast<int32_t>(next);
  blockCount_ = 0;
  ReadFileHeader();
  SetNextFreeWord(static_cast<uint32_t>(next));
  WriteAt(0, header_.data(), kMemoBlockHeaderSize);
  TruncateAt(BlockOffset(next));
}

// ---------------------------------------------------------------------------------------

std::unique_ptr<KXobjMemo> MakeMemo(KXO_dBaseDBF* owner) {
  if (!owner) return nullptr;
  const uint8_t version = owner->Version();
  enum class Kind { None, Db3, Db4, Fox } kind = Kind::None;
  switch (version) {
    case kVersionDb3Memo:
      kind = Kind::Db3;
      break;
    case kVersionDb4Memo:
      kind = Kind::Db4;
      break;
    case kVersionFoxMemo:
      kind = Kind::Fox;
      break;
    case kVersionVisual:
      if (owner->HasMemo()) kind = Kind::Fox;
      break;
    default:
      break;
  }
  if (kind == Kind::None) return nullptr;

  // The table's path with the memo extension, written in the case of the table's own
  // extension; the file on disk is found without regard to case.
  const std::string& table = owner->FileName();
  const std::string ext = platform::MatchExtensionCase(platform::ExtensionOf(table),
                                                       kind == Kind::Fox ? ".fpt" : ".dbt");
  const std::string wanted = platform::ReplaceExtension(table, ext);
  const std::string name =
      platform::FindCompanion(platform::DirectoryOf(wanted), platform::FileNameOf(wanted))
          .value_or(wanted);

  std::unique_ptr<KXobjMemo> memo;
  const bool readWrite = owner->ReadWrite();
  const bool shared = owner->Shared();
  switch (kind) {
    case Kind::Db3:
      memo = std::make_unique<KXobjMemo>(owner, version, readWrite, shared, name);
      break;
    case Kind::Db4:
      memo = std::make_unique<KXobjMemo4>(owner, version, readWrite, shared, name);
      break;
    default:
      memo = std::make_unique<KXobjFXMemo20>(owner, version, readWrite, shared, name);
      break;
  }
  // An installed error procedure that returned from "File not found" leaves a memo that
  // was never opened: the table then has none.
  if (memo->IsClosed()) return nullptr;
  return memo;
}

}  // namespace tolvern
