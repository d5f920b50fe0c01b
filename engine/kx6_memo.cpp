#include "kx6_memo.h"

#include "kx6_DBF.h"

namespace tolvern {

KXobjMemo::KXobjMemo(KXO_dBaseDBF* owner, uint8_t version, bool readWrite, bool shared,
                     const std::string& memoName)
    : KXO_DiskFile(memoName, readWrite, shared), owner_(owner), version_(version) {}

KXobjMemo::~KXobjMemo() = default;

void KXobjMemo::SetMemoLockProtocol(int protocol) { protocol_ = protocol; }
bool KXobjMemo::RenameMemo(const std::string&) { return true; }
int32_t KXobjMemo::MemoDataLength(int32_t) { return 0; }
std::vector<uint8_t> KXobjMemo::MemoRead(int32_t, size_t) { return {}; }
int32_t KXobjMemo::MemoWrite(const uint8_t*, size_t, int32_t) { return 0; }

std::unique_ptr<KXobjMemo> MakeMemo(KXO_dBaseDBF*) { return nullptr; }

}  // namespace tolvern
