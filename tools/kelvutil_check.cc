// kelvutil check BASEID...: a base looked over for damage without writing
// a byte, one line per finding. The checker of each format is a function
// of its own (kelvutil_check_<format>.cc) in the table below; a format
// without one says plainly that it cannot be checked yet.
#include "tools/kelvutil_check.h"

#include <string>

#include "msgbase/baseid.h"
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
    "their closing NUL (the file is cut short). Squish, JAM and packets\n"
    "cannot be checked yet.\n"
    "\n" KELV_BASEID_HELP
    "\n"
    "Exit code 0 when every base is clean, 1 when one is damaged, 2 when one\n"
    "cannot be read at all (no such folder, a format that cannot be checked,\n"
    "not a base identifier).\n";

namespace {

// The checkers, by format. A format plugs in its function here.
struct tCheckerEntry {
  tBaseKind Kind;
  tBaseChecker Check;
};
const tCheckerEntry Checkers[] = {
    {bkMsgDir, CheckMsgDir},
};

tBaseChecker CheckerOf(tBaseKind Kind) {
  for (const tCheckerEntry& E : Checkers)
    if (E.Kind == Kind) return E.Check;
  return nullptr;
}

}  // namespace

void tFindings::Add(std::string_view File, int64_t Offset, std::string_view What) {
  To_.Record({File, IntToStr(Offset), What});
  ++Count_;
}

int RunCheckCommand(int Argc, char** Args) {
  if (Argc < 2) return Fail("check", "usage: kelvutil check BASEID...");
  tCheckResult Worst = crClean;
  for (int I = 1; I < Argc; ++I) {
    tShortString Id, Path;
    tBaseKind Kind;
    tCheckResult Result = crUnreadable;
    std::string Why;
    tFindings Findings(Out());
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
