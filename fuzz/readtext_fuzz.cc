// Fuzz target for taking stored message text apart. Whatever the bytes:
// the parse ends cleanly; the body that remains is the stored text up to
// its first NUL with some stretches removed, its bytes in their order; a
// parse of the head alone finds the same kludges as the full parse; and the
// completion that follows every read (flags, addresses, the date text)
// copes with whatever the kludges held.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "msgbase/address.h"
#include "msgbase/message.h"
#include "msgbase/msgbase.h"
#include "runtime/stream.h"

namespace {

using namespace kelvane;

class tTextBase : public tMsgBase {
 public:
  explicit tTextBase(std::string_view Stored) {
    auto S = std::make_unique<tMemoryStream>();
    S->WriteStr(Stored);
    DataStream = std::move(S);
  }
};

// Whether Part is Whole with some bytes left out, the rest in order.
bool IsSubsequence(std::string_view Part, std::string_view Whole) {
  size_t I = 0;
  for (char C : Whole)
    if (I < Part.size() && Part[I] == C) ++I;
  return I == Part.size();
}

bool SameHead(const tMessage& A, const tMessage& B) {
  if (A.MsgId != B.MsgId || A.ReplyId != B.ReplyId || A.Intl != B.Intl || A.Pid != B.Pid || A.Tid != B.Tid ||
      A.Flags != B.Flags || A.OrigPoint != B.OrigPoint || A.DestPoint != B.DestPoint)
    return false;
  if (A.Kludges.Count() != B.Kludges.Count()) return false;
  for (size_t I = 0; I < A.Kludges.Count(); ++I)
    if (A.Kludges[I] != B.Kludges[I]) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size > 0x7FFFFFF0) return 0;
  std::string_view Stored(reinterpret_cast<const char*>(Data), Size);
  tTextBase Base(Stored);
  int32_t To = static_cast<int32_t>(Size);

  tMessage Full;
  bool Refused = Base.ReadText(&Full, 0, To);
  if (Refused != (Size == 0)) std::abort();
  if (!IsSubsequence(Full.Text.View(), Stored.substr(0, Stored.find('\0')))) std::abort();

  tMessage Head;
  Base.HeaderOnly = 1;
  if (Base.ReadText(&Head, 0, To) != Refused) std::abort();
  Base.HeaderOnly = 0;
  if (Head.Text.GetSize() != 0) std::abort();
  // Both end the text at its first NUL, and find the same head.
  if (!SameHead(Full, Head)) std::abort();

  // The same text inside a larger file.
  if (Size > 2) {
    tMessage Part;
    if (Base.ReadText(&Part, static_cast<int32_t>(Size / 3), To)) std::abort();
    if (!IsSubsequence(Part.Text.View(), Stored.substr(Size / 3))) std::abort();
  }

  Full.SyncFlags(true);
  // The head of the input doubles as a stored date text.
  Full.DateStr = Stored.substr(0, 20);
  CompleteHeader(Full);
  if (Full.DateStr.Length() > 20) std::abort();
  Full.SyncFlags(false);
  return 0;
}
