// kelvutil ctl: the settings kelvane would take from a control file, so a
// sysop can check what a kelv.ctl (with its macros) really says before a run.
#include <cstdio>
#include <string>

#include "app/control_file.h"
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
    "An empty set places no condition on requests. Exit code 1 when the file\n"
    "cannot be read.\n";

namespace {

// NAME, then each value after a tab; values are written as stored.
void PrintLine(const char* Name, const tShortString& Value, const tShortString* Second = nullptr) {
  std::fputs(Name, stdout);
  for (const tShortString* V : {&Value, Second}) {
    if (!V) continue;
    std::fputc('\t', stdout);
    std::fwrite(V->Data(), 1, V->Length(), stdout);
  }
  std::fputc('\n', stdout);
}

void PrintSet(const char* Name, const tSortedStrings& Set) {
  for (size_t I = 0; I < Set.Count(); ++I) PrintLine(Name, Set.At(I));
}

}  // namespace

int RunCtlCommand(int Argc, char** Args) {
  if (Argc != 2) return Fail("ctl", "expects one FILE (see --help)");
  tControlSettings S;
  tCollection<tWrongLine> WrongLines;
  if (LoadControlFile(Args[1], S, WrongLines)) return Fail("ctl", (std::string("cannot read ") + Args[1]).c_str());

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
