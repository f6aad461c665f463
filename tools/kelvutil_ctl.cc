// kelvutil ctl: the settings kelvane would take from a control file, so a
// sysop can check what a kelv.ctl (with its macros) really says before a run.
#include <algorithm>
#include <string>

#include "app/control_file.h"
#include "runtime/stream.h"
#include "tools/kelvutil.h"

namespace kelvane {

const char CtlHelp[] =
    "Reads FILE as kelvane reads kelv.ctl (comments, quotes, @Define and the\n"
    "date macros expanded) and prints the settings it would take, one per\n"
    "line, NAME and value separated by a tab, in this order:\n"
    "\n"
    "  FastEchoConfig PATH       the first one; empty when the file has none\n"
    "  FromName, FromAddr, ToName, ToAddr, Subject   one line per member of\n"
    "                            each set: names and subjects upper-cased,\n"
    "                            addresses without a zero point, sorted\n"
    "  MatchStr PATTERN TEMPLATE each pair in file order\n"
    "  StopScanAfter TEXT        each stop string, upper-cased, sorted\n"
    "  RemoveBase yes|no\n"
    "  IfFEBusy wait|quit|poher\n"
    "  WrongLine N [REASON]      each line kelvane would report as wrong, with\n"
    "                            the reason when its keyword's value cannot\n"
    "                            work (a pattern that does not compile, say)\n"
    "\n"
    "An empty set places no condition on requests. Control characters in a\n"
    "value show as ^ and a letter (^I a tab). A file that looks like UTF-8\n"
    "text gets a warning on standard error: kelvane compares its bytes with\n"
    "netmail in code page 866, where UTF-8 letters beyond ASCII never match.\n"
    "Exit code 1 when the file cannot be read.\n";

namespace {

// NAME, then each value after a tab; control bytes escaped.
void PrintLine(const char* Name, const tShortString& Value, const tShortString* Second = nullptr) {
  if (Second)
    Out().Record({Name, Value, *Second});
  else
    Out().Record({Name, Value});
}

void PrintSet(const char* Name, const tSortedStrings& Set) {
  for (size_t I = 0; I < Set.Count(); ++I) PrintLine(Name, Set.At(I));
}

}  // namespace

void WarnIfUtf8(const char* Command, std::string_view FileName) {
  // The control file is a few lines; a larger one is looked at in its
  // first megabyte.
  tBufStream In(FileName, fmOpen | fmRead | fmDenyNone);
  if (In.Status != stOk) return;
  std::string Text(static_cast<size_t>(std::min<int64_t>(In.GetSize(), 1 << 20)), '\0');
  In.Read(Text.data(), static_cast<uint32_t>(Text.size()));
  if (In.Status != stOk || !LooksLikeUtf8(Text)) return;
  size_t First = 0;
  while (First < Text.size() && static_cast<uint8_t>(Text[First]) < 0x80) ++First;
  long Line = 1 + static_cast<long>(std::count(Text.begin(), Text.begin() + static_cast<std::ptrdiff_t>(First), '\n'));
  Fail(Command, "warning: " + std::string(FileName) + " looks like UTF-8 text (from line " +
                    IntToStr(Line).ToStdString() +
                    "); kelvane reads it as code page 866, so its names, subjects and patterns with letters "
                    "beyond ASCII would never match code page 866 netmail");
}

int RunCtlCommand(int Argc, char** Args) {
  if (Argc != 2) return Fail("ctl", "expects one FILE (see --help)");
  tControlSettings S;
  tCollection<tWrongLine> WrongLines;
  if (LoadControlFile(Args[1], S, WrongLines)) return Fail("ctl", std::string("cannot read ") + Args[1]);
  WarnIfUtf8("ctl", Args[1]);

  PrintLine("FastEchoConfig", S.ConfigPath);
  PrintSet("FromName", S.FromNames);
  PrintSet("FromAddr", S.FromAddrs);
  PrintSet("ToName", S.ToNames);
  PrintSet("ToAddr", S.ToAddrs);
  PrintSet("Subject", S.Subjects);
  for (size_t I = 0; I < S.MatchPatterns.Count(); ++I) PrintLine("MatchStr", S.MatchPatterns[I], &S.MatchTemplates[I]);
  PrintSet("StopScanAfter", S.StopStrings);
  PrintLine("RemoveBase", S.RemoveBase ? "yes" : "no");
  static const char* const BusyNames[] = {"wait", "quit", "poher"};
  PrintLine("IfFEBusy", BusyNames[S.IfFEBusy]);
  for (const tWrongLine& W : WrongLines)
    PrintLine("WrongLine", IntToStr(W.Line), W.Reason.Empty() ? nullptr : &W.Reason);
  return 0;
}

}  // namespace kelvane
