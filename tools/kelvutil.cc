// kelvutil: the companion tool. kelvane itself takes no arguments; kelvutil
// shows the sysop what kelvane would read and do. The dispatch is a table of
// subcommands; each lives in its own kelvutil_NAME.cc.
#include "tools/kelvutil.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/console.h"

namespace kelvane {

namespace {

const tSubcommand Subcommands[] = {
    // Each subcommand adds its line here when it lands.
    {"regex", "PATTERN TEMPLATE LINE...", "what a MatchStr pair makes of request lines", RegexHelp, RunRegexCommand},
    {"ctl", "FILE", "the settings kelvane takes from a control file, and its wrong lines", CtlHelp, RunCtlCommand},
    {"fecfg", "FILE", "header, extension blocks, areas and nodes of a FastEcho configuration", FecfgHelp,
     RunFecfgCommand},
    {"list", "BASEID", "the messages of a message base, one line each", ListHelp, RunListCommand},
    {"show", "BASEID N", "one message with every field, kludge and control line", ShowHelp, RunShowCommand},
    {"copy", "SRC DST [FIRST [LAST]]", "messages of one base appended to another, with what did not fit", CopyHelp,
     RunCopyCommand},
    {"check", "BASEID...", "a base checked for damage, without writing", CheckHelp, RunCheckCommand},
    {"pack", "BASEID...", "a Squish or JAM base without its dead space, every number kept", PackHelp, RunPackCommand},
    {"repair", "BASEID...", "what check finds mended, the rest named", RepairHelp, RunRepairCommand},
    {"plan", "[CONTROL-FILE]", "kelvane's run, changing nothing: what it would remove and delete", PlanHelp,
     RunPlanCommand},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

void PrintOverview(tTextOut& To) {
  To.Put("usage: kelvutil [--utf8 | --cp866] COMMAND [ARGS...]\n"
         "       kelvutil COMMAND --help\n\n"
         "A look inside the files kelvane reads and writes.\n\n"
         "Text is code page 866 in the files. On Linux it is written as UTF-8, as\n"
         "kelvane writes it, to a terminal, a file or a pipe alike; on Windows it\n"
         "stays the bytes of the files. --cp866 gives the bytes as they are in the\n"
         "files, --utf8 UTF-8 on Windows too.\n\n"
         "commands:\n");
  for (const tSubcommand* S = Subcommands; S->Name; ++S) {
    char Line[256];
    std::snprintf(Line, sizeof Line, "  %-7s %s\n          %s\n", S->Name, S->Usage, S->Summary);
    To.Put(Line);
  }
}

}  // namespace

}  // namespace kelvane

int main(int Argc, char** Argv) {
  using namespace kelvane;
  Out().Utf8 = Err().Utf8 = ShowsUtf8();
  // The choice of text comes before the command.
  while (Argc > 1 && (std::strcmp(Argv[1], "--utf8") == 0 || std::strcmp(Argv[1], "--cp866") == 0)) {
    Out().Utf8 = Err().Utf8 = std::strcmp(Argv[1], "--utf8") == 0;
    --Argc;
    ++Argv;
  }
  if (Argc < 2 || std::strcmp(Argv[1], "--help") == 0 || std::strcmp(Argv[1], "-h") == 0) {
    PrintOverview(Argc < 2 ? Err() : Out());
    return Argc < 2 ? 1 : 0;
  }
  for (const tSubcommand* S = Subcommands; S->Name; ++S) {
    if (std::strcmp(S->Name, Argv[1]) != 0) continue;
    if (WantsHelp(Argc - 1, Argv + 1)) {
      Out().Put(std::string("usage: kelvutil ") + S->Name + " " + S->Usage + "\n\n" + S->Help);
      return Out().Flush() ? 0 : 1;
    }
    int Code = S->Run(Argc - 1, Argv + 1);
    // Output that could not be written whole is a failure.
    return Out().Flush() ? Code : (Code ? Code : 1);
  }
  Err().Put("kelvutil: unknown command '" + Escaped(Argv[1]) + "'\n\n");
  PrintOverview(Err());
  return 1;
}
