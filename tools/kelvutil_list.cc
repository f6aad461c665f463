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
    "address, subject, date text. Text is printed as stored (code page 866,\n"
    "as UTF-8 on Linux), except that control characters show as ^ and a\n"
    "letter (^I a tab, ^[ an escape), so that no message can change the\n"
    "terminal or the layout.\n\n"
    KELV_BASEID_HELP "The base is opened for reading only.\n\n"
    "A message that cannot be read is passed over and named on standard\n"
    "error; the exit code is then 1. So it is for a folder that holds no\n"
    "*.MSG files but JAM or Squish bases or packets: what it holds is told,\n"
    "with the name of one of them to list instead.\n";

std::vector<int32_t> PrintMessageList(tTextOut& To, tMsgBase& Base) {
  tMessage Msg;
  std::vector<int32_t> Unread;
  // No more of each message than the fields shown; a body is never read.
  Base.StreamBody = 1;
  for (int32_t N : MessageNumbers(Base)) {
    if (Base.ReadListed(N, &Msg))
      Unread.push_back(N);
    else
      To.Record({IntToStr(N), Msg.From, OrigAddrStr(Msg), Msg.To, DestAddrStr(Msg), Msg.Subject, Msg.DateStr});
  }
  Base.StreamBody = 0;
  Base.Body.reset();
  return Unread;
}

int RunListCommand(int Argc, char** Args) {
  if (Argc != 2) return Fail("list", "usage: kelvutil list BASEID");
  auto Base = OpenBaseForReading("list", Args[1]);
  if (!Base) return 1;
  std::vector<int32_t> Unread = PrintMessageList(Out(), *Base);
  for (int32_t N : Unread) Fail("list", "message " + IntToStr(N).ToStdString() + " cannot be read, passed over");
  if (std::string Other = OtherBasesIn(*Base); !Other.empty()) return Fail("list", Other);
  return Unread.empty() ? 0 : 1;
}

}  // namespace kelvane
