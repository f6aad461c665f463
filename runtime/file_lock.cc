// The bounded wait for a record lock, and the lock of one file (see
// file_lock.h); the system calls are the file system's.
#include "runtime/file_lock.h"

#include <algorithm>

#include "runtime/clock.h"
#include "runtime/file_system.h"
#include "runtime/stream.h"

namespace kelvane {

tLockResult PollLock(const std::function<int()>& Try, uint32_t WaitMs) {
  // The waits are added up rather than read off the clock: a clock that
  // stands still (a test's) must not make the wait endless.
  uint32_t Waited = 0, Step = 1;
  while (true) {
    int R = Try();
    if (R > 0) return lkTaken;
    if (R < 0) return lkFailed;
    if (Waited >= WaitMs) return lkBusy;
    uint32_t Pause = std::min(Step, WaitMs - Waited);
    SleepMs(Pause);
    Waited += Pause;
    Step = std::min(Step * 2, LockPollMaxMs);
  }
}

tLockResult tFileLock::Take(tBufStream& File, std::string_view Name, uint32_t WaitMs) {
  if (Held_) return lkTaken;
  if (!File.IsOpen()) return lkFailed;
  if (Handle_ >= 0 && (Of_ != File.Handle() || Fs_ != File.FileSystemOf())) Close();
  if (Handle_ < 0) {
    Fs_ = File.FileSystemOf();
    if (!Fs_->OpenLock(File.Handle(), Handle_, Id_)) {
      Handle_ = -1;
      return lkFailed;
    }
    Of_ = File.Handle();
  }
  tFileSystem* Fs = Fs_;
  intptr_t Handle = Handle_;
  tLockResult R = PollLock([Fs, Handle] { return Fs->TryLock(Handle); }, WaitMs);
  if (R != lkTaken) return R;
  // Another writer may have put a new file in place of this one while we
  // waited: what is written must go to the file the name leads to.
  if (!Fs_->LockNamed(Id_, Name)) {
    Fs_->Unlock(Handle_);
    return lkGone;
  }
  Held_ = true;
  return lkTaken;
}

void tFileLock::Release() {
  if (!Held_) return;
  Fs_->Unlock(Handle_);
  Held_ = false;
}

void tFileLock::Close() {
  Release();
  if (Handle_ >= 0) Fs_->CloseLock(Handle_);
  Handle_ = -1;
  Of_ = -1;
}

}  // namespace kelvane
