// Pack and repair of a base as a whole: the lock, the files put in place
// together, the check before and after; the formats' own rebuilds are
// beside them (squish_repair.cc, jam_repair.cc, pkt_check.cc).
#include "msgbase/base_repair.h"

#include <algorithm>
#include <utility>

#include "msgbase/msgbase.h"
#include "runtime/file_system.h"

namespace kelvane {

int64_t FileSizeOf(const tShortString& Name) {
  if (!FileExists(Name)) return 0;
  tBufStream S(Name, smOpenRead);
  return S.Status == stOk ? S.GetSize() : 0;
}

bool tRebuildLock::Take(const tShortString& File, std::string& Why) {
  Stream_ = std::make_unique<tBufStream>(File, smOpenReadWrite);
  if (Stream_->Status != stOk) {
    Why = File.ToStdString() + " cannot be opened for writing" +
          (IsSharingViolation(Stream_->ErrorInfo) ? ": another program holds it" : "");
    return false;
  }
  switch (Lock_.Take(*Stream_, File)) {
    case lkTaken:
      Name_ = File;
      if (Snapshot(Size_, Head_)) return true;
      Why = File.ToStdString() + " cannot be read";
      return false;
    case lkBusy: Why = "another program keeps the lock on " + File.ToStdString(); return false;
    case lkGone: Why = "another program put a new " + File.ToStdString() + " in place meanwhile"; return false;
    default: Why = "the lock on " + File.ToStdString() + " cannot be had"; return false;
  }
}

bool tRebuildLock::Snapshot(int64_t& Size, std::string& Head) {
  // The first KiB holds the whole base header of either format (Squish's
  // 256 bytes, JAM's fixed 1024).
  Stream_->Refresh();
  Size = Stream_->GetSize();
  Head.resize(static_cast<size_t>(std::min<int64_t>(Size, 1024)));
  Stream_->Seek(0);
  Stream_->Read(Head.data(), static_cast<uint32_t>(Head.size()));
  const bool Read = Stream_->Status == stOk;
  Stream_->Reset();
  return Read;
}

bool tRebuildLock::Unchanged(std::string& Why) {
  int64_t Size;
  std::string Head;
  if (Stream_ && Snapshot(Size, Head) && Size == Size_ && Head == Head_) return true;
  Why = Name_.ToStdString() + " changed while the base was rewritten (a program wrote to it without the lock)";
  return false;
}

tBaseSwap::tBaseSwap(std::vector<tShortString> Files, tShortString Marker)
    : Files_(std::move(Files)), Marker_(std::move(Marker)) {}

tBaseSwap::~tBaseSwap() = default;

namespace {

// The temporary name of a base file: beside the file its name leads to.
tShortString TempOf(const tShortString& File) {
  tShortString Target;
  if (!FileSystem().FinalTarget(File, Target)) Target = File;
  tShortString Temp;
  WholeName(Temp, {Target, PackSuffix});
  return Temp;
}

}  // namespace

bool tBaseSwap::Recover(bool& Finished, const std::function<void()>& BeforeLast) {
  Finished = false;
  if (FileExists(Marker_)) {
    // Every new file was whole when the marker was made: those still under
    // their temporary names take their places, in the order of a pack.
    for (const tShortString& F : Files_) {
      tShortString Temp = TempOf(F);
      if (Temp.Empty() || !FileExists(Temp)) continue;
      if (&F == &Files_.back()) BeforeLast();
      tShortString Target;
      if (!FileSystem().FinalTarget(F, Target)) return false;
      if (ReplaceFileSynced(Temp, Target) == rpFailed) return false;
      Finished = true;
    }
    if (!RemoveFile(Marker_)) return false;
    FileSystem().SyncDir(Marker_);
    return true;
  }
  // Without the marker, new files are what a pack left before they were
  // whole, and so is a marker cut off while it was made.
  std::vector<tShortString> Left = Files_;
  Left.push_back(Marker_);
  for (const tShortString& F : Left) {
    tShortString Temp = TempOf(F);
    if (!Temp.Empty() && FileExists(Temp) && !RemoveFile(Temp)) return false;
  }
  return true;
}

bool tBaseSwap::Start() {
  New_.clear();
  for (const tShortString& F : Files_) {
    New_.push_back(std::make_unique<tReplacingFile>(F, PackSuffix));
    if (New_.back()->TempName().Empty()) return false;
  }
  return true;
}

bool tBaseSwap::Commit(std::string& Why, bool& Partly, const std::function<bool(std::string&)>& Unchanged,
                       const std::function<void()>& BeforeLast) {
  Partly = false;
  for (auto& N : New_)
    if (!N->Finish()) {
      Why = "writing " + N->TempName().ToStdString() + " failed";
      return false;
    }
  {
    // The marker says that every new file is whole; it is on the disk,
    // with its folder's entry, before the first name changes.
    tReplacingFile Marker(Marker_, PackSuffix);
    Marker.Out().WriteStr("new files whole\r\n");
    if (!Marker.Commit()) {
      Why = "the marker " + Marker_.ToStdString() + " cannot be made";
      if (Marker.Placed()) RemoveFile(Marker_);
      return false;
    }
  }
  if (!Unchanged(Why)) {
    Undo();
    return false;
  }
  for (auto& N : New_) N->Keep();
  bool AnyPlaced = false;
  for (auto& N : New_) {
    if (&N == &New_.back()) BeforeLast();
    if (N->Commit() || N->Placed()) {
      AnyPlaced = true;
      continue;
    }
    Why = N->TempName().ToStdString() + " cannot take the name " + N->TargetName().ToStdString();
    if (AnyPlaced) {
      Why += "; the next pack or repair of the base puts the new files in place";
      Partly = true;
    } else {
      Undo();  // no name changed yet: the old base stays
    }
    return false;
  }
  RemoveFile(Marker_);
  FileSystem().SyncDir(Marker_);
  return true;
}

void tBaseSwap::Undo() {
  RemoveFile(Marker_);
  FileSystem().SyncDir(Marker_);
  for (auto& M : New_) RemoveFile(M->TempName());
}

namespace {

// The files of a Squish or JAM base in the order they take their names,
// the one that carries the lock last; false when a name does not fit.
bool FilesOf(tBaseKind Kind, const tShortString& Path, std::vector<tShortString>& Files, tShortString& Marker) {
  const std::vector<const char*> Ext = Kind == bkSquish ? std::vector<const char*>{".sqi", ".sqd"}
                                                        : std::vector<const char*>{".jdt", ".jdx", ".jhr"};
  for (const char* E : Ext) {
    Files.emplace_back();
    if (!WholeName(Files.back(), {Path, E})) return false;
  }
  return WholeName(Marker, {Path, PackSuffix});
}

int64_t SizeOfAll(const std::vector<tShortString>& Files) {
  int64_t Size = 0;
  for (const tShortString& F : Files) Size += FileSizeOf(F);
  return Size;
}

// Pack or repair of a Squish or JAM base.
tCheckResult Rebuild(tBaseKind Kind, const tShortString& Path, bool Repair, tRebuildReport& Report, tFindings& Left) {
  std::vector<tShortString> Files;
  tShortString Marker;
  if (!FilesOf(Kind, Path, Files, Marker)) {
    Report.Why = "the file names do not fit 255 characters";
    return crUnreadable;
  }
  auto Lock = std::make_unique<tRebuildLock>();
  if (!Lock->Take(Files.back(), Report.Why)) return FileExists(Files.back()) ? crDamaged : crUnreadable;
  tBaseSwap Swap(Files, Marker);
  if (FileExists(Marker)) {
    // A pack cut off after its new files were whole: they take their
    // names (the locked file's stream closed just before its own, as a
    // file held open is not replaced), and the lock is taken again on the
    // file now in place.
    if (!Swap.Recover(Report.FinishedEarlier, [&Lock] { Lock->Closing(); })) {
      Report.Why = "a pack cut off earlier cannot be finished (its new files cannot take their names)";
      return crDamaged;
    }
    Lock.reset();
    Lock = std::make_unique<tRebuildLock>();
    if (!Lock->Take(Files.back(), Report.Why)) return crDamaged;
  } else if (bool Unused; !Swap.Recover(Unused, [] {})) {
    Report.Why = "the files a pack cut off earlier left cannot be removed";
    return crDamaged;
  }
  tFindings Before;
  tCheckResult Checked = CheckerOf(Kind)(Path, Before, Report.Why);
  if (Checked == crUnreadable) return crUnreadable;
  Report.FindingsBefore = Before.Count();
  Report.BytesBefore = SizeOfAll(Files);
  Report.BytesAfter = Report.BytesBefore;
  if (Repair && Checked == crClean) return crClean;
  if (!Swap.Start()) {
    Report.Why = "the new files cannot be made beside the old ones";
    return crDamaged;
  }
  if (!(Kind == bkSquish ? RebuildSquish : RebuildJam)(Path, Report, Swap)) return crDamaged;
  auto Unchanged = [&Lock](std::string& Why) { return Lock->Unchanged(Why); };
  if (!Swap.Commit(Report.Why, Report.Partly, Unchanged, [&Lock] { Lock->Closing(); })) return crDamaged;
  Report.Written = true;
  Report.BytesAfter = SizeOfAll(Files);
  std::string Why;
  tCheckResult After = CheckerOf(Kind)(Path, Left, Why);
  Report.FindingsMended = std::max<long>(0, Report.FindingsBefore - Left.Count());
  return After == crClean ? crClean : crDamaged;
}

}  // namespace

tCheckResult PackBase(tBaseKind Kind, const tShortString& Path, tRebuildReport& Report, tFindings& Left) {
  if (Kind == bkSquish || Kind == bkJam) return Rebuild(Kind, Path, false, Report, Left);
  Report.NothingToPack = true;
  return crClean;
}

tCheckResult RepairBase(tBaseKind Kind, const tShortString& Path, tRebuildReport& Report, tFindings& Left) {
  if (Kind == bkSquish || Kind == bkJam) return Rebuild(Kind, Path, true, Report, Left);
  if (Kind == bkPacket) {
    tFindings Before;
    int64_t WholeEnd = 0;
    tCheckResult Checked = CheckPacketEnd(Path, Before, Report.Why, WholeEnd);
    if (Checked == crUnreadable) return crUnreadable;
    Report.FindingsBefore = Before.Count();
    Report.BytesBefore = Report.BytesAfter = FileSizeOf(Path);
    if (Checked == crClean) return crClean;
    if (RepairPacket(Path, WholeEnd, Report) != crClean) return crDamaged;
    tCheckResult After = CheckPacket(Path, Left, Report.Why);
    Report.FindingsMended = std::max<long>(0, Report.FindingsBefore - Left.Count());
    return After == crClean ? crClean : crDamaged;
  }
  // A *.MSG folder: each message is a file of its own, and none of what a
  // check finds can be mended without guessing; it is named.
  tCheckResult Checked = CheckMsgDir(Path, Left, Report.Why);
  Report.FindingsBefore = Left.Count();
  return Checked;
}

}  // namespace kelvane
