// Fuzz target for the regular expressions: compile, match and substitute.
// Input: one flag byte, then pattern, template and text separated by NUL
// bytes. Compiling must be deterministic, a match must lie inside the text
// with every group in order, a case-sensitive match must also be found
// without regard to case, and the expansion must fit its buffer. With flag
// bit 1 the next two bytes overwrite one byte of the compiled program, so
// Exec also meets damaged programs; it must fail cleanly on them.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "text/regexp.h"

namespace {

using namespace kelvane;

void Check(bool Condition) {
  if (!Condition) std::abort();
}

std::string NextPart(const uint8_t*& P, const uint8_t* End) {
  const uint8_t* Nul = static_cast<const uint8_t*>(std::memchr(P, 0, static_cast<size_t>(End - P)));
  const uint8_t* Stop = Nul ? Nul : End;
  std::string S(reinterpret_cast<const char*>(P), static_cast<size_t>(Stop - P));
  P = Nul ? Nul + 1 : End;
  return S;
}

// Every group lies inside the text; from a sound program each one also
// starts before it ends.
void CheckGroups(const tRegExp& R, const std::string& Text, bool Sound) {
  const char* Begin = Text.c_str();
  const char* End = Begin + Text.size();
  Check(R.GroupStart(0) && R.GroupEnd(0));
  for (int G = 0; G < RegGroups; ++G) {
    const char* S = R.GroupStart(G);
    const char* E = R.GroupEnd(G);
    if (!S || !E) continue;
    Check(Begin <= S && S <= End && Begin <= E && E <= End);
    if (Sound) Check(S <= E);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 1) return 0;
  uint8_t Flags = Data[0];
  const uint8_t* P = Data + 1;
  const uint8_t* End = Data + Size;
  uint8_t PatchAt = 0, PatchValue = 0;
  if ((Flags & 2) && End - P >= 2) {
    PatchAt = P[0];
    PatchValue = P[1];
    P += 2;
  }
  std::string Pattern = NextPart(P, End);
  std::string Template = NextPart(P, End);
  std::string Text = NextPart(P, End);
  bool CaseSensitive = Flags & 1;

  tRegExp R;
  bool Failed = R.Init(Pattern.c_str());
  tRegExp Again;
  Check(Again.Init(Pattern.c_str()) == Failed);
  Check(Again.Program == R.Program && Again.ErrorText == R.ErrorText);
  if (Failed) {
    Check(R.Program.empty() && !R.ErrorText.Empty());
    Check(!R.Exec(CaseSensitive, Text.c_str()));
    Check(RegSubst(Pattern, Text, Template, CaseSensitive).Empty());
    return 0;
  }
  Check(R.Program.size() > 1 && R.Program[0] == RegMagic && R.Program.size() < RegMaxProgram);

  if (Flags & 2) {
    R.Program[PatchAt % R.Program.size()] = PatchValue;
    R.StepBudget = 20000;
    if (R.Exec(CaseSensitive, Text.c_str())) CheckGroups(R, Text, false);
    char Out[64];
    R.Substitute(Template.c_str(), Out, sizeof Out);
    Check(std::strlen(Out) < sizeof Out);
    return 0;
  }

  // A small budget keeps the runs fast; where a match is decided within
  // it, RegSubst with its full budget decides the same.
  R.StepBudget = 20000;
  bool Matched = R.Exec(CaseSensitive, Text.c_str());
  bool OverBudget = R.ErrorText == "too much backtracking";
  Check(R.ErrorText.Empty() || OverBudget);
  if (OverBudget) return 0;
  char Out[tShortString::MaxLength + 1];
  if (Matched) {
    CheckGroups(R, Text, true);
    Check(!R.Substitute(Template.c_str(), Out, sizeof Out));
    Check(std::strlen(Out) <= tShortString::MaxLength);
    if (CaseSensitive) {
      tRegExp Folding;
      Check(!Folding.Init(Pattern.c_str()));
      Folding.StepBudget = R.StepBudget;
      bool Found = Folding.Exec(false, Text.c_str());
      Check(Found || Folding.ErrorText == "too much backtracking");
      if (Found) Check(Folding.GroupStart(0) <= R.GroupStart(0));
    }
  }
  // RegSubst on the same strings gives what the same steps gave.
  if (Text.size() > tShortString::MaxLength || Template.size() > tShortString::MaxLength) return 0;
  tShortString Result = RegSubst(Pattern, Text, Template, CaseSensitive);
  if (Matched && !Pattern.empty() && !Text.empty() && !Template.empty())
    Check(Result == tShortString(Out));
  else
    Check(Result.Empty());
  return 0;
}
