// kelvutil show on a Squish base: where the message lies and how it is
// linked. The frame offset and the UMSGID come from the message's index
// record; each reply link is shown as the UMSGID stored in the message
// header and the number of the message whose index record holds it (0 when
// none does: the linked message is gone).
#include "msgbase/squish.h"
#include "runtime/coding.h"
#include "tools/kelvutil.h"

namespace kelvane {

void PrintSquishDetails(tTextOut& Out, tMsgBase& Base, int32_t N) {
  auto* Sq = dynamic_cast<tSquishBase*>(&Base);
  if (!Sq || !Sq->Exists(N)) return;
  Out.Printf("SquishFrame\t%lu\n", static_cast<unsigned long>(Sq->FrameOffset(N)));
  Out.Printf("SquishUmsgId\t%lu\n", static_cast<unsigned long>(Sq->UmsgIdOf(N)));
  auto Link = [&](const char* Name, uint32_t Uid) {
    Out.Printf("%s\t%lu\t%d\n", Name, static_cast<unsigned long>(Uid), static_cast<int>(Sq->NumberOfUid(Uid)));
  };
  // SqMsg holds the header of the message ReadMessage just read.
  Link("SquishReplyTo", GetU32(Sq->SqMsg + sxReplyTo));
  for (int I = 0; I < SqReplyCount; ++I)
    if (uint32_t Uid = GetU32(Sq->SqMsg + sxReplies + 4 * I)) Link("SquishReply", Uid);
}

}  // namespace kelvane
