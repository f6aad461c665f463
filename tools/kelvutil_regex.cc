// kelvutil regex: what one MatchStr pair of the control file makes of request
// lines, so a sysop can try a pattern before kelvane acts on it.
#include "text/regexp.h"
#include "tools/kelvutil.h"

namespace kelvane {

const char RegexHelp[] =
    "Matches each LINE against PATTERN the way kelvane's netmail scan does\n"
    "(without regard to case) and prints one output line per LINE: the\n"
    "TEMPLATE expanded for the match, or an empty line where the pattern does\n"
    "not match. kelvane removes the area named by a non-empty result.\n"
    "\n"
    "PATTERN: ^ start, $ end, . any character, [abc] [a-z] [^0-9] sets, ( )\n"
    "groups, | alternatives, * + ? repetition, \\ before a character takes it\n"
    "literally (\\t tab, \\xHH, \\ooo octal).\n"
    "TEMPLATE: & is the whole match, \\0 the first group, \\1 the second, up\n"
    "to \\8 the ninth; \\& and \\\\ are & and \\.\n"
    "\n"
    "Example: kelvutil regex '^-(.*)$' '\\0' '-ECHO.ONE' prints ECHO.ONE.\n"
    "\n"
    "Letters written as themselves match without regard to case (the code\n"
    "page 866 Cyrillic letters too), but bracket sets compare bytes exactly:\n"
    "[a-z] takes lower-case letters only. So\n"
    "\n"
    "  kelvutil regex '^-([a-z.]+)$' '\\0' '-echo.one' '-ECHO.ONE'\n"
    "\n"
    "prints echo.one and then an empty line; [a-zA-Z.] takes both.\n"
    "\n"
    "A pattern that does not compile prints the reason and exits with 1; in\n"
    "the scan such a pair names no area. A line that would take the pattern\n"
    "too long to decide gives an empty line and a note on standard error.\n"
    "Control characters in a result show as ^ and a letter (^I a tab).\n";

int RunRegexCommand(int Argc, char** Args) {
  if (Argc < 3) return Fail("regex", "expects PATTERN TEMPLATE LINE... (see --help)");
  // Patterns, templates and lines are the control file's and the message's
  // strings: cut to 255 bytes, as kelvane reads them.
  tShortString Pattern(Args[1]), Template(Args[2]);
  tRegExp Check;
  if (Check.Init(Pattern.CStr())) return Fail("regex", Check.ErrorText);
  for (int I = 3; I < Argc; ++I) {
    tShortString Error;
    tShortString Result = RegSubst(Pattern, tShortString(Args[I]), Template, false, &Error);
    Out().Record({Result});
    if (!Error.Empty()) Fail("regex", "line " + IntToStr(I - 2).ToStdString() + ": " + Error.ToStdString());
  }
  return 0;
}

}  // namespace kelvane
