// kelvutil check BASEID...: a base looked over for damage without writing
// a byte, one line per finding. The checker of each format lives beside the
// format in msgbase/ (base_check.h); a format without one says plainly that
// it cannot be checked yet.
#include "tools/kelvutil_check.h"

#include <string>

#include "msgbase/baseid.h"
#include "msgbase/msgbase.h"
#include "runtime/file_system.h"
#include "tools/kelvutil.h"

namespace kelvane {

extern const char CheckHelp[] =
    "Reads each base and tells what is wrong with it, one line per finding,\n"
    "separated by tabs: the file, the byte offset in it, what is wrong. It\n"
    "never opens a file for writing, makes a folder or removes anything, so\n"
    "it may run beside FastEcho and kelvane. After each base a line\n"
    "\n"
    "  checked BASEID N files clean | K findings | cannot be read: WHY\n"
    "\n"
    "*.MSG folders: message files that cannot be read (in use, no\n"
    "permission), names that are no message number (0010.msg, 0.msg,\n"
    "abc.msg, 1.2.msg: kelvane never reads them), folders named like a\n"
    "message, files that end inside the 190-byte header, and texts without\n"
    "their closing NUL (the file is cut short).\n"
    "\n"
    "Squish bases: the base header's counts, high-water mark, next UMSGID and\n"
    "sizes against the index and the file; the chain of message frames and\n"
    "the free chain, both ways (frame identifiers and types, previous links,\n"
    "loops, frames past the end or on both chains, lengths within the file\n"
    "and each other, frames that overlap); each counted index record: a\n"
    "message frame, the hash of its recipient (the top bit of a received\n"
    "message allowed), UMSGIDs ascending and as the message header has\n"
    "them. Records beyond the count are left behind by other software and\n"
    "are no finding.\n"
    "\n"
    "JAM bases: the fixed header's signature and ActiveMsgs; each index\n"
    "record against the header it points at (inside .jhr, its signature and\n"
    "revision, UserCRC against the recipient); SubfieldLen against the\n"
    "subfields and the file; the text within .jdt; the CRCs of MSGID and\n"
    "REPLY; reply links to messages the base does not have. A wrong CRC is\n"
    "told for what it costs (the base reads, a lookup through the CRC misses\n"
    "the message), as crashmail's known fault only where the fixed header's\n"
    "PasswordCRC bears crashmail's mark; the too large SubfieldLen of\n"
    "jamnntpd's 64-bit build is told as that program's: the base reads.\n"
    "\n"
    "Squish and JAM bases: the marker BASE.$pk of a pack or repair cut off\n"
    "while its new files took their names (kelvutil repair finishes it).\n"
    "\n"
    "Packets: the packet type, the capability word against its byte-swapped\n"
    "copy (a type 2.2 header keeps its domains there), each message's type, its packed header, date, names and subject\n"
    "ended by a NUL within their fields, its text ended by a NUL (a packet\n"
    "cut short), the two closing zeros and bytes after them.\n"
    "\n" KELV_BASEID_HELP
    "\n"
    "Exit code 0 when every base is clean, 1 when one is damaged, 2 when one\n"
    "cannot be read at all (no such folder or file, a file another program\n"
    "holds, a packet of another type, not a base identifier).\n";

int RunCheckCommand(int Argc, char** Args) {
  if (Argc < 2) return Fail("check", "usage: kelvutil check BASEID...");
  tCheckResult Worst = crClean;
  for (int I = 1; I < Argc; ++I) {
    tShortString Id, Path;
    tBaseKind Kind;
    tCheckResult Result = crUnreadable;
    std::string Why;
    tFindings Findings([](std::string_view File, int64_t Offset, std::string_view What) {
      Out().Record({File, IntToStr(Offset), What});
    });
    if (!ResolveBaseArgument(Args[I], Id, Kind, Path, Why)) {
      // Why says it.
    } else if (tBaseChecker Check = CheckerOf(Kind)) {
      Result = Check(Path, Findings, Why);
    } else {
      Why = BasesOf(Kind) + " cannot be checked yet";
    }
    if (Result == crUnreadable)
      Out().Record({"checked", Args[I], "cannot be read: " + Why});
    else
      Out().Record({"checked", Args[I], Counted(Findings.Files(), "file"),
                    Findings.Count() ? Counted(Findings.Count(), "finding") : "clean"});
    if (Result > Worst) Worst = Result;
  }
  return Worst;
}

}  // namespace kelvane
