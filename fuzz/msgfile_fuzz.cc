// Fuzz target for reading a *.MSG file. Whatever the bytes, the read must
// end cleanly with the message filled; writing what was read must give a
// file that reads back with the same names (cut to their fields) and holds
// no MSGID or INTL line that the read completed.
// Addresses, attributes and the body of the first read are not compared
// with the second: a body may hold lines that look like control lines (a
// quoted origin line, a repeated Via line), and which of them count depends
// on what surrounds them, so the written text may parse differently once.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "msgbase/message.h"
#include "msgbase/msgdir.h"
#include "runtime/stream.h"

namespace {

using namespace kelvane;

// Whether Text holds Line as a line of its own (after a break, or first).
bool HoldsLine(std::string_view Text, std::string_view Line) {
  for (size_t At = Text.find(Line); At != std::string_view::npos; At = Text.find(Line, At + 1))
    if (At == 0 || Text[At - 1] == '\r' || Text[At - 1] == '\n') return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  tMsgDirBase Base;
  tMessage First;
  std::string_view Bytes(reinterpret_cast<const char*>(Data), Size);
  if (Base.ReadImage(Bytes, &First) || First.State != msRead) std::abort();

  bool MadeMsgId = First.Completed & cvMsgId, MadeIntl = First.Completed & cvIntl;
  std::string MsgIdLine = "\1MSGID: " + First.MsgId.ToStdString() + "\r";
  std::string IntlLine = "\1INTL " + First.Intl.ToStdString() + "\r";
  std::string Written = Base.MessageImage(&First);
  if (Written.size() < MsgHeaderSize) std::abort();
  std::string_view Text = std::string_view(Written).substr(MsgHeaderSize);
  if ((MadeMsgId && HoldsLine(Text, MsgIdLine) && !HoldsLine(Bytes, MsgIdLine)) ||
      (MadeIntl && HoldsLine(Text, IntlLine) && !HoldsLine(Bytes, IntlLine)))
    std::abort();  // a value the read made up was written

  tMessage Second;
  Base.ReadImage(Written, &Second);
  if (Second.From != First.From.Sub(0, 35) || Second.To != First.To.Sub(0, 35) ||
      Second.Subject != First.Subject.Sub(0, 71))
    std::abort();

  return 0;
}
