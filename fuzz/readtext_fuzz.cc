// Fuzz target for taking stored message text apart. Whatever the bytes:
// the parse ends cleanly; the body that remains is the stored text up to
// its first NUL with some stretches removed, its bytes in their order; a
// parse of the head alone finds the same kludges as the full parse; and the
// completion that follows every read (flags, addresses, the date text)
// copes with whatever the kludges held. A read that leaves the body in the
// file (StreamBody) finds the same fields, and its body, piece by piece or
// line by line, is the full read's, whatever the size of the block the
// text is read through.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "msgbase/address.h"
#include "msgbase/message.h"
#include "msgbase/msgbase.h"
#include "msgbase/text_body.h"
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

bool SameLists(const tStringList& A, const tStringList& B) {
  if (A.Count() != B.Count()) return false;
  for (size_t I = 0; I < A.Count(); ++I)
    if (A[I] != B[I]) return false;
  return true;
}

bool SameTail(const tMessage& A, const tMessage& B) {
  return A.Origin == B.Origin && A.TearLine == B.TearLine && SameLists(A.SeenByLines, B.SeenByLines) &&
         SameLists(A.PathLines, B.PathLines) && SameLists(A.RouteLines, B.RouteLines);
}

// The lines of a body as the netmail scan reads a request's text from
// memory: CR, LF or either pair ends a line, 255 characters kept.
std::vector<std::string> LinesOf(std::string_view Text) {
  std::vector<std::string> Lines;
  size_t Pos = 0;
  while (Pos < Text.size()) {
    size_t End = std::min(Text.find_first_of("\r\n", Pos), Text.size());
    Lines.emplace_back(Text.substr(Pos, std::min<size_t>(End - Pos, 255)));
    Pos = End;
    if (Pos < Text.size()) {
      char Break = Text[Pos++];
      if (Pos < Text.size() && (Text[Pos] == '\r' || Text[Pos] == '\n') && Text[Pos] != Break) ++Pos;
    }
  }
  return Lines;
}

// Reads [From, To) of Base with the body left in the file, through blocks
// of BlockSize bytes, and checks it against Full, the ordinary read.
void CheckStreamed(tMsgBase& Base, int32_t From, int32_t To, const tMessage& Full, size_t BlockSize) {
  tTextWindow::BlockSize = BlockSize;
  Base.StreamBody = 1;
  tMessage Streamed;
  Base.ReadText(&Streamed, From, To);
  if (!Base.Body || Streamed.Text.GetSize() != 0 || !SameHead(Full, Streamed) || !SameTail(Full, Streamed))
    std::abort();
  std::string Body;
  for (std::string_view Piece = Base.Body->Next(); !Piece.empty(); Piece = Base.Body->Next()) Body += Piece;
  if (Body != Full.Text.View()) std::abort();
  Streamed.Clear();
  Base.ReadText(&Streamed, From, To);
  std::vector<std::string> Lines;
  for (tShortString Line; Base.Body->ReadLine(Line);) Lines.push_back(Line.ToStdString());
  if (Lines != LinesOf(Full.Text.View())) std::abort();
  Base.StreamBody = 0;
  Base.Body.reset();
  tTextWindow::BlockSize = 65536;
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
  if (!Refused) {
    CheckStreamed(Base, 0, To, Full, 65536);
    CheckStreamed(Base, 0, To, Full, 256 + Size % 7);
  }

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
  // A listing stops at the head unless the sender's address waits for the
  // origin line: the addresses it completes are the whole read's.
  CompleteHeader(Head);
  if (!(Head.Completed & cvOrigNode) && (OrigAddrStr(Head) != OrigAddrStr(Full) || DestAddrStr(Head) != DestAddrStr(Full)))
    std::abort();
  if (Full.DateStr.Length() > 20) std::abort();
  Full.SyncFlags(false);
  return 0;
}
