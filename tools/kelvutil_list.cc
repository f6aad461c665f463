// kelvutil list BASEID: one line per message of a base, so a sysop (or a
// test) sees at a glance what a netmail folder or an area holds. Also the
// opening of a base for reading that list and show share.
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "msgbase/address.h"
#include "msgbase/baseid.h"
#include "msgbase/message.h"
#include "msgbase/msgbase.h"
#include "msgbase/msgdir.h"
#include "runtime/file_system.h"
#include "runtime/path.h"
#include "tools/kelvutil.h"

namespace kelvane {

extern const char ListHelp[] =
    "Lists the messages of a message base, one line per message, the fields\n"
    "separated by tabs: number, sender, sender address, recipient, recipient\n"
    "address, subject, date text. Text is printed as stored (code page 866),\n"
    "except that control characters show as ^ and a letter (^I a tab, ^[ an\n"
    "escape), so that no message can change the terminal or the layout.\n\n"
    "BASEID is a type letter and a path (F or # for a *.MSG directory, S or $\n"
    "Squish, J or ! JAM, P a packet) or a bare path typed by its extension\n"
    "(none: a *.MSG directory). The base is opened for reading only.\n";

std::unique_ptr<tMsgBase> OpenBaseForReading(const char* Command, const char* Identifier) {
  tBaseKind Kind;
  tShortString Path;
  if (std::strlen(Identifier) > 1 && NormaliseBasePath(Identifier).Empty()) {
    Fail(Command, "the base identifier does not fit 255 characters");
    return nullptr;
  }
  if (SplitBaseId(Identifier, Kind, Path) || Kind == bkNone) {
    Fail(Command, "not a base identifier (a type letter F, S, J or P and a path)");
    return nullptr;
  }
  // Opening creates a missing *.MSG directory; a look must not.
  tShortString Dir = DirPart(Path);
  if (!Dir.Empty() && !DirExists(Dir)) {
    std::fprintf(stderr, "kelvutil %s: no such directory: %s\n", Command, Escaped(Dir).c_str());
    return nullptr;
  }
  auto Base = OpenBase(Identifier, smOpenRead);
  if (!Base) std::fprintf(stderr, "kelvutil %s: cannot open the base %s\n", Command, Escaped(Identifier).c_str());
  return Base;
}

void PrintMessageList(std::FILE* Out, tMsgBase& Base) {
  // A *.MSG directory tells which numbers it holds; other formats are
  // numbered without gaps from 1 to Count.
  std::vector<int32_t> Numbers;
  if (auto* Dir = dynamic_cast<tMsgDirBase*>(&Base))
    Numbers = Dir->Numbers();
  else
    for (int64_t N = 1; N <= Base.Count; ++N) Numbers.push_back(static_cast<int32_t>(N));
  tMessage Msg;
  for (int32_t N : Numbers) {
    if (!Base.Exists(N) || Base.ReadMessage(N, &Msg)) continue;
    std::fprintf(Out, "%d\t%s\t%s\t%s\t%s\t%s\t%s\n", static_cast<int>(N), Escaped(Msg.From).c_str(),
                 OrigAddrStr(Msg).CStr(), Escaped(Msg.To).c_str(), DestAddrStr(Msg).CStr(),
                 Escaped(Msg.Subject).c_str(), Escaped(Msg.DateStr).c_str());
  }
}

int RunListCommand(int Argc, char** Args) {
  if (Argc != 2) return Fail("list", "usage: kelvutil list BASEID");
  auto Base = OpenBaseForReading("list", Args[1]);
  if (!Base) return 1;
  PrintMessageList(stdout, *Base);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace kelvane
