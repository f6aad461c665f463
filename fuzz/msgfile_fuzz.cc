// Fuzz target for reading a *.MSG file. Whatever the bytes, the read must
// end cleanly with the message filled; writing what was read must give a
// file that reads back with the same names (cut to their fields) and with
// no MSGID or INTL that the read completed.
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
#include "runtime/case866.h"
#include "runtime/stream.h"

using namespace kelvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  tMsgDirBase Base;
  tMessage First;
  std::string_view Bytes(reinterpret_cast<const char*>(Data), Size);
  if (Base.ReadImage(Bytes, &First) || First.State != msRead) std::abort();

  std::string Written = Base.MessageImage(&First);
  tMessage Second;
  Base.ReadImage(Written, &Second);
  if (Second.From != First.From.Sub(0, 35) || Second.To != First.To.Sub(0, 35) ||
      Second.Subject != First.Subject.Sub(0, 71))
    std::abort();
  // A MSGID or INTL the read made up is never written: the copy has one
  // only where the stored bytes held such a line somewhere.
  std::string Upper(Bytes);
  for (char& C : Upper) C = UpperCase866(C);
  if ((!First.HadMsgId && Second.HadMsgId && Upper.find("\1MSGID: ") == std::string::npos) ||
      (!First.HadIntl && Second.HadIntl && Upper.find("\1INTL ") == std::string::npos))
    std::abort();

  return 0;
}
