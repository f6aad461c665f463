// The JAM lines of kelvutil show: where the message's header lies in .jhr,
// its index CRC, the reply links as stored (message numbers), and every
// subfield by id with its data as stored, so that a base another program
// wrote can be compared byte for byte with what the reader made of it.
#include "msgbase/jam.h"
#include "runtime/coding.h"
#include "tools/kelvutil.h"

namespace kelvane {

void PrintJamDetails(tTextOut& Out, tMsgBase& Base, int32_t N) {
  auto* Jam = dynamic_cast<tJamBase*>(&Base);
  tJamRawMessage Raw;
  if (!Jam || !Jam->ReadRaw(N, Raw)) return;
  auto Number = [&Out](const char* Name, uint32_t Value) {
    Out.Printf("%s\t%lu\n", Name, static_cast<unsigned long>(Value));
  };
  Out.Printf("JamHdrOffset\t%lld\n", static_cast<long long>(Raw.HdrOffset));
  Out.Printf("JamUserCrc\t0x%08lx\n", static_cast<unsigned long>(Raw.UserCrc));
  Out.Printf("JamAttribute\t0x%08lx\n", static_cast<unsigned long>(GetU32(Raw.Header + jhAttribute)));
  Number("JamReplyTo", GetU32(Raw.Header + jhReplyTo));
  Number("JamReply1st", GetU32(Raw.Header + jhReply1st));
  Number("JamReplyNext", GetU32(Raw.Header + jhReplyNext));
  Number("JamTxtOffset", GetU32(Raw.Header + jhTxtOffset));
  Number("JamTxtLen", GetU32(Raw.Header + jhTxtLen));
  for (const auto& [Id, Data] : Raw.Subfields)
    Out.Printf("JamSubfield\t%lu\t%s\n", static_cast<unsigned long>(Id), Escaped(Data).c_str());
  // The text the read shows stops where the file or the next message's
  // text begins, not where a wrong TxtLen would take it.
  const tJamBase::tReadLosses& L = Jam->Losses();
  if (L.TextCut)
    Out.Printf("JamTextCut\t%lu of %lu bytes: the text runs past the end of .jdt\n",
               static_cast<unsigned long>(L.TextKept), static_cast<unsigned long>(L.TextLen));
}

bool ReadJamMarkedDeleted(tMsgBase& Base, int32_t N, tMessage& Msg) {
  auto* Jam = dynamic_cast<tJamBase*>(&Base);
  return Jam && !Jam->ReadMarkedDeleted(N, &Msg);
}

}  // namespace kelvane
