// The lock FidoNet software takes on a message base while it changes it:
// a record lock on the first byte of one of the base's files (the data file
// of a Squish base, the header file of a JAM base; our own writers take
// the same on a packet, where other software takes none). A writer takes
// it for the whole of one change and reads again, under it, what the
// change depends on; readers take none.
//
// Another holder is waited for a bounded time, polling, and then the change
// fails with its reason: a tosser holds the lock for one message at a time,
// so a writer that still finds it taken after seconds meets a program that
// hangs or keeps the base on purpose, and is told so rather than waiting
// for ever. How each platform takes the lock: file_system.h.
#ifndef KELVANE_RUNTIME_FILE_LOCK_H_
#define KELVANE_RUNTIME_FILE_LOCK_H_

#include <cstdint>
#include <functional>
#include <string_view>

#include "runtime/file_system.h"

namespace kelvane {

class tBufStream;

// How long a lock held by another is waited for, in milliseconds. The
// polls come at once, then after waits that grow from 1 ms to 100 ms: a
// lock held for one message is taken again within a millisecond or two.
constexpr uint32_t LockWaitMs = 5000;
constexpr uint32_t LockPollMaxMs = 100;

enum tLockResult : uint8_t {
  lkTaken,
  lkBusy,    // another holder kept it for the whole wait
  lkGone,    // the name now leads to another file, or to none
  lkFailed,  // the lock could not be asked for (the file cannot be written)
};

// Calls Try (1 taken, 0 held by another, -1 failed) until it takes the
// lock or WaitMs have been waited. The waits go through the clock, so a
// test's clock makes them instant.
tLockResult PollLock(const std::function<int()>& Try, uint32_t WaitMs = LockWaitMs);

// The lock of one file, taken and released as often as the changes come.
// The lock is on the file the stream has open; on Linux through a handle
// of its own, so it is not lost when the process closes another
// descriptor of the file, and it stays held while the stream is closed and
// another file put in its place (a rewrite). On Windows it is on the
// stream's own handle and goes with it: StreamClosing must be called
// before the stream closes (Close will do too).
class tFileLock {
 public:
  tFileLock() = default;
  ~tFileLock() { Close(); }
  tFileLock(const tFileLock&) = delete;
  tFileLock& operator=(const tFileLock&) = delete;

  // Takes the lock on the file File has open, whose name is Name. lkGone
  // when Name no longer leads to that file (another program put a new one
  // in its place, or removed it): the caller opens it again. The lock is
  // not held unless the result is lkTaken.
  tLockResult Take(tBufStream& File, std::string_view Name, uint32_t WaitMs = LockWaitMs);
  // Releases the lock; the handle stays for the next Take.
  void Release();
  // Releases the lock and lets go of the handle.
  void Close();
  // The stream is about to close: a lock on its own handle (Windows) goes
  // now; one on a handle of its own (Linux) is kept until Release.
  void StreamClosing() {
    if (Handle_ == Of_) Close();
  }
  bool Held() const { return Held_; }

 private:
  tFileSystem* Fs_ = nullptr;
  intptr_t Handle_ = -1;  // the handle that takes the lock
  tFileId Id_;            // the file it holds
  intptr_t Of_ = -1;      // the stream handle it was made for
  bool Held_ = false;
};

}  // namespace kelvane

#endif  // KELVANE_RUNTIME_FILE_LOCK_H_
