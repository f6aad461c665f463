// kelvutil check: the framework every format's checker plugs into. A
// checker reads the files of one base, for reading only (it never opens
// a file for writing, makes a folder or removes anything), and tells each
// thing it finds wrong: the file, the byte offset, what is wrong. One
// checker a format, in kelvutil_check_<format>.cc, listed in the table of
// kelvutil_check.cc.
#ifndef KELVANE_TOOLS_KELVUTIL_CHECK_H_
#define KELVANE_TOOLS_KELVUTIL_CHECK_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/short_string.h"
#include "runtime/stream.h"

namespace kelvane {

class tTextOut;

// What a check of one base comes to; the exit code is the worst of them.
enum tCheckResult { crClean = 0, crDamaged = 1, crUnreadable = 2 };

// Where a checker tells what it finds.
class tFindings {
 public:
  explicit tFindings(tTextOut& To) : To_(To) {}
  // One finding: "FILE<tab>OFFSET<tab>WHAT".
  void Add(std::string_view File, int64_t Offset, std::string_view What);
  // A file of the base was looked at.
  void Looked() { ++Files_; }
  long Count() const { return Count_; }
  long Files() const { return Files_; }

 private:
  tTextOut& To_;
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

}  // namespace kelvane

#endif  // KELVANE_TOOLS_KELVUTIL_CHECK_H_
