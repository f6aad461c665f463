// Fuzz target for reading (and then updating) a JAM base. The input is a
// base in a compact form, so that most inputs reach the message headers:
//
//   byte 0      K: the number of index records (low 4 bits: every record
//               costs each input a walk of reads, and fifteen show all
//               there is to see); with the top bit set the next 8*K bytes
//               are the index as stored, otherwise K 2-byte offsets
//               follow, each a header offset counted from the end of the
//               fixed header
//   2 bytes     the length of the texts (.jdt) that follow
//   ...         the texts, then the message headers and subfields (.jhr
//               after its fixed header)
//
// Whatever the bytes, every read ends cleanly; a message that reads comes
// back with the same names when written again; and an appended message
// reads back as written.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "msgbase/jam.h"
#include "msgbase/jam_test_util.h"
#include "msgbase/message.h"
#include "msgbase/test_messages.h"
#include "runtime/coding.h"

using namespace kelvane;

namespace {

void ReadAll(tJamBase& Base) {
  // A listing's read (no text where the address subfields say it all)
  // shows what the whole read shows.
  static tMessage Listed;
  kelvane::testing::ReadEveryWay(Base, [&Base](int32_t N, bool Failed, const tMessage& M) {
    if (Base.ReadListed(N, &Listed) != Failed || (!Failed && testing::ListedFields(Listed) != testing::ListedFields(M)))
      std::abort();
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 3) return 0;
  std::string_view In(reinterpret_cast<const char*>(Data), Size);
  size_t K = Data[0] & 0x0F;
  bool RawIndex = Data[0] & 0x80;
  size_t Pos = 1;
  std::string Jdx;
  if (RawIndex) {
    Jdx = std::string(In.substr(Pos, 8 * K));
    Pos += Jdx.size();
  } else {
    for (size_t I = 0; I < K && Pos + 2 <= Size; ++I, Pos += 2) {
      uint8_t Rec[8];
      PutU32(Rec, 0xFFFFFFFF);
      PutU32(Rec + 4, JamFixedHeaderSize + GetU16(Data + Pos));
      Jdx.append(reinterpret_cast<char*>(Rec), 8);
    }
  }
  if (Pos + 2 > Size) return 0;
  size_t TextLen = GetU16(Data + Pos);
  Pos += 2;
  std::string Jdt(In.substr(Pos, TextLen));
  Pos += Jdt.size();
  std::string Jhr(JamFixedHeaderSize, '\0');
  Jhr.replace(0, 4, std::string("JAM\0", 4));
  Jhr += In.substr(Pos);

  tJamBase Base;
  if (!Base.OpenImages(Jhr, Jdt, Jdx)) std::abort();
  ReadAll(Base);

  // Each message that reads, written again as a new one, keeps its names.
  // (The two messages are reused, as a reader of a base reuses one.)
  static tMessage M, Back;
  int32_t Read = Base.Count;
  for (int32_t N = 1; N <= Read && N <= 8; ++N) {
    if (Base.ReadMessage(N, &M)) continue;
    tShortString From = M.From, To = M.To, Subject = M.Subject;
    if (Base.WriteMessage(Base.Count + 1, &M)) std::abort();
    if (Base.ReadMessage(Base.Count, &Back) || Back.From != From || Back.To != To || Back.Subject != Subject)
      std::abort();
  }

  // Updates over whatever is there: none may crash, and the base still
  // reads; a message appended afterwards reads back.
  Base.LinkReply(1, 2);
  Base.LinkReply(2, 3);
  Base.MarkRead(1);
  Base.DeleteMessage(2);
  static tMessage New;
  New.Clear();
  New.From = "Fuzz";
  New.Subject = "appended";
  New.Text.WriteStr("text\r");
  if (Base.WriteMessage(1, &New)) std::abort();
  if (Base.WriteMessage(Base.Count + 1, &New)) std::abort();
  if (Base.ReadMessage(Base.Count, &Back) || Back.From != "Fuzz" || Back.Subject != "appended") std::abort();
  // Every message still reads, and so does every thread over the links
  // the updates made.
  for (int32_t N = 1; N <= Base.Count; ++N) {
    Base.ReadMessage(N, &Back);
    Base.ReadThread(N, &Back);
  }
  return 0;
}
