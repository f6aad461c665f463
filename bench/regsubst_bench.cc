// RegSubst as the netmail scan calls it: every line of a request through
// every MatchStr pair, the pattern compiled anew on each call, matching
// without regard to case.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "text/regexp.h"

namespace {

using namespace kelvane;

struct tPair {
  const char* Pattern;
  const char* Template;
};

// MatchStr pairs as sysops write them.
const tPair Pairs[] = {
    {"^-(.*)$", "\\0"},
    {"^%DEL(ETE)? +([A-Za-z0-9._-]+) *$", "\\1"},
    {"^-([^ ]+)", "\\0"},
};

// The body of a typical request: greeting, tags, a tear line and origin.
const char* const RequestLines[] = {
    "Hello, robot!",
    "",
    "Please unlink the following areas:",
    "-FIDO.CHAT",
    "-RU.HUMOR",
    "-SU.GENERAL",
    "%DELETE NET.SYSOPS",
    "%delete  ru.linux",
    "-ECHO.ONE   ; old one",
    "Thanks, Sysop",
    "",
    "--- GoldED+/W32 1.1.5",
    " * Origin: Somewhere in the middle of nowhere (2:463/100)",
};

void BM_RegSubstRequest(benchmark::State& State) {
  std::vector<tShortString> Lines(std::begin(RequestLines), std::end(RequestLines));
  size_t Found = 0;
  for (auto _ : State) {
    for (const tShortString& Line : Lines)
      for (const tPair& P : Pairs) {
        tShortString Area = RegSubst(P.Pattern, Line, P.Template, false);
        Found += Area.Empty() ? 0 : 1;
        benchmark::DoNotOptimize(Area);
      }
  }
  State.SetItemsProcessed(static_cast<int64_t>(State.iterations() * Lines.size() * std::size(Pairs)));
  State.counters["found/request"] = static_cast<double>(Found) / static_cast<double>(State.iterations());
}
BENCHMARK(BM_RegSubstRequest);

// One call on the commonest pair, split into its parts.
void BM_CompileOnly(benchmark::State& State) {
  for (auto _ : State) {
    tRegExp R;
    benchmark::DoNotOptimize(R.Init("^-(.*)$"));
  }
}
BENCHMARK(BM_CompileOnly);

void BM_RegSubstOneLine(benchmark::State& State) {
  tShortString Line("-FIDO.CHAT");
  for (auto _ : State) benchmark::DoNotOptimize(RegSubst("^-(.*)$", Line, "\\0", false));
}
BENCHMARK(BM_RegSubstOneLine);

// A 255-byte line that the unanchored pattern must try at every position.
void BM_RegSubstLongLineNoMatch(benchmark::State& State) {
  std::string Text;
  while (Text.size() < 255) Text += "quoted text of a long line ";
  tShortString Line(Text);
  for (auto _ : State) benchmark::DoNotOptimize(RegSubst("-([a-z0-9._]+)=", Line, "\\0", false));
}
BENCHMARK(BM_RegSubstLongLineNoMatch);

// A crafted line against nested alternatives: the time the step budget
// lets one call take before it gives up.
void BM_RegSubstBudgetExhausted(benchmark::State& State) {
  tShortString Line(std::string(254, 'a') + "b");
  for (auto _ : State) benchmark::DoNotOptimize(RegSubst("(a|aa)*$", Line, "&", false));
}
BENCHMARK(BM_RegSubstBudgetExhausted)->Unit(benchmark::kMillisecond);

}  // namespace
