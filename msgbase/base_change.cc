// The lock and the undo log of a change (see base_change.h).
#include "msgbase/base_change.h"

#include <cstring>

#include "msgbase/msgbase.h"

namespace kelvane {

tLockResult tChangeLock::Begin(tStream* File, std::string_view Name) {
  Fresh_ = false;
  auto* OnDisk = dynamic_cast<tBufStream*>(File);
  if (Depth_ > 0 || !OnDisk) {
    ++Depth_;
    return lkTaken;
  }
  tLockResult R = Lock_.Take(*OnDisk, Name);
  if (R != lkTaken) return R;
  ++Depth_;
  Fresh_ = true;
  return lkTaken;
}

bool tChangeLock::Start(tMsgBase& Base, tStream* File, std::string_view Name, const std::function<tStream*()>& Reopen) {
  Base.Busy = 0;
  if (Base.Closed != cbOpen) return false;
  tLockResult R = Begin(File, Name);
  if (R == lkGone) {
    // Another program put a new base in place of this one (a pack): it is
    // the one to change.
    tStream* Again = Reopen();
    R = Again ? Begin(Again, Name) : lkFailed;
  }
  Base.Busy = R == lkBusy;
  return R == lkTaken;
}

void tChangeLock::End() {
  if (Depth_ > 0 && --Depth_ == 0) Lock_.Release();
}

bool tUndoLog::Put(tStream& S, int64_t Pos, const void* New, uint32_t Len, const void* Old, int64_t OldSize) {
  // The size a file had before the change: that of its first entry.
  for (const tEntry& Earlier : Entries_)
    if (Earlier.S == &S) OldSize = Earlier.OldSize;
  if (OldSize < 0) OldSize = S.GetSize();
  tEntry E{&S, Pos, std::string(Len, '\0'), OldSize};
  if (Old) {
    std::memcpy(E.Old.data(), Old, Len);
  } else {
    S.Seek(Pos);
    E.Old.resize(S.Read(E.Old.data(), Len));
    S.Reset();
  }
  Entries_.push_back(std::move(E));
  S.Seek(Pos);
  S.Write(New, Len);
  S.Flush();
  return S.Status == stOk;
}

bool tUndoLog::PutAtEnd(tStream& S, int64_t Pos, const void* New, uint32_t Len) {
  Entries_.push_back(tEntry{&S, Pos, std::string(), Pos});
  S.Seek(Pos);
  S.Write(New, Len);
  S.Flush();
  return S.Status == stOk;
}

void tUndoLog::Undo() {
  for (auto It = Entries_.rbegin(); It != Entries_.rend(); ++It) {
    tStream& S = *It->S;
    S.Reset();
    S.Seek(It->Pos);
    S.WriteStr(It->Old);
    if (S.GetSize() > It->OldSize) {
      S.Seek(It->OldSize);
      S.Truncate();
    }
    S.Flush();
    S.Reset();
  }
  Entries_.clear();
}

}  // namespace kelvane
