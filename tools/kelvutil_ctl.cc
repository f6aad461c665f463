// kelvutil ctl: the settings kelvane would take from a control file, so a
// sysop can check what a kelv.ctl (with its macros) really says before a run.
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
    "                            addresses as netmail shows them (no zero\n"
    "                            point, no leading zeros), sorted\n"
    "  MatchStr PATTERN TEMPLATE each pair in file order\n"
    "  StopScanAfter TEXT        each stop string, upper-cased, sorted\n"
    "  RemoveBase yes|no\n"
    "  IfFEBusy wait|quit|poher\n"
    "  MarkRequests yes|no\n"
    "  WrongLine N REASON        each line kelvane would report as wrong: an\n"
    "                            unknown keyword (named), or a value that\n"
    "                            cannot work (a pattern that does not\n"
    "                            compile, an address that is none, say),\n"
    "                            which sets nothing\n"
    "\n"
    "An empty set places no condition on requests. Control characters in a\n"
    "value show as ^ and a letter (^I a tab). Warnings go to standard error\n"
    "as kelvane shows them before its scan: when no FromName or FromAddr\n"
    "took effect (requests from anyone are accepted), and when a name,\n"
    "address, subject, pattern or stop string looks like UTF-8 text\n"
    "(kelvane compares its bytes with netmail in code page 866, where UTF-8\n"
    "letters beyond ASCII never match).\n"
    "\n"
    "Exit code 1 when the file cannot be read, and when it has wrong lines\n"
    "(after the settings are printed), so that a batch file can stop before\n"
    "kelvane runs: kelvutil ctl kelv.ctl || exit\n";

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

void WarnOfSettings(const char* Command, std::string_view FileName, const tControlSettings& Settings) {
  if (Settings.Utf8Line > 0) Fail(Command, "warning: " + Utf8Warning(FileName, Settings.Utf8Line).ToStdString());
  if (AcceptsAnySender(Settings)) Fail(Command, std::string("warning: ") + AnySenderWarning);
}

int WrongLinesCode(const char* Command, std::string_view FileName, size_t WrongLines) {
  if (WrongLines == 0) return 0;
  return Fail(Command, std::string(FileName) + " has " + Counted(static_cast<long long>(WrongLines), "wrong line"));
}

int RunCtlCommand(int Argc, char** Args) {
  if (Argc != 2) return Fail("ctl", "expects one FILE (see --help)");
  tControlSettings S;
  tCollection<tWrongLine> WrongLines;
  if (LoadControlFile(Args[1], S, WrongLines)) return Fail("ctl", std::string("cannot read ") + Args[1]);
  WarnOfSettings("ctl", Args[1], S);

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
  PrintLine("MarkRequests", S.MarkRequests ? "yes" : "no");
  for (const tWrongLine& W : WrongLines)
    PrintLine("WrongLine", IntToStr(W.Line), W.Reason.Empty() ? nullptr : &W.Reason);
  return WrongLinesCode("ctl", Args[1], WrongLines.Count());
}

}  // namespace kelvane
