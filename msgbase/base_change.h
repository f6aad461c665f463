// What the formats do around each change of a base that other programs use
// at the same time (tossers append, editors and gateways mark and reply):
//
//  - tChangeLock: the format's lock (runtime/file_lock.h) held for one
//    change. Each format has one place, its StartChange, where a change
//    begins: the lock is taken there and what the change depends on is
//    read again under it, so a count or an index read before the lock is
//    never what a write relies on. Nested changes (a link that writes two
//    headers) keep the lock of the outermost one.
//  - tUndoLog: the in-place writes of one change, each handed to the system
//    before the next, with what they overwrote and the sizes the files had,
//    so that a change that fails part-way puts the files back as they were.
#ifndef KELVANE_MSGBASE_BASE_CHANGE_H_
#define KELVANE_MSGBASE_BASE_CHANGE_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/file_lock.h"
#include "runtime/stream.h"

namespace kelvane {

class tMsgBase;

class tChangeLock {
 public:
  // Begins a change on the file File has open, named Name; a File that is
  // no file stream (or none) is a base held in memory, which no other
  // program sees. lkTaken: the change
  // goes on, and Fresh tells whether the lock was taken just now (the
  // state must be read again) rather than kept from an outer change. Any
  // other result: the change must not go on (lkGone: another program put a
  // new file in place of this one; the base opens it again).
  tLockResult Begin(tStream* File, std::string_view Name);
  // Begin for a change of Base: when another file took the name, Reopen
  // opens the base again and gives the file to lock then (null when it
  // could not), and the lock is taken on that. Base.Busy tells whether
  // another program kept the lock. True when the change goes on.
  bool Start(tMsgBase& Base, tStream* File, std::string_view Name, const std::function<tStream*()>& Reopen);
  bool Fresh() const { return Fresh_; }
  // Ends a change Begin let go on; the outermost releases the lock.
  void End();
  // Lets go of the lock's handle; before the base's files are closed or
  // opened again.
  void Close() { Lock_.Close(); }
  // The locked file's stream is about to close while the change goes on (a
  // rewrite that puts a new file in its place): see tFileLock.
  void StreamClosing() { Lock_.StreamClosing(); }

 private:
  tFileLock Lock_;
  int Depth_ = 0;
  bool Fresh_ = false;
};

// A change begun by a format's StartChange (Started: it went on), ended
// when the scope ends.
class tChangeScope {
 public:
  tChangeScope(tChangeLock& Lock, bool Started) : Lock_(Lock), Started_(Started) {}
  ~tChangeScope() {
    if (Started_) Lock_.End();
  }
  tChangeScope(const tChangeScope&) = delete;
  tChangeScope& operator=(const tChangeScope&) = delete;
  explicit operator bool() const { return Started_; }

 private:
  tChangeLock& Lock_;
  bool Started_;
};

class tUndoLog {
 public:
  // Writes Len bytes of New at Pos of S and hands them to the system. Old
  // holds the bytes that stand there now; without it they are read first
  // (what lay beyond the end is cut off again on undo). OldSize, when the
  // caller knows it, is S's size before the change (else it is asked for
  // at S's first change). False when the stream reports an error.
  bool Put(tStream& S, int64_t Pos, const void* New, uint32_t Len, const void* Old = nullptr, int64_t OldSize = -1);
  // Writes at Pos, which is where the file ends as far as an undo goes:
  // undone, the file is cut back to Pos.
  bool PutAtEnd(tStream& S, int64_t Pos, const void* New, uint32_t Len);
  // Puts the old bytes back, the last change first, and cuts each file
  // back to the size it had before its first change.
  void Undo();

 private:
  struct tEntry {
    tStream* S;
    int64_t Pos;
    std::string Old;
    int64_t OldSize;
  };
  std::vector<tEntry> Entries_;
};

}  // namespace kelvane

#endif  // KELVANE_MSGBASE_BASE_CHANGE_H_
