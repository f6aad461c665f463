// kelvutil: the companion tool. kelvane itself takes no arguments; kelvutil
// shows the sysop what kelvane would read and do. The dispatch is a table of
// subcommands; each lives in its own kelvutil_NAME.cc.
#include "tools/kelvutil.h"

#include <cstdio>
#include <cstring>

namespace kelvane {

namespace {

const tSubcommand Subcommands[] = {
    // Each subcommand adds its line here when it lands.
    {"regex", "PATTERN TEMPLATE LINE...", "what a MatchStr pair makes of request lines", RegexHelp, RunRegexCommand},
    {"ctl", "FILE", "the settings kelvane takes from a control file, and its wrong lines", CtlHelp, RunCtlCommand},
    {"fecfg", "FILE", "header, extension blocks, areas and nodes of a FastEcho configuration", FecfgHelp, RunFecfgCommand},
    {"list", "BASEID", "the messages of a message base, one line each", ListHelp, RunListCommand},
    {"show", "BASEID N", "one message with every field, kludge and control line", ShowHelp, RunShowCommand},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

void PrintOverview(FILE* To) {
  std::fprintf(To,
               "usage: kelvutil COMMAND [ARGS...]\n"
               "       kelvutil COMMAND --help\n\n"
               "A look inside the files kelvane reads and writes.\n\n"
               "commands:\n");
  for (const tSubcommand* S = Subcommands; S->Name; ++S)
    std::fprintf(To, "  %-7s %s\n          %s\n", S->Name, S->Usage, S->Summary);
}

}  // namespace

}  // namespace kelvane

int main(int Argc, char** Argv) {
  using namespace kelvane;
  if (Argc < 2 || std::strcmp(Argv[1], "--help") == 0 || std::strcmp(Argv[1], "-h") == 0) {
    PrintOverview(Argc < 2 ? stderr : stdout);
    return Argc < 2 ? 1 : 0;
  }
  for (const tSubcommand* S = Subcommands; S->Name; ++S) {
    if (std::strcmp(S->Name, Argv[1]) != 0) continue;
    if (WantsHelp(Argc - 1, Argv + 1)) {
      std::printf("usage: kelvutil %s %s\n\n%s", S->Name, S->Usage, S->Help);
      return 0;
    }
    return S->Run(Argc - 1, Argv + 1);
  }
  std::fprintf(stderr, "kelvutil: unknown command '%s'\n\n", Argv[1]);
  PrintOverview(stderr);
  return 1;
}
