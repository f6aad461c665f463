// A whole file rewritten without ever being half-written: the new contents
// go to a temporary file beside the target, are flushed to the disk, and
// then take the target's place in one step. Until Commit succeeds the target
// is exactly as it was; a crash at any point leaves the old file or the new
// one, never a mixture, and at worst a stale temporary file that the next
// rewrite removes.
//
// The temporary file is the target's name with a suffix, so it lies in the
// same directory (a rename across file systems is no single step). It is
// created new, exclusively and never through a symbolic link: a stale
// temporary name that is a link, or a file another program put there, is
// removed first and never written into. A target that is a link is followed,
// so the file it points to is replaced and the link stays a link.
#ifndef KELVANE_RUNTIME_REPLACING_FILE_H_
#define KELVANE_RUNTIME_REPLACING_FILE_H_

#include <memory>
#include <string_view>

#include "runtime/short_string.h"
#include "runtime/stream.h"

namespace kelvane {

class tReplacingFile {
 public:
  // Prepares the rewrite of Target, which need not exist yet. When the
  // temporary file cannot be made (the name does not fit, a directory holds
  // it, another program has it open), Out() reports stInitError and Commit
  // fails.
  explicit tReplacingFile(std::string_view Target, std::string_view Suffix = ".$$$");
  // Removes the temporary file unless Commit put it in place.
  ~tReplacingFile();
  tReplacingFile(const tReplacingFile&) = delete;
  tReplacingFile& operator=(const tReplacingFile&) = delete;

  // The stream of the new contents, opened for reading and writing with no
  // sharing.
  tBufStream& Out() { return *Out_; }
  // Flushes the new contents to the disk, closes them and puts them in place
  // of the target, keeping the target's permission bits (and its owner where
  // the process may set it), then the folder's entries on the disk. True on
  // success; on failure the target is as it was and the temporary file is
  // gone, unless only the sync of the folder failed: the target is then the
  // new file (Placed), which a crash could still undo. Once called, the
  // object is spent.
  bool Commit();
  // The first half of Commit, for several files put in place together:
  // the new contents flushed to the disk and closed, the temporary file
  // kept. True when they are all on the disk; Commit then only puts them
  // in place.
  bool Finish();
  // From now on the temporary file stays when this object goes, put in
  // place or not: a later run finishes what a crash cut off.
  void Keep() { Kept_ = true; }
  // Whether Commit put the new contents in place of the target.
  bool Placed() const { return Placed_; }

  // The file that is replaced (the link's target when Target was a link) and
  // the temporary name; empty when they could not be formed.
  const tShortString& TargetName() const { return Target_; }
  const tShortString& TempName() const { return Temp_; }

 private:
  tShortString Target_;
  tShortString Temp_;
  std::unique_ptr<tBufStream> Out_;
  bool Done_ = false;
  bool Placed_ = false;
  bool Finished_ = false;
  bool Kept_ = false;
};

}  // namespace kelvane

#endif  // KELVANE_RUNTIME_REPLACING_FILE_H_
