#include "runtime/replacing_file.h"

#include "runtime/file_system.h"

namespace kelvane {

tReplacingFile::tReplacingFile(std::string_view Target, std::string_view Suffix) {
  tShortString Final;
  bool Named = FileSystem().FinalTarget(Target, Final) && Final.Length() + Suffix.size() <= tShortString::MaxLength;
  if (Named) {
    Target_ = Final;
    Temp_ = Final + Suffix;
    // What an earlier run left under the temporary name goes first; when it
    // cannot go (a directory, a file held open), the exclusive create below
    // fails and nothing is written.
    RemoveFile(Temp_);
  }
  // An empty name never opens: the stream then reports its failure.
  Out_ = std::make_unique<tBufStream>(Named ? Temp_.View() : std::string_view(), fmCreateNew | fmDenyAll);
  if (Out_->Status != stOk) Temp_ = tShortString();
}

tReplacingFile::~tReplacingFile() {
  if (Done_ && Placed_) return;
  if (Out_->IsOpen()) Out_->Close();
  if (!Temp_.Empty() && !Kept_) RemoveFile(Temp_);
}

bool tReplacingFile::Commit() {
  if (Done_) return false;
  bool Ok = Finished_ || Finish();
  Done_ = true;
  if (Temp_.Empty()) return false;
  tReplaceResult R = Ok ? ReplaceFileSynced(Temp_, Target_) : rpFailed;
  Placed_ = R != rpFailed;
  if (R == rpDone) return true;
  if (R == rpFailed && !Kept_) RemoveFile(Temp_);
  return false;
}

bool tReplacingFile::Finish() {
  if (Finished_) return true;
  if (Done_ || Temp_.Empty() || !Out_->IsOpen()) return false;
  // The new contents must be on the disk before they replace the old file,
  // or a crash right after the rename could leave an empty file.
  if (Out_->Status == stOk) Out_->Flush(true);
  bool Ok = Out_->Status == stOk;
  if (!Out_->Close()) Ok = false;
  Finished_ = Ok;
  return Ok;
}

}  // namespace kelvane
