// Pack and repair: a base written anew without its dead space (pack), or
// with what a check finds wrong mended (repair), keeping every message
// number, UMSGID, reply link and last-read record a reader relies on.
//
// Both work under the format's lock (the record lock on the first byte of
// the .sqd, the .jhr or the packet), held from before the base is read
// until the new files are in place. The new files are written beside the
// old ones under temporary names (the base file's name + ".$pk") and
// flushed to the disk; then a marker file (the base path + ".$pk") is
// made, which says that every new file is whole; then the new files take
// the old ones' names one by one, the file that carries the lock last; then
// the marker goes. A crash before the marker leaves the old base whole
// (the temporary files are removed by the next run); a crash after it
// leaves a base whose new files are whole, in part under their temporary
// names: the next pack or repair of the base puts them in place before it
// does anything else. The format pages tell the order for each format.
#ifndef KELVANE_MSGBASE_BASE_REPAIR_H_
#define KELVANE_MSGBASE_BASE_REPAIR_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "msgbase/base_check.h"
#include "runtime/file_lock.h"
#include "runtime/replacing_file.h"
#include "runtime/short_string.h"

namespace kelvane {

// What a pack or a repair did to one base.
struct tRebuildReport {
  int64_t BytesBefore = 0, BytesAfter = 0;  // the base's files together
  int64_t MessagesKept = 0;
  long FindingsBefore = 0;   // what a check found before
  long FindingsMended = 0;   // of them, gone afterwards
  bool Written = false;      // the base was written anew
  bool NothingToPack = false;  // a format that keeps no dead space
  bool FinishedEarlier = false;  // a pack cut off earlier was put in place
  // What the rewrite could not keep or changed beyond the findings:
  // messages it dropped, UMSGIDs it gave, bytes it cut.
  std::vector<std::string> Notes;
  // Why it failed (the base is then as it was, or, after a crash-like
  // failure of a rename, as the next run finishes it: Partly).
  std::string Why;
  bool Partly = false;
};

// Packs the base of the kind and path (the identifier's path): Squish and
// JAM written anew without free frames, deleted headers and texts no
// header points at (a damaged base is mended on the way); *.MSG folders
// and packets keep no dead space and are left alone. crClean when done,
// crDamaged when it failed (the base as it was; Report.Why), crUnreadable
// when the base cannot be read at all. Findings receives what is still
// wrong afterwards.
tCheckResult PackBase(tBaseKind Kind, const tShortString& Path, tRebuildReport& Report, tFindings& Left);
// Repairs the base: nothing is written when a check finds nothing; else
// every finding that can be mended is mended, and what is still wrong
// afterwards goes to Left. crClean when the base checks clean afterwards,
// crDamaged when it does not or the repair failed, crUnreadable when it
// cannot be read at all.
tCheckResult RepairBase(tBaseKind Kind, const tShortString& Path, tRebuildReport& Report, tFindings& Left);

// The files of a base put in place together (see the top of this file).
class tBaseSwap {
 public:
  // Files: the base's files in the order they take their names, the one
  // that carries the lock last. Marker: the base path + ".$pk".
  tBaseSwap(std::vector<tShortString> Files, tShortString Marker);
  ~tBaseSwap();
  // Before the base is read, under its lock: a pack that was cut off after
  // its marker is finished (its new files put in place; Finished true), one
  // cut off before it leaves temporary files that are removed. False when
  // the files could not be put in place or the marker not removed.
  // BeforeLast runs just before the last file takes its name.
  bool Recover(bool& Finished, const std::function<void()>& BeforeLast);
  // Starts the new files; false when one cannot be made.
  bool Start();
  // The stream of file I's new contents.
  tStream& Out(size_t I) { return New_[I]->Out(); }
  // Puts the new files in place. Unchanged is asked once the marker is
  // made, just before the first name changes: false gives up, leaving the
  // old base (Why says why). BeforeLast runs just before the last file
  // (the locked one) takes its name. False when it failed: Why says so,
  // and Partly is set when some new files already took their names (the
  // next run finishes it; the marker is there).
  bool Commit(std::string& Why, bool& Partly, const std::function<bool(std::string&)>& Unchanged,
              const std::function<void()>& BeforeLast);

 private:
  std::vector<tShortString> Files_;
  tShortString Marker_;
  // The marker and the new files removed: the pack is undone.
  void Undo();
  std::vector<std::unique_ptr<tReplacingFile>> New_;
};

// The size of a file, 0 when it is not there.
int64_t FileSizeOf(const tShortString& Name);

// The lock of a base for a whole pack or repair: the format's record lock
// on the first byte of File, held until the object goes.
//
// Where the lock lives on the stream's own handle (Windows), it goes when
// that stream closes, and the locked file cannot take a new file's name
// while it is open: the stream closes just before that one rename. Before
// the first rename, Unchanged reads the file again through the locked
// stream and compares it with what it was when the lock was taken (its
// size and its first bytes: the base header with its counts, ModCounter,
// end of file), so that a program that wrote without the lock makes the
// pack give up and leave the old base.
class tRebuildLock {
 public:
  // False, with the reason in Why, when the file cannot be opened or
  // another program keeps the lock.
  bool Take(const tShortString& File, std::string& Why);
  // False, with the reason in Why, when the file is not as it was when the
  // lock was taken.
  bool Unchanged(std::string& Why);
  // The stream the lock is on is about to close (before its file is
  // replaced).
  void Closing() { Lock_.StreamClosing(); Stream_.reset(); }

 private:
  // The locked file's size and first bytes.
  bool Snapshot(int64_t& Size, std::string& Head);
  std::unique_ptr<tBufStream> Stream_;
  tFileLock Lock_;
  tShortString Name_;
  int64_t Size_ = 0;
  std::string Head_;
};

// The formats' rebuilds, each beside its format (squish_repair.cc,
// jam_repair.cc): the base read from its files under Path and written anew
// into the swap's streams (Squish: .sqi, .sqd; JAM: .jdt, .jdx, .jhr), its
// live messages in order, mended where the files are wrong. Called under
// the base's lock, after Recover; true when every new file was written
// (else Report.Why says why).
bool RebuildSquish(const tShortString& Path, tRebuildReport& Report, tBaseSwap& Swap);
bool RebuildJam(const tShortString& Path, tRebuildReport& Report, tBaseSwap& Swap);
// A packet's repair (pkt_check.cc): what follows its last whole message
// cut off and the two closing zeros put after it, the file rewritten in
// one step under the packet's lock. crClean when it was written, crDamaged
// (Report.Why) when it failed.
tCheckResult RepairPacket(const tShortString& Path, int64_t WholeEnd, tRebuildReport& Report);

// The packet check, with where its last whole message ends (where the two
// closing zeros belong): the packet header's end when no message is whole.
tCheckResult CheckPacketEnd(const tShortString& Path, tFindings& Findings, std::string& Why, int64_t& WholeEnd);

}  // namespace kelvane

#endif  // KELVANE_MSGBASE_BASE_REPAIR_H_
