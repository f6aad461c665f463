// kelvutil list BASEID: one line per message of a base, so a sysop (or a
// test) sees at a glance what a netmail folder or an area holds.
#include "msgbase/address.h"
#include "msgbase/message.h"
#include "msgbase/msgbase.h"
#include "tools/kelvutil.h"

namespace kelvane {

extern const char ListHelp[] =
    "Lists the messages of a message base, one line per message, the fields\n"
    "separated by tabs: number, sender, sender address, recipient, recipient\n"
    "address, subject, date text. Text is printed as stored (code page 866),\n"
    "except that control characters show as ^ and a letter (^I a tab, ^[ an\n"
    "escape), so that no message can change the terminal or the layout.\n\n"
    KELV_BASEID_HELP "The base is opened for reading only.\n";

void PrintMessageList(tTextOut& To, tMsgBase& Base) {
  tMessage Msg;
  for (int32_t N : MessageNumbers(Base)) {
    if (Base.ReadMessage(N, &Msg)) continue;
    To.Record({IntToStr(N), Msg.From, OrigAddrStr(Msg), Msg.To, DestAddrStr(Msg), Msg.Subject, Msg.DateStr});
  }
}

int RunListCommand(int Argc, char** Args) {
  if (Argc != 2) return Fail("list", "usage: kelvutil list BASEID");
  auto Base = OpenBaseForReading("list", Args[1]);
  if (!Base) return 1;
  PrintMessageList(Out(), *Base);
  return 0;
}

}  // namespace kelvane
