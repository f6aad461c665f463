// What every format's check shares: the findings, the files read with
// bounds, the table of checkers.
#include "msgbase/base_check.h"

#include <cstdio>
#include <cstring>

#include "msgbase/msgbase.h"
#include "runtime/file_system.h"

namespace kelvane {

void tFindings::Add(std::string_view File, int64_t Offset, std::string_view What) {
  if (Sink_) Sink_(File, Offset, What);
  ++Count_;
}

tCheckedFile::tCheckedFile(const tShortString& AName)
    : Name(AName), Stream_(AName, smOpenRead), Opened_(Stream_.Status == stOk) {
  if (Opened_) Size = Stream_.GetSize();
}

std::string tCheckedFile::WhyNotOpened() const {
  return Name.ToStdString() + " cannot be opened" +
         (IsSharingViolation(Stream_.ErrorInfo) ? ": another program holds it" : "");
}

bool tCheckedFile::ReadAt(int64_t At, void* Buf, uint32_t Count) {
  if (Opened_ && At >= 0 && At <= Size && Count <= Size - At) {
    Stream_.Seek(At);
    Stream_.Read(Buf, Count);
    if (Stream_.Status == stOk) return true;
    Stream_.Reset();
  }
  std::memset(Buf, 0, Count);
  return false;
}

std::string Hex32(uint32_t Value) {
  char Text[16];
  std::snprintf(Text, sizeof Text, "0x%08lX", static_cast<unsigned long>(Value));
  return Text;
}

void CheckPackMarker(const tShortString& Path, tFindings& Findings) {
  tShortString Marker;
  if (WholeName(Marker, {Path, PackSuffix}) && FileExists(Marker))
    Findings.Add(Marker, 0,
                 "a pack or repair was cut off while its new files took their names: the base may be part old, part "
                 "new until repair puts the rest in place");
}

tBaseChecker CheckerOf(tBaseKind Kind) {
  switch (Kind) {
    case bkMsgDir: return CheckMsgDir;
    case bkSquish: return CheckSquish;
    case bkJam: return CheckJam;
    case bkPacket: return CheckPacket;
    default: return nullptr;
  }
}

}  // namespace kelvane
