// The check of a base: its files read for reading only (no file is opened
// for writing, no folder made, nothing removed), and each thing found wrong
// told with the file, the byte offset and what is wrong. One checker a
// format, beside the format (msgdir_check.cc, squish_check.cc,
// jam_check.cc, pkt_check.cc), sharing the format's record layouts; the
// repairs and packs of base_repair.h start from what a check finds.
#ifndef KELVANE_MSGBASE_BASE_CHECK_H_
#define KELVANE_MSGBASE_BASE_CHECK_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "msgbase/baseid.h"
#include "runtime/short_string.h"
#include "runtime/stream.h"

namespace kelvane {

// What a check of one base comes to; the exit code is the worst of them.
enum tCheckResult { crClean = 0, crDamaged = 1, crUnreadable = 2 };

// Where a checker tells what it finds: each finding goes to Sink (which
// may be empty: the findings are only counted).
class tFindings {
 public:
  using tSink = std::function<void(std::string_view File, int64_t Offset, std::string_view What)>;
  explicit tFindings(tSink Sink = {}) : Sink_(std::move(Sink)) {}
  // One finding: the file, the byte offset in it, what is wrong.
  void Add(std::string_view File, int64_t Offset, std::string_view What);
  // A file of the base was looked at.
  void Looked() { ++Files_; }
  long Count() const { return Count_; }
  long Files() const { return Files_; }

 private:
  tSink Sink_;
  long Count_ = 0;
  long Files_ = 0;
};

// A checker: Path is the base's path as its identifier holds it after the
// type letter. It returns crUnreadable, with the reason in Why, when the
// base cannot be read at all; otherwise crDamaged when it found anything.
using tBaseChecker = tCheckResult (*)(const tShortString& Path, tFindings& Findings, std::string& Why);

// A file of a base, opened for reading only and shared with every other
// program; its size is taken once, and every read is bounded by it.
class tCheckedFile {
 public:
  explicit tCheckedFile(const tShortString& Name);
  bool Opened() const { return Opened_; }
  // Why a file that did not open did not: "NAME cannot be opened" and,
  // when another program holds it, so.
  std::string WhyNotOpened() const;
  // Count bytes at At into Buf; false, Buf zero-filled, when they do not
  // all lie in the file or the read fails.
  bool ReadAt(int64_t At, void* Buf, uint32_t Count);

  const tShortString Name;
  int64_t Size = 0;

 private:
  tBufStream Stream_;
  bool Opened_;
};

// 0x1234ABCD: how identifiers, CRCs and hashes appear in findings.
std::string Hex32(uint32_t Value);

tCheckResult CheckMsgDir(const tShortString& Path, tFindings& Findings, std::string& Why);
tCheckResult CheckSquish(const tShortString& Path, tFindings& Findings, std::string& Why);
tCheckResult CheckJam(const tShortString& Path, tFindings& Findings, std::string& Why);
tCheckResult CheckPacket(const tShortString& Path, tFindings& Findings, std::string& Why);

// The suffix of a pack's new files and of its marker (base_repair.h).
constexpr char PackSuffix[] = ".$pk";
// A pack or repair cut off after its new files were whole leaves its
// marker, the base path + PackSuffix: told as a finding (repair finishes
// it).
void CheckPackMarker(const tShortString& Path, tFindings& Findings);

// The checker of a format (every format has one).
tBaseChecker CheckerOf(tBaseKind Kind);

}  // namespace kelvane

#endif  // KELVANE_MSGBASE_BASE_CHECK_H_
